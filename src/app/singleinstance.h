#pragma once

#include "platform.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace Quillory {

// One window per profile: two windows on one profile would write one cookie store from two engines.
// The first start on a profile holds a lock in the profile's folder and listens on a local socket in
// the user's runtime folder, named after the profile folder; a later start on that profile asks that
// window to come forward and ends. A start on another profile (another home) runs a window of its
// own beside it, on whatever display. A lock whose holder is gone does not count (see claim()).
class SingleInstance final : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        First,       // this process runs the window: call listen() once the application object exists
        HandedOver,  // another window runs and has been asked to come forward: end, successfully
        Unreachable, // another window holds the lock but does not answer, or the lock is none a window
                     // could hold (a folder, a symbolic link, a FIFO, a file that cannot be read)
    };
    struct Claim
    {
        Role role = Role::First;
        QString error; // why this start cannot run a window and what to do, for the user; empty unless
                       // Unreachable
    };

    // `profileFolder`: the pane's profile, which the lock guards (made when missing). `runtimeFolder`:
    // where the socket lives; empty: the user's runtime folder.
    explicit SingleInstance(const QString &profileFolder, const QString &runtimeFolder = {},
                            QObject *parent = nullptr);
    ~SingleInstance() override;

    // A lock of a holder that is gone is taken, on a local disk whatever host it names: see the rule in
    // takeOverIfUnheld().
    Claim claim();
    // Starts answering later starts; false when the socket cannot be made (the window runs anyway).
    bool listen();

    QString lockPath() const { return m_profileFolder + u"/quillory.lock"; }
    QString socketPath() const { return m_socketPath; }
    // How long a later start waits for the window that holds the lock to answer: it listens only once
    // its application object exists.
    void setHandOverWait(std::chrono::milliseconds wait) { m_handOverWait = wait; }
    // Where the profile's disk is; the system's answer unless set.
    void setDiskCheck(std::function<Platform::Disk(const QString &)> diskOf) { m_diskOf = std::move(diskOf); }

Q_SIGNALS:
    // A later start asked the window to come forward.
    void activationRequested();

private:
    // What is in the lock's place before the lock is tried.
    struct LeftLock
    {
        enum class State
        {
            None,
            WindowsLock,   // what a window writes, whether it still runs or not
            NoWindowsLock, // a regular file that no running window would leave so
            Unusable,      // not a regular file, or one that cannot be read: `problem` says which
        };
        State state = State::None;
        QString problem;
    };
    LeftLock lookAtLock() const;
    QString whyUnusable(const LeftLock &left) const;
    bool askToActivate() const;
    bool holderPresumedGone() const;
    bool takeOverIfUnheld();
    QString whyUnreachable(const Platform::Disk &disk) const;

    QString m_profileFolder;
    QString m_socketPath;
    std::chrono::milliseconds m_handOverWait{5000};
    std::function<Platform::Disk(const QString &)> m_diskOf = Platform::diskOf;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace Quillory
