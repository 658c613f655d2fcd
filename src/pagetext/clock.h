#pragma once

#include <chrono>

namespace Quillory {

// The time that the program's "how long ago" rules read (how long a copy is kept, how often a page may
// make a download). The rules take a Clock rather than reading the system's, so that tests can move
// time on without waiting for it.
class Clock
{
public:
    virtual ~Clock() = default;

    // A monotonic time from an arbitrary start.
    virtual std::chrono::milliseconds now() const = 0;

    // The monotonic clock of the system.
    static const Clock &steady();
};

} // namespace Quillory
