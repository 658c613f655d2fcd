// Makes the README's screenshot and the status pictures: the window on a trial item page after one
// answering pass, in one of a few scenes. The trial and product pages are the fixture pages beside this
// file, served on loopback and reached through the proxy settings, as in the browser tests.
// Usage: quillory-screenshot OUTPUT.png [answered|refused|not-found|slow|rendered|stuck|12pt|lower-left
// [POINTS]] "lower-left": the page's answer field and button stand at the pane's lower left corner, under the
// status, and the pointer comes over them (drawn as a red arrow: a grab leaves the pointer out).

#include "answer/answeringpass.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "app/stuckpagebar.h"
#include "httpfixture.h"

#include <QApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QWebEngineView>

#include <atomic>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;

namespace {

QString scene = u"answered"_s;
std::atomic<quint16> refusingPort = 0;

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(QUILLORY_SCREENSHOT_FIXTURES "/") + QLatin1StringView(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", name);
    return file.readAll();
}

// The trial page of the scene: it asks for an attribute the product page lacks, or links to a port
// on this machine that refuses the connection.
QByteArray trialPage()
{
    QByteArray page = fixture("trial-item.html");
    if (scene == u"not-found"_s)
        page.replace(u"<em>品牌</em>"_s.toUtf8(), u"<em>产地</em>"_s.toUtf8());
    if (scene == u"stuck"_s) // a script that never returns, started just after the load
        page.replace("</body>", "<script>setTimeout(() => { for (;;) {} }, 300)</script></body>");
    if (scene == u"lower-left"_s)
        page.replace("</style>", "  .question form { position: fixed; left: 8px; bottom: 8px; }\n</style>");
    if (scene == u"refused"_s)
        page.replace("http://item.taobao.com/item.htm?id=5566778899",
                     QByteArray("http://127.0.0.1:" + QByteArray::number(refusingPort.load()) + "/item.htm"));
    return page;
}

HttpReply serve(const HttpRequest &request)
{
    if (request.url.host() == u"item.taobao.com"_s) {
        if (scene == u"rendered"_s) // the attribute list exists only once the page's script has run
            return HttpReply::html(R"(<html><body><div id="d"></div><script>
document.getElementById('d').innerHTML = '<ul class="attributes' + '-list"><li>\u54c1\u724c:\u00a0' +
    '\u957f\u6625</li></ul>\u63cf\u8ff0\u52a0\u8f7d\u4e2d';</script></body></html>)",
                                   "utf-8");
        HttpReply reply =
            HttpReply::html(Quillory::Testing::gbk(QString::fromUtf8(fixture("product.html"))), {});
        if (scene == u"slow"_s)
            reply.delay = std::chrono::seconds(30);
        return reply;
    }
    if (request.url.host() == u"try.taobao.com"_s || request.url.path() == u"/item.htm"_s)
        return HttpReply::html(trialPage(), "utf-8");
    return HttpReply::html("<p>not here</p>", "utf-8", 404);
}

quint16 portThatRefuses()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on 127.0.0.1");
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 4)
        qFatal("usage: quillory-screenshot OUTPUT.png [answered|refused|not-found|slow|rendered|stuck|12pt|"
               "lower-left [POINTS]]");
    if (argc >= 3)
        scene = QString::fromLocal8Bit(argv[2]);
    Quillory::allowEngineAsRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    if (scene == u"12pt"_s || argc == 4) {
        QFont font = QApplication::font();
        font.setPointSize(argc == 4 ? QByteArray(argv[3]).toInt() : 12);
        QApplication::setFont(font);
    }

    HttpFixture server(serve);
    if (!server.startInThread())
        qFatal("cannot listen on 127.0.0.1");
    refusingPort = portThatRefuses();
    qputenv("http_proxy", server.proxyUrl().toLatin1());
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    Form1 window;
    window.show();
    // Served from this machine, the trial page may send its download here too; straight to the port.
    const QUrl trialUrl = scene == u"refused"_s
                              ? server.url(u"/item.htm?from=http://try.taobao.com/item.htm"_s)
                              : QUrl(u"http://try.taobao.com/item.htm?id=20261209"_s);
    window.page()->load(trialUrl);
    if (!QTest::qWaitFor(
            [&] {
                return window.page()->url().toString().contains(u"item.htm"_s) && !window.page()->isLoading();
            },
            30000))
        qFatal("the trial page did not load");
    if (scene == u"refused"_s)
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    QTest::qWait(500);
    window.Command_dati->click();
    if (scene == u"slow"_s) {
        QTest::qWait(2600); // the status counts the seconds
    } else if (scene == u"stuck"_s) {
        // The pass waits for the page as long as the user lets it; the window offers to stop the page.
        if (!QTest::qWaitFor([&] { return window.stuckPageBar()->isVisible(); }, 30000))
            qFatal("the window did not offer to stop the page");
    } else if (!QTest::qWaitFor([&] { return !window.answeringPass()->isRunning(); }, 30000)) {
        qFatal("the pass did not end");
    }
    QTest::qWait(1000);
    QPoint pointer; // in the window
    if (scene == u"lower-left"_s) {
        QVariant field;
        bool read = false;
        window.page()->runJavaScript(
            u"(() => { const r = document.querySelector('input').getBoundingClientRect();"
            u" return [r.left + 40, r.bottom - 4]; })()"_s,
            [&](const QVariant &result) {
                field = result;
                read = true;
            });
        if (!QTest::qWaitFor([&] { return read; }, 30000))
            qFatal("the page did not say where its field is");
        const QVariantList at = field.toList();
        pointer = window.WebBrowser1->mapTo(&window, QPoint(at.value(0).toInt(), at.value(1).toInt()));
        QWidget *pageWidget = window.WebBrowser1->focusProxy();
        QTest::mouseMove(pageWidget, pageWidget->mapFrom(&window, pointer));
        QTest::qWait(500);
    }

    // QUILLORY_SCREENSHOT_SCREEN=1: the whole screen, to show where the window stands on it.
    const QRect frame = qEnvironmentVariableIntValue("QUILLORY_SCREENSHOT_SCREEN") == 1
                            ? window.screen()->geometry()
                            : window.frameGeometry();
    QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!pointer.isNull()) {
        const QPoint tip = window.mapToGlobal(pointer) - frame.topLeft();
        QPainter painter(&shot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(Qt::red);
        painter.drawPolygon(QPolygon{tip, tip + QPoint(0, 18), tip + QPoint(5, 13), tip + QPoint(12, 13)});
    }
    return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
