#pragma once

#include "benchtable.h"

namespace Quillory::Bench {

// zhuanzi throughput on 1, 16 and 64 MiB of reference-dense input; the lookup against a bare
// download of the same product page (1, 4 and 8 MiB, served on loopback by a fixture in its own
// thread) with the same client. Each figure is a median of repeated runs.
void runCoreBenchmarks(BenchTable &table);

#ifdef QUILLORY_BENCH_WITH_APP
// The window section (bench/windowbench.cpp), built in with the app: see bench/CMakeLists.txt.
void runWindowBenchmarks(BenchTable &table);
#endif

} // namespace Quillory::Bench
