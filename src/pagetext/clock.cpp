#include "clock.h"

namespace Quillory {

namespace {

class SteadyClock final : public Clock
{
public:
    std::chrono::milliseconds now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

} // namespace

const Clock &Clock::steady()
{
    static const SteadyClock clock;
    return clock;
}

} // namespace Quillory
