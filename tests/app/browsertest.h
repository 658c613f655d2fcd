#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

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
// milliseconds to over a second. These macros are QTRY_VERIFY and QTRY_COMPARE without that sleep.
#define QUILLORY_TRY_VERIFY_WITH_TIMEOUT(expr, timeoutMs)                                                    \
    do {                                                                                                     \
        (void)::Quillory::Testing::waitFor([&] { return bool(expr); }, timeoutMs);                           \
        QVERIFY(expr);                                                                                       \
    } while (false)
#define QUILLORY_TRY_VERIFY(expr) QUILLORY_TRY_VERIFY_WITH_TIMEOUT(expr, 5000)
#define QUILLORY_TRY_COMPARE_WITH_TIMEOUT(actual, expected, timeoutMs)                                       \
    do {                                                                                                     \
        (void)::Quillory::Testing::waitFor([&] { return (actual) == (expected); }, timeoutMs);               \
        QCOMPARE(actual, expected);                                                                          \
    } while (false)
#define QUILLORY_TRY_COMPARE(actual, expected) QUILLORY_TRY_COMPARE_WITH_TIMEOUT(actual, expected, 5000)

namespace Quillory::Testing {

// Runs the event loop until `holds()` is true or `timeoutMs` have passed; returns `holds()`. The check
// runs every few milliseconds and never inside itself, so it may wait for the page in turn.
inline bool waitFor(const std::function<bool()> &holds, int timeoutMs = 5000)
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

// Runs the event loop for `ms`: for a test that checks that something does not happen.
inline void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs `source` in the page's own script world and waits for its result.
inline QVariant evaluateInPage(QWebEnginePage &page, const QString &source, int timeoutMs = 10000)
{
    // Shared with the callback, which may still come after a time-out.
    const auto result = std::make_shared<std::optional<QVariant>>();
    page.runJavaScript(source, [result](const QVariant &value) { *result = value; });
    (void)waitFor([&] { return result->has_value(); }, timeoutMs);
    return result->value_or(QVariant());
}

inline bool loadAndWait(QWebEnginePage &page, const QUrl &url, int timeoutMs = 20000)
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

} // namespace Quillory::Testing
