#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

constexpr QByteArrayView kActivate = "activate\n";
constexpr QByteArrayView kActivated = "ok\n";

// The runtime folder is the user's alone, which keeps the socket private without relying on the
// socket's own permissions alone.
QString userRuntimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

// One name per profile folder, however it is reached (a symbolic link, a relative path): the folder's
// canonical path, hashed, since a socket's path must stay short (108 bytes) and the profile's need not.
QString socketName(const QString &profileFolder)
{
    QString canonical = QFileInfo(profileFolder).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QFileInfo(profileFolder).absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256);
    return u"quillory-"_s + QString::fromLatin1(hash.toHex().left(16)) + u".socket"_s;
}

} // namespace

SingleInstance::SingleInstance(const QString &profileFolder, const QString &runtimeFolder, QObject *parent)
    : QObject(parent), m_profileFolder(profileFolder)
{
    QDir().mkpath(m_profileFolder);
    const QString socketFolder = runtimeFolder.isEmpty() ? userRuntimeFolder() : runtimeFolder;
    QDir().mkpath(socketFolder);
    m_socketPath = socketFolder + u'/' + socketName(m_profileFolder);

    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == kActivate) {
                    socket->write(kActivated.data(), kActivated.size());
                    socket->flush();
                    Q_EMIT activationRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

SingleInstance::Claim SingleInstance::claim()
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock is stale only when its holder has died, never because the window has run for long. Of a
    // lock of this host whose process died, tryLock() takes care itself.
    m_lock->setStaleLockTime(std::numeric_limits<int>::max());
    // Looked at before the lock reads it: it would wait for good on a FIFO and read a huge file whole.
    const LeftLock left = lookAtLock();
    if (left.state == LeftLock::State::Unusable)
        return {Role::Unreachable, whyUnusable(left)};
    std::optional<Platform::Disk> disk;
    const auto localDisk = [&] {
        if (!disk)
            disk = m_diskOf(m_profileFolder);
        return disk->place == Platform::DiskPlace::Local;
    };
    // Content that no window writes: its holder is gone, unless a process holds the file all the same.
    if (left.state == LeftLock::State::NoWindowsLock && localDisk() && takeOverIfUnheld())
        return {};
    if (m_lock->tryLock(0))
        return {};
    if (m_lock->error() != QLockFile::LockFailedError)
        return {}; // no lock can be kept here: run without one rather than not at all
    // Without waiting for an answer that cannot come.
    if (localDisk() && holderPresumedGone() && takeOverIfUnheld())
        return {};
    if (askToActivate())
        return {Role::HandedOver, {}};
    // A silent socket alone proves nothing (the window may still be starting, or be busy), so it counts
    // only together with the kernel's word that nobody holds the file.
    if (localDisk() && takeOverIfUnheld())
        return {};
    return {Role::Unreachable, whyUnreachable(*disk)};
}

// A window makes its lock as a regular file, takes the kernel's lock on it, and then writes its
// process id, its name and its host's on lines of their own, a few hundred bytes in one write. A
// symbolic link, a folder or a FIFO in its place, or a file this user cannot read, is none of
// its doing, and not for this start to remove. Empty, too long, or not starting with a process id:
// what no window leaves while it runs, which the kernel's word on the file then settles at once
// (empty is also what a window's lock is for the moment between making it and taking the kernel's
// lock on it, a start's own two steps; a start that looks in that moment would take the lock too).
SingleInstance::LeftLock SingleInstance::lookAtLock() const
{
    const Platform::OpenedFile opened = Platform::openRegularFile(lockPath(), false);
    if (opened.missing)
        return {LeftLock::State::None, {}};
    if (!opened.notRegular.isEmpty())
        return {LeftLock::State::Unusable, u"is "_s + opened.notRegular};
    if (opened.descriptor < 0)
        return {LeftLock::State::Unusable, u"cannot be read ("_s + opened.error + u')'};
    QFile file;
    if (!file.open(opened.descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {LeftLock::State::Unusable, u"cannot be read ("_s + file.errorString() + u')'};
    constexpr qint64 maxLockBytes = 4096;
    const QByteArray head = file.read(maxLockBytes + 1);
    const qsizetype firstLineEnd = head.indexOf('\n');
    const QByteArray pid = head.left(firstLineEnd);
    const bool digits =
        !pid.isEmpty() && std::all_of(pid.cbegin(), pid.cend(), [](char c) { return c >= '0' && c <= '9'; });
    if (head.size() > maxLockBytes || firstLineEnd <= 0 || !digits || pid.toLongLong() <= 0)
        return {LeftLock::State::NoWindowsLock, {}};
    return {LeftLock::State::WindowsLock, {}};
}

QString SingleInstance::whyUnusable(const LeftLock &left) const
{
    const QString lock = QDir::toNativeSeparators(lockPath());
    const QString profile = QDir::toNativeSeparators(m_profileFolder);
    if (left.problem.startsWith(u"is "_s)) {
        return u"the profile's lock %1 %2, where Quillory keeps a file of its own, so Quillory cannot tell "
               u"whether another Quillory window runs on the profile %3. If none does, delete %1 (it was "
               u"not made by Quillory: look at it first) and start Quillory again."_s.arg(lock, left.problem,
                                                                                          profile);
    }
    return u"the profile's lock %1 %2, so Quillory cannot tell whether another Quillory window runs on the "
           u"profile %3. If none does, delete %1 (as the user it belongs to, if not you) and start Quillory "
           u"again."_s.arg(lock, left.problem, profile);
}

// What the lock itself says: it names another host, or a process that no longer runs here. Neither is
// proof (a renamed machine, a container under a host name of its own, a reused process id), only a
// reason to look at once rather than after the wait.
bool SingleInstance::holderPresumedGone() const
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!m_lock->getLockInfo(&pid, &host, &application))
        return false; // a holder between making the file and writing it
    return host != QSysInfo::machineHostName() || !Platform::processRunning(pid);
}

// The proof, on a local disk: a window holds its lock file open under a kernel lock for as long as it
// runs, and every process that could hold a file of a local disk does so through this machine's
// kernel, which answers for all of them, a container under another host name too. A machine that
// reaches the disk over the network (the disk exported) holds record locks here through the server,
// which the check sees as well. So when no process holds the file, its holder is gone, whatever host
// it names. On a network disk the holders of other machines are out of sight: never taken there.
bool SingleInstance::takeOverIfUnheld()
{
    const Platform::RemovalResult removal = Platform::removeUnheldFile(lockPath());
    if (removal.status == Platform::Removal::Failed)
        qWarning("quillory: cannot remove the stale lock %s: %s", qPrintable(lockPath()),
                 qPrintable(removal.error));
    // Another start may have taken the lock in between: then it is the window to hand over to.
    return removal.status == Platform::Removal::Removed && m_lock->tryLock(0);
}

QString SingleInstance::whyUnreachable(const Platform::Disk &disk) const
{
    qint64 pid = 0;
    QString host;
    QString application;
    const bool known = m_lock->getLockInfo(&pid, &host, &application);
    const QString lock = QDir::toNativeSeparators(lockPath());
    const QString holder = known ? u"process %1 on host %2"_s.arg(pid).arg(host) : u"an unknown process"_s;
    if (disk.place == Platform::DiskPlace::Local) {
        return u"another Quillory window (%1) runs on the profile %2 but does not answer"_s.arg(
            holder, QDir::toNativeSeparators(m_profileFolder));
    }
    const QString where = disk.place == Platform::DiskPlace::Network
                              ? u"on a network disk (%1)"_s.arg(disk.type)
                              : u"on a disk of unknown kind (%1)"_s.arg(disk.error);
    return u"the profile's lock %1 is held by %2, and the profile is %3, where Quillory cannot tell "
           u"whether that window still runs. If no Quillory window runs on this profile anywhere, "
           u"delete %1."_s.arg(lock, holder, where);
}

bool SingleInstance::listen()
{
    QLocalServer::removeServer(socketPath()); // the socket a crashed window left behind
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(socketPath());
}

bool SingleInstance::askToActivate() const
{
    const QDeadlineTimer deadline(m_handOverWait);
    // Each step within what is left of the whole wait.
    const auto within = [&deadline](int ms) {
        return int(std::clamp<qint64>(deadline.remainingTime(), 1, ms));
    };
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(within(500))) {
            socket.write(kActivate.data(), kActivate.size());
            if (socket.waitForBytesWritten(within(1000)) && socket.waitForReadyRead(within(2000)) &&
                socket.readLine() == kActivated)
                return true;
        }
        QThread::msleep(within(100));
    }
    return false;
}

} // namespace Quillory
