#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "hostiletest.h"
#include "trialsitefixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::Hostile;
using namespace Quillory::Testing::TrialSiteFixture;

// Product servers that misbehave, by accident or on purpose, and trial pages that make the pass's work
// hard: the window shows a plain answer, stays responsive, and downloads only web pages.
class HostileServersTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void productServer_data();
    void productServer();
    void silentServerLeavesWindowResponsive();
    void answerLinkTargets_data();
    void answerLinkTargets();
    void largeTrialPages_data();
    void largeTrialPages();

private:
    void runPass() { Hostile::runPass(*m_window); }

    std::unique_ptr<Form1> m_window;
};

void HostileServersTest::init()
{
    clearPages();
    openWindow(m_window);
}

void HostileServersTest::cleanup()
{
    m_window.reset();
}

void HostileServersTest::productServer_data()
{
    QTest::addColumn<HttpReply>("reply");
    QTest::addColumn<QString>("expected");

    const QByteArray page = productPage(brandValue).toUtf8();
    const QString noTable = LookupText::noTable;

    HttpReply silent;
    silent.behaviour = HttpReply::Behaviour::NeverAnswer;
    QTest::newRow("accepts and never answers") << silent << noTable;

    // The part sent before the stall holds the whole attribute list: a partial page would answer.
    HttpReply stalled = HttpReply::html(page + QByteArray(4096, ' '), "utf-8");
    stalled.behaviour = HttpReply::Behaviour::Stall;
    stalled.partialBody = page.size();
    QTest::newRow("stops in the middle of the body") << stalled << noTable;

    HttpReply endless = HttpReply::html(page, "utf-8");
    endless.behaviour = HttpReply::Behaviour::Trickle;
    QTest::newRow("body that never ends") << endless << noTable;

    QTest::newRow("body over the size cap")
        << HttpReply::html(page + QByteArray(2 * 1024 * 1024, ' '), "utf-8") << noTable;
    QTest::newRow("redirect loop") << HttpReply::redirect(productUrl.toUtf8()) << noTable;
    QTest::newRow("redirect to a local file") << HttpReply::redirect("file:///etc/hostname") << noTable;
    QTest::newRow("redirect to a script") << HttpReply::redirect("javascript:alert(1)") << noTable;
    HttpReply hangsUp;
    hangsUp.behaviour = HttpReply::Behaviour::Close;
    QTest::newRow("closes without answering") << hangsUp << noTable;

    QTest::newRow("error status with a body") << HttpReply::html(page, "utf-8", 500) << u"长春"_s;
    QTest::newRow("unknown charset") << HttpReply::html(page, "x-no-such-charset") << u"长春"_s;
    QTest::newRow("GBK, charset only in meta")
        << HttpReply::html(gbk(u"<meta charset=\"gbk\">"_s + productPage(u"&nbsp;长春"_s))) << u"长春"_s;
    QTest::newRow("GBK cut in the middle of a character")
        << HttpReply::html(gbk(productPage(u"&nbsp;长春"_s) + u"参"_s).chopped(1), "gbk") << u"长春"_s;
}

void HostileServersTest::productServer()
{
    QFETCH(HttpReply, reply);
    QFETCH(QString, expected);

    servePage(productUrl, reply);
    servePage(trialItemUrl, trialPage(brandQuestion()));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    runPass();
    QCOMPARE(m_window->Text1->text(), expected);
    QCOMPARE(evaluateInPage(*m_window->page(), u"document.getElementsByName('J_AnswerInput')[0].value"_s),
             QVariant(expected));
}

// While the download waits for a server that says nothing, Back and the check box keep working.
void HostileServersTest::silentServerLeavesWindowResponsive()
{
    HttpReply silent;
    silent.behaviour = HttpReply::Behaviour::NeverAnswer;
    servePage(productUrl, silent);
    const QString home = u"http://try.taobao.com/"_s;
    servePage(home, u"<html><body>home</body></html>"_s);
    servePage(trialItemUrl, trialPage(brandQuestion()));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(home)));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));

    m_window->Command_dati->click();
    QVERIFY(m_window->answeringPass()->isRunning());
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(m_window->Timer1->interval(), shortLimits().autoAnswerIntervalMs);
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(m_window->Timer1->interval(), 0);
    m_window->Command2->click();
    QUILLORY_TRY_COMPARE(m_window->page()->url().toString(), home);
    QVERIFY(m_window->answeringPass()->isRunning());

    QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
    QCOMPARE(m_window->Text1->text(), LookupText::noTable);
}

void HostileServersTest::answerLinkTargets_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("downloaded");

    QTest::newRow("javascript") << u"javascript:window.pwned=1"_s << QString(LookupText::noTable)
                                << QString();
    QTest::newRow("file") << u"file:///etc/passwd"_s << QString(LookupText::noTable) << QString();
    QTest::newRow("data") << u"data:text/html,<ul class=attributes-list>"_s << QString(LookupText::noTable)
                          << QString();
    QTest::newRow("relative, resolved against the trial page")
        << u"/detail.htm?id=5"_s << u"长春"_s << u"http://try.taobao.com/detail.htm?id=5"_s;
}

void HostileServersTest::answerLinkTargets()
{
    QFETCH(QString, href);
    QFETCH(QString, expected);
    QFETCH(QString, downloaded);

    if (!downloaded.isEmpty())
        servePage(downloaded, productPage(brandValue));
    servePage(trialItemUrl, trialPage(brandQuestion(), {href}));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    runPass();

    QCOMPARE(m_window->Text1->text(), expected);
    QCOMPARE(evaluateInPage(*m_window->page(), u"typeof window.pwned"_s).toString(), u"undefined"_s);
    QCOMPARE(m_window->page()->url().toString(), trialItemUrl);
    if (!downloaded.isEmpty()) {
        QCOMPARE(requestsFor(downloaded), 1);
        return;
    }
    for (const HttpRequest &request : proxy().requests()) // the trial page (and its icon) alone
        QVERIFY2(request.url == QUrl(trialItemUrl) || request.url.path() == u"/favicon.ico"_s,
                 qPrintable(request.url.toString()));
}

void HostileServersTest::largeTrialPages_data()
{
    QTest::addColumn<int>("fillerBytes");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("links");

    QTest::newRow("5 MB") << 5 * 1024 * 1024 << 10 << 100;
    QTest::newRow("nested 200 deep") << 100 * 1024 << 200 << 100;
    QTest::newRow("20000 links") << 100 * 1024 << 10 << 20000;
}

void HostileServersTest::largeTrialPages()
{
    QFETCH(int, fillerBytes);
    QFETCH(int, depth);
    QFETCH(int, links);

    QString filler;
    const QString paragraph = u"<p>试用中心的商品描述，与问题无关的文字。</p>\n"_s;
    while (filler.size() * 2 < fillerBytes)
        filler += paragraph;
    QString linkList;
    for (int i = 0; i < links; ++i)
        linkList += u"<a href=\"/list.htm?page="_s + QString::number(i) + u"\">第"_s + QString::number(i) +
                    u"页</a>"_s;
    const QString question = QString(u"<div>"_s).repeated(depth) + brandQuestion();
    const QString page =
        trialPage(filler + question, {productUrl}, linkList + QString(u"</div>"_s).repeated(depth));

    servePage(productUrl, productPage(brandValue));
    servePage(trialItemUrl, page);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl), 60000));
    runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
}

QUILLORY_BROWSER_TEST_MAIN(HostileServersTest, TrialSiteFixture::startProxy)
#include "tst_hostile_servers.moc"
