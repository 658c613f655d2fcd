#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "app/statusbubble.h"
#include "browsertest.h"
#include "httpfixture.h"
#include "trialsitefixture.h"

#include <QAccessible>
#include <QCheckBox>
#include <QLineEdit>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QWebEngineView>

Q_DECLARE_METATYPE(Quillory::Testing::HttpReply)

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;

namespace {

const QString brandValue = u"&nbsp;&#38271;&#26149;"_s;
const QString written = u" 已填入答案框。"_s;

// A port on loopback that nothing listens on: a connection to it is refused.
quint16 refusingPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

// What the window says of each pass, what the pass leaves in the field, and the user's say over both.
class PassStatusTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void statusOfEachOutcome_data();
    void statusOfEachOutcome();
    void cancelWhileWaiting_data();
    void cancelWhileWaiting();
    void autoAnswerKeepsTheUsersTyping_data();
    void autoAnswerKeepsTheUsersTyping();
    void statusGoesWithThePage();

private:
    QString fieldValue() { return inPage(u"document.getElementById('answer').value"_s).toString(); }
    QString statusText() const
    {
        return m_window->status()->isVisible() ? m_window->status()->text() : QString();
    }
    QVariant inPage(const QString &source) { return evaluateInPage(*m_window->page(), source); }
    void openTrialPage(const QString &url, const QString &html);
    void typeIntoField(const QString &text);
    void waitForReport(QSignalSpy &reports, qsizetype count);

    static WindowOptions options()
    {
        WindowOptions options;
        options.autoAnswerIntervalMs = 300;
        return options;
    }
    std::unique_ptr<Form1> m_window;
};

void PassStatusTest::init()
{
    clearPages();
    m_window = std::make_unique<Form1>(options());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
}

void PassStatusTest::cleanup()
{
    m_window.reset();
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

void PassStatusTest::openTrialPage(const QString &url, const QString &html)
{
    servePage(url, html);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(url)));
}

// Keys typed into the page's field as the user types them: trusted input events.
void PassStatusTest::typeIntoField(const QString &text)
{
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    pageWidget->setFocus();
    QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
    inPage(u"document.getElementById('answer').focus()"_s);
    inPage(u"document.getElementById('answer').setSelectionRange(99, 99)"_s);
    QUILLORY_TRY_VERIFY(inPage(u"document.activeElement.id"_s).toString() == u"answer"_s);
    const QString before = fieldValue();
    QTest::keyClicks(pageWidget, text);
    QUILLORY_TRY_COMPARE(fieldValue(), before + text);
}

void PassStatusTest::waitForReport(QSignalSpy &reports, qsizetype count)
{
    QUILLORY_TRY_VERIFY(reports.size() >= count);
}

void PassStatusTest::statusOfEachOutcome_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("page");
    QTest::addColumn<HttpReply>("product");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("field"); // what the field holds after the pass; it starts empty

    const HttpReply product = HttpReply::html(productPage(brandValue).toUtf8(), "utf-8");
    QTest::newRow("answered from the attribute list")
        << trialItemUrl << trialPage(brandQuestion()) << product
        << u"已答题：“品牌” 是 “长春”（来自商品页的属性列表）。"_s + written << u"长春"_s;
    QTest::newRow("not a trial item page")
        << u"http://try.taobao.com/list.htm"_s << trialPage(brandQuestion()) << product
        << u"这不是试用商品页，没有答题。"_s << QString();
    QTest::newRow("no question") << trialItemUrl << trialPage(u"请写下试用计划"_s) << product
                                 << u"本页没有属性问题，答案是“试用报告”。"_s + written << u"试用报告"_s;
    QTest::newRow("no answer link") << trialItemUrl << trialPage(brandQuestion(), {}) << product
                                    << u"本页没有“找答案”链接，无法查找答案。"_s + written
                                    << LookupText::noTable;
    // The served page lacks it, and so does the page as the browser shows it, which was asked too.
    QTest::newRow("attribute not on the product page")
        << trialItemUrl << trialPage(u"属性描述：<em>颜色</em>"_s) << product
        << u"浏览器显示的商品页上没有找到 “颜色”。如果商品页要登录才看得全，请先在下面的网页里登录。"_s +
               written
        << LookupText::noTable;
    HttpReply hangsUp;
    hangsUp.behaviour = HttpReply::Behaviour::Close;
    QTest::newRow("server hangs up") << trialItemUrl << trialPage(brandQuestion()) << hangsUp
                                     << u"商品页下载失败：服务器中途断开了连接。"_s + written
                                     << LookupText::noTable;
    QTest::newRow("HTTP status") << trialItemUrl << trialPage(brandQuestion())
                                 << HttpReply::html("<p>gone</p>", "utf-8", 404)
                                 << u"商品页打不开：服务器回答 HTTP 404。"_s + written << LookupText::noTable;
    // Served on loopback, the trial page may send the download to loopback: to a port that refuses it.
    QTest::newRow("connection refused")
        << proxy().url(u"/trial?from=http://try.taobao.com/item.htm"_s).toString()
        << trialPage(brandQuestion(), {u"http://127.0.0.1:%1/item.htm"_s.arg(refusingPort())}) << product
        << u"商品页下载失败：服务器拒绝了连接。"_s + written << LookupText::noTable;
    QTest::newRow("no answer field")
        << trialItemUrl << u"<p>属性描述：<em>品牌</em> <a href=\""_s + productUrl + u"\">找答案</a></p>"_s
        << product << u"已答题：“品牌” 是 “长春”（来自商品页的属性列表）。 但本页没有答案框，没有填写。"_s
        << QString();
}

void PassStatusTest::statusOfEachOutcome()
{
    QFETCH(QString, url);
    QFETCH(QString, page);
    QFETCH(HttpReply, product);
    QFETCH(QString, status);
    QFETCH(QString, field);

    servePage(productUrl, product);
    openTrialPage(url, page);
    // The refused connection must be our own: the downloads go straight to the port, past the proxy.
    if (!url.startsWith(u"http://try."_s))
        QNetworkProxyFactory::setUseSystemConfiguration(false);
    QSignalSpy reports(m_window->answeringPass(), &AnsweringPass::reported);

    m_window->Command_dati->click();
    waitForReport(reports, 1);

    QUILLORY_TRY_COMPARE(statusText(), status);
    if (inPage(u"document.getElementById('answer') !== null"_s).toBool())
        QCOMPARE(fieldValue(), field);
    // A screen reader finds the status by name and reads it.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_window->status());
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Description), status);
    QVERIFY(!accessible->text(QAccessible::Name).isEmpty());
}

void PassStatusTest::cancelWhileWaiting_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("Esc") << true;
    QTest::newRow("click on the status") << false;
}

// The product server holds its answer until the test lets it go: the pass waits as long as the test
// says, the status counts the seconds, and the cancel comes while it waits.
void PassStatusTest::cancelWhileWaiting()
{
    QFETCH(bool, byKey);

    const auto gate = std::make_shared<ReplyGate>();
    HttpReply held = HttpReply::html(productPage(brandValue).toUtf8(), "utf-8");
    held.gate = gate;
    servePage(productUrl, held);
    QSignalSpy fetched(m_window->productPages(), &ProductPages::fetchEnded);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    inPage(u"document.getElementById('answer').value = '我的答案'"_s);
    QSignalSpy reports(m_window->answeringPass(), &AnsweringPass::reported);

    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"正在下载商品页，已等 0 秒"_s));
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"正在下载商品页，已等 1 秒"_s));
    QVERIFY(m_window->answeringPass()->isRunning());
    if (byKey) {
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get(), eventCeilingMs));
        QTest::keyClick(m_window->WebBrowser1->focusProxy(), Qt::Key_Escape);
    } else {
        QTest::mouseClick(m_window->status(), Qt::LeftButton);
    }
    QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
    QCOMPARE(reports.size(), 1);
    QVERIFY(reports.first().first().value<PassReport>().cancelled);
    QCOMPARE(statusText(), u"已取消答题，答案框保持原样。"_s);

    gate->open(); // the product page comes after all: it changes nothing
    QUILLORY_TRY_COMPARE(fetched.size(), 1);
    QCOMPARE(fieldValue(), u"我的答案"_s);
    QCOMPARE(m_window->Text1->text(), helpText);
    QCOMPARE(reports.size(), 1);
    QVERIFY(m_window->Command_dati->isEnabled());
}

void PassStatusTest::autoAnswerKeepsTheUsersTyping_data()
{
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QString>("then"); // "tick", "new page", "button"
    QTest::addColumn<QString>("field");
    QTest::addColumn<bool>("kept");

    QTest::newRow("typed, the next tick keeps it") << true << u"tick"_s << u"长春XY"_s << true;
    QTest::newRow("changed by the page, the next tick writes") << false << u"tick"_s << u"长春"_s << false;
    QTest::newRow("typed, then a new page: the tick writes") << true << u"new page"_s << u"长春"_s << false;
    QTest::newRow("typed, then the answer button writes") << true << u"button"_s << u"长春"_s << false;
}

void PassStatusTest::autoAnswerKeepsTheUsersTyping()
{
    QFETCH(bool, typed);
    QFETCH(QString, then);
    QFETCH(QString, field);
    QFETCH(bool, kept);

    servePage(productUrl, productPage(brandValue));
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy reports(m_window->answeringPass(), &AnsweringPass::reported);
    QSignalSpy started(m_window->answeringPass(), &AnsweringPass::started);
    m_window->Check1->click();
    waitForReport(reports, 1);
    QCOMPARE(fieldValue(), u"长春"_s);

    // The ticks go on meanwhile, as many as the machine fits in: the pass that tells is the first one
    // to start after the change. The passes run one at a time, and each reports once, in turn.
    if (typed)
        typeIntoField(u"XY"_s);
    else
        inPage(u"document.getElementById('answer').value = '页面改的'"_s);
    qsizetype telling = started.size();
    if (then == u"new page"_s) {
        m_window->Check1->click(); // no tick while the page loads
        QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
        openTrialPage(trialItemUrl, trialPage(brandQuestion()));
        telling = started.size();
        m_window->Check1->click();
    } else if (then == u"button"_s) {
        m_window->Check1->click();
        QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
        telling = started.size();
        m_window->Command_dati->click();
    }
    waitForReport(reports, telling + 1);
    if (m_window->Check1->isChecked())
        m_window->Check1->click(); // the last status is that pass's or one just like it
    QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());

    QCOMPARE(fieldValue(), field);
    QCOMPARE(reports.at(telling).first().value<PassReport>().field == FieldWrite::KeptEdit, kept);
    QCOMPARE(reports.last().first().value<PassReport>().field == FieldWrite::KeptEdit, kept);
    QCOMPARE(statusText().endsWith(u"答案框里是你自己改过的答案，自动答题没有覆盖它。"_s), kept);
    QCOMPARE(m_window->Text1->text(), u"长春"_s); // the text box shows the answer all the same
}

void PassStatusTest::statusGoesWithThePage()
{
    servePage(productUrl, productPage(brandValue));
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"已答题"_s));
    // It sits on the pane's lower left corner.
    const QRect pane = m_window->WebBrowser1->geometry();
    QCOMPARE(m_window->status()->geometry().left(), pane.left());
    QCOMPARE(m_window->status()->geometry().bottom(), pane.bottom());

    openTrialPage(u"http://try.taobao.com/index.htm"_s, u"<p>home</p>"_s);
    QCOMPARE(statusText(), QString());
}

QUILLORY_BROWSER_TEST_MAIN(PassStatusTest, startProxy)
#include "tst_passstatus.moc"
