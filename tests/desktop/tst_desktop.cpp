// The program as a desktop runs it: the real `quillory` started as a child process on an X display with a
// window manager, with a default browser that only writes down what it is given. What is checked is
// what the window system holds (window titles, icons, the active window) and what the child printed.

#include "eventwait.h"
#include "httpfixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Qt::StringLiterals;
using namespace Quillory::Testing;

namespace {

const QString caption = u"Quillory（自动答题）2.3 by:tovrin"_s;

// What `xprop` says of a window (or of the root window when `window` is empty).
QString xprop(const QString &window, const QStringList &properties)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LC_ALL"_s, u"C.UTF-8"_s);
    process.setProcessEnvironment(env);
    QStringList arguments = window.isEmpty() ? QStringList{u"-root"_s} : QStringList{u"-id"_s, window};
    process.start(u"xprop"_s, arguments + properties);
    process.waitForFinished(eventCeilingMs);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The window ids in what xprop says of a property ("..._LIST(WINDOW): window id # 0x400010, 0x600010").
QStringList windowIds(const QString &listing)
{
    QStringList ids;
    static const QRegularExpression id(u"0x[0-9a-f]+"_s);
    for (auto match = id.globalMatch(listing); match.hasNext();)
        ids.append(match.next().captured());
    return ids;
}

// The managed windows that belong to process `pid`.
QStringList windowsOf(qint64 pid)
{
    QStringList windows;
    for (const QString &window : windowIds(xprop({}, {u"_NET_CLIENT_LIST"_s}))) {
        if (xprop(window, {u"_NET_WM_PID"_s}).trimmed().endsWith(u"= "_s + QString::number(pid)))
            windows.append(window);
    }
    return windows;
}

QString activeWindow()
{
    const QStringList ids = windowIds(xprop({}, {u"_NET_ACTIVE_WINDOW"_s}));
    return ids.isEmpty() ? QString() : ids.first();
}

bool sameWindow(const QString &a, const QString &b)
{
    return !a.isEmpty() && !b.isEmpty() && a.toULongLong(nullptr, 16) == b.toULongLong(nullptr, 16);
}

} // namespace

class DesktopTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void commandLine_data();
    void commandLine();
    void windowSystemShowsCaptionIconAndClass();
    void secondStartRaisesTheFirst();
    void twoProfilesRunSideBySide();

private:
    // A start of the program in this test's runtime folder and default browser, in its home or in
    // `home`.
    std::unique_ptr<QProcess> start(const QStringList &arguments = {}, bool display = true,
                                    const QString &home = {});
    QStringList browserLaunches() const;
    bool profileTouched() const { return QDir(m_home->filePath(u".local/share/quillory"_s)).exists(); }
    QString waitForWindow(QProcess &program);

    std::unique_ptr<HttpFixture> m_site;
    std::unique_ptr<QTemporaryDir> m_home;
    QList<QProcess *> m_running;
};

void DesktopTest::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb"_s)
        QSKIP("needs an X display with a window manager: run it through tests/support/run-under-x.sh");
    // The trial site's home page, through the proxy setting, so that nothing leaves the machine.
    m_site = std::make_unique<HttpFixture>(
        [](const HttpRequest &) { return HttpReply::html(QByteArray("<h1>试用中心</h1>"), "utf-8"); });
    QVERIFY(m_site->startInThread());
}

void DesktopTest::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    // The desktop's default browser, as the program reaches it: xdg-open.
    QDir(m_home->path()).mkpath(u"bin"_s);
    const QString opener = m_home->filePath(u"bin/xdg-open"_s);
    QFile script(opener);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/../launched\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void DesktopTest::cleanup()
{
    for (QProcess *program : std::as_const(m_running)) {
        program->kill();
        program->waitForFinished(eventCeilingMs);
        delete program;
    }
    m_running.clear();
}

std::unique_ptr<QProcess> DesktopTest::start(const QStringList &arguments, bool display, const QString &home)
{
    auto program = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"HOME"_s, home.isEmpty() ? m_home->path() : home);
    env.remove(u"XDG_DATA_HOME"_s);
    env.remove(u"XDG_CONFIG_HOME"_s);
    env.remove(u"XDG_CACHE_HOME"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, m_home->filePath(u"run"_s));
    QDir(m_home->path()).mkpath(u"run"_s);
    QFile::setPermissions(m_home->filePath(u"run"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(u"PATH"_s, m_home->filePath(u"bin"_s) + u':' + env.value(u"PATH"_s));
    env.insert(u"http_proxy"_s, m_site->proxyUrl());
    env.remove(u"no_proxy"_s);
    if (!display)
        env.remove(u"DISPLAY"_s);
    program->setProcessEnvironment(env);
    program->start(QStringLiteral(QUILLORY_PROGRAM), arguments);
    return program;
}

QStringList DesktopTest::browserLaunches() const
{
    QFile log(m_home->filePath(u"launched"_s));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString DesktopTest::waitForWindow(QProcess &program)
{
    QStringList windows;
    if (!QTest::qWaitFor([&] { return !(windows = windowsOf(program.processId())).isEmpty(); },
                         eventCeilingMs)) {
        qWarning("no window; the program said: %s", program.readAllStandardError().constData());
        return {};
    }
    return windows.first();
}

void DesktopTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");

    const QString version = u"Quillory 2.3\n"_s;
    QTest::newRow("--version") << QStringList{u"--version"_s} << 0 << version << QString();
    QTest::newRow("-v") << QStringList{u"-v"_s} << 0 << version << QString();
    // In the window's language, Chinese, whatever the desktop's (this test runs under the C locale).
    QTest::newRow("--help") << QStringList{u"--help"_s} << 0 << u"用法：quillory [选项]"_s << QString();
    QTest::newRow("-h") << QStringList{u"-h"_s} << 0 << u"-v, --version          显示名称和版本后退出。"_s
                        << QString();
    QTest::newRow("a toolkit option beside --version")
        << QStringList{u"-style"_s, u"Fusion"_s, u"--version"_s} << 0 << version << QString();
    QTest::newRow("unknown option") << QStringList{u"--no-such-option"_s} << 1 << QString()
                                    << u"quillory: 不认识的选项“no-such-option”。\n请用“quillory --help”"_s;
    QTest::newRow("a value missing") << QStringList{u"-style"_s} << 1 << QString()
                                     << u"quillory: 选项“-style”后面缺少值。"_s;
    QTest::newRow("stray argument") << QStringList{u"http://example.org/"_s} << 1 << QString()
                                    << u"quillory: 多余的参数“http://example.org/”。"_s;
}

// Asked for its help or version, or given what it does not know, the program answers and ends: no
// window, no profile, no browser; it needs no display for it.
void DesktopTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    for (bool display : {false, true}) {
        const std::unique_ptr<QProcess> program = start(arguments, display);
        QVERIFY(program->waitForFinished(eventCeilingMs));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), exitCode);
        const QString stdOut = QString::fromUtf8(program->readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(program->readAllStandardError());
        if (out.isEmpty())
            QCOMPARE(stdOut, QString());
        else
            QVERIFY2(out.endsWith(u'\n') ? stdOut == out : stdOut.contains(out), qPrintable(stdOut));
        if (err.isEmpty())
            QCOMPARE(stdErr, QString());
        else
            QVERIFY2(stdErr.startsWith(err), qPrintable(stdErr));
        QVERIFY(!profileTouched());
        QCOMPARE(browserLaunches(), QStringList());
    }
}

// The title bar reads the caption exactly, the icon is there, and the window's class is the one the
// desktop entry names.
void DesktopTest::windowSystemShowsCaptionIconAndClass()
{
    QProcess *program = start().release();
    m_running.append(program);
    const QString window = waitForWindow(*program);
    QVERIFY(!window.isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(xprop(window, {u"_NET_WM_NAME"_s}).trimmed(),
                              u"_NET_WM_NAME(UTF8_STRING) = \""_s + caption + u'"', eventCeilingMs);
    QVERIFY2(xprop(window, {u"_NET_WM_ICON"_s}).contains(u"Icon (32 x 32)"_s), "no 32-pixel icon");
    QCOMPARE(xprop(window, {u"WM_CLASS"_s}).trimmed(), u"WM_CLASS(STRING) = \"quillory\", \"quillory\""_s);
    QFile entry(QStringLiteral(QUILLORY_DESKTOP_ENTRY));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(entry.readAll()).contains(u"\nStartupWMClass=quillory\n"_s));
    QTRY_COMPARE_WITH_TIMEOUT(browserLaunches().size(), 1, eventCeilingMs); // the promotional link, once
    QVERIFY(profileTouched());
}

// A second start hands over to the window that runs: it comes forward, the second ends at once. A
// lock left by a killed window does not stop the next start.
void DesktopTest::secondStartRaisesTheFirst()
{
    QProcess *first = start().release();
    m_running.append(first);
    const QString firstWindow = waitForWindow(*first);
    QVERIFY(!firstWindow.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(browserLaunches().size(), 1, eventCeilingMs);

    QWidget other; // another window takes the focus meanwhile
    other.setWindowTitle(u"other"_s);
    other.resize(300, 200);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other, eventCeilingMs));
    QTRY_VERIFY_WITH_TIMEOUT(sameWindow(activeWindow(), QString::number(other.winId(), 16).prepend(u"0x"_s)),
                             eventCeilingMs);

    const std::unique_ptr<QProcess> second = start();
    QVERIFY(second->waitForFinished(eventCeilingMs));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(sameWindow(activeWindow(), firstWindow), eventCeilingMs);
    QCOMPARE(windowsOf(first->processId()).size(), 1);
    QCOMPARE(browserLaunches().size(), 1); // no second hand-off of the promotional link
    QCOMPARE(first->state(), QProcess::Running);

    first->kill(); // SIGKILL: the lock and the socket stay behind
    QVERIFY(first->waitForFinished(eventCeilingMs));
    QProcess *third = start().release();
    m_running.append(third);
    QVERIFY(!waitForWindow(*third).isEmpty());
    QCOMPARE(third->state(), QProcess::Running);
}

// Another home is another profile: its start runs a window of its own beside the first, in the same
// runtime folder, and a later start on either profile comes back to that profile's window.
void DesktopTest::twoProfilesRunSideBySide()
{
    QProcess *first = start().release();
    m_running.append(first);
    QVERIFY(!waitForWindow(*first).isEmpty());
    const QString otherHome = m_home->filePath(u"other"_s);
    QVERIFY(QDir().mkpath(otherHome));
    QProcess *second = start({}, true, otherHome).release();
    m_running.append(second);
    QVERIFY(!waitForWindow(*second).isEmpty());
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(QFile::exists(m_home->filePath(u".local/share/quillory/QtWebEngine/Quillory/quillory.lock"_s)));
    QVERIFY(QFile::exists(otherHome + u"/.local/share/quillory/QtWebEngine/Quillory/quillory.lock"_s));

    for (const QString &home : {QString(), otherHome}) {
        const std::unique_ptr<QProcess> again = start({}, true, home);
        QVERIFY(again->waitForFinished(eventCeilingMs));
        QCOMPARE(again->exitCode(), 0);
    }
    QCOMPARE(windowsOf(first->processId()).size(), 1);
    QCOMPARE(windowsOf(second->processId()).size(), 1);
}

QTEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
