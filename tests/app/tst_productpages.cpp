// The product page before the key: downloaded when the trial page has loaded, kept for the passes that
// follow on that page and its reloads, downloaded afresh once it is old or for a changed login.

#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "answer/passstatus.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "browsertest.h"
#include "fakeproductsource.h"
#include "trialsitefixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QNetworkCookie>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;
using namespace std::chrono_literals;

class ProductPagesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void downloadedBeforeThePass();
    void autoAnswerDownloadsOnce();
    void keptCopyGetsOld();
    void reloadUsesTheKeptCopy();
    void loginChangeDownloadsAfresh();
    void scriptBuiltProductPage_data();
    void scriptBuiltProductPage();

private:
    void openWindow(std::chrono::milliseconds keep = 60s);
    void openTrialPage(const QString &url = trialItemUrl);
    PassReport runPass();

    // The product pages' time: a kept copy gets old when the test moves it on, not as the machine
    // happens to be slow.
    FakeClock m_clock;
    QTemporaryDir m_profile;
    std::unique_ptr<Form1> m_window;
};

void ProductPagesTest::init()
{
    m_clock = FakeClock();
    clearPages();
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
}

void ProductPagesTest::cleanup()
{
    m_window.reset();
}

void ProductPagesTest::openWindow(std::chrono::milliseconds keep)
{
    WindowOptions options;
    options.renderLimits.total = 60s; // a ceiling: the page is read once its scripts have built it
    options.profilePath = m_profile.path();
    options.autoAnswerIntervalMs = 100;
    options.keepProductPage = keep;
    options.clock = &m_clock;
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
}

void ProductPagesTest::openTrialPage(const QString &url)
{
    servePage(url, trialPage(brandQuestion()));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(url)));
}

PassReport ProductPagesTest::runPass()
{
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    m_window->Command_dati->click();
    (void)waitFor([&] { return !reported.isEmpty(); });
    return reported.isEmpty() ? PassReport() : reported.first().first().value<PassReport>();
}

// The page loads, the product page comes while the user reads the question; the pass downloads nothing.
void ProductPagesTest::downloadedBeforeThePass()
{
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s), 300ms);
    openWindow();
    QSignalSpy fetched(m_window->productPages(), &ProductPages::fetchEnded);
    openTrialPage();
    QUILLORY_TRY_COMPARE(requestsFor(productUrl), 1);
    QUILLORY_TRY_COMPARE(fetched.size(), 1); // the download is done by the time the user presses Alt+Z

    QSignalSpy traced(m_window->answeringPass(), &AnsweringPass::traced);
    const PassReport report = runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QVERIFY(report.download);
    QCOMPARE(report.download->origin, ProductPages::Origin::Early);
    QVERIFY2(describePass(report).contains(u"(early download)"_s), qPrintable(describePass(report)));
    QCOMPARE(traced.size(), 1);
    QCOMPARE(traced.first().first().value<PassTrace>().downloadMs, 0); // no download in the pass
    QCOMPARE(requestsFor(productUrl), 1);
}

// Auto-answer on one page: one product request, however many passes.
void ProductPagesTest::autoAnswerDownloadsOnce()
{
    openWindow();
    openTrialPage();
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QUILLORY_TRY_VERIFY(reported.size() >= 8);
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));

    QCOMPARE(requestsFor(productUrl), 1);
    QCOMPARE(reported.first().first().value<PassReport>().download->origin, ProductPages::Origin::Early);
    QCOMPARE(reported.last().first().value<PassReport>().download->origin, ProductPages::Origin::Kept);
    QVERIFY(describePass(reported.last().first().value<PassReport>()).contains(u"(kept copy)"_s));
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
}

void ProductPagesTest::keptCopyGetsOld()
{
    openWindow(300ms);
    QSignalSpy fetched(m_window->productPages(), &ProductPages::fetchEnded);
    openTrialPage();
    QUILLORY_TRY_COMPARE(requestsFor(productUrl), 1);
    QUILLORY_TRY_COMPARE(fetched.size(), 1);
    m_clock.advance(400ms);
    servePage(productUrl, productPage(u"&nbsp;&#40644;&#23665;"_s)); // the product page has changed
    const PassReport report = runPass();
    QCOMPARE(report.download->origin, ProductPages::Origin::New);
    QCOMPARE(requestsFor(productUrl), 2);
    QCOMPARE(m_window->Text1->text(), u"黄山"_s);
}

// The same trial page loaded again (as a page that reloads itself does) makes no second download
// within the minute: its new document answers from the kept copy.
void ProductPagesTest::reloadUsesTheKeptCopy()
{
    openWindow();
    openTrialPage();
    QUILLORY_TRY_COMPARE(requestsFor(productUrl), 1);
    QCOMPARE(runPass().download->origin, ProductPages::Origin::Early);
    for (int load = 0; load < 3; ++load)
        openTrialPage();
    QCOMPARE(runPass().download->origin, ProductPages::Origin::Kept);
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QCOMPARE(requestsFor(productUrl), 1);
}

// Logged in since the page was downloaded: the kept copy no longer speaks for the session.
void ProductPagesTest::loginChangeDownloadsAfresh()
{
    openWindow();
    openTrialPage();
    QUILLORY_TRY_COMPARE(requestsFor(productUrl), 1);
    QCOMPARE(runPass().download->origin, ProductPages::Origin::Early);
    // The store reports the new cookie a moment later, to the window first.
    bool loginAdded = false;
    QObject listening;
    connect(m_window->page()->profile()->cookieStore(), &QWebEngineCookieStore::cookieAdded, &listening,
            [&](const QNetworkCookie &cookie) { loginAdded = loginAdded || cookie.name() == "login"; });
    evaluateInPage(*m_window->page(), u"document.cookie = 'login=alice; domain=.taobao.com; path=/'"_s);
    QUILLORY_TRY_VERIFY(loginAdded);
    QCOMPARE(runPass().download->origin, ProductPages::Origin::New);
    QCOMPARE(requestsFor(productUrl), 2);
}

void ProductPagesTest::scriptBuiltProductPage_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<bool>("render");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("status");

    // The list exists only once the page's script has run, as on many shops.
    const QString scripted = QString::fromUtf8(
        R"(<html><body><div id="d"></div><script>const j = {"\u54c1\u724c": "\u957f\u6625"};
document.getElementById('d').innerHTML = '<ul class="attributes' + '-list"><li>\u54c1\u724c:\u00a0' +
    j['\u54c1\u724c'] + '</li></ul>\u63cf\u8ff0\u52a0\u8f7d\u4e2d';</script></body></html>)");
    QTest::newRow("built by script") << scripted << true << u"长春"_s << u"商品页的属性列表"_s;
    // Set as text: the page shows it as it is, whatever the engine's markup would escape in it.
    const QString shown = QString::fromUtf8(
        R"(<html><body><div id="d"></div><script>const list = document.createElement('ul');
list.className = 'attributes' + '-list'; const item = document.createElement('li');
item.textContent = '品牌: H&M 100 ml <10cm &#20013;'; list.append(item);
document.getElementById('d').append(list, '描述加载中');</script></body></html>)");
    QTest::newRow("built by script, a value the engine's markup would escape")
        << shown << true << u"H&M 100\u00a0ml <10cm &#20013;"_s << u"商品页的属性列表"_s;
    QTest::newRow("built by script, rendering switched off")
        << scripted << false << LookupText::noTable << u"商品页上没有“品牌”"_s;
}

// A product page that its scripts build: looked up as the browser shows it, and the window says so.
void ProductPagesTest::scriptBuiltProductPage()
{
    QFETCH(QString, product);
    QFETCH(bool, render);
    QFETCH(QString, answer);
    QFETCH(QString, status);

    servePage(productUrl, product);
    WindowOptions options;
    options.profilePath = m_profile.path();
    options.renderProductPages = render;
    options.renderLimits.total = 60s; // a ceiling: the page is read once its scripts have built it
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
    openTrialPage();
    const PassReport report = runPass();
    QCOMPARE(m_window->Text1->text(), answer);
    QCOMPARE(evaluateInPage(*m_window->page(), u"document.getElementById('answer').value"_s).toString(),
             answer);
    QVERIFY(report.download);
    QCOMPARE(report.download->rendered, render);
    QVERIFY2(passStatusText(report).contains(status), qPrintable(passStatusText(report)));

    // The next pass on the page answers the same from the copy kept, read in the same form.
    m_window->Text1->clear();
    const PassReport again = runPass();
    QCOMPARE(again.download->origin, ProductPages::Origin::Kept);
    QCOMPARE(again.download->rendered, render);
    QCOMPARE(m_window->Text1->text(), answer);
}

QUILLORY_BROWSER_TEST_MAIN(ProductPagesTest, TrialSiteFixture::startProxy)
#include "tst_productpages.moc"
