#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace Quillory {

// One window per user: two windows on one profile would write one cookie store from two engines. The
// first start holds a lock in the user's runtime folder and listens on a local socket beside it; a
// later start asks that window to come forward and ends. A lock left by a process that died (kill -9)
// does not count: its holder is gone.
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        First,       // this process runs the window: call listen() once the application object exists
        HandedOver,  // another window runs and has been asked to come forward: end, successfully
        Unreachable, // another window holds the lock but does not answer
    };

    // `folder`: where the lock and the socket live; empty: the user's runtime folder.
    explicit SingleInstance(QString folder = {}, QObject *parent = nullptr);
    ~SingleInstance() override;

    Role claim();
    // Starts answering later starts; false when the socket cannot be made (the window runs anyway).
    bool listen();

    QString socketPath() const { return m_folder + u"/quillory.socket"; }

Q_SIGNALS:
    // A later start asked the window to come forward.
    void activationRequested();

private:
    bool askToActivate() const;

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace Quillory
