#pragma once

#include <QtGlobal>

#include <chrono>

namespace Quillory {

// A point in time on the monotonic clock, in nanoseconds, for timing the phases of a pass across
// threads and the page (0 means the phase did not happen).
inline qint64 timeMarkNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace Quillory
