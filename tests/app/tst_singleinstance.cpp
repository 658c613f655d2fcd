// One window per profile: which start runs a window and which hands over to the one that runs, and
// which lock left behind a start takes, with the lock and the socket in folders of the test's own.

#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMetaObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace std::chrono_literals;

namespace {

// A window's instance that has claimed its profile and listens, on a thread of its own so that it
// answers while the test's thread waits in claim().
class RunningWindow final
{
public:
    RunningWindow(const QString &profileFolder, const QString &runtimeFolder)
    {
        m_thread.start();
        m_context->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_context,
            [&] {
                m_instance = new SingleInstance(profileFolder, runtimeFolder);
                m_claimed = m_instance->claim().role == SingleInstance::Role::First && m_instance->listen();
                QObject::connect(m_instance, &SingleInstance::activationRequested, m_instance,
                                 [this] { ++m_activations; });
            },
            Qt::BlockingQueuedConnection);
    }
    ~RunningWindow()
    {
        QMetaObject::invokeMethod(
            m_context,
            [this] {
                delete m_instance;
                delete m_context;
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    bool claimed() const { return m_claimed; }
    int activations() const { return m_activations; }

private:
    QThread m_thread;
    QObject *m_context = new QObject;
    SingleInstance *m_instance = nullptr;
    bool m_claimed = false;
    std::atomic<int> m_activations = 0;
};

enum class Running
{
    Nothing,
    SameProfile,
    SameProfileThroughLink,
    OtherProfile,
};

// What the profile's folder holds before the start, besides a running window.
enum class LeftLock
{
    None,
    OfADeadProcessHere,
    OfAnotherHost,         // naming a process id that runs here, which says nothing of the other host
    OfAnotherHostHeldHere, // held open under a kernel lock here, as a container under its own host name would
    HeldByALiveProcessHere, // a lock file of this process: alive, but its socket does not answer
};

// The lock file as a window of `host` with process `pid` writes it.
bool writeLock(const QString &path, qint64 pid, const QString &host)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(QByteArray::number(pid) + "\nquillory\n" + host.toUtf8() + '\n') > 0;
}

// A process id that ran a moment ago and runs no more.
qint64 deadProcessId()
{
    QProcess process;
    process.start(u"true"_s, {});
    process.waitForFinished();
    return process.processId() > 0 ? process.processId() : 0x7ffffff0;
}

Platform::Disk nfsDisk(const QString &)
{
    return {Platform::DiskPlace::Network, u"nfs"_s, {}};
}

} // namespace

Q_DECLARE_METATYPE(Running)
Q_DECLARE_METATYPE(LeftLock)
Q_DECLARE_METATYPE(Quillory::SingleInstance::Role)

class SingleInstanceTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void claim_data();
    void claim();
    void lockNoWindowLeaves_data();
    void lockNoWindowLeaves();

private:
    QString profile() const { return m_root->filePath(u"home/profile"_s); }
    QString lockPath() const { return profile() + u"/quillory.lock"_s; }
    bool leaveLock(LeftLock lock);
    QString runtime() const { return m_root->filePath(u"run"_s); }

    std::unique_ptr<QTemporaryDir> m_root;
};

void SingleInstanceTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
}

void SingleInstanceTest::claim_data()
{
    QTest::addColumn<Running>("running");
    QTest::addColumn<LeftLock>("leftLock");
    QTest::addColumn<bool>("networkDisk");
    QTest::addColumn<SingleInstance::Role>("role");
    QTest::addColumn<QString>("error"); // what the refusal says, in part

    using Role = SingleInstance::Role;
    QTest::newRow("no window yet: this start runs one")
        << Running::Nothing << LeftLock::None << false << Role::First << QString();
    QTest::newRow("a window on the same profile: hands over to it")
        << Running::SameProfile << LeftLock::None << false << Role::HandedOver << QString();
    QTest::newRow("a window on the same profile on a network disk: hands over to it")
        << Running::SameProfile << LeftLock::None << true << Role::HandedOver << QString();
    QTest::newRow("a window on the profile reached through a link: hands over to it")
        << Running::SameProfileThroughLink << LeftLock::None << false << Role::HandedOver << QString();
    QTest::newRow("a window on another profile, same runtime folder: runs beside it")
        << Running::OtherProfile << LeftLock::None << false << Role::First << QString();
    QTest::newRow("the lock of a process of this host that died: taken")
        << Running::Nothing << LeftLock::OfADeadProcessHere << false << Role::First << QString();
    QTest::newRow("another host's lock on a local disk, nobody holding it: taken")
        << Running::Nothing << LeftLock::OfAnotherHost << false << Role::First << QString();
    QTest::newRow("another host's lock on a network disk: refused, saying why")
        << Running::Nothing << LeftLock::OfAnotherHost << true << Role::Unreachable
        << u"on a network disk (nfs), where Quillory cannot tell"_s;
    QTest::newRow("another host's lock that a live process here holds: not taken")
        << Running::Nothing << LeftLock::OfAnotherHostHeldHere << false << Role::Unreachable
        << u"does not answer"_s;
    QTest::newRow("the lock of a live process whose socket is silent: not taken")
        << Running::Nothing << LeftLock::HeldByALiveProcessHere << false << Role::Unreachable
        << u"does not answer"_s;
}

void SingleInstanceTest::claim()
{
    QFETCH(Running, running);
    QFETCH(LeftLock, leftLock);
    QFETCH(bool, networkDisk);
    QFETCH(SingleInstance::Role, role);
    QFETCH(QString, error);

    std::unique_ptr<RunningWindow> window;
    QString windowFolder =
        running == Running::OtherProfile ? m_root->filePath(u"other/profile"_s) : profile();
    if (running == Running::SameProfileThroughLink) {
        QVERIFY(QDir().mkpath(profile()));
        QVERIFY(QFile::link(m_root->filePath(u"home"_s), m_root->filePath(u"link"_s)));
        windowFolder = m_root->filePath(u"link/profile"_s);
    }
    if (running != Running::Nothing) {
        window = std::make_unique<RunningWindow>(windowFolder, runtime());
        QVERIFY(window->claimed());
    }
    QVERIFY(QDir().mkpath(profile()));
    QLockFile liveLock(lockPath());
    if (leftLock == LeftLock::HeldByALiveProcessHere)
        QVERIFY(liveLock.tryLock(0));
    QVERIFY(leaveLock(leftLock));
    int holder = -1; // a descriptor of this process that holds the left lock
    if (leftLock == LeftLock::OfAnotherHostHeldHere) {
        holder = ::open(QFile::encodeName(lockPath()).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
    }
    const auto closeHolder = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });

    SingleInstance instance(profile(), runtime());
    instance.setHandOverWait(running == Running::Nothing ? 300ms : 2s);
    if (networkDisk)
        instance.setDiskCheck(nfsDisk);
    int activations = 0;
    connect(&instance, &SingleInstance::activationRequested, this, [&activations] { ++activations; });
    const SingleInstance::Claim claim = instance.claim();
    QCOMPARE(claim.role, role);
    QVERIFY2(error.isEmpty() ? claim.error.isEmpty() : claim.error.contains(error), qPrintable(claim.error));
    if (role == SingleInstance::Role::HandedOver) {
        QTRY_COMPARE(window->activations(), 1);
        return;
    }
    if (role == SingleInstance::Role::Unreachable) {
        QVERIFY(QFile::exists(lockPath())); // left as it was
        return;
    }
    // The lock is this process's now.
    QLockFile check(lockPath());
    qint64 pid = 0;
    QString host;
    QString application;
    QVERIFY(check.getLockInfo(&pid, &host, &application));
    QCOMPARE(pid, QCoreApplication::applicationPid());
    QCOMPARE(host, QSysInfo::machineHostName());
    QVERIFY(instance.listen());
    if (!window)
        return;
    // Each window keeps its own socket: a later start on the other profile still reaches that window.
    SingleInstance later(windowFolder, runtime());
    later.setHandOverWait(2s);
    QCOMPARE(later.claim().role, SingleInstance::Role::HandedOver);
    QTRY_COMPARE(window->activations(), 1);
    QCOMPARE(activations, 0);
}

bool SingleInstanceTest::leaveLock(LeftLock lock)
{
    switch (lock) {
    case LeftLock::None:
    case LeftLock::HeldByALiveProcessHere:
        return true;
    case LeftLock::OfADeadProcessHere:
        return writeLock(lockPath(), deadProcessId(), QSysInfo::machineHostName());
    case LeftLock::OfAnotherHost:
    case LeftLock::OfAnotherHostHeldHere:
        return writeLock(lockPath(), QCoreApplication::applicationPid(), u"another-host.example"_s);
    }
    return false;
}

void SingleInstanceTest::lockNoWindowLeaves_data()
{
    QTest::addColumn<QString>("left"); // what is in the lock's place
    QTest::addColumn<SingleInstance::Role>("role");
    QTest::addColumn<QString>("error"); // what the refusal says, in part
    QTest::addColumn<bool>("asked");    // whether the start asked the socket for a window

    using Role = SingleInstance::Role;
    QTest::newRow("a folder: refused, saying what to do")
        << u"folder"_s << Role::Unreachable << u"quillory.lock is a folder"_s << false;
    QTest::newRow("a symbolic link to a window's lock: refused")
        << u"link to a lock"_s << Role::Unreachable << u"quillory.lock is a symbolic link"_s << false;
    QTest::newRow("a symbolic link to a FIFO: refused without reading it")
        << u"link to a FIFO"_s << Role::Unreachable << u"quillory.lock is a symbolic link"_s << false;
    QTest::newRow("a FIFO: refused without reading it")
        << u"FIFO"_s << Role::Unreachable << u"quillory.lock is a FIFO"_s << false;
    QTest::newRow("a file that cannot be read: refused")
        << u"unreadable"_s << Role::Unreachable << u"quillory.lock cannot be read"_s << false;
    QTest::newRow("empty, nobody holding it: taken at once")
        << u"empty"_s << Role::First << QString() << false;
    QTest::newRow("garbage, nobody holding it: taken at once")
        << u"garbage"_s << Role::First << QString() << false;
    QTest::newRow("64 MB without a line, nobody holding it: taken at once")
        << u"huge"_s << Role::First << QString() << false;
    QTest::newRow("garbage a live process here holds: asked, not taken")
        << u"garbage held"_s << Role::Unreachable << u"does not answer"_s << true;
}

// A lock that no window leaves as it runs. Where that shows no window can be behind it and the kernel
// says nobody holds the file, the start takes it without asking for a window (which would cost the
// whole hand-over wait); what is not a regular file, or cannot be read, is left as it was and refused
// with a message that says what it is and what to do, at once.
void SingleInstanceTest::lockNoWindowLeaves()
{
    QFETCH(QString, left);
    QFETCH(SingleInstance::Role, role);
    QFETCH(QString, error);
    QFETCH(bool, asked);

    if (left == u"unreadable"_s && ::geteuid() == 0)
        QSKIP("the superuser reads every file");
    QVERIFY(QDir().mkpath(profile()));
    QVERIFY(QDir().mkpath(runtime()));
    const QString elsewhere = m_root->filePath(u"elsewhere"_s);
    if (left == u"folder"_s) {
        QVERIFY(QDir().mkpath(lockPath()));
    } else if (left == u"FIFO"_s || left == u"link to a FIFO"_s) {
        const QString fifo = left == u"FIFO"_s ? lockPath() : elsewhere;
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    } else if (left == u"link to a lock"_s) {
        QVERIFY(writeLock(elsewhere, deadProcessId(), QSysInfo::machineHostName()));
    } else {
        QFile file(lockPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (left == u"huge"_s)
            QVERIFY(file.resize(64 * 1024 * 1024));
        else if (left != u"empty"_s)
            QVERIFY(file.write("\x89PNG garbage\n12\n") > 0);
        if (left == u"unreadable"_s)
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
    }
    if (left.startsWith(u"link"_s))
        QVERIFY(QFile::link(elsewhere, lockPath()));
    int holder = -1;
    if (left == u"garbage held"_s) {
        holder = ::open(QFile::encodeName(lockPath()).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
    }
    const auto closeHolder = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });
    const QFileInfo before(lockPath());
    const QString kindBefore = before.isSymLink() ? u"link"_s : before.isDir() ? u"folder"_s : u"file"_s;

    // A window's socket that takes every connection and never answers: it counts the starts that ask.
    SingleInstance instance(profile(), runtime());
    QLocalServer silent;
    QVERIFY(silent.listen(instance.socketPath()));
    int connections = 0;
    connect(&silent, &QLocalServer::newConnection, this, [&] {
        while (QLocalSocket *socket = silent.nextPendingConnection()) {
            ++connections;
            socket->setParent(&silent);
        }
    });
    instance.setHandOverWait(300ms);
    const SingleInstance::Claim claim = instance.claim();
    QCoreApplication::processEvents(); // a connection the claim made is counted
    QCOMPARE(claim.role, role);
    QCOMPARE(connections > 0, asked);
    QVERIFY2(error.isEmpty() ? claim.error.isEmpty() : claim.error.contains(error), qPrintable(claim.error));
    if (role == SingleInstance::Role::Unreachable) {
        // Left as it was: a folder with what it holds, a link and what it names, a file.
        const QFileInfo after(lockPath());
        QCOMPARE(after.isSymLink() ? u"link"_s : after.isDir() ? u"folder"_s : u"file"_s, kindBefore);
        if (!asked) // what to do
            QVERIFY2(claim.error.contains(u"delete "_s + QDir::toNativeSeparators(lockPath())),
                     qPrintable(claim.error));
        return;
    }
    QLockFile check(lockPath());
    qint64 pid = 0;
    QString host;
    QString application;
    QVERIFY(check.getLockInfo(&pid, &host, &application));
    QCOMPARE(pid, QCoreApplication::applicationPid());
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
