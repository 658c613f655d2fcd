// Makes the README's screenshot: the window on a trial item page with the answer filled in.
// The trial and product pages are the fixture pages beside this file, served on loopback and reached
// through the proxy settings, as in the browser tests.

#include "answer/answeringpass.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "httpfixture.h"

#include <QApplication>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;

namespace {

QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(QUILLORY_SCREENSHOT_FIXTURES "/") + QLatin1StringView(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", name);
    return file.readAll();
}

HttpReply serve(const HttpRequest &request)
{
    if (request.url.host() == u"try.taobao.com"_s)
        return HttpReply::html(fixture("trial-item.html"), "utf-8");
    if (request.url.host() == u"item.taobao.com"_s)
        return HttpReply::html(Quillory::Testing::gbk(QString::fromUtf8(fixture("product.html"))), {});
    return HttpReply::html("<p>not here</p>", "utf-8", 404);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        qFatal("usage: quillory-screenshot OUTPUT.png");
    Quillory::allowEngineAsRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);

    HttpFixture server(serve);
    if (!server.startInThread())
        qFatal("cannot listen on 127.0.0.1");
    qputenv("http_proxy", server.proxyUrl().toLatin1());
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    Form1 window;
    window.show();
    window.page()->load(QUrl(u"http://try.taobao.com/item.htm?id=20261209"_s));
    if (!QTest::qWaitFor(
            [&] {
                return window.page()->url().toString().contains(u"item.htm"_s) && !window.page()->isLoading();
            },
            30000))
        qFatal("the trial page did not load");
    QTest::qWait(500);
    window.Command_dati->click();
    if (!QTest::qWaitFor([&] { return !window.answeringPass()->isRunning(); }, 30000))
        qFatal("the pass did not end");
    QTest::qWait(1000);

    const QRect frame = window.frameGeometry();
    const QPixmap shot = window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
