// quillory-bench: throughput and latency figures of the answer engine (not a test: it never fails on a
// time). Build it in Release for figures worth quoting.

#include "benchtable.h"
#include "corebench.h"

#include <QElapsedTimer>
#include <QTextStream>

#ifdef QUILLORY_BENCH_WITH_APP
#include "app/browserpage.h"

#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <cstdio>

int main(int argc, char **argv)
{
#ifdef QUILLORY_BENCH_WITH_APP
    Quillory::allowEngineAsRoot();
    QApplication app(argc, argv); // the window section needs widgets and the browser engine
#else
    QCoreApplication app(argc, argv);
#endif
    using namespace Quillory::Bench;
    QTextStream out(stdout);
    out << "quillory-bench: " << QString::fromLatin1(QUILLORY_BUILD_TYPE) << " build, Qt "
        << QString::fromLatin1(qVersion()) << Qt::endl;

    QElapsedTimer total;
    total.start();
    BenchTable table;
    runCoreBenchmarks(table);
#ifdef QUILLORY_BENCH_WITH_APP
    runWindowBenchmarks(table);
#endif
    table.print(out);
    out << Qt::endl << "total " << QString::number(total.elapsed() / 1000.0, 'f', 1) << " s" << Qt::endl;
    return 0;
}
