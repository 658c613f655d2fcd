// Product pages as the browser shows them: built by their scripts, past a check page, read once quiet or
// at the limit; and the hidden page that reads them kept from the network, the window and the desktop.

#include "answer/attributelookup.h"
#include "app/renderedpage.h"
#include "browsertest.h"
#include "pagetext/cookiejar.h"
#include "pagetext/weburl.h"
#include "tableresolver.h"
#include "trialsitefixture.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QNetworkCookie>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
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

// Limits that only a page that never comes to an end reaches: a test that expects an answer gets it when
// the page holds what is asked for, however slow this machine is, not when a limit decides.
const RenderLimits patient{120s, 5, 4, 120s};

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
// The packaging-and-parameters table, put in by the page's script a second after the load. The script
// writes the attribute's name escaped, so that its own source does not hold what the lookup reads.
QString lateTable()
{
    return document({}, u"<div id=\"params\"></div><script>setTimeout(() => {"
                        u"document.getElementById('params').innerHTML = '<h4>包装和参数</h4><table><tr><th>"
                        u"\\u4ea7\\u5730</th><td>&nbsp;中国</td></tr></"
                        u"table><p>拍下价格的不同可能会由于促销和打折引起的</p>';"
                        u"}, 1000);</script>"_s);
}

// A list that the page's script builds from `items`, a JavaScript array of [name, value] pairs as its
// source writes them: each item's text set to "name:", a no-break space, and the value.
QString listOfItems(const QString &items)
{
    return document({}, u"<div id=\"attributes\"></div><div id=\"description\">描述加载中</div><script>"
                        u"const list = document.createElement('ul');"
                        u"list.className = ['attributes', 'list'].join('-');"
                        u"for (const [name, value] of "_s +
                            items +
                            u") {"
                            u"  const item = document.createElement('li');"
                            u"  item.textContent = name + ':\\u00a0' + value;"
                            u"  list.append(item);"
                            u"}"
                            u"document.getElementById('attributes').append(list);</script>"_s);
}

// A list built once the document is parsed by a script in <head> whose own source spells the list's
// class and the description marker, ahead of the list itself.
QString listBuiltFromTheHead()
{
    return document(u"<script>document.addEventListener('DOMContentLoaded', () => {"
                    u"const list = document.createElement('ul'); list.className = 'attributes-list';"
                    u"for (const [name, value] of JSON.parse(document.getElementById('data').textContent)) {"
                    u"  const item = document.createElement('li'); item.textContent = name + ':' + value;"
                    u"  list.append(item); }"
                    u"document.getElementById('attributes').append(list);"
                    u"document.getElementById('description').textContent = '描述加载中'; });</script>"_s,
                    u"<script type=\"application/json\" id=\"data\">[[\"品牌\", \"长春\"]]</script>"
                    u"<div id=\"attributes\"></div><div id=\"description\"></div>"_s);
}

// A list that renders inside the open shadow tree of a custom element, its item the element's own child
// assigned to the tree's slot.
QString listInAShadowTree()
{
    return document({}, u"<product-attributes><li>品牌:\u00a0长春</li></product-attributes><p>描述加载中</p>"
                        u"<script>customElements.define('product-attributes', class extends HTMLElement {"
                        u"constructor() { super(); this.attachShadow({mode: 'open'}).innerHTML ="
                        u"'<ul class=\"attributes' + '-list\"><slot></slot></ul>'; } });</script>"_s);
}

// Every unit that a log line would hide (a no-break space, a lone surrogate, a control) as \uXXXX.
QString visible(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0xa0 || c.isSurrogate())
            out += u"\\u"_s + QString::number(c.unicode(), 16).rightJustified(4, u'0');
        else
            out += c;
    }
    return out;
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

// The lookup on a rendered page, in the form the hidden page writes.
QString lookUp(const QString &text, const QString &name)
{
    QString answer = name;
    return lookUpAttribute(text, answer, nullptr, PageForm::Rendered);
}

// A request from the trial site's item page, as the window makes one before any key.
RenderRequest request(const QString &url, bool privateNetworkAllowed = false,
                      std::function<bool(const QString &)> holds = {})
{
    RenderRequest request;
    request.url = QUrl(url);
    request.initiator = QUrl(trialItemUrl);
    request.privateNetworkAllowed = privateNetworkAllowed;
    request.holds = std::move(holds);
    return request;
}

// Holds once the lookup finds `name` in the text.
std::function<bool(const QString &)> holdsAttribute(const QString &name)
{
    return [name](const QString &text) {
        return !lacksTheAttribute(text, name, PageForm::Rendered);
    };
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

// A page that stores what it can wherever it can (it is meant to be served from this machine, where the
// engine counts plain http as secure and opens every store), says what it found of earlier loads and
// what it stored, then builds its list.
QString storingPage()
{
    return scriptBuiltList()
        .replace(
            u"const data = JSON.parse"_s,
            u"(async () => {"
            u"const said = []; const found = [];"
            u"if (localStorage.getItem('mark')) found.push('localStorage');"
            u"if (document.cookie.includes('c0=')) found.push('cookies');"
            u"if (indexedDB.databases && (await indexedDB.databases()).length) found.push('indexedDB');"
            u"if (self.caches && (await caches.keys()).length) found.push('caches');"
            u"said.push('found:' + (found.join(',') || 'none'));"
            u"const big = 'x'.repeat(1 << 20);"
            u"try { localStorage.setItem('mark', big); sessionStorage.setItem('mark', big);"
            u"  said.push('localStorage:ok'); } catch (e) { said.push('localStorage:' + e.name); }"
            u"try { await new Promise((resolve, reject) => { const open = indexedDB.open('store', 1);"
            u"  open.onupgradeneeded = () => open.result.createObjectStore('s');"
            u"  open.onsuccess = () => { const tx = open.result.transaction('s', 'readwrite');"
            u"    tx.objectStore('s').put(big, 'k'); tx.oncomplete = resolve; tx.onerror = reject; };"
            u"  open.onerror = reject; }); said.push('indexedDB:ok'); } catch (e) { "
            u"said.push('indexedDB:failed'); }"
            u"try { const c = await caches.open('c'); await c.put('/cached', new Response(big));"
            u"  said.push('caches:ok'); } catch (e) { said.push('caches:' + e.name); }"
            u"for (let i = 0; i < 200; ++i) document.cookie = 'c' + i + '=' + i + '; path=/; max-age=99999';"
            u"said.push(document.cookie.includes('c199=') ? 'cookies:ok' : 'cookies:failed');"
            u"try { const root = await navigator.storage.getDirectory();"
            u"  await root.getFileHandle('f', {create: true}); said.push('files:ok'); }"
            u"catch (e) { said.push('files:' + e.name); }"
            u"said.push('serviceWorker:' + typeof navigator.serviceWorker);"
            u"try { await navigator.serviceWorker.register('/sw.js'); } catch (e) {}"
            u"document.getElementById('said').textContent = said.join(' ');"
            u"const data = JSON.parse"_s)
        .replace(u"document.getElementById('attributes').append(list);"_s,
                 u"document.getElementById('attributes').append(list); })();"_s)
        .replace(u"<div id=\"attributes\">"_s, u"<p id=\"said\"></p><div id=\"attributes\">"_s);
}

// Files under `path` and their sizes, by path below it.
QMap<QString, qint64> folderContents(const QString &path)
{
    QMap<QString, qint64> contents;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        contents.insert(QDir(path).relativeFilePath(file.filePath()), file.size());
    }
    return contents;
}

qint64 totalSize(const QMap<QString, qint64> &contents)
{
    qint64 total = 0;
    for (const qint64 size : contents)
        total += size;
    return total;
}

// The Cookie header of the first request for `url` the proxy received: its pairs sorted.
QByteArray cookiesSentTo(const QString &url)
{
    for (const HttpRequest &request : proxy().requests()) {
        if (request.url.toString() == url) {
            QList<QByteArray> pairs = request.header("Cookie").split(';');
            for (QByteArray &pair : pairs)
                pair = pair.trimmed();
            pairs.removeAll(QByteArray());
            std::sort(pairs.begin(), pairs.end());
            return pairs.join("; ");
        }
    }
    return "(not sent)";
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
    void readsWhatThePageShows_data();
    void readsWhatThePageShows();
    void endsWithoutAPage_data();
    void endsWithoutAPage();
    void restlessPageIsReadAtTheLimit();
    void hostilePageReachesNothing();
    void paneDownloadsAreLeftAlone();
    void newerLoadReplacesTheOlder();
    void goneContextHearsNothing();
    void redirectRule_data();
    void redirectRule();
    void sendsTheCookiesOfTheClick_data();
    void sendsTheCookiesOfTheClick();
    void leavesNothingBehind();
    void everyRequestKeepsToTheRule();

private:
    RenderSession session() { return {m_jar.get(), &m_resolver, nullptr}; }
    std::unique_ptr<SharedCookieJar> m_jar;
    TableResolver m_resolver{{{u"inside.test"_s, {u"127.0.0.1"_s}},
                              {u"inside6.test"_s, {u"::1"_s}},
                              {u"lan.test"_s, {u"192.168.1.20"_s}},
                              {u"public.test"_s, {u"93.184.216.34"_s}}}};
    HttpFixture m_local; // on this machine, reached without the proxy: what gets here came by address
    RenderedPage render(RenderedPageLoader &loader, const QString &url, bool privateNetworkAllowed = false,
                        std::function<bool(const QString &)> holds = {});

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
    QVERIFY(m_local.startInThread());
}

void RenderedPageTest::init()
{
    proxy().clearRequests();
    m_local.clearRequests();
    m_jar = std::make_unique<SharedCookieJar>();
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
                                      bool privateNetworkAllowed, std::function<bool(const QString &)> holds)
{
    std::optional<RenderedPage> result;
    loader.load(request(url, privateNetworkAllowed, std::move(holds)), this,
                [&](const RenderedPage &page) { result = page; });
    const int limitMs = int(loader.limits().total.count()) + 5000; // the loader's own limit comes first
    (void)waitFor([&] { return result.has_value(); }, limitMs);
    return result.value_or(RenderedPage());
}

void RenderedPageTest::readsTheRenderedDocument_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("privateNetworkAllowed");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("finalUrl");
    QTest::addColumn<int>("followed");

    servePage(listPageUrl, scriptBuiltList());
    QTest::newRow("list built by the page's script from its data")
        << listPageUrl << false << u"品牌"_s << changchun << listPageUrl << 0;

    // Drawn frames come only to a page that counts as shown.
    const QString framePageUrl = u"http://shop.test/frame.htm?id=9"_s;
    servePage(framePageUrl,
              scriptBuiltList().replace(u"document.getElementById('attributes').append(list);"_s,
                                        u"requestAnimationFrame(() => "
                                        u"document.getElementById('attributes').append(list));"_s));
    QTest::newRow("list that the page's script adds in an animation frame")
        << framePageUrl << false << u"品牌"_s << changchun << framePageUrl << 0;

    servePage(checkedPageUrl, [](const HttpRequest &request) {
        const QString page = request.header("Cookie").contains("passed=1") ? scriptBuiltList() : checkPage();
        return HttpReply::html(page.toUtf8(), "utf-8");
    });
    QTest::newRow("check page that sets a cookie and loads the link again")
        << checkedPageUrl << false << u"品牌"_s << changchun << checkedPageUrl << 1;

    // Read once it holds the attribute, however long after the load the page adds it.
    servePage(latePageUrl, lateTable());
    QTest::newRow("table that the page adds a second after its load")
        << latePageUrl << false << u"产地"_s << u"中国"_s << latePageUrl << 0;

    // Its list comes from the new host's own script: the policy of the document the redirect makes
    // admits that host, which was admitted only as the redirect came.
    QString away = scriptBuiltList();
    away.replace(u"const data = JSON.parse"_s, u"function build() { const data = JSON.parse"_s)
        .replace(u"</script></body>"_s, u"}</script><script src=\"/build.js\"></script></body>"_s);
    servePage(u"http://203.0.113.5/item.htm"_s, away);
    servePage(u"http://203.0.113.5/build.js"_s,
              HttpReply::html("build();", "utf-8").withHeader("Content-Type", "text/javascript"));
    servePage(u"http://shop.test/away.htm"_s, HttpReply::redirect("http://203.0.113.5/item.htm"));
    QTest::newRow("server redirect to another host whose list its own script builds")
        << u"http://shop.test/away.htm"_s << false << u"品牌"_s << changchun
        << u"http://203.0.113.5/item.htm"_s << 1;

    servePage(movedPageUrl, HttpReply::redirect(listPageUrl.toUtf8()));
    QTest::newRow("server redirect to another public page")
        << movedPageUrl << false << u"品牌"_s << changchun << listPageUrl << 1;

    // The engine goes to loopback without the proxy; the fixture answers there too.
    const QString loopbackUrl = proxy().url(u"/item.htm?id=7"_s).toString();
    servePage(loopbackUrl, scriptBuiltList());
    QTest::newRow("page on this machine, the private network allowed")
        << loopbackUrl << true << u"品牌"_s << changchun << loopbackUrl << 0;
}

void RenderedPageTest::readsTheRenderedDocument()
{
    QFETCH(QString, link);
    QFETCH(bool, privateNetworkAllowed);
    QFETCH(QString, attribute);
    QFETCH(QString, answer);
    QFETCH(QString, finalUrl);
    QFETCH(int, followed);

    RenderedPageLoader loader(m_profile.get(), session(), patient);
    QSignalSpy stillLoading(&loader, &RenderedPageLoader::stillLoading);
    const RenderedPage page = render(loader, link, privateNetworkAllowed, holdsAttribute(attribute));

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QVERIFY(page.settled);
    QCOMPARE(lookUp(page.text, attribute), answer);
    QVERIFY2(page.text.startsWith(u"<!DOCTYPE html><html><head>"_s), qPrintable(page.text.left(80)));
    QCOMPARE(page.finalUrl.toString(), finalUrl);
    QCOMPARE(page.followed, followed);
    QVERIFY(page.errorText.isEmpty());
    QVERIFY(!loader.isLoading());
    QUILLORY_TRY_VERIFY(loader.findChildren<QWebEnginePage *>().isEmpty()); // closed once read
    // A page that had loaded without what is asked for was said to be still loading, once. Whether the
    // loader reads the check page's first document before that page moves on is the machine's business:
    // at most once there.
    if (link == checkedPageUrl)
        QVERIFY(stillLoading.size() <= 1);
    else
        QCOMPARE(stillLoading.size(), link == latePageUrl ? 1 : 0);

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

void RenderedPageTest::readsWhatThePageShows_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("attribute");
    QTest::addColumn<QString>("shows"); // the value the page shows: what is typed

    int id = 0;
    const auto row = [&](const char *name, const QString &page, const QString &attribute,
                         const QString &value) {
        const QString link = u"http://shop.test/shows.htm?id="_s + QString::number(++id);
        servePage(link, page);
        QTest::newRow(name) << link << attribute << value;
    };
    row("ordinary value", listOfItems(u"[['货号', 'A1'], ['品牌', '长春']]"_s), u"品牌"_s, changchun);
    row("value with no-break spaces and an ampersand, set as text",
        listOfItems(u"[['品名', 'H&M 100\\u00a0ml']]"_s), u"品名"_s, u"H&M 100\u00a0ml"_s);
    row("value with a less-than sign", listOfItems(u"[['尺寸', '<10cm']]"_s), u"尺寸"_s, u"<10cm"_s);
    row("value that shows a character reference literally", listOfItems(u"[['产地', '&#20013;']]"_s),
        u"产地"_s, u"&#20013;"_s);
    row("list built by a script in the head that spells the markers", listBuiltFromTheHead(), u"品牌"_s,
        changchun);
    row("list inside an open shadow tree", listInAShadowTree(), u"品牌"_s, changchun);
    // The first item's name is the second's with U+FFFD where the second has a lone surrogate.
    row("lone surrogate in the attribute's name",
        listOfItems(u"[['尺\\ufffd寸', 'A'], ['尺\\ud800寸', 'B']]"_s), u"尺"_s + QChar(0xd800) + u"寸"_s,
        u"B"_s);
}

// The value is what the page shows for the attribute, character for character, whatever the engine's
// serializer would write for it, wherever in the page's rendered tree the list is.
void RenderedPageTest::readsWhatThePageShows()
{
    QFETCH(QString, link);
    QFETCH(QString, attribute);
    QFETCH(QString, shows);

    RenderedPageLoader loader(m_profile.get(), session(), {8s});
    const RenderedPage page = render(loader, link, false, holdsAttribute(attribute));
    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QVERIFY(page.settled); // read once it held the attribute: the lookup found it
    const QString typed = lookUp(page.text, attribute);
    qInfo("%s: the page shows \"%s\", typed \"%s\"", QTest::currentDataTag(), qPrintable(visible(shows)),
          qPrintable(visible(typed)));
    QCOMPARE(typed, shows);
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

    servePage(go + u"name-inside"_s, HttpReply::redirect("http://inside.test/item.htm"));
    QTest::newRow("server redirect to a name that leads to this machine")
        << go + u"name-inside"_s << false << Status::Refused << u"inside.test"_s << u"http://inside.test/"_s
        << 1;
    servePage(u"http://inside.test/item.htm"_s, scriptBuiltList());
    QTest::newRow("link whose name leads to this machine")
        << u"http://inside.test/item.htm"_s << false << Status::Refused << u"inside.test leads there"_s
        << u"http://inside.test/"_s << 0;
    QTest::newRow("link whose name leads into the private network")
        << u"http://lan.test/item.htm"_s << false << Status::Refused << u"lan.test leads there"_s
        << u"http://lan.test/"_s << 0;

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

    // Only a row that is about the limit waits for it.
    RenderedPageLoader loader(m_profile.get(), session(),
                              status == RenderedPage::Status::TimedOut ? RenderLimits{2s} : patient);
    const RenderedPage page = render(loader, link, privateNetworkAllowed);

    QVERIFY2(page.status == status, qPrintable(page.errorText));
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

// A page that changes every 50 ms forever and never comes to hold what is asked for is read as it
// stands at the limit, and says so.
void RenderedPageTest::restlessPageIsReadAtTheLimit()
{
    servePage(restlessPageUrl,
              scriptBuiltList(u"const tick = document.createElement('p'); document.body.append(tick);"
                              u"let n = 0; setInterval(() => { tick.textContent = String(++n); }, 50);"_s));
    const RenderLimits limits{3s};
    RenderedPageLoader loader(m_profile.get(), session(), limits);
    const RenderedPage page = render(loader, restlessPageUrl, false, holdsAttribute(u"产地"_s));

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QVERIFY(!page.settled);
    QCOMPARE(lookUp(page.text, u"品牌"_s), changchun);
    QVERIFY2(page.elapsed >= limits.total - 300ms, qPrintable(QString::number(page.elapsed.count())));
}

void RenderedPageTest::hostilePageReachesNothing()
{
    servePage(hostilePageUrl, hostilePage());
    servePage(u"http://shop.test/file.bin"_s, binaryFile());
    RenderedPageLoader loader(m_profile.get(), session(), patient);
    const RenderedPage page = render(loader, hostilePageUrl);

    QVERIFY2(page.ok(), qPrintable(page.errorText));
    QCOMPARE(lookUp(page.text, u"品牌"_s), changchun);
    // Dialogs answered no at once, no window, no notification.
    QVERIFY2(page.text.contains(u"alert:undefined confirm:false prompt:null open:null"_s),
             qPrintable(page.text));
    QVERIFY2(page.text.contains(u"notification:denied"_s), qPrintable(page.text));
    // The download never reached the pane's profile, which would have taken it: the hidden page has a
    // profile of its own, which refuses every download.
    QCOMPARE(m_downloadRequests.size(), 0);
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
    RenderedPageLoader loader(m_profile.get(), session());
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
    RenderedPageLoader loader(m_profile.get(), session(), patient);

    QList<RenderedPage> first;
    loader.load(request(u"http://shop.test/silent.htm"_s), this,
                [&](const RenderedPage &page) { first << page; });
    QUILLORY_TRY_COMPARE(requestsFor(u"http://shop.test/silent.htm"_s), 1);
    QVERIFY(first.isEmpty()); // never from inside the call that replaces it
    QList<RenderedPage> second;
    loader.load(request(listPageUrl), this, [&](const RenderedPage &page) { second << page; });
    QVERIFY(first.isEmpty());
    QUILLORY_TRY_COMPARE(second.size(), 1);
    QCOMPARE(first.size(), 1);
    QCOMPARE(first.first().status, RenderedPage::Status::Cancelled);
    QVERIFY(second.first().ok());

    loader.load(request(u"http://shop.test/silent.htm"_s), this,
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
    RenderedPageLoader loader(m_profile.get(), session(), patient);
    auto context = std::make_unique<QObject>();
    bool called = false;
    loader.load(request(listPageUrl), context.get(), [&](const RenderedPage &) { called = true; });
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

void RenderedPageTest::sendsTheCookiesOfTheClick_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("userActivated");
    QTest::addColumn<QByteArray>("linkCookies");
    QTest::addColumn<QByteArray>("scriptCookies"); // a script of another name under the link's host

    QTest::newRow("link on the trial page's own site")
        << u"http://item.taobao.com/item.htm?id=77"_s << false << QByteArray("host=H1; login=L1")
        << QByteArray("login=L1");
    QTest::newRow("link to another site, no key")
        << u"http://shop.other.test/item.htm?id=78"_s << false << QByteArray() << QByteArray();
    QTest::newRow("link to another site, by key") << u"http://shop.other.test/item.htm?id=79"_s << true
                                                  << QByteArray("thirdlax=X1") << QByteArray("thirdlax=X1");
}

// The hidden page sends the link the cookies that its download would send from the trial page, and no
// other: the site's own cookies to its own site, HttpOnly ones too; to another site, Lax ones for a key
// and nothing else. What the page sets, by header or script, never reaches the user's cookies.
void RenderedPageTest::sendsTheCookiesOfTheClick()
{
    QFETCH(QString, link);
    QFETCH(bool, userActivated);
    QFETCH(QByteArray, linkCookies);
    QFETCH(QByteArray, scriptCookies);

    const QDateTime tomorrow = QDateTime::currentDateTimeUtc().addDays(1);
    const auto cookie = [&](QByteArray name, QByteArray value, QString domain, QString path = u"/"_s) {
        QNetworkCookie made(name, value);
        made.setDomain(domain);
        made.setPath(path);
        made.setExpirationDate(tomorrow);
        return made;
    };
    QNetworkCookie login = cookie("login", "L1", u".taobao.com"_s);
    login.setHttpOnly(true);
    QNetworkCookie lax = cookie("thirdlax", "X1", u".other.test"_s);
    lax.setSameSitePolicy(QNetworkCookie::SameSite::Lax);
    for (const QNetworkCookie &made : {login, cookie("host", "H1", u"item.taobao.com"_s),
                                       cookie("elsewhere", "P", u".taobao.com"_s, u"/elsewhere"_s),
                                       cookie("third", "T1", u".other.test"_s), lax})
        QVERIFY(m_jar->insertCookie(made));
    const qsizetype jarCookies = m_jar->persistentCookies().size();

    const QUrl url(link);
    const QString script = u"http://x."_s + url.host() + u"/list.js"_s;
    servePage(script,
              HttpReply::html(u"build();"_s.toUtf8(), "utf-8").withHeader("Content-Type", "text/javascript"));
    QString page =
        scriptBuiltList(u"document.cookie = 'scripted=1; path=/; max-age=99999';"
                        u"for (let i = 0; i < 200; ++i) document.cookie = 'c' + i + '=' + i + '; path=/';"_s);
    // The list comes from a script of another host under the link's: its cookies show too.
    page.replace(u"const data = JSON.parse"_s, u"function build() { const data = JSON.parse"_s)
        .replace(u"</script></body>"_s, u"}</script><script src=\""_s + script + u"\"></script></body>"_s);
    servePage(
        link,
        HttpReply::html(page.toUtf8(), "utf-8").withHeader("Set-Cookie", "served=1; Path=/; Max-Age=99999"));

    int paneCookies = 0;
    connect(m_profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this, [&] { ++paneCookies; });
    RenderedPageLoader loader(m_profile.get(), session(), patient);
    RenderRequest asked = request(link);
    asked.userActivated = userActivated;
    std::optional<RenderedPage> result;
    loader.load(asked, this, [&](const RenderedPage &page) { result = page; });
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(result.has_value(), Testing::eventCeilingMs);
    disconnect(m_profile->cookieStore(), nullptr, this, nullptr);

    QVERIFY2(result->ok(), qPrintable(result->errorText));
    QCOMPARE(lookUp(result->text, u"品牌"_s), changchun);
    QCOMPARE(cookiesSentTo(link), linkCookies);
    QCOMPARE(cookiesSentTo(script), scriptCookies);
    // Nothing the page set reached the user's cookies: not the pane's store, not the downloads' jar.
    QCOMPARE(paneCookies, 0);
    QCOMPARE(m_jar->persistentCookies().size(), jarCookies);
    qInfo().noquote() << "link" << link << "sent cookies" << cookiesSentTo(link) << "; its script"
                      << cookiesSentTo(script);
}

// A page that stores everything it can, in a hidden page loaded again and again, leaves nothing in the
// pane's profile on disk, nothing anywhere else the engine keeps profiles, and nothing for the next load.
void RenderedPageTest::leavesNothingBehind()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    auto pane = std::make_unique<QWebEngineProfile>(u"pane"_s); // on disk, as the window's is
    pane->setPersistentStoragePath(folder.filePath(u"profile"_s));
    pane->setCachePath(folder.filePath(u"cache"_s));
    m_local.setHandler([](const HttpRequest &request) {
        if (request.url.path() == u"/store.htm"_s)
            return HttpReply::html(storingPage().toUtf8(), "utf-8");
        return HttpReply::html("<p>not here</p>", "utf-8", 404);
    });
    {
        QWebEnginePage paneView(pane.get()); // the pane shows a page of its own, as the window does
        servePage(listPageUrl, scriptBuiltList());
        QVERIFY(loadAndWait(paneView, QUrl(listPageUrl)));
    }
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString appCache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    const QMap<QString, qint64> before = folderContents(folder.path());
    const QMap<QString, qint64> appDataBefore = folderContents(appData);
    const QMap<QString, qint64> appCacheBefore = folderContents(appCache);

    int paneCookies = 0;
    connect(pane->cookieStore(), &QWebEngineCookieStore::cookieAdded, this, [&] { ++paneCookies; });
    RenderedPageLoader loader(pane.get(), session(), patient);
    const QString storing = m_local.url(u"/store.htm"_s).toString();
    constexpr int loads = 5;
    for (int i = 0; i < loads; ++i) {
        const RenderedPage page = render(loader, storing, true);
        QVERIFY2(page.ok(), qPrintable(page.errorText));
        QVERIFY2(lookUp(page.text, u"品牌"_s) == changchun, qPrintable(page.text.right(3000)));
        // It stored all it could, and found nothing of the loads before it.
        const QString said = u"found:none localStorage:ok indexedDB:ok caches:ok cookies:ok files:ok "
                             u"serviceWorker:undefined"_s;
        QVERIFY2(page.text.contains(said), qPrintable(page.text.right(400)));
    }
    disconnect(pane->cookieStore(), nullptr, this, nullptr);
    QCOMPARE(paneCookies, 0);
    const QList<HttpRequest> requests = m_local.requests();
    QVERIFY(std::none_of(requests.cbegin(), requests.cend(),
                         [](const HttpRequest &request) { return request.url.path() == u"/sw.js"_s; }));

    // What the pane's profile holds on disk has not grown by what the pages stored (over 2 MiB a load)
    // and holds none of their stores; nothing new where the engine keeps other profiles.
    const QMap<QString, qint64> after = folderContents(folder.path());
    qInfo().noquote() << "pane's profile folder:" << before.size() << "files," << totalSize(before)
                      << "bytes before;" << after.size() << "files," << totalSize(after) << "bytes after"
                      << loads << "hidden loads";
    for (auto file = after.cbegin(); file != after.cend(); ++file) {
        if (before.value(file.key(), -1) != file.value())
            qInfo().noquote() << "  changed:" << file.key() << before.value(file.key(), -1) << "->"
                              << file.value();
    }
    QVERIFY(totalSize(after) - totalSize(before) < 256 * 1024);
    for (const QString &store : {u"Local Storage"_s, u"IndexedDB"_s, u"Service Worker"_s, u"File System"_s,
                                 u"Session Storage"_s, u"CacheStorage"_s}) {
        for (auto file = after.cbegin(); file != after.cend(); ++file)
            QVERIFY2(!file.key().contains(store) || before.contains(file.key()), qPrintable(file.key()));
    }
    QCOMPARE(folderContents(appData), appDataBefore);
    QCOMPARE(folderContents(appCache), appCacheBefore);
    m_local.setHandler({});
}

// Every kind of request a page can make from the hidden page, to another site, to a name that leads to
// this machine, to this machine's and the private network's addresses: only what the downloads' rule
// allows is sent, and what the engine could not check request by request is not made at all.
void RenderedPageTest::everyRequestKeepsToTheRule()
{
    QUdpSocket stun; // where a WebRTC page would send its STUN packets
    QVERIFY(stun.bind(QHostAddress::LocalHost, 0));
    const QString local = u"http://127.0.0.1:%1"_s.arg(m_local.port());
    const QList<std::pair<QString, QString>> targets = {{u"other"_s, u"http://other.test"_s},
                                                        {u"name"_s, u"http://inside.test"_s},
                                                        {u"name6"_s, u"http://inside6.test"_s},
                                                        {u"lan"_s, u"http://10.0.0.9"_s},
                                                        {u"loopback"_s, local}};
    QString targetList;
    for (const auto &[key, base] : targets)
        targetList += u"['"_s + key + u"', '"_s + base + u"'],"_s;
    const QString script =
        u"const targets = ["_s + targetList +
        u"];"
        u"const said = []; const tries = [];"
        u"const note = (k, v) => { said.push(k + '=' + v);"
        u"  document.getElementById('said').textContent = said.sort().join(' '); };"
        u"const settle = (k, p) => tries.push(p.then(() => note(k, 'ok'), () => note(k, 'failed')));"
        u"const element = (k, tag, src) => settle(k, new Promise((ok, fail) => {"
        u"  const e = document.createElement(tag); e.onload = ok; e.onerror = fail; e.src = src;"
        u"  document.body.append(e); }));"
        u"const parsed = window[0];" // the frame in the served markup, before this script
        u"const realm = document.createElement('iframe'); document.body.append(realm);"
        u"const other = realm.contentWindow;"
        u"const bare = document.createElement('iframe'); document.body.appendChild(bare);"
        u"const indexed = window[window.length - 1];"
        u"const realms = [['page', window], ['frame', other], ['indexed', indexed], ['parsed', parsed]];"
        u"for (const [k, base] of targets) {"
        u"  settle('fetch-' + k, fetch(base + '/fetch-' + k));"
        u"  settle('xhr-' + k, new Promise((ok, fail) => { const x = new XMLHttpRequest();"
        u"    x.open('GET', base + '/xhr-' + k); x.onload = ok; x.onerror = fail; x.send(); }));"
        u"  settle('redirect-' + k, fetch('/go?to=' + encodeURIComponent(base + '/redirect-' + k)));"
        u"  settle('blankredirect-' + k,"
        u"    other.fetch('/go?to=' + encodeURIComponent(base + '/blankredirect-' + k)));"
        u"  element('script-' + k, 'script', base + '/script-' + k + '.js');"
        u"  const frame = document.createElement('iframe'); frame.src = base + '/frame-' + k;"
        u"  document.body.append(frame);" // a refused frame fires no event: not waited for
        u"  for (const [realmName, w] of realms) {"
        u"    for (const kind of ['Worker', 'SharedWorker', 'WebSocket']) {"
        u"      const url = (kind === 'WebSocket' ? base.replace('http', 'ws') : base) + '/' + kind + '-' + "
        u"k;"
        u"      try { new w[kind](url); note(realmName + '-' + kind + '-' + k, 'made'); }"
        u"      catch (e) { note(realmName + '-' + kind + '-' + k, 'refused'); } } } }"
        u"for (const [realmName, w] of realms) {"
        u"  note(realmName + '-serviceWorker', typeof w.navigator.serviceWorker);"
        u"  try { const pc = new w.RTCPeerConnection({iceServers: [{urls: 'stun:127.0.0.1:"_s +
        QString::number(stun.localPort()) +
        u"'}]});"
        u"    pc.createDataChannel('x'); tries.push(pc.createOffer().then((o) => pc.setLocalDescription(o))"
        u"      .then(() => new Promise((ok) => { pc.onicegatheringstatechange = () =>"
        u"        pc.iceGatheringState === 'complete' && ok(); })).then(() => note(realmName + '-webrtc', "
        u"'made')));"
        u"  } catch (e) { note(realmName + '-webrtc', 'refused'); } }"
        u"note('tries', tries.length);"
        u"Promise.all(tries).then(() => { note('listData', typeof window.listData);"
        u"  document.getElementById('said').textContent = said.sort().join(' ');"
        u"  if (window.listData) build(); });"_s;
    QString page = scriptBuiltList(script);
    // The list comes from another site's data, as a shop's list from its own data host.
    page.replace(u"const data = JSON.parse(document.getElementById('data').textContent);"_s,
                 u"function build() { const data = window.listData;"_s)
        .replace(u"document.getElementById('attributes').append(list);"_s,
                 u"document.getElementById('attributes').append(list); }"_s)
        .replace(
            u"<div id=\"attributes\">"_s,
            u"<iframe></iframe><script src=\"http://api.other.test/data.js\"></script><p id=\"said\"></p>"
            u"<div id=\"attributes\">"_s);
    const QString rulesPage = u"http://shop.test/rules.htm"_s;
    servePage(rulesPage, page);
    HttpReply data = HttpReply::html(
        u"window.listData = {attributes: [['货号', 'A1'], ['品牌', '长春']]};"_s.toUtf8(), "utf-8");
    data.headers = {{"Content-Type", "text/javascript"}};
    servePage(u"http://api.other.test/data.js"_s, data);
    for (const auto &[key, base] : targets) {
        for (const QString &kind :
             {u"/redirect-"_s, u"/blankredirect-"_s}) // from the page, from a blank frame
            servePage(u"http://shop.test/go?to="_s +
                          QString::fromLatin1(QUrl::toPercentEncoding(base + kind + key)),
                      HttpReply::redirect((base + kind + key).toUtf8()));
    }
    m_local.setHandler([](const HttpRequest &) { return HttpReply::html("<p>here</p>", "utf-8"); });

    RenderedPageLoader loader(m_profile.get(), session(), patient);
    const RenderedPage result = render(loader, rulesPage);
    QVERIFY2(result.ok(), qPrintable(result.errorText));
    const QString said = result.text.section(u"<p id=\"said\">"_s, 1).section(u"</p>"_s, 0, 0);
    QVERIFY2(lookUp(result.text, u"品牌"_s) == changchun, qPrintable(said));
    QVERIFY(result.relearned >= 1); // the names were looked up, then the page loaded again

    // The table: what the servers received, by kind and target.
    const QList<HttpRequest> localRequests = m_local.requests();
    const auto received = [&](const QString &key, const QString &path) {
        if (key == u"loopback"_s)
            return std::any_of(localRequests.cbegin(), localRequests.cend(),
                               [&](const HttpRequest &r) { return r.url.path().startsWith(path); });
        const QList<HttpRequest> requests = proxy().requests();
        return std::any_of(requests.cbegin(), requests.cend(), [&](const HttpRequest &r) {
            return r.url.path().startsWith(path) && !r.url.host().endsWith(u"shop.test"_s);
        });
    };
    QUILLORY_TRY_VERIFY(received(u"other"_s, u"/frame-other"_s)); // the one frame that may load
    for (const auto &[key, base] : targets) {
        const bool allowed = key == u"other"_s;
        for (const QString &kind : {u"fetch"_s, u"xhr"_s, u"redirect"_s, u"blankredirect"_s, u"script"_s,
                                    u"frame"_s, u"Worker"_s, u"SharedWorker"_s, u"WebSocket"_s}) {
            const bool sent = received(key, u"/"_s + kind + u"-"_s + key);
            QString cookies = u"-"_s;
            if (sent && key != u"loopback"_s)
                cookies = QString::fromLatin1(cookiesSentTo(base + u"/"_s + kind + u"-"_s + key +
                                                            (kind == u"script"_s ? u".js"_s : QString())));
            qInfo().noquote() << kind.leftJustified(13) << key.leftJustified(9)
                              << (sent ? "sent" : "not sent") << "cookies:" << cookies;
            const bool connectionless = kind.contains(u"Worker"_s) || kind == u"WebSocket"_s;
            QVERIFY2(sent == (allowed && !connectionless), qPrintable(kind + u" to "_s + key));
        }
    }
    // Nothing at all reached a refused server, whatever the kind of request.
    const auto noneTo = [](const QList<HttpRequest> &requests, const QString &host) {
        return std::none_of(requests.cbegin(), requests.cend(), [&](const HttpRequest &request) {
            return request.url.host() == host || request.target.startsWith(host.toLatin1());
        });
    };
    for (const QString &host : {u"inside.test"_s, u"inside6.test"_s, u"10.0.0.9"_s})
        QVERIFY2(noneTo(proxy().requests(), host), qPrintable(requestedUrls().join(u' ')));
    QVERIFY(noneTo(m_local.requests(), u"127.0.0.1"_s));
    // Workers, WebSockets and WebRTC do not exist for the page, nor for a frame it makes.
    for (const QString &realm : {u"page"_s, u"frame"_s, u"indexed"_s, u"parsed"_s}) {
        QVERIFY2(said.contains(realm + u"-serviceWorker=undefined"_s), qPrintable(said));
        QVERIFY2(said.contains(realm + u"-webrtc=refused"_s), qPrintable(said));
        for (const QString &kind : {u"Worker"_s, u"SharedWorker"_s, u"WebSocket"_s})
            QVERIFY2(!said.contains(realm + u"-"_s + kind + u"-other=made"_s), qPrintable(said));
    }
    QVERIFY(!stun.hasPendingDatagrams());
    m_local.setHandler({});
}

QUILLORY_BROWSER_TEST_MAIN(RenderedPageTest, TrialSiteFixture::startProxy)
#include "tst_renderedpage.moc"
