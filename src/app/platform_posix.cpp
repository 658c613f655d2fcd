#include "platform.h"

#include <QFile>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

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

bool processRunning(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    // EPERM: it runs, under another user.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

bool killProcess(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

namespace {

struct NetworkFileSystem
{
    quint32 magic;
    const char *name;
};

// The file systems whose files other machines reach too (or that a program in user space serves, which
// may be the same): their magic numbers as statfs reports them.
constexpr std::array<NetworkFileSystem, 15> kNetworkFileSystems{{
    {0x6969, "nfs"},
    {0x517B, "smb"},
    {0xFF534D42, "cifs"},
    {0xFE534D42, "smb2"},
    {0x5346414F, "afs"},
    {0x6B414653, "afs"},
    {0x73757245, "coda"},
    {0x01021997, "9p"},
    {0x65735546, "fuse"},
    {0x00C36400, "ceph"},
    {0x01161970, "gfs2"},
    {0x7461636F, "ocfs2"},
    {0x0BD00BD0, "lustre"},
    {0x47504653, "gpfs"},
    {0x564C, "ncp"},
}};

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A descriptor closed on every way out.
class Descriptor final
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd = -1;
};

// Some process other than this one holds the open file under a POSIX record lock: what a network
// client's lock becomes on the machine that serves the disk.
bool recordLocked(int fd)
{
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    return ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool sameFile(int fd, const QByteArray &path)
{
    struct stat opened = {};
    struct stat named = {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

Disk diskOf(const QString &path)
{
    struct statfs info = {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return {DiskPlace::Unknown, {}, systemError()};
    // The magic numbers are 32 bits wide; the field is wider and signed on some machines.
    const auto magic = static_cast<quint32>(info.f_type);
    for (const NetworkFileSystem &system : kNetworkFileSystems) {
        if (system.magic == magic)
            return {DiskPlace::Network, QString::fromLatin1(system.name), {}};
    }
    return {DiskPlace::Local, {}, {}};
}

RemovalResult removeUnheldFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const Descriptor file(::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0)
        return errno == ENOENT ? RemovalResult{Removal::Removed, {}}
                               : RemovalResult{Removal::Failed, systemError()};
    // The lock a holder keeps on the whole file for as long as it runs; released when this descriptor
    // closes.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return {Removal::Held, {}};
        return {Removal::Failed, systemError()};
    }
    if (recordLocked(file.get()) || !sameFile(file.get(), name))
        return {Removal::Held, {}};
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return {Removal::Failed, systemError()};
    return {Removal::Removed, {}};
}

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return u"a folder"_s;
    if (S_ISLNK(mode))
        return u"a symbolic link"_s;
    if (S_ISFIFO(mode))
        return u"a FIFO"_s;
    if (S_ISSOCK(mode))
        return u"a socket"_s;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return u"a device"_s;
    return u"not a regular file"_s;
}

} // namespace

OpenedFile openRegularFile(const QString &path, bool followLinks)
{
    const QByteArray name = QFile::encodeName(path);
    // What the path names is looked at before it is opened, so that a device is never opened; the
    // descriptor is looked at again, since the path may name something else by then.
    struct stat named = {};
    if ((followLinks ? ::stat(name.constData(), &named) : ::lstat(name.constData(), &named)) != 0) {
        if (errno == ENOENT)
            return {-1, true, {}, {}};
        return {-1, false, {}, systemError()};
    }
    if (!S_ISREG(named.st_mode))
        return {-1, false, kindOf(named.st_mode), {}};
    // Without a writer a FIFO would hold up open() itself, were it one by now.
    const int fd = ::open(name.constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        if (errno == ENOENT)
            return {-1, true, {}, {}};
        if (errno == ELOOP && !followLinks)
            return {-1, false, kindOf(S_IFLNK), {}};
        return {-1, false, {}, systemError()};
    }
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        const QString what = kindOf(opened.st_mode);
        ::close(fd);
        return {-1, false, what, {}};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return {fd, false, {}, {}};
}

} // namespace Quillory::Platform
