#include "platform.h"

#include <poll.h>
#include <unistd.h>

namespace Quillory::Platform {

bool runsAsSuperuser()
{
    return ::geteuid() == 0;
}

bool standardErrorWritable()
{
    pollfd target{STDERR_FILENO, POLLOUT, 0};
    return ::poll(&target, 1, 0) == 1 && (target.revents & POLLOUT) != 0;
}

} // namespace Quillory::Platform
