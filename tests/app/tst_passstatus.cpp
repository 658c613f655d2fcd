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
#include <QCursor>
#include <QLineEdit>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QToolButton>
#include <QWebEngineView>

Q_DECLARE_METATYPE(Quillory::Testing::HttpReply)

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::TrialSiteFixture;

namespace {

const QString brandValue = u"&nbsp;&#38271;&#26149;"_s;

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
    void statusStaysOutOfThePagesWay();
    void screenReadersAreToldEachOutcomeOnce();
    void addressShowsWhereLinksGoAndWhereThePaneIs();

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
    QCursor::setPos(m_window->mapToGlobal(QPoint(5, 5))); // on the strip, away from the status's corners
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
    const QString note = u"答案框里是提示语，不是答案，请勿提交。"_s;
    QTest::newRow("answered from the attribute list")
        << trialItemUrl << trialPage(brandQuestion()) << product
        << u"已答题：“品牌”是“长春”（来自商品页的属性列表），已填入答案框。"_s << u"长春"_s;
    QTest::newRow("not a trial item page")
        << u"http://try.taobao.com/list.htm"_s << trialPage(brandQuestion()) << product
        << u"这不是试用商品页，没有答题。请打开要申请的试用商品页，再按 Alt+Z。"_s << QString();
    QTest::newRow("no question") << trialItemUrl << trialPage(u"请写下试用计划"_s) << product
                                 << u"已答题：本页没有属性问题，已填入“试用报告”。"_s << u"试用报告"_s;
    QTest::newRow("no answer link") << trialItemUrl << trialPage(brandQuestion(), {}) << product
                                    << u"没有找到答案：本页没有“找答案”链接。"_s + note +
                                           u"请自己填写答案。"_s
                                    << LookupText::noTable;
    // The served page lacks it, and so does the page as the browser shows it, which was asked too. The
    // field holds the fixed not-found text; the status says that it is no answer and what to do.
    QTest::newRow("attribute not on the product page")
        << trialItemUrl << trialPage(u"属性描述：<em>颜色</em>"_s) << product
        << u"没有找到答案：商品页上没有“颜色”。"_s + note +
               u"可点“查看答案”看商品页，自己填写；商品页要登录的，请先在本窗口登录淘宝。"_s
        << LookupText::noTable;
    HttpReply hangsUp;
    hangsUp.behaviour = HttpReply::Behaviour::Close;
    QTest::newRow("server hangs up") << trialItemUrl << trialPage(brandQuestion()) << hangsUp
                                     << u"没有找到答案：商品页下载失败，服务器中途断开了连接。"_s + note +
                                            u"请稍后按 Alt+Z 重试。"_s
                                     << LookupText::noTable;
    QTest::newRow("HTTP 503") << trialItemUrl << trialPage(brandQuestion())
                              << HttpReply::html("<p>busy</p>", "utf-8", 503)
                              << u"没有找到答案：商品页的服务器出错（HTTP 503）。"_s + note +
                                     u"请稍后按 Alt+Z 重试。"_s
                              << LookupText::noTable;
    // Served on loopback, the trial page may send the download to loopback: to a port that refuses it.
    QTest::newRow("connection refused")
        << proxy().url(u"/trial?from=http://try.taobao.com/item.htm"_s).toString()
        << trialPage(brandQuestion(), {u"http://127.0.0.1:%1/item.htm"_s.arg(refusingPort())}) << product
        << u"没有找到答案：商品页下载失败，服务器拒绝了连接。"_s + note +
               u"请检查网络和代理设置，稍后按 Alt+Z 重试。"_s
        << LookupText::noTable;
    QTest::newRow("no answer field")
        << trialItemUrl << u"<p>属性描述：<em>品牌</em> <a href=\""_s + productUrl + u"\">找答案</a></p>"_s
        << product
        << u"找到答案：“品牌”是“长春”（来自商品页的属性列表）。本页没有答案框，答案只在窗口上方的文本框里。"_s
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
    // A screen reader finds the status as a notification named by what it says.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_window->status());
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Notification);
    QCOMPARE(accessible->text(QAccessible::Name), status);
}

void PassStatusTest::cancelWhileWaiting_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("Esc") << true;
    QTest::newRow("click on the status's ×") << false;
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
        QTest::mouseClick(m_window->status()->closeButton(), Qt::LeftButton);
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
    QCOMPARE(statusText().contains(u"答案框里是你自己改过的内容，自动答题没有覆盖它"_s), kept);
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

// The answer field and the button of a trial page stand at the pane's lower left corner, under the status.
// Clicks there reach the page, the status moves out of the pointer's way, and its × closes it until the
// next pass.
void PassStatusTest::statusStaysOutOfThePagesWay()
{
    servePage(productUrl, productPage(brandValue));
    openTrialPage(
        trialItemUrl,
        trialPage(brandQuestion(), {productUrl},
                  u"<style>form { position: fixed; left: 0; bottom: 0; margin: 0 }</style>"
                  u"<script>addEventListener('mousemove', () => { window.moved = true; });"
                  u"addEventListener('mousedown', e => { window.pressed = e.target.id; });</script>"_s));
    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"已答题"_s));
    StatusBubble *status = m_window->status();
    const QVariantMap field =
        inPage(u"(() => { const r = document.getElementById('answer').getBoundingClientRect();"
               u" return {x: r.left + 5, y: r.top + r.height / 2}; })()"_s)
            .toMap();
    const QPoint inPane(field.value(u"x"_s).toInt(), field.value(u"y"_s).toInt());
    const QPoint inWindow = m_window->WebBrowser1->mapTo(m_window.get(), inPane);
    QVERIFY2(status->geometry().contains(inWindow), "the status covers the field");

    // What a click there reaches is the page, never the status.
    QWidget *under = m_window->childAt(inWindow);
    QVERIFY(under);
    QVERIFY(under != status);
    QVERIFY(under == m_window->WebBrowser1 || m_window->WebBrowser1->isAncestorOf(under));
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    int moves = 0; // the engine passes the mouse on once it has shown the page: the page says so
    QVERIFY(waitFor([&] {
        QTest::mouseMove(pageWidget, QPoint(200 + ++moves % 2, 50));
        return inPage(u"window.moved === true"_s).toBool();
    }));
    QVERIFY(status->geometry().contains(inWindow)); // the pointer elsewhere: it stays

    // The pointer comes over it: it moves to another corner, and stays up.
    QTest::mouseMove(pageWidget, under->mapFrom(m_window.get(), inWindow));
    QUILLORY_TRY_VERIFY(!status->geometry().contains(inWindow));
    QVERIFY(status->isVisible());
    QCOMPARE(status->geometry().bottom(), m_window->WebBrowser1->geometry().bottom());
    QTest::mouseClick(pageWidget, Qt::LeftButton, {}, pageWidget->mapFrom(m_window.get(), inWindow));
    QUILLORY_TRY_COMPARE(inPage(u"window.pressed"_s).toString(), u"answer"_s);

    // The × closes it; the next pass shows it again.
    QVERIFY(status->closeButton()->isVisible());
    QTest::mouseClick(status->closeButton(), Qt::LeftButton);
    QVERIFY(!status->isVisible());
    QVERIFY(!status->closeButton()->isVisible());
    QSignalSpy reports(m_window->answeringPass(), &AnsweringPass::reported);
    m_window->Command_dati->click();
    waitForReport(reports, 1);
    QUILLORY_TRY_VERIFY(status->isVisible());
}

// What a screen reader is told of a pass that waits: the wait once, as the status comes up, however many
// seconds it counts, then the outcome once. (What reaches a screen reader over the desktop's bus is
// checked by tests/desktop/status_announcements.py.)
void PassStatusTest::screenReadersAreToldEachOutcomeOnce()
{
    const auto gate = std::make_shared<ReplyGate>();
    HttpReply held = HttpReply::html(productPage(brandValue).toUtf8(), "utf-8");
    held.gate = gate;
    servePage(productUrl, held);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy reports(m_window->answeringPass(), &AnsweringPass::reported);
    QSignalSpy told(m_window->status(), &StatusBubble::told);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(m_window->status());
    QVERIFY(accessible);
    const auto toldSoFar = [&] {
        QStringList texts;
        for (const QList<QVariant> &signal : std::as_const(told))
            texts.append(signal.first().toString());
        return texts;
    };

    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"正在下载商品页，已等 2 秒"_s));
    const QString waiting = u"正在下载商品页…（按 Esc 可取消）"_s;
    QCOMPARE(toldSoFar(), QStringList{waiting});
    QCOMPARE(accessible->text(QAccessible::Name), waiting);

    gate->open();
    waitForReport(reports, 1);
    const QString answered = u"已答题：“品牌”是“长春”（来自商品页的属性列表），已填入答案框。"_s;
    QUILLORY_TRY_COMPARE(statusText(), answered);
    QCOMPARE(toldSoFar(), (QStringList{waiting, answered}));
    QCOMPARE(accessible->text(QAccessible::Name), answered);

    // The same outcome again (auto-answer repeats its pass): nothing new to tell.
    m_window->Command_dati->click();
    waitForReport(reports, 2);
    QCOMPARE(toldSoFar(), (QStringList{waiting, answered}));
}

// The pointer over a link: its target shows over the pane's lower left corner, above the status; Alt
// held alone shows the page's own address there.
void PassStatusTest::addressShowsWhereLinksGoAndWhereThePaneIs()
{
    servePage(productUrl, productPage(brandValue));
    openTrialPage(
        trialItemUrl,
        trialPage(brandQuestion(), {productUrl},
                  u"<a id='far' href='http://try.taobao.com/other.htm?x=1' style='display:block;"
                  u"margin-top:40px;width:300px;height:60px'>别处</a>"
                  u"<script>addEventListener('mousemove', () => { window.moved = true; });</script>"_s));
    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(statusText().startsWith(u"已答题"_s));
    AddressBubble *address = m_window->address();
    QVERIFY(!address->isVisible());

    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    const QVariantMap link =
        inPage(u"(() => { const r = document.getElementById('far').getBoundingClientRect();"
               u" return {x: r.left + 20, y: r.top + 20}; })()"_s)
            .toMap();
    const QPoint overLink(link.value(u"x"_s).toInt(), link.value(u"y"_s).toInt());
    int moves = 0;
    QVERIFY(waitFor([&] {
        QTest::mouseMove(pageWidget, overLink + QPoint(++moves % 2, 0));
        return address->isVisible();
    }));
    QCOMPARE(address->text(), u"http://try.taobao.com/other.htm?x=1"_s);
    QCOMPARE(address->geometry().left(), m_window->WebBrowser1->geometry().left());
    QCOMPARE(address->geometry().bottom() + 1, m_window->status()->geometry().top());
    QVERIFY(m_window->childAt(address->geometry().center()) != address); // clicks go to the page

    QVERIFY(waitFor([&] {
        QTest::mouseMove(pageWidget, QPoint(5 + ++moves % 2, 5));
        return !address->isVisible();
    }));

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get(), eventCeilingMs));
    QTest::keyPress(pageWidget, Qt::Key_Alt, Qt::AltModifier);
    QVERIFY(address->isVisible());
    QCOMPARE(address->text(), u"本页网址："_s + trialItemUrl);
    QTest::keyRelease(pageWidget, Qt::Key_Alt);
    QVERIFY(!address->isVisible());
}

QUILLORY_BROWSER_TEST_MAIN(PassStatusTest, startProxy)
#include "tst_passstatus.moc"
