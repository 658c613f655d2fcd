// The pass in the user's own session: the product download carries the pane's cookies and user agent,
// cookies flow back into the pane, and every pass says what it did in the log, under a busy cursor.

#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "app/panecookies.h"
#include "browsertest.h"
#include "httpfixture.h"
#include "pagetext/cookiejar.h"
#include "trialsitefixture.h"

#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMutex>
#include <QNetworkCookie>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(Quillory::Testing::HttpReply)

namespace {

const QString loginPage = u"<html><body>请登录</body></html>"_s;

// The product site answers with the attribute list only to a request that carries the login cookie.
HttpReply productForLoggedIn(const HttpRequest &request)
{
    const QList<QByteArray> cookies = request.header("Cookie").split(';');
    for (const QByteArray &cookie : cookies) {
        if (cookie.trimmed() == "login=alice")
            return HttpReply::html(productPage(u"&nbsp;&#38271;&#26149;"_s).toUtf8(), "utf-8");
    }
    return HttpReply::html(loginPage.toUtf8(), "utf-8");
}

QList<QByteArray> cookieNames(const HttpRequest &request)
{
    QList<QByteArray> names;
    for (const QByteArray &cookie : request.header("Cookie").split(';')) {
        const QByteArray name = cookie.trimmed().split('=').value(0);
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

QList<QByteArray> namesOf(const QList<QNetworkCookie> &cookies)
{
    QList<QByteArray> names;
    for (const QNetworkCookie &cookie : cookies)
        names.append(cookie.name());
    return names;
}

std::optional<HttpRequest> lastRequestFor(const QString &url)
{
    std::optional<HttpRequest> found;
    for (const HttpRequest &request : proxy().requests()) {
        if (request.url.toString() == url)
            found = request;
    }
    return found;
}

// The last download of `url`, not the browser's own navigations to it (the hidden page that reads a
// product page as shown navigates to it too): only the browser asks to be upgraded to https.
std::optional<HttpRequest> lastDownloadOf(const QString &url)
{
    std::optional<HttpRequest> found;
    for (const HttpRequest &request : proxy().requests()) {
        if (request.url.toString() == url && !request.hasHeader("Upgrade-Insecure-Requests"))
            found = request;
    }
    return found;
}

// The lines of the pass's logging category, as the program writes them.
struct PassLog
{
    static QMutex mutex;
    static QStringList lines;
    static QtMessageHandler previous;

    static QStringList warnings; // of every category

    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && QByteArrayView(context.category) == "quillory.pass") {
            QMutexLocker lock(&mutex);
            lines.append(message);
        }
        if (type == QtWarningMsg) {
            QMutexLocker lock(&mutex);
            warnings.append(message);
        }
        previous(type, context, message);
    }
    static QString last()
    {
        QMutexLocker lock(&mutex);
        return lines.value(lines.size() - 1);
    }
    static void clear()
    {
        QMutexLocker lock(&mutex);
        lines.clear();
        warnings.clear();
    }
    static bool warned(const QString &text)
    {
        QMutexLocker lock(&mutex);
        return std::any_of(warnings.cbegin(), warnings.cend(),
                           [&text](const QString &warning) { return warning.contains(text); });
    }
};
QMutex PassLog::mutex;
QStringList PassLog::lines;
QStringList PassLog::warnings;
QtMessageHandler PassLog::previous = nullptr;

} // namespace

class SessionTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void loginTravelsWithTheDownload_data();
    void loginTravelsWithTheDownload();
    void cookieFromTheProductServerReachesThePane();
    void cookiesAcrossARestart_data();
    void cookiesAcrossARestart();
    void storeReportsNoRestoredCookies();
    void loginTravelsAmongManyCookies_data();
    void loginTravelsAmongManyCookies();
    void cookieFileNotARegularFile_data();
    void cookieFileNotARegularFile();
    void userAgentIsThePanes();
    void passOutcomes_data();
    void passOutcomes();
    void busyCursorDuringAPass();

private:
    void openWindow();
    void openTrialPage(const QString &url, const HttpReply &reply);
    void runPass();

    std::unique_ptr<QTemporaryDir> m_profile;
    std::unique_ptr<Form1> m_window;
};

void SessionTest::initTestCase()
{
    PassLog::previous = qInstallMessageHandler(PassLog::handler);
}

void SessionTest::init()
{
    clearPages();
    PassLog::clear();
    m_profile = std::make_unique<QTemporaryDir>();
    QVERIFY(m_profile->isValid());
    openWindow();
}

void SessionTest::cleanup()
{
    m_window.reset();
    QVERIFY(!QGuiApplication::overrideCursor());
}

void SessionTest::openWindow()
{
    WindowOptions options;
    options.profilePath = m_profile->path();
    // Well above the half second the slow product server of busyCursorDuringAPass takes.
    options.downloadLimits.transferTimeout = 1s;
    options.downloadLimits.totalTimeout = 2s;
    options.downloadLimits.maxBodyBytes = 64 * 1024;
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void SessionTest::openTrialPage(const QString &url, const HttpReply &reply)
{
    servePage(url, reply);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(url)));
}

void SessionTest::runPass()
{
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    m_window->Command_dati->click();
    QUILLORY_TRY_COMPARE_WITH_TIMEOUT(reported.size(), 1, 10000);
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(!m_window->answeringPass()->isRunning(), 10000);
}

void SessionTest::loginTravelsWithTheDownload_data()
{
    QTest::addColumn<QByteArray>("setCookie");    // on the trial page's reply
    QTest::addColumn<QString>("script");          // run in the trial page before the pass
    QTest::addColumn<QNetworkCookie>("injected"); // put into the pane's store before the pass
    QTest::addColumn<bool>("sent");

    const QByteArray domainCookie = "login=alice; Domain=.taobao.com; Path=/";
    QTest::newRow("domain cookie set by the trial page")
        << domainCookie << QString() << QNetworkCookie() << true;
    QTest::newRow("cookie set by the page's script")
        << QByteArray() << u"document.cookie = 'login=alice; domain=.taobao.com; path=/'"_s
        << QNetworkCookie() << true;
    QTest::newRow("host-only cookie of the trial host is not sent")
        << QByteArray("login=alice; Path=/") << QString() << QNetworkCookie() << false;
    QTest::newRow("cookie of another path is not sent")
        << QByteArray("login=alice; Domain=.taobao.com; Path=/account") << QString() << QNetworkCookie()
        << false;
    QTest::newRow("cookie deleted by the page is not sent")
        << domainCookie << u"document.cookie = 'login=; domain=.taobao.com; path=/; max-age=0'"_s
        << QNetworkCookie() << false;

    QNetworkCookie secure("login", "alice");
    secure.setDomain(u".taobao.com"_s);
    secure.setPath(u"/"_s);
    secure.setSecure(true);
    QTest::newRow("Secure cookie is not sent over http") << QByteArray() << QString() << secure << false;
}

// A product site that shows its attributes only to a logged-in browser gets the pane's login.
void SessionTest::loginTravelsWithTheDownload()
{
    QFETCH(QByteArray, setCookie);
    QFETCH(QString, script);
    QFETCH(QNetworkCookie, injected);
    QFETCH(bool, sent);

    servePage(productUrl, productForLoggedIn);
    HttpReply trial = HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8");
    if (!setCookie.isEmpty())
        trial.withHeader("Set-Cookie", setCookie);
    openTrialPage(trialItemUrl, trial);
    if (!script.isEmpty())
        evaluateInPage(*m_window->page(), script);
    if (!injected.name().isEmpty())
        m_window->page()->profile()->cookieStore()->setCookie(injected, QUrl(u"https://item.taobao.com/"_s));
    runEventLoop(200); // the store reports changes a moment later, as it does while the user browses

    runPass();
    const std::optional<HttpRequest> download = lastDownloadOf(productUrl);
    QVERIFY(download);
    QCOMPARE(cookieNames(*download).contains("login"), sent);
    QCOMPARE(m_window->Text1->text(), sent ? u"长春"_s : LookupText::noTable);
}

// A cookie set in the download's reply is the pane's too: its next request to that site carries it.
void SessionTest::cookieFromTheProductServerReachesThePane()
{
    servePage(productUrl, HttpReply::html(productPage(u"长春"_s).toUtf8(), "utf-8")
                              .withHeader("Set-Cookie", "seen=1; Domain=.taobao.com; Path=/")
                              .withHeader("Set-Cookie", "itemonly=2; Path=/"));
    // The product page may come as soon as the trial page has loaded: listen from before.
    QSignalSpy added(m_window->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded);
    openTrialPage(trialItemUrl, HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8"));
    runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    const auto productCookies = [&] {
        QList<QNetworkCookie> cookies;
        for (const QList<QVariant> &arguments : std::as_const(added)) {
            const QNetworkCookie cookie = arguments.first().value<QNetworkCookie>();
            if (cookie.name() == "seen" || cookie.name() == "itemonly")
                cookies.append(cookie);
        }
        return cookies;
    };
    QUILLORY_TRY_COMPARE(productCookies().size(), 2); // the store has taken both
    const QNetworkCookie itemOnly = productCookies().last();
    QCOMPARE(itemOnly.name(), "itemonly");
    QCOMPARE(itemOnly.domain(), u"item.taobao.com"_s); // host-only in the pane as well

    const QString next = u"http://try.taobao.com/next.htm"_s;
    const QString item = u"http://item.taobao.com/other.htm"_s;
    openTrialPage(next, HttpReply::html("<p>next</p>", "utf-8"));
    QCOMPARE(cookieNames(*lastRequestFor(next)), QList<QByteArray>{"seen"});
    openTrialPage(item, HttpReply::html("<p>item</p>", "utf-8"));
    QList<QByteArray> names = cookieNames(*lastRequestFor(item));
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (QList<QByteArray>{"itemonly", "seen"}));
}

void SessionTest::cookiesAcrossARestart_data()
{
    QTest::addColumn<bool>("keepJarFile");

    QTest::newRow("the jar's own file kept") << true;
    QTest::newRow("the jar's own file gone: the pane's file tells") << false;
}

// Persistent cookies outlive the window, on disk; session cookies end with it. After a restart the
// downloads send what the pane sends, with or without the jar's own file.
void SessionTest::cookiesAcrossARestart()
{
    QFETCH(bool, keepJarFile);

    openTrialPage(trialItemUrl,
                  HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8")
                      .withHeader("Set-Cookie", "login=alice; Domain=.taobao.com; Path=/; Max-Age=3600")
                      .withHeader("Set-Cookie", "visit=1; Domain=.taobao.com; Path=/"));
    m_window.reset();
    // The engine writes its file a moment after the window goes; a window opened before that would
    // start logged out, whatever the downloads' jar knows.
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(namesOf(readPaneCookies(m_profile->path()).cookies).contains("login"),
                                     10000);
    if (!keepJarFile)
        QVERIFY(QFile::remove(m_profile->filePath(u"Quillory Cookies"_s)));
    openWindow();

    servePage(productUrl, productForLoggedIn);
    openTrialPage(trialItemUrl, HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8"));
    QCOMPARE(cookieNames(*lastRequestFor(trialItemUrl)), QList<QByteArray>{"login"}); // the pane's
    runPass();
    const std::optional<HttpRequest> download = lastRequestFor(productUrl);
    QVERIFY(download);
    QCOMPARE(cookieNames(*download), QList<QByteArray>{"login"});
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
}

// What the engine's store reports of the cookies it restores from disk, on which CookieSync's start
// rests: nothing, not even when asked with loadAllCookies(), while the pane sends them and the engine's
// file holds them. Should this fail on a newer engine, the store reports them: the jar could then
// learn them from loadAllCookies() instead of the engine's file.
void SessionTest::storeReportsNoRestoredCookies()
{
    m_window.reset();
    const QTemporaryDir folder;
    const QString login = u"http://try.taobao.com/login.htm"_s;
    const QString check = u"http://try.taobao.com/check.htm"_s;
    servePage(login, HttpReply::html("<p>in</p>", "utf-8")
                         .withHeader("Set-Cookie", "login=alice; Domain=.taobao.com; Path=/; Max-Age=3600"));
    servePage(check, HttpReply::html("<p>check</p>", "utf-8"));
    const auto openProfile = [&folder] {
        auto profile = std::make_unique<QWebEngineProfile>(u"Restored"_s);
        profile->setPersistentStoragePath(folder.path());
        profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
        return profile;
    };
    {
        const std::unique_ptr<QWebEngineProfile> profile = openProfile();
        QWebEnginePage page(profile.get());
        QVERIFY(loadAndWait(page, QUrl(login)));
    }
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(namesOf(readPaneCookies(folder.path()).cookies).contains("login"),
                                     10000);

    const std::unique_ptr<QWebEngineProfile> profile = openProfile();
    QList<QNetworkCookie> reported;
    connect(profile->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
            [&reported](const QNetworkCookie &cookie) { reported.append(cookie); });
    QWebEnginePage page(profile.get());
    QVERIFY(loadAndWait(page, QUrl(check)));
    QCOMPARE(cookieNames(*lastRequestFor(check)), QList<QByteArray>{"login"}); // restored and sent
    profile->cookieStore()->loadAllCookies();
    // A cookie set after the call: once the store reports it, it has reported what the call would.
    QNetworkCookie marker("marker", "1");
    marker.setPath(u"/"_s);
    profile->cookieStore()->setCookie(marker, QUrl(check));
    QUILLORY_TRY_VERIFY(namesOf(reported).contains("marker"));
    QCOMPARE(namesOf(reported), QList<QByteArray>{"marker"});
}

void SessionTest::loginTravelsAmongManyCookies_data()
{
    QTest::addColumn<bool>("restart");
    QTest::addColumn<bool>("keepJarFile"); // at the restart

    QTest::newRow("set while the window runs") << false << true;
    QTest::newRow("restored at a restart") << true << true;
    QTest::newRow("restored at a restart from the pane's file alone") << true << false;
}

// A profile that holds as many cookies as the pane's store keeps before it drops any (3,261 here, the
// login the oldest of them): the downloads drop none of them, so the login travels with the download,
// as the pane itself sends it.
void SessionTest::loginTravelsAmongManyCookies()
{
    QFETCH(bool, restart);
    QFETCH(bool, keepJarFile);

    openTrialPage(trialItemUrl,
                  HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8")
                      .withHeader("Set-Cookie", "login=alice; Domain=.taobao.com; Path=/; Max-Age=3600"));
    QWebEngineCookieStore *store = m_window->page()->profile()->cookieStore();
    int reported = 0;
    connect(store, &QWebEngineCookieStore::cookieAdded, this, [&reported](const QNetworkCookie &cookie) {
        if (cookie.name().startsWith('c'))
            ++reported;
    });
    constexpr int sites = 20;
    constexpr int perSite = 163; // under the store's 180 a site
    // Sites whose names come after the login's: the engine's file lists its cookies by host, so that
    // after a restart too the login is the first cookie the downloads learn, the oldest.
    const QDateTime later = QDateTime::currentDateTimeUtc().addDays(1);
    for (int site = 0; site < sites; ++site) {
        for (int i = 0; i < perSite; ++i) {
            QNetworkCookie cookie("c" + QByteArray::number(i), "1");
            cookie.setDomain(u".xsite%1.test"_s.arg(site));
            cookie.setPath(u"/"_s);
            cookie.setExpirationDate(later);
            store->setCookie(cookie, QUrl(u"http://www.xsite%1.test/"_s.arg(site)));
        }
    }
    QUILLORY_TRY_COMPARE_WITH_TIMEOUT(reported, sites * perSite, 20000);
    if (restart) {
        m_window.reset();
        const auto written = [this] {
            const QList<QNetworkCookie> cookies = readPaneCookies(m_profile->path()).cookies;
            return cookies.size() == sites * perSite + 1 && namesOf(cookies).contains("login");
        };
        QUILLORY_TRY_VERIFY_WITH_TIMEOUT(written(), 20000);
        if (!keepJarFile)
            QVERIFY(QFile::remove(m_profile->filePath(u"Quillory Cookies"_s)));
        openWindow();
    }

    bool seen = false;
    connect(m_window->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded, this,
            [&seen](const QNetworkCookie &cookie) { seen = seen || cookie.name() == "seen"; });
    servePage(productUrl, productForLoggedIn);
    openTrialPage(trialItemUrl,
                  HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8")
                      .withHeader("Set-Cookie", "seen=1; Domain=.taobao.com; Path=/; Max-Age=3600"));
    QCOMPARE(cookieNames(*lastRequestFor(trialItemUrl)), QList<QByteArray>{"login"}); // the pane's
    QUILLORY_TRY_VERIFY(seen); // the store reports it a moment after the page has loaded
    proxy().clearRequests();
    runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    // The download is the one request for the product page: a page shown to a logged-out browser would
    // have had the pass load it in the browser's way as well.
    QList<HttpRequest> product;
    for (const HttpRequest &request : proxy().requests()) {
        if (request.url == QUrl(productUrl))
            product.append(request);
    }
    QCOMPARE(product.size(), 1);
    QList<QByteArray> sent = cookieNames(product.first());
    std::sort(sent.begin(), sent.end());
    QCOMPARE(sent, (QList<QByteArray>{"login", "seen"}));
    // What the downloads keep on disk, written after the page's new cookie: every one of the pane's.
    const QString jarFile = m_profile->filePath(u"Quillory Cookies"_s);
    QUILLORY_TRY_COMPARE(namesOf(loadCookies(jarFile)).count("seen"), 1);
    QCOMPARE(loadCookies(jarFile).size(), sites * perSite + 2);
}

void SessionTest::cookieFileNotARegularFile_data()
{
    QTest::addColumn<QString>("file"); // in the profile folder
    QTest::addColumn<QString>("kind"); // what is there in its place
    QTest::addColumn<QString>("said"); // in the log

    QTest::newRow("the engine's cookie file is a FIFO") << u"Cookies"_s << u"FIFO"_s << u"is a FIFO"_s;
    QTest::newRow("the engine's cookie file is a link to a FIFO")
        << u"Cookies"_s << u"link to a FIFO"_s << u"is a FIFO"_s;
    QTest::newRow("the engine's cookie file is a folder") << u"Cookies"_s << u"folder"_s << u"is a folder"_s;
    QTest::newRow("the engine's journal is a FIFO") << u"Cookies-journal"_s << u"FIFO"_s << u"is a FIFO"_s;
    QTest::newRow("the downloads' own cookie file is a FIFO")
        << u"Quillory Cookies"_s << u"FIFO"_s << u"it is a FIFO"_s;
}

// Whatever is in the place of a cookie file, the window starts, without reading it: a FIFO would hold
// up the start until a writer came. The log says what was skipped; the downloads send what the other
// file tells.
void SessionTest::cookieFileNotARegularFile()
{
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(QString, said);

    m_window.reset();
    const QString path = m_profile->filePath(file);
    const QString engineFile = m_profile->filePath(u"Cookies"_s);
    const QString jarFile = m_profile->filePath(u"Quillory Cookies"_s);
    for (const QString &left : QStringList{engineFile, engineFile + u"-journal"_s, jarFile})
        QFile::remove(left);
    if (file != u"Quillory Cookies"_s) { // the login the downloads keep in their own file
        QNetworkCookie login("login", "alice");
        login.setDomain(u".taobao.com"_s);
        login.setPath(u"/"_s);
        login.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(1));
        QVERIFY(saveCookies({login}, jarFile));
    }
    const QString fifo = kind == u"FIFO"_s ? path : m_profile->filePath(u"elsewhere"_s);
    if (kind == u"folder"_s)
        QVERIFY(QDir().mkpath(path));
    else
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    if (kind == u"link to a FIFO"_s)
        QVERIFY(QFile::link(fifo, path));
    if (file == u"Cookies-journal"_s) { // a journal beside the cookie file
        QFile database(engineFile);
        QVERIFY(database.open(QIODevice::WriteOnly));
    }
    PassLog::clear();

    openWindow();
    QVERIFY2(PassLog::warned(QDir::toNativeSeparators(path)) && PassLog::warned(said),
             qPrintable(PassLog::warnings.join(u'\n')));
    servePage(productUrl, productForLoggedIn);
    openTrialPage(trialItemUrl, HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8"));
    runPass();
    const std::optional<HttpRequest> download = lastRequestFor(productUrl);
    QVERIFY(download);
    QCOMPARE(cookieNames(*download).contains("login"), file != u"Quillory Cookies"_s);
}

void SessionTest::userAgentIsThePanes()
{
    servePage(productUrl, productPage(u"长春"_s));
    openTrialPage(trialItemUrl, HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8"));
    runPass();

    const QByteArray pane = lastRequestFor(trialItemUrl)->header("User-Agent");
    QVERIFY(pane.contains("Mozilla/5.0"));
    QCOMPARE(pane, m_window->page()->profile()->httpUserAgent().toUtf8());
    QCOMPARE(lastRequestFor(productUrl)->header("User-Agent"), pane);
}

void SessionTest::passOutcomes_data()
{
    QTest::addColumn<QString>("trialUrl");
    QTest::addColumn<QString>("answerLink");
    QTest::addColumn<HttpReply>("product");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("said");

    const QString noTable = LookupText::noTable;
    const QByteArray list = productPage(u"&nbsp;&#38271;&#26149;"_s).toUtf8();
    const QByteArray table = u"<table><tr><th>包装和参数</th></tr><tr><td>品牌</td><td>长春</td></tr></table>"
                             u"拍下价格的不同可能会由于促销和打折引起的"_s.toUtf8();
    HttpReply silent;
    silent.behaviour = HttpReply::Behaviour::NeverAnswer;

    QTest::newRow("value found in the list")
        << trialItemUrl << productUrl << HttpReply::html(list, "utf-8") << u"长春"_s
        << QStringList{u"attribute \"品牌\""_s,
                       u"answer link \"" + productUrl + u'"',
                       u"download: HTTP 200, "_s + QString::number(list.size()) + u" bytes"_s,
                       u"value from the attribute list"_s,
                       u"answer \"长春\""_s,
                       u"written into the answer field"_s};
    QTest::newRow("value found in the table")
        << trialItemUrl << productUrl << HttpReply::html(table, "utf-8") << u"长春"_s
        << QStringList{u"value from the packaging-and-parameters table"_s};
    QTest::newRow("not found") << trialItemUrl << productUrl << HttpReply::html("<p>nothing</p>", "utf-8")
                               << noTable << QStringList{u"page as the browser shows it"_s, u"not found"_s};
    // A trial page on this machine may link to this machine; nothing listens on that port.
    QTest::newRow("connection refused")
        << proxy().url(u"/item.htm?from=http://try.taobao.com/item.htm").toString()
        << u"http://127.0.0.1:%1/item.htm"_s.arg(closedPort()) << HttpReply() << noTable
        << QStringList{u"download failed"_s, u"refused"_s};
    QTest::newRow("no answer within the limit")
        << trialItemUrl << productUrl << silent << noTable << QStringList{u"no answer within the limit"_s};
    QTest::newRow("body too large") << trialItemUrl << productUrl
                                    << HttpReply::html(list + QByteArray(100 * 1024, ' '), "utf-8") << noTable
                                    << QStringList{u"too large"_s};
    QTest::newRow("not a trial item page")
        << u"http://try.taobao.com/list.htm"_s << productUrl << HttpReply::html(list, "utf-8") << helpText
        << QStringList{u"not a trial item page, nothing done"_s};
    QTest::newRow("no question") << u"http://try.taobao.com/item.htm?id=5"_s << QString() << HttpReply()
                                 << u"试用报告"_s
                                 << QStringList{u"no question on the page"_s,
                                                u"written into the answer field"_s};
}

// Each pass writes one line that says what it did, and the cursor is normal again afterwards.
void SessionTest::passOutcomes()
{
    QFETCH(QString, trialUrl);
    QFETCH(QString, answerLink);
    QFETCH(HttpReply, product);
    QFETCH(QString, answer);
    QFETCH(QStringList, said);

    servePage(answerLink, product);
    const QString page =
        answerLink.isEmpty() ? trialPage(u"请写下试用计划"_s) : trialPage(brandQuestion(), {answerLink});
    openTrialPage(trialUrl, HttpReply::html(page.toUtf8(), "utf-8"));
    PassLog::clear();
    runPass();
    QCOMPARE(m_window->Text1->text(), answer);
    QUILLORY_TRY_COMPARE(PassLog::lines.size(), 1);
    const QString line = PassLog::last();
    QVERIFY2(line.startsWith(u"pass on \""_s + trialUrl + u'"'), qPrintable(line));
    for (const QString &phrase : said)
        QVERIFY2(line.contains(phrase), qPrintable(u"no \""_s + phrase + u"\" in: "_s + line));
    QVERIFY(!line.contains(u'\n'));
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(m_window->Command_dati->isEnabled());
}

// The busy cursor is up while the pass waits for its download, and gone when it ends.
void SessionTest::busyCursorDuringAPass()
{
    servePage(productUrl, productPage(u"长春"_s), 500ms);
    openTrialPage(trialItemUrl, HttpReply::html(trialPage(brandQuestion()).toUtf8(), "utf-8"));
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    m_window->Command_dati->click();
    // A pass that answers at once shows no busy pointer; this one waits for its product page.
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(QGuiApplication::overrideCursor(), 400);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
    const QString other = u"http://try.taobao.com/item.htm?id=2"_s;
    servePage(other, trialPage(brandQuestion()));
    m_window->page()->load(QUrl(other));
    runEventLoop(100);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);

    QVERIFY(reported.wait(5000));
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QVERIFY2(PassLog::last().endsWith(u"no field written: the pane has moved on to another page"_s),
             qPrintable(PassLog::last()));
}

QUILLORY_BROWSER_TEST_MAIN(SessionTest, TrialSiteFixture::startProxy)
#include "tst_session.moc"
