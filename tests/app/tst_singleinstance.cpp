// One window per profile: which start runs a window and which hands over to the one that runs, with
// the lock and the socket in folders of the test's own.

#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

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

} // namespace

Q_DECLARE_METATYPE(Running)
Q_DECLARE_METATYPE(Quillory::SingleInstance::Role)

class SingleInstanceTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void claim_data();
    void claim();

private:
    QString profile() const { return m_root->filePath(u"home/profile"_s); }
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
    QTest::addColumn<SingleInstance::Role>("role");

    using Role = SingleInstance::Role;
    QTest::newRow("no window yet: this start runs one") << Running::Nothing << Role::First;
    QTest::newRow("a window on the same profile: hands over to it")
        << Running::SameProfile << Role::HandedOver;
    QTest::newRow("a window on the profile reached through a link: hands over to it")
        << Running::SameProfileThroughLink << Role::HandedOver;
    QTest::newRow("a window on another profile, same runtime folder: runs beside it")
        << Running::OtherProfile << Role::First;
}

void SingleInstanceTest::claim()
{
    QFETCH(Running, running);
    QFETCH(SingleInstance::Role, role);

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

    SingleInstance instance(profile(), runtime());
    instance.setHandOverWait(2s);
    int activations = 0;
    connect(&instance, &SingleInstance::activationRequested, this, [&activations] { ++activations; });
    const SingleInstance::Claim claim = instance.claim();
    QCOMPARE(claim.role, role);
    QVERIFY(claim.error.isEmpty());
    if (role == SingleInstance::Role::HandedOver) {
        QTRY_COMPARE(window->activations(), 1);
        return;
    }
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

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "tst_singleinstance.moc"
