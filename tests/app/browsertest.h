#pragma once

#include <QApplication>
#include <QNetworkProxyFactory>
#include <QStandardPaths>
#include <QTest>
#include <QWebEnginePage>

#include <functional>

// main() for a test that drives the real browser engine: the profile lands in Qt's test location,
// and the engine follows the same proxy settings as the window does.
#define QUILLORY_BROWSER_TEST_MAIN(TestObject)                                                               \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                          \
        QStandardPaths::setTestModeEnabled(true);                                                            \
        QApplication app(argc, argv);                                                                        \
        QNetworkProxyFactory::setUseSystemConfiguration(true);                                               \
        TestObject test;                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                              \
    }

namespace Quillory::Testing {

// Runs `source` in the page's own script world and waits for its result.
inline QVariant evaluateInPage(QWebEnginePage &page, const QString &source, int timeoutMs = 10000)
{
    QVariant result;
    bool done = false;
    page.runJavaScript(source, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    (void)QTest::qWaitFor([&] { return done; }, timeoutMs);
    return result;
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
    (void)QTest::qWaitFor([&] { return finished; }, timeoutMs);
    QObject::disconnect(connection);
    return ok;
}

} // namespace Quillory::Testing
