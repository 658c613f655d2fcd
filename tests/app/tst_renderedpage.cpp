// Product pages as the browser shows them: built by their scripts, past a check page, read once quiet or
// at the limit; and the hidden page that reads them kept from the network, the window and the desktop.

#include "answer/attributelookup.h"
#include "app/renderedpage.h"
#include "browsertest.h"
#include "pagetext/weburl.h"
#include "trialsitefixture.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(Quillory::RenderedPage::Status)

namespace {

// Served through the loopback proxy under names of their own, so that the private-network rule sees
// public hosts; the proxy records every request the engine makes.
const QString listPageUrl = u"http://shop.test/item.htm?id=1"_s;
const QString checkedPageUrl = u"http://shop.test/checked.htm?id=2"_s;
const QString latePageUrl = u"http://shop.test/late.htm?id=3"_s;
const QString movedPageUrl = u"http://shop.test/moved.htm?id=4"_s;
const QString restlessPageUrl = u"http://shop.test/restless.htm?id=5"_s;
const QString hostilePageUrl = u"http://shop.test/hostile.htm?id=6"_s;
const QString privateTarget = u"http://10.0.0.1/item.htm"_s;
const QString elsewhere = u"http://elsewhere.test/item.htm"_s;

const QString changchun = u"长春"_s;

QString document(const QString &head, const QString &body)
{
    return u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>宝贝详情</title>"_s + head +
           u"</head><body>"_s + body + u"</body></html>"_s;
}

// The attribute list as a shop's script builds it from the data embedded in the page: the served
// markup holds neither the list nor its marker.
QString scriptBuiltList(const QString &extraScript = {})
{
    return document(u"<script type=\"application/json\" id=\"data\">"
                    u"{\"attributes\": [[\"货号\", \"A1\"], [\"品牌\", \"长春\"]]}</script>"_s,
                    u"<div id=\"attributes\"></div><div id=\"description\">描述加载中</div>"
                    u"<script>"
                    u"const data = JSON.parse(document.getElementById('data').textContent);"
                    u"const list = document.createElement('ul');"
                    u"list.className = ['attributes', 'list'].join('-');"
                    u"for (const [name, value] of data.attributes) {"
                    u"  const item = document.createElement('li');"
                    u"  item.title = '\\u00a0' + value;"
                    u"  item.textContent = name + ':\\u00a0' + value;"
                    u"  list.append(item);"
                    u"}"
                    u"document.getElementById('attributes').append(list);"_s +
                        extraScript + u"</script>"_s);
}

// The packaging-and-parameters table, put in by the page's script a second after the load.
QString lateTable()
{
    return document(
        {}, u"<div id=\"params\"></div><script>setTimeout(() => {"
            u"document.getElementById('params').innerHTML = '<h4>包装和参数</h4><table><tr><th>"
            u"产地</th><td>&nbsp;中国</td></tr></table><p>拍下价格的不同可能会由于促销和打折引起的</p>';"
            u"}, 1000);</script>"_s);
}

// Sets the cookie that lets the reader through, and loads the link again.
QString checkPage()
{
    return document({}, u"<p>验证中</p><script>document.cookie = 'passed=1; path=/';"
                        u"setTimeout(() => location.replace(location.href), 100);</script>"_s);
}

// Everything a page might try on its reader. What the page's calls returned is written into the page.
QString hostilePage()
{
    const QString head =
        u"<link rel=\"icon\" href=\"/icon.png\"><style>@font-face { font-family: F; src: url(/font.woff2); }"
        u"body { font-family: F; }</style><script src=\"http://10.0.0.2/private.js\"></script>"_s;
    const QString script =
        u"const said = [];"
        u"said.push('alert:' + alert('hi'), 'confirm:' + confirm('sure?'), 'prompt:' + prompt('name?', 'x'));"
        u"said.push('open:' + window.open('http://shop.test/popup.htm'));"
        u"document.getElementById('file').click();"
        u"new Image().src = '/beacon.gif';"
        u"fetch('http://10.0.0.4/data.json').catch(() => {});"
        u"document.getElementById('said').textContent = said.join(' ');"
        u"Notification.requestPermission().then((p) => {"
        u"  document.getElementById('notification').textContent = 'notification:' + p; });"_s;
    QString page = scriptBuiltList(script);
    page.replace(u"</title>"_s, u"</title>"_s + head);
    page.replace(
        u"<div id=\"attributes\">"_s,
        u"<img src=\"/picture.png\"><video src=\"/movie.mp4\" autoplay muted></video>"
        u"<audio src=\"/sound.mp3\" autoplay></audio><iframe src=\"http://10.0.0.3/frame.htm\"></iframe>"
        u"<a id=\"file\" href=\"/file.bin\" download>file</a><p id=\"said\"></p><p id=\"notification\"></p>"
        u"<div id=\"attributes\">"_s);
    return page;
}

HttpReply binaryFile()
{
    HttpReply file;
    file.headers = {{"Content-Type", "application/octet-stream"}};
    file.body = "data";
    return file;
}

QString lookUp(const QString &text, const QString &name)
{
    QString answer = name;
    return lookUpAttribute(text, answer);
}

bool wasRequested(const QString &url)
{
    const QList<HttpRequest> requests = proxy().requests();
    return std::any_of(requests.cbegin(), requests.cend(),
                       [&](const HttpRequest &request) { return request.url.toString().startsWith(url); });
}

QStringList requestedUrls()
{
    QStringList urls;
    for (const HttpRequest &request : proxy().requests())
        urls << request.url.toString();
    return urls;
}

} // namespace

class RenderedPageTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void readsTheRenderedDocument_data();
    void readsTheRenderedDocument();
    void endsWithoutAPage_data();
    void endsWithoutAPage();
    void restlessPageIsReadAtTheLimit();
    void hostilePageReachesNothing();
    void paneDownloadsAreLeftAlone();
    void newerLoadReplacesTheOlder();
    void goneContextHearsNothing();
    void redirectRule_data();
    void redirectRule();

private:
    RenderedPage render(RenderedPageLoader &loader, const QString &url, bool privateNetworkAllowed = false);

    QTemporaryDir m_downloads;
    std::unique_ptr<QWebEngineProfile> m_profile;
    bool downloadsEndCancelled();

    QList<QPointer<QWebEngineDownloadRequest>> m_downloadRequests;
};

void RenderedPageTest::initTestCase()
{
    QVERIFY(m_downloads.isValid());
    clearPages(); // the pages are served from the data functions, each at its own address
    m_profile = std::make_unique<QWebEngineProfile>(); // off the record: nothing stays between runs
    m_profile->setDownloadPath(m_downloads.path());
}

void RenderedPageTest::init()
{
    proxy().clearRequests();
    m_profile->cookieStore()->deleteAllCookies();
    m_downloadRequests.clear();
    // A pane that takes every download, connected before any loader as the window's would be: the
    // hidden pages' downloads must end cancelled all the same.
    connect(m_profile.get(), &QWebEngineProfile::downloadRequested, this,
            [this](QWebEngineDownloadRequest *download) {
                m_downloadRequests << download;
                download->accept();
            });
}

void RenderedPageTest::cleanup()
{
    disconnect(m_profile.get(), &QWebEngineProfile::downloadRequested, this, nullptr);
    QVERIFY2(QDir(m_downloads.path()).isEmpty(), "a hidden page saved a file");
    QVERIFY(QApplication::topLevelWidgets().isEmpty()); // no dialog, no window
}

bool RenderedPageTest::downloadsEndCancelled()
{
    const auto finished = [this] {
        return std::all_of(m_downloadRequests.cbegin(), m_downloadRequests.cend(),
                           [](const auto &download) { return download && download->isFinished(); });
    };
    (void)waitFor(finished);
    return finished() &&
           std::all_of(m_downloadRequests.cbegin(), m_downloadRequests.cend(), [](const auto &download) {
               return download->state() == QWebEngineDownloadRequest::DownloadCancelled;
           });
}

RenderedPage RenderedPageTest::render(RenderedPageLoader &loader, const QString &url,
                                      bool privateNetworkAllowed)
{
    std::optional<RenderedPage> result;
    loader.load(QUrl(url), privateNetworkAllowed, this, [&](const RenderedPage &page) { result = page; });
    const int limitMs = int(loader.limits().total.count()) + 5000; // the loader's own limit comes first
    (void)waitFor([&] { return result.has_value(); }, limitMs);
    return result.value_or(RenderedPage());
}

void RenderedPageTest::readsTheRenderedDocument_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("privateNetworkAllowed");
    QTest::addColumn<int>("quietForMs");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("finalUrl");
    QTest::addColumn<int>("followed");

    servePage(listPageUrl, scriptBuiltList());
    QTest::newRow("list built by the page's script from its data")
        << listPageUrl << false << 300 << u"品牌"_s << changchun << listPageUrl << 0;

    // Drawn frames come only to a page that counts as shown.
    const QString framePageUrl = u"http://shop.test/frame.htm?id=9"_s;
    servePage(framePageUrl,
              scriptBuiltList().replace(u"document.getElementById('attributes').append(list);"_s,
                                        u"requestAnimationFrame(() => "
                                        u"document.getElementById('attributes').append(list));"_s));
    QTest::newRow("list that the page's script adds in an animation frame")
        << framePageUrl << false << 300 << u"品牌"_s << changchun << framePageUrl << 0;

    servePage(checkedPageUrl, [](const HttpRequest &request) {
        const QString page = request.header("Cookie").contains("passed=1") ? scriptBuiltList() : checkPage();
        return HttpReply::html(page.toUtf8(), "utf-8");
    });
    QTest::newRow("check page that sets a cookie and loads the link again")
        << checkedPageUrl << false << 300 << u"品牌"_s << changchun << checkedPageUrl << 1;

    // The quiet wait is longer than the page's pause: what comes late is still read.
    servePage(latePageUrl, lateTable());
    QTest::newRow("table that the page adds a second after its load")
        << latePageUrl << false << 1600 << u"产地"_s << u"中国"_s << latePageUrl << 0;

    servePage(movedPageUrl, HttpReply::redirect(listPageUrl.toUtf8()));
    QTest::newRow("server redirect to another public page")
        << movedPageUrl << false << 300 << u"品牌"_s << changchun << listPageUrl << 1;

    // The engine goes to loopback without the proxy; the fixture answers there too.
    const QString loopbackUrl = proxy().url(u"/item.htm?id=7"_s).toString();
    servePage(loopbackUrl, scriptBuiltList());
    QTest::newRow("page on this machine, the private network allowed")
        << loopbackUrl << true << 300 << u"品牌"_s << changchun << loopbackUrl << 0;
}

void RenderedPageTest::readsTheRenderedDocument()
{
    QFETCH(QString, link);
    QFETCH(bool, privateNetworkAllowed);
    QFETCH(int, quietForMs);
    QFETCH(QString, attribute);
    QFETCH(QString, answer);
    QFETCH(QString, finalUrl);
    QFETCH(int, followed);

    RenderedPageLoader loader(m_profile.get(), {std::chrono::milliseconds(quietForMs), 8s});
    const RenderedPage page = render(loader, link, privateNetworkAllowed);

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QVERIFY(page.settled);
    QCOMPARE(lookUp(page.text, attribute), answer);
    QVERIFY2(page.text.startsWith(u"<!DOCTYPE html><html><head>"_s), qPrintable(page.text.left(80)));
    QCOMPARE(page.finalUrl.toString(), finalUrl);
    QCOMPARE(page.followed, followed);
    QVERIFY(page.errorText.isEmpty());
    QVERIFY(!loader.isLoading());
    QUILLORY_TRY_VERIFY(loader.findChildren<QWebEnginePage *>().isEmpty()); // closed once read

    if (link == checkedPageUrl) { // the check page's cookie came back with the second request
        const QList<HttpRequest> requests = proxy().requests();
        QList<QByteArray> cookies;
        for (const HttpRequest &request : requests)
            if (request.url.toString() == link)
                cookies << request.header("Cookie");
        QCOMPARE(cookies.size(), 2);
        QVERIFY(cookies.at(0).isEmpty());
        QVERIFY(cookies.at(1).contains("passed=1"));
    }
}

void RenderedPageTest::endsWithoutAPage_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("privateNetworkAllowed");
    QTest::addColumn<RenderedPage::Status>("status");
    QTest::addColumn<QString>("errorPart");
    QTest::addColumn<QString>("neverRequested");
    QTest::addColumn<int>("linkRequests");

    using Status = RenderedPage::Status;
    const QString go = u"http://shop.test/go.htm?to="_s;

    servePage(go + u"private"_s, HttpReply::redirect(privateTarget.toUtf8()));
    QTest::newRow("server redirect into a private network")
        << go + u"private"_s << false << Status::Refused << u"private network"_s << privateTarget << 1;
    servePage(go + u"localhost"_s, HttpReply::redirect("http://localhost:1/item.htm"));
    QTest::newRow("server redirect to this machine by name")
        << go + u"localhost"_s << false << Status::Refused << u"http://localhost:1/item.htm"_s << QString()
        << 1;

    servePage(go + u"script-private"_s,
              document({}, u"<script>location.href = '"_s + privateTarget + u"'</script>"_s));
    QTest::newRow("page's script sends it into a private network")
        << go + u"script-private"_s << false << Status::Refused << privateTarget << privateTarget << 1;
    // The engine calls this a redirect, as it does a server's: it comes from a document, so it is not.
    servePage(go + u"script-elsewhere"_s,
              document({}, u"<script>location.href = '"_s + elsewhere + u"'</script>"_s));
    QTest::newRow("page's script sends it to another public page while it loads")
        << go + u"script-elsewhere"_s << false << Status::Refused << u"leave the link"_s << elsewhere << 1;
    servePage(go + u"form"_s, document({}, u"<form method=\"post\" action=\""_s + elsewhere +
                                               u"\"></form><script>document.forms[0].submit()</script>"_s));
    QTest::newRow("page submits a form to another page")
        << go + u"form"_s << false << Status::Refused << u"leave the link"_s << elsewhere << 1;

    servePage(go + u"check-forever"_s, checkPage());
    QTest::newRow("check page that never lets the reader through")
        << go + u"check-forever"_s << false << Status::Refused << u"more than 5"_s << QString() << 6;

    const QString loopback = proxy().url(u"/item.htm?id=8"_s).toString();
    servePage(loopback, scriptBuiltList());
    QTest::newRow("link on this machine, the private network not allowed")
        << loopback << false << Status::Refused << u"private network"_s << loopback << 0;

    HttpReply file;
    file.headers = {{"Content-Type", "application/zip"},
                    {"Content-Disposition", "attachment; filename=\"a.zip\""}};
    file.body = "PK\3\4";
    servePage(go + u"file"_s, file);
    QTest::newRow("link to a file") << go + u"file"_s << false << Status::Failed << u"file to download"_s
                                    << QString() << 1;
    QTest::newRow("server that refuses the connection")
        << u"http://127.0.0.1:%1/item.htm"_s.arg(closedPort()) << true << Status::Failed << u"127.0.0.1"_s
        << QString() << 0;

    servePage(u"http://hung.test/item.htm"_s, document({}, u"<script>for (;;) {}</script>"_s));
    QTest::newRow("page whose script never returns")
        << u"http://hung.test/item.htm"_s << false << Status::TimedOut << u"no page loaded"_s << QString()
        << 1;
}

void RenderedPageTest::endsWithoutAPage()
{
    QFETCH(QString, link);
    QFETCH(bool, privateNetworkAllowed);
    QFETCH(RenderedPage::Status, status);
    QFETCH(QString, errorPart);
    QFETCH(QString, neverRequested);
    QFETCH(int, linkRequests);

    RenderedPageLoader loader(m_profile.get(), {300ms, 2s});
    const RenderedPage page = render(loader, link, privateNetworkAllowed);

    QCOMPARE(page.status, status);
    QVERIFY2(page.errorText.contains(errorPart), qPrintable(page.errorText));
    QVERIFY(page.text.isEmpty());
    int requests = 0;
    for (const HttpRequest &request : proxy().requests())
        requests += request.url.toString() == link ? 1 : 0;
    QCOMPARE(requests, linkRequests);
    if (!neverRequested.isEmpty())
        QVERIFY2(!wasRequested(neverRequested), qPrintable(requestedUrls().join(u' ')));
    QVERIFY(m_downloadRequests.size() <= 1);
    QVERIFY(downloadsEndCancelled());
    QUILLORY_TRY_VERIFY(loader.findChildren<QWebEnginePage *>().isEmpty());
}

// A page that changes every 50 ms forever is read as it stands at the limit, and says so.
void RenderedPageTest::restlessPageIsReadAtTheLimit()
{
    servePage(restlessPageUrl,
              scriptBuiltList(u"const tick = document.createElement('p'); document.body.append(tick);"
                              u"let n = 0; setInterval(() => { tick.textContent = String(++n); }, 50);"_s));
    const RenderLimits limits{300ms, 3s};
    RenderedPageLoader loader(m_profile.get(), limits);
    const RenderedPage page = render(loader, restlessPageUrl);

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QVERIFY(!page.settled);
    QCOMPARE(lookUp(page.text, u"品牌"_s), changchun);
    QVERIFY2(page.elapsed >= limits.total - 300ms, qPrintable(QString::number(page.elapsed.count())));
}

void RenderedPageTest::hostilePageReachesNothing()
{
    servePage(hostilePageUrl, hostilePage());
    servePage(u"http://shop.test/file.bin"_s, binaryFile());
    RenderedPageLoader loader(m_profile.get(), {300ms, 8s});
    const RenderedPage page = render(loader, hostilePageUrl);

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QCOMPARE(lookUp(page.text, u"品牌"_s), changchun);
    // Dialogs answered no at once, no window, no notification.
    QVERIFY2(page.text.contains(u"alert:undefined confirm:false prompt:null open:null"_s),
             qPrintable(page.text));
    QVERIFY2(page.text.contains(u"notification:denied"_s), qPrintable(page.text));
    // The download was asked for, and cancelled although the pane took it.
    QCOMPARE(m_downloadRequests.size(), 1);
    QVERIFY(downloadsEndCancelled());
    // Nothing seen or heard was fetched, nothing in the private network, no pop-up.
    for (const QString &url :
         {u"http://shop.test/picture.png"_s, u"http://shop.test/beacon.gif"_s, u"http://shop.test/icon.png"_s,
          u"http://shop.test/favicon.ico"_s, u"http://shop.test/font.woff2"_s,
          u"http://shop.test/movie.mp4"_s, u"http://shop.test/sound.mp3"_s, u"http://10.0.0."_s,
          u"http://shop.test/popup.htm"_s})
        QVERIFY2(!wasRequested(url), qPrintable(url + u" in "_s + requestedUrls().join(u' ')));
}

// The loader refuses only its own pages' downloads: the pane's go on as the pane decides.
void RenderedPageTest::paneDownloadsAreLeftAlone()
{
    servePage(u"http://shop.test/file.bin"_s, binaryFile());
    RenderedPageLoader loader(m_profile.get());
    QWebEnginePage pane(m_profile.get());
    pane.download(QUrl(u"http://shop.test/file.bin"_s), u"pane.bin"_s);
    QUILLORY_TRY_COMPARE(m_downloadRequests.size(), 1);
    QUILLORY_TRY_VERIFY(m_downloadRequests.first() && m_downloadRequests.first()->isFinished());
    QCOMPARE(m_downloadRequests.first()->state(), QWebEngineDownloadRequest::DownloadCompleted);
    QVERIFY(QFile::remove(m_downloads.filePath(u"pane.bin"_s)));
}

// One at a time: the newer load takes the place of the older, which ends with Cancelled, once.
void RenderedPageTest::newerLoadReplacesTheOlder()
{
    HttpReply silent;
    silent.behaviour = HttpReply::Behaviour::NeverAnswer;
    servePage(u"http://shop.test/silent.htm"_s, silent);
    servePage(listPageUrl, scriptBuiltList());
    RenderedPageLoader loader(m_profile.get(), {300ms, 8s});

    QList<RenderedPage> first;
    loader.load(QUrl(u"http://shop.test/silent.htm"_s), false, this,
                [&](const RenderedPage &page) { first << page; });
    QUILLORY_TRY_COMPARE(requestsFor(u"http://shop.test/silent.htm"_s), 1);
    QVERIFY(first.isEmpty()); // never from inside the call that replaces it
    QList<RenderedPage> second;
    loader.load(QUrl(listPageUrl), false, this, [&](const RenderedPage &page) { second << page; });
    QVERIFY(first.isEmpty());
    QUILLORY_TRY_COMPARE(second.size(), 1);
    QCOMPARE(first.size(), 1);
    QCOMPARE(first.first().status, RenderedPage::Status::Cancelled);
    QVERIFY(second.first().ok());

    loader.load(QUrl(u"http://shop.test/silent.htm"_s), false, this,
                [&](const RenderedPage &page) { first << page; });
    QVERIFY(loader.isLoading());
    loader.cancel();
    QVERIFY(!loader.isLoading());
    QUILLORY_TRY_COMPARE(first.size(), 2);
    QCOMPARE(first.last().status, RenderedPage::Status::Cancelled);
    runEventLoop(100);
    QCOMPARE(first.size(), 2);
    QCOMPARE(second.size(), 1);
    QVERIFY(loader.findChildren<QWebEnginePage *>().isEmpty());
}

void RenderedPageTest::goneContextHearsNothing()
{
    servePage(listPageUrl, scriptBuiltList());
    RenderedPageLoader loader(m_profile.get(), {300ms, 8s});
    auto context = std::make_unique<QObject>();
    bool called = false;
    loader.load(QUrl(listPageUrl), false, context.get(), [&](const RenderedPage &) { called = true; });
    QUILLORY_TRY_COMPARE(requestsFor(listPageUrl), 1);
    context.reset();
    QUILLORY_TRY_VERIFY(!loader.isLoading());
    runEventLoop(100);
    QVERIFY(!called);
}

void RenderedPageTest::redirectRule_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("privateNetworkAllowed");
    QTest::addColumn<bool>("refused");

    QTest::newRow("http to https") << u"http://a.test/"_s << u"https://b.test/"_s << false << false;
    QTest::newRow("https to https") << u"https://a.test/"_s << u"https://b.test/"_s << false << false;
    QTest::newRow("https to http") << u"https://a.test/"_s << u"http://a.test/"_s << true << true;
    QTest::newRow("to another scheme") << u"http://a.test/"_s << u"ftp://a.test/x"_s << true << true;
    QTest::newRow("to a URL without a host") << u"http://a.test/"_s << u"http:///x"_s << true << true;
    QTest::newRow("into a private network")
        << u"http://a.test/"_s << u"http://192.168.1.1/"_s << false << true;
    QTest::newRow("into a private network, allowed")
        << u"http://a.test/"_s << u"http://192.168.1.1/"_s << true << false;
}

void RenderedPageTest::redirectRule()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, privateNetworkAllowed);
    QFETCH(bool, refused);
    QCOMPARE(!redirectRefusal(QUrl(from), QUrl(to), privateNetworkAllowed).isEmpty(), refused);
}

QUILLORY_BROWSER_TEST_MAIN(RenderedPageTest, TrialSiteFixture::startProxy)
#include "tst_renderedpage.moc"
