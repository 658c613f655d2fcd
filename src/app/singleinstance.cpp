#include "singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <limits>

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
    // A lock is stale only when its holder has died, never because the window has run for long.
    m_lock->setStaleLockTime(std::numeric_limits<int>::max());
    if (m_lock->tryLock(0))
        return {};
    if (m_lock->error() != QLockFile::LockFailedError)
        return {}; // no lock can be kept here: run without one rather than not at all
    if (askToActivate())
        return {Role::HandedOver, {}};
    return {Role::Unreachable, u"another Quillory window runs on the profile "_s +
                                   QDir::toNativeSeparators(m_profileFolder) + u" but does not answer"_s};
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
