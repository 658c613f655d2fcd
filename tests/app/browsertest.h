#pragma once

#include "eventwait.h"

#include <QApplication>
#include <QEventLoop>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <functional>
#include <memory>
#include <optional>

// main() for a test that drives the real browser engine: the profile lands in Qt's test location, and
// the engine follows the same proxy settings as the window does. An optional second argument is called
// once the application exists and before the engine starts (TrialSiteFixture::startProxy, say).
#define QUILLORY_BROWSER_TEST_MAIN(TestObject, ...)                                                          \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                          \
        QStandardPaths::setTestModeEnabled(true);                                                            \
        QApplication app(argc, argv);                                                                        \
        __VA_OPT__(__VA_ARGS__();)                                                                           \
        QNetworkProxyFactory::setUseSystemConfiguration(true);                                               \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }

// Waiting in a browser test runs a real event loop, as the program does. The engine's browser side runs
// its tasks on this thread, a few hundred of them for one page load; QTest::qWait, qWaitFor and the
// QTRY_ macros sleep 10 ms between rounds of events, which stretches a page load from a few
// milliseconds to over a second. These macros are QTRY_VERIFY and QTRY_COMPARE without that sleep, and
// with the ceiling of eventwait.h: they return as soon as the expression holds.
#define QUILLORY_TRY_VERIFY_WITH_TIMEOUT(expr, timeoutMs)                                                    \
    do {                                                                                                     \
        (void)::Quillory::Testing::waitFor([&] { return bool(expr); }, timeoutMs);                           \
        QVERIFY(expr);                                                                                       \
    } while (false)
#define QUILLORY_TRY_VERIFY(expr) QUILLORY_TRY_VERIFY_WITH_TIMEOUT(expr, ::Quillory::Testing::eventCeilingMs)
#define QUILLORY_TRY_COMPARE_WITH_TIMEOUT(actual, expected, timeoutMs)                                       \
    do {                                                                                                     \
        (void)::Quillory::Testing::waitFor([&] { return (actual) == (expected); }, timeoutMs);               \
        QCOMPARE(actual, expected);                                                                          \
    } while (false)
#define QUILLORY_TRY_COMPARE(actual, expected)                                                               \
    QUILLORY_TRY_COMPARE_WITH_TIMEOUT(actual, expected, ::Quillory::Testing::eventCeilingMs)

namespace Quillory::Testing {

// Runs the event loop until `holds()` is true or `timeoutMs` have passed; returns `holds()`. The check
// runs every few milliseconds and never inside itself, so it may wait for the page in turn.
inline bool waitFor(const std::function<bool()> &holds, int timeoutMs = eventCeilingMs)
{
    if (holds())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setSingleShot(true);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (holds())
            loop.quit();
        else
            check.start();
    });
    check.start(5);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    return holds();
}

// Runs the event loop for `ms`. Not a way to show that something did not happen (a busier machine
// needs longer): wait instead for an event that comes after the moment in question.
inline void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs `source` in the page's own script world and waits for its result.
inline QVariant evaluateInPage(QWebEnginePage &page, const QString &source, int timeoutMs = eventCeilingMs)
{
    // Shared with the callback, which may still come after a time-out.
    const auto result = std::make_shared<std::optional<QVariant>>();
    page.runJavaScript(source, [result](const QVariant &value) { *result = value; });
    (void)waitFor([&] { return result->has_value(); }, timeoutMs);
    return result->value_or(QVariant());
}

inline bool loadAndWait(QWebEnginePage &page, const QUrl &url, int timeoutMs = eventCeilingMs)
{
    bool finished = false;
    bool ok = false;
    auto connection = QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool success) {
        finished = true;
        ok = success;
    });
    page.load(url);
    (void)waitFor([&] { return finished; }, timeoutMs);
    QObject::disconnect(connection);
    return ok;
}

// Once this returns, every call into the page made before it has been answered, the program's own
// included, and so has a call that such an answer made in turn (a page that lacked our script gets it,
// then the call again): each probe goes after the calls sent before it, and the page answers in order.
inline void settlePageCalls(QWebEnginePage &page)
{
    for (int round = 0; round < 2; ++round) {
        const auto answered = std::make_shared<bool>(false); // a late answer finds it still there
        page.runJavaScript(QStringLiteral("0"), QWebEngineScript::ApplicationWorld,
                           [answered](const QVariant &) { *answered = true; });
        QVERIFY(waitFor([&] { return *answered; }));
    }
}

} // namespace Quillory::Testing
