#include "singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <limits>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

constexpr QByteArrayView kActivate = "activate\n";
constexpr QByteArrayView kActivated = "ok\n";

QString runtimeFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

} // namespace

SingleInstance::SingleInstance(QString folder, QObject *parent)
    : QObject(parent), m_folder(folder.isEmpty() ? runtimeFolder() : std::move(folder))
{
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

SingleInstance::Role SingleInstance::claim()
{
    QDir().mkpath(m_folder);
    m_lock = std::make_unique<QLockFile>(m_folder + u"/quillory.lock"_s);
    // A lock is stale only when its holder has died, never because the window has run for long.
    m_lock->setStaleLockTime(std::numeric_limits<int>::max());
    if (m_lock->tryLock(0))
        return Role::First;
    if (m_lock->error() != QLockFile::LockFailedError)
        return Role::First; // no lock can be kept here: run without one rather than not at all
    return askToActivate() ? Role::HandedOver : Role::Unreachable;
}

bool SingleInstance::listen()
{
    QLocalServer::removeServer(socketPath()); // the socket a crashed window left behind
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    return m_server.listen(socketPath());
}

// The running window may still be starting: it listens only once its application object exists.
bool SingleInstance::askToActivate() const
{
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500)) {
            socket.write(kActivate.data(), kActivate.size());
            if (socket.waitForBytesWritten(1000) && socket.waitForReadyRead(2000) &&
                socket.readLine() == kActivated)
                return true;
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace Quillory
