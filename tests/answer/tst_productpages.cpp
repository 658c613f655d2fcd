// The product pages' rules on a source and a clock that the test drives: one fetch at a time for a page,
// the kept copy and its age, the session it speaks for, the rate of early downloads, and the one budget of
// work that nobody asked for.

#include "answer/productpages.h"
#include "fakeproductsource.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace std::chrono_literals;

namespace {

DownloadRequest linkRequest(const QString &link = u"http://item.taobao.com/item.htm?id=1"_s,
                            const QString &page = u"http://try.taobao.com/item.htm?id=9"_s)
{
    DownloadRequest request;
    request.url = QUrl(link);
    request.initiator = QUrl(page);
    return request;
}

} // namespace

class ProductPagesRules final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void passesShareOneFetch();
    void keptCopy_data();
    void keptCopy();
    void failedFetchIsNotKept();
    void leavingCancelsTheEarlyDownload();
    void reloadingPage_data();
    void reloadingPage();
    void lateReadOfAnEarlierReload();
    void renderedWhenTheServedPageLacks_data();
    void renderedWhenTheServedPageLacks();
    void gesturelessWorkHasOneBudget();
    void renderedOnlyForTheTrialSite_data();
    void renderedOnlyForTheTrialSite();

private:
    // The page a pass gets for `token` once the events have run, if it has come by then.
    std::optional<ProductPages::Page> passGets(const QString &token,
                                               const DownloadRequest &request = linkRequest());

    FakeClock m_clock;
    std::unique_ptr<FakeProductSource> m_source;
    std::unique_ptr<ProductPages> m_pages;
};

void ProductPagesRules::init()
{
    m_clock = FakeClock();
    m_source = std::make_unique<FakeProductSource>();
    m_pages = std::make_unique<ProductPages>(*m_source, m_clock, 60s);
}

void ProductPagesRules::cleanup()
{
    m_pages.reset();
    m_source.reset();
}

std::optional<ProductPages::Page> ProductPagesRules::passGets(const QString &token,
                                                              const DownloadRequest &request)
{
    std::optional<ProductPages::Page> got;
    QObject pass; // gone on return: a page that comes later finds nobody waiting
    m_pages->get(token, request, u"品牌"_s, &pass, [&](const ProductPages::Page &page) { got = page; });
    QCoreApplication::processEvents();
    return got;
}

// The early download under way serves the pass that comes before it ends, and the next pass keeps it.
void ProductPagesRules::passesShareOneFetch()
{
    m_pages->prepare(u"a"_s, linkRequest());
    std::optional<ProductPages::Page> first;
    m_pages->get(u"a"_s, linkRequest(), u"品牌"_s, this,
                 [&](const ProductPages::Page &page) { first = page; });
    QCOMPARE(m_source->fetches().size(), 1);
    QVERIFY(!first);
    m_source->answer(0, u"<li>品牌</li>"_s);
    QVERIFY(first);
    QCOMPARE(first->origin, ProductPages::Origin::Early);
    QCOMPARE(first->result.text, u"<li>品牌</li>"_s);

    const std::optional<ProductPages::Page> second = passGets(u"a"_s);
    QVERIFY(second);
    QCOMPARE(second->origin, ProductPages::Origin::Kept);
    QCOMPARE(m_source->fetches().size(), 1);
}

void ProductPagesRules::keptCopy_data()
{
    QTest::addColumn<std::chrono::milliseconds>("after");
    QTest::addColumn<bool>("loggedInSince");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("kept");

    const QString link = linkRequest().url.toString();
    QTest::newRow("fresh") << 59'999ms << false << u"a"_s << link << true;
    QTest::newRow("old") << 60'000ms << false << u"a"_s << link << false;
    QTest::newRow("login since") << 1ms << true << u"a"_s << link << false;
    QTest::newRow("a new document of the same page") << 1ms << false << u"b"_s << link << true;
    QTest::newRow("another link") << 1ms << false << u"a"_s << u"http://item.taobao.com/item.htm?id=2"_s
                                  << false;
}

// The copy serves the same link from the same page (its reloads too), for 60 s, while the session stays
// the same.
void ProductPagesRules::keptCopy()
{
    QFETCH(std::chrono::milliseconds, after);
    QFETCH(bool, loggedInSince);
    QFETCH(QString, token);
    QFETCH(QString, link);
    QFETCH(bool, kept);

    QVERIFY(!passGets(u"a"_s));
    m_source->answer(0, u"page"_s);
    m_clock.advance(after);
    if (loggedInSince)
        m_source->setCookies({u"login=alice"_s});
    const std::optional<ProductPages::Page> page = passGets(token, linkRequest(link));
    QCOMPARE(m_source->fetches().size(), kept ? 1 : 2);
    QCOMPARE(page.has_value(), kept);
    if (kept)
        QCOMPARE(page->origin, ProductPages::Origin::Kept);
}

void ProductPagesRules::failedFetchIsNotKept()
{
    QVERIFY(!passGets(u"a"_s));
    DownloadResult refused;
    refused.status = DownloadResult::Status::NetworkError;
    m_source->answer(0, refused);
    QVERIFY(!passGets(u"a"_s));
    QCOMPARE(m_source->fetches().size(), 2);
}

// The pane leaves: the early download nobody waits for is cancelled; a pass that waits still gets its
// page, which is then not kept.
void ProductPagesRules::leavingCancelsTheEarlyDownload()
{
    m_pages->prepare(u"a"_s, linkRequest());
    m_pages->leave();
    QVERIFY(m_source->fetches().at(0)->cancelled);

    std::optional<ProductPages::Page> waited;
    m_pages->get(u"b"_s, linkRequest(), u"品牌"_s, this,
                 [&](const ProductPages::Page &page) { waited = page; });
    m_pages->leave();
    QVERIFY(!m_source->fetches().at(1)->cancelled);
    m_source->answer(1, u"page"_s);
    QVERIFY(waited);
    QVERIFY(!passGets(u"b"_s));
    QCOMPARE(m_source->fetches().size(), 3);
}

void ProductPagesRules::reloadingPage_data()
{
    QTest::addColumn<std::chrono::milliseconds>("after");
    QTest::addColumn<bool>("passFirst"); // the pass asks before the reloaded page's own read
    QTest::addColumn<bool>("answered");  // the first early download had come before the reload
    QTest::addColumn<QString>("page");   // the page loaded the second time
    QTest::addColumn<int>("fetches");    // after the second load and a pass on it
    QTest::addColumn<ProductPages::Origin>("origin");

    const QString trial = linkRequest().initiator.toString();
    QTest::newRow("reload, copy kept") << 200ms << false << true << trial << 1 << ProductPages::Origin::Kept;
    QTest::newRow("reload, the pass before the page's read")
        << 200ms << true << true << trial << 1 << ProductPages::Origin::Kept;
    QTest::newRow("reload before the copy came")
        << 200ms << false << false << trial << 2 << ProductPages::Origin::New;
    QTest::newRow("reload a minute later")
        << 60'000ms << false << true << trial << 2 << ProductPages::Origin::Early;
    QTest::newRow("another trial page, same link")
        << 200ms << false << true << u"http://try.taobao.com/item.htm?id=10"_s << 2
        << ProductPages::Origin::New;
}

// A page that reloads itself makes at most one early download a link a minute: the kept copy serves
// the reloaded page, and without one the pass downloads when it is asked for.
void ProductPagesRules::reloadingPage()
{
    QFETCH(std::chrono::milliseconds, after);
    QFETCH(bool, passFirst);
    QFETCH(bool, answered);
    QFETCH(QString, page);
    QFETCH(int, fetches);
    QFETCH(ProductPages::Origin, origin);

    m_pages->prepare(u"a"_s, linkRequest());
    if (answered)
        m_source->answer(0, u"page"_s);
    m_pages->leave();
    m_clock.advance(after);
    const DownloadRequest again = linkRequest(linkRequest().url.toString(), page);
    if (!passFirst)
        m_pages->prepare(u"b"_s, again);
    std::optional<ProductPages::Page> got;
    m_pages->get(u"b"_s, again, u"品牌"_s, this, [&](const ProductPages::Page &page) { got = page; });
    if (passFirst)
        m_pages->prepare(u"b"_s, again);
    QCoreApplication::processEvents();
    if (!got) {
        m_source->answer(m_source->fetches().size() - 1, u"page"_s);
        QVERIFY(got);
    }
    QCOMPARE(m_source->fetches().size(), fetches);
    QCOMPARE(got->origin, origin);
}

// The page reloads twice in quick succession: the read of the document in between comes after the pane
// has left it too. The copy it took over still serves the document shown now.
void ProductPagesRules::lateReadOfAnEarlierReload()
{
    m_pages->prepare(u"a"_s, linkRequest());
    m_source->answer(0, u"page"_s);
    m_pages->leave(); // to "b"
    m_pages->leave(); // to "c", before b's read
    m_pages->prepare(u"b"_s, linkRequest());
    const std::optional<ProductPages::Page> page = passGets(u"c"_s);
    QVERIFY(page);
    QCOMPARE(page->origin, ProductPages::Origin::Kept);
    QCOMPARE(m_source->fetches().size(), 1);
}

void ProductPagesRules::renderedWhenTheServedPageLacks_data()
{
    QTest::addColumn<QString>("served");
    QTest::addColumn<bool>("renderedEarly");   // asked for before any pass
    QTest::addColumn<bool>("renderedForPass"); // asked for by the pass
    QTest::addColumn<bool>("renderOk");
    QTest::addColumn<QString>("answered"); // the text the pass gets

    const QString withBrand = u"<ul class=\"attributes-list\"><li>品牌: 长春</li></ul>描述加载中"_s;
    const QString withoutBrand = u"<ul class=\"attributes-list\"><li>型号: X</li></ul>描述加载中"_s;
    const QString script = u"<script>build(list)</script>"_s;
    QTest::newRow("served page has the attribute") << withBrand << false << false << true << withBrand;
    QTest::newRow("served page has no list at all") << script << true << false << true << u"rendered"_s;
    QTest::newRow("served list lacks the attribute")
        << withoutBrand << false << true << true << u"rendered"_s;
    QTest::newRow("rendering fails: the served page answers")
        << withoutBrand << false << true << false << withoutBrand;
}

// The page as the browser shows it is asked for once, only when the served page lacks the attribute (or
// any list): early when no list is there at all, else when a pass names the attribute it lacks. It is
// kept like a served copy; when it fails, the served page is the answer.
void ProductPagesRules::renderedWhenTheServedPageLacks()
{
    QFETCH(QString, served);
    QFETCH(bool, renderedEarly);
    QFETCH(bool, renderedForPass);
    QFETCH(bool, renderOk);
    QFETCH(QString, answered);

    FakeProductSource rendered;
    m_pages->setRenderedSource(&rendered);
    m_pages->prepare(u"a"_s, linkRequest());
    m_source->answer(0, served);
    QCOMPARE(rendered.fetches().size(), renderedEarly ? 1 : 0);

    std::optional<ProductPages::Page> got;
    m_pages->get(u"a"_s, linkRequest(), u"品牌"_s, this, [&](const ProductPages::Page &page) { got = page; });
    QCoreApplication::processEvents();
    QCOMPARE(rendered.fetches().size(), renderedEarly || renderedForPass ? 1 : 0);
    if (!rendered.fetches().isEmpty()) {
        QVERIFY(!got);
        DownloadResult result;
        result.status = renderOk ? DownloadResult::Status::Ok : DownloadResult::Status::TimedOut;
        result.text = u"rendered"_s;
        rendered.answer(0, result);
    }
    QVERIFY(got);
    QCOMPARE(got->result.text, answered);
    QCOMPARE(got->rendered, answered == u"rendered"_s);

    const std::optional<ProductPages::Page> again = passGets(u"a"_s);
    QVERIFY(again);
    QCOMPARE(again->origin, ProductPages::Origin::Kept);
    QCOMPARE(again->result.text, answered);
    QCOMPARE(m_source->fetches().size(), 1);
    QCOMPARE(rendered.fetches().size(), renderedEarly || renderedForPass ? 1 : 0);
    m_pages.reset(); // before the source it holds
}

// Early downloads and the hidden loads that nobody asked for share one budget a minute, whatever the
// links: a trial page whose link is new at every load gets no more. A key is never held back.
void ProductPagesRules::gesturelessWorkHasOneBudget()
{
    const QString script = u"<script>build(list)</script>"_s; // no list: the page as shown is asked for
    const auto link = [](int i) {
        return u"http://item.taobao.com/item.htm?id=%1"_s.arg(i);
    };
    FakeProductSource rendered;
    m_pages->setRenderedSource(&rendered);
    const int half = ProductPages::gesturelessPerMinute / 2;
    for (int i = 0; i < 100; ++i) {
        m_pages->prepare(u"page%1"_s.arg(i), linkRequest(link(i)));
        if (m_source->fetches().size() > rendered.fetches().size() && !m_source->fetches().last()->answered)
            m_source->answer(m_source->fetches().size() - 1, script);
        m_clock.advance(100ms);
    }
    // Half the budget went to early downloads, half to the hidden loads they asked for.
    QCOMPARE(m_source->fetches().size(), half);
    QCOMPARE(rendered.fetches().size(), half);
    for (const auto &fetch : rendered.fetches())
        QVERIFY(!fetch->request.userActivated);

    // The user's key fetches, and renders, beyond the budget.
    DownloadRequest byKey = linkRequest(link(200));
    byKey.userActivated = true;
    std::optional<ProductPages::Page> got;
    m_pages->get(u"key"_s, byKey, u"品牌"_s, this, [&](const ProductPages::Page &page) { got = page; });
    QCOMPARE(m_source->fetches().size(), half + 1);
    m_source->answer(half, script);
    QCOMPARE(rendered.fetches().size(), half + 1);
    QVERIFY(rendered.fetches().last()->request.userActivated);

    // A minute after the first of them, the budget has room again.
    m_clock.advance(60s - 100ms * 100);
    m_pages->prepare(u"later"_s, linkRequest(link(300)));
    QCOMPARE(m_source->fetches().size(), half + 2);
    m_pages.reset(); // before the sources it holds
}

void ProductPagesRules::renderedOnlyForTheTrialSite_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("rendered");
    QTest::newRow("the trial site's item page") << u"http://try.taobao.com/item.htm?id=9"_s << true;
    QTest::newRow("another site's page that holds the trial prefix")
        << u"http://shop.test/?http://try.taobao.com/item.htm"_s << false;
    QTest::newRow("the trial site over https") << u"https://try.taobao.com/item.htm?id=9"_s << false;
}

// The hidden page runs a product page's scripts only for the trial site's own item pages, where the
// downloads run before any key; a key on a page that merely looks like one gets the page as served.
void ProductPagesRules::renderedOnlyForTheTrialSite()
{
    QFETCH(QString, page);
    QFETCH(bool, rendered);
    FakeProductSource renderer;
    m_pages->setRenderedSource(&renderer);
    DownloadRequest byKey = linkRequest(u"http://item.taobao.com/item.htm?id=1"_s, page);
    byKey.userActivated = true;
    std::optional<ProductPages::Page> got;
    m_pages->get(u"a"_s, byKey, u"品牌"_s, this, [&](const ProductPages::Page &result) { got = result; });
    m_source->answer(0, u"<script>build(list)</script>"_s);
    QCOMPARE(renderer.fetches().size(), rendered ? 1 : 0);
    QCOMPARE(got.has_value(), !rendered);
    m_pages.reset();
}

QTEST_GUILESS_MAIN(ProductPagesRules)
#include "tst_productpages.moc"
