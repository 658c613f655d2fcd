#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "browsertest.h"
#include "httpfixture.h"
#include "launchrecorder.h"
#include "trialsitefixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace std::chrono_literals;

using namespace Quillory::Testing::TrialSiteFixture;

class AnsweringTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void altZInThePageAnswers_data();
    void altZInThePageAnswers();
    void passOnTrialPages_data();
    void passOnTrialPages();
    void rootPartGivesTheSameAnswerAsTheWholeText();
    void answerArrivesAsText_data();
    void answerArrivesAsText();
    void windowRespondsDuringDownload();
    void pageLeftDuringPassKeepsItsField();
    void autoAnswerTicksEveryInterval();
    void tickDuringSlowPassStartsOneMore();
    void passRightAfterAWriteReadsTheWrittenPage();
    void answerPageButton_data();
    void answerPageButton();
    void newWindowGoesToFocusedLink_data();
    void newWindowGoesToFocusedLink();

private:
    QString fieldValue();
    QVariant inPage(const QString &source) { return evaluateInPage(*m_window->page(), source); }
    void openTrialPage(const QString &url, const QString &html);
    void pressInPage(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::AltModifier,
                     const QString &focusScript = u"document.body.focus()"_s);
    void waitForPassEnd();
    void serveHeldProductPage(const std::shared_ptr<ReplyGate> &gate);
    void sendBeacon();
    void waitForTheTimersChance();

    // A short auto-answer interval: the ticks come in well under a second.
    static WindowOptions options()
    {
        WindowOptions options;
        options.autoAnswerIntervalMs = 400;
        return options;
    }
    const int m_interval = options().autoAnswerIntervalMs;
    std::unique_ptr<Form1> m_window;
};

void AnsweringTest::init()
{
    clearPages();
    m_window = std::make_unique<Form1>(options());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
}

void AnsweringTest::cleanup()
{
    m_window.reset();
}

void AnsweringTest::openTrialPage(const QString &url, const QString &html)
{
    servePage(url, html);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(url)));
}

QString AnsweringTest::fieldValue()
{
    return inPage(u"document.getElementsByName('J_AnswerInput')[0].value"_s).toString();
}

// The keyboard focus inside the page, where it is while the user browses.
void AnsweringTest::pressInPage(Qt::Key key, Qt::KeyboardModifiers modifiers, const QString &focusScript)
{
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    pageWidget->setFocus();
    QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
    inPage(focusScript);
    QTest::keyClick(pageWidget, key, modifiers);
}

void AnsweringTest::waitForPassEnd()
{
    QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
    QVERIFY(m_window->Command_dati->isEnabled());
}

// The product server holds its answer until the test opens the gate: a pass waits for it however slow
// or fast the machine is.
void AnsweringTest::serveHeldProductPage(const std::shared_ptr<ReplyGate> &gate)
{
    HttpReply reply = HttpReply::html(productPage(u"&nbsp;&#38271;&#26149;"_s).toUtf8(), "utf-8");
    reply.gate = gate;
    servePage(productUrl, reply);
}

// The page requests a page of its site, and the server receives it: what the page asked for before is
// under way by then.
void AnsweringTest::sendBeacon()
{
    static int count = 0;
    const QString beacon = u"http://try.taobao.com/beacon%1.htm"_s.arg(++count);
    servePage(beacon, u"ok"_s);
    inPage(u"fetch('/beacon%1.htm')"_s.arg(count));
    QUILLORY_TRY_COMPARE(requestsFor(beacon), 1);
}

// Auto-answer's timer has been switched off: a timer of the same interval, started now, fires twice.
// Had the window's timer still run, it would have come due before it, twice over.
void AnsweringTest::waitForTheTimersChance()
{
    QTimer reference;
    reference.setTimerType(Qt::PreciseTimer);
    int fired = 0;
    connect(&reference, &QTimer::timeout, this, [&] { ++fired; });
    reference.start(m_interval);
    QUILLORY_TRY_VERIFY(fired >= 2);
}

void AnsweringTest::altZInThePageAnswers_data()
{
    QTest::addColumn<QString>("focusScript");
    QTest::addColumn<bool>("shifted");

    QTest::newRow("Alt+z, focus on the page") << u"document.body.focus()"_s << false;
    QTest::newRow("Alt+Z, focus on the page") << u"document.body.focus()"_s << true;
    QTest::newRow("Alt+z, focus in the answer field")
        << u"document.getElementById('answer').focus()"_s << false;
}

void AnsweringTest::altZInThePageAnswers()
{
    QFETCH(QString, focusScript);
    QFETCH(bool, shifted);

    const auto gate = std::make_shared<ReplyGate>();
    serveHeldProductPage(gate);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy waiting(m_window->answeringPass(), &AnsweringPass::waitingForProductPage);

    pressInPage(Qt::Key_Z, shifted ? Qt::AltModifier | Qt::ShiftModifier : Qt::AltModifier, focusScript);
    QUILLORY_TRY_VERIFY(!m_window->Command_dati->isEnabled());
    QUILLORY_TRY_COMPARE(waiting.size(), 1);
    QVERIFY(!m_window->Command_dati->isEnabled()); // the download is still under way
    gate->open();
    waitForPassEnd();

    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QCOMPARE(fieldValue(), u"长春"_s);
    QCOMPARE(inPage(u"window.events.join(',')"_s).toString(), u"input,change"_s);
    QCOMPARE(inPage(u"window.submitted === true"_s).toBool(), false);
    QCOMPARE(requestsFor(productUrl), 1);
}

void AnsweringTest::passOnTrialPages_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("downloads");

    const QString otherProduct = u"http://item.taobao.com/item.htm?id=3003"_s;
    QTest::newRow("not a trial item page")
        << u"http://try.taobao.com/list.htm?item.htm"_s << trialPage(brandQuestion()) << helpText << 0;
    QTest::newRow("prefix inside the query counts")
        << u"http://try.taobao.com/go?to=http://try.taobao.com/item.htm"_s << trialPage(brandQuestion())
        << u"长春"_s << 1;
    QTest::newRow("no question: the report answer")
        << trialItemUrl << trialPage(u"请写下试用计划"_s) << u"试用报告"_s << 0;
    QTest::newRow("no answer link: the no-table text")
        << trialItemUrl << trialPage(brandQuestion(), {}) << LookupText::noTable << 0;
    QTest::newRow("link text with spaces does not count")
        << trialItemUrl
        << trialPage(brandQuestion(), {}, u"<a href=\""_s + productUrl + u"\">&nbsp;找答案&nbsp;</a>"_s)
        << LookupText::noTable << 0;
    QTest::newRow("the later of two answer links")
        << trialItemUrl << trialPage(brandQuestion(), {otherProduct, productUrl}) << u"长春"_s << 1;
    // The served page lacks that name, so the page as the browser shows it is asked as well.
    QTest::newRow("closing marker missing: the section is looked up")
        << trialItemUrl << trialPage(u"属性描述：<em>品牌 是什么？"_s) << LookupText::noTable << 2;
    QTest::newRow("upper-case markers in the source")
        << trialItemUrl << trialPage(u"属性描述：<EM>品牌</EM>"_s) << u"长春"_s << 1;
    // The lookup gets an empty name, found at the start of the list region: the value after the first
    // character of the region, as far as the first "</li>", decoded.
    QTest::newRow("answer link before the question: empty name")
        << trialItemUrl
        << u"<html><body><a href=\""_s + productUrl +
               u"\">找答案</a><p>属性描述<em>品牌</em></p>"
               u"<input name=\"J_AnswerInput\"></body></html>"_s
        << u"A1"_s << 1;
}

void AnsweringTest::passOnTrialPages()
{
    QFETCH(QString, url);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    QFETCH(int, downloads);

    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    openTrialPage(url, page);

    m_window->Command_dati->click();
    waitForPassEnd();

    QCOMPARE(m_window->Text1->text(), expected);
    QCOMPARE(fieldValue(), expected == helpText ? QString() : expected);
    QCOMPARE(requestsFor(productUrl), downloads);
}

// The pass reads only the root element's part; on a deep page the whole document text gives the same.
void AnsweringTest::rootPartGivesTheSameAnswerAsTheWholeText()
{
    QString nested = trialPage(brandQuestion());
    for (int depth = 0; depth < 40; ++depth)
        nested.replace(u"<div class=\"question\">"_s, u"<div class=\"question\"><section>"_s);
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    openTrialPage(trialItemUrl, nested);

    QStringList answers;
    for (ElementScope scope : {ElementScope::RootOnly, ElementScope::AllElements}) {
        m_window->Text1->clear();
        m_window->answeringPass()->setElementScope(scope);
        m_window->Command_dati->click();
        waitForPassEnd();
        answers.append(m_window->Text1->text());
    }
    QCOMPARE(answers, QStringList({u"长春"_s, u"长春"_s}));
}

void AnsweringTest::answerArrivesAsText_data()
{
    QTest::addColumn<QString>("listValue");
    QTest::addColumn<QString>("expected");

    QTest::newRow("quotes and backslash") << u"a\"b'c\\d`${x}`"_s << u"a\"b'c\\d`${x}`"_s;
    QTest::newRow("closing script tag")
        << u"</script><script>window.pwned=1</script>"_s << u"</script><script>window.pwned=1</script>"_s;
    QTest::newRow("breaking out of a string")
        << u"\"); window.pwned = 1; (\""_s << u"\"); window.pwned = 1; (\""_s;
    QTest::newRow("markup") << u"<img src=x onerror=\"window.pwned=1\">"_s
                            << u"<img src=x onerror=\"window.pwned=1\">"_s;
    QTest::newRow("line separators") << u"a\u2028b\u2029c"_s << u"a\u2028b\u2029c"_s;
    QTest::newRow("surrogate pair") << u"&#55357;&#56832;"_s << u"😀"_s;
    QTest::newRow("unpaired surrogate") << u"&#55357;"_s << QString(QChar(0xD83D));
    QTest::newRow("40,000 characters, whole") << QString(40000, u'长') << QString(40000, u'长');
}

// The answer comes from another site's page: it reaches the field exactly, as text, and runs nothing.
void AnsweringTest::answerArrivesAsText()
{
    QFETCH(QString, listValue);
    QFETCH(QString, expected);

    servePage(productUrl, productPage(listValue));
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    m_window->Command_dati->click();
    waitForPassEnd();

    QCOMPARE(m_window->Text1->text(), expected);
    // Code units one by one: a text result would pass through UTF-8 and lose an unpaired surrogate.
    const QVariantList units = inPage(u"(v => Array.from({ length: v.length }, (_, i) => v.charCodeAt(i)))("
                                      u"document.getElementsByName('J_AnswerInput')[0].value)"_s)
                                   .toList();
    QString field;
    for (const QVariant &unit : units)
        field += QChar(char16_t(unit.toInt()));
    QCOMPARE(field, expected);
    QCOMPARE(inPage(u"typeof window.pwned"_s).toString(), u"undefined"_s);
}

// A download under way does not hold the window: Back and the check box work meanwhile.
void AnsweringTest::windowRespondsDuringDownload()
{
    const auto gate = std::make_shared<ReplyGate>();
    serveHeldProductPage(gate);
    const QString firstPage = u"http://try.taobao.com/index.htm"_s;
    openTrialPage(firstPage, u"<html><body>home</body></html>"_s);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));

    m_window->Command_dati->click();
    QVERIFY(m_window->answeringPass()->isRunning());
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(m_window->Check1->isChecked());
    QCOMPARE(m_window->Timer1->interval(), m_interval);
    m_window->Command2->click();
    QUILLORY_TRY_COMPARE(m_window->page()->url().toString(), firstPage);
    QVERIFY(m_window->answeringPass()->isRunning());
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QCOMPARE(m_window->Timer1->interval(), 0);

    gate->open();
    waitForPassEnd();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
}

// The answer still reaches the text box, but no other page is written.
void AnsweringTest::pageLeftDuringPassKeepsItsField()
{
    const auto gate = std::make_shared<ReplyGate>();
    serveHeldProductPage(gate);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy waiting(m_window->answeringPass(), &AnsweringPass::waitingForProductPage);
    m_window->Command_dati->click();
    QUILLORY_TRY_COMPARE(waiting.size(), 1);
    const QString otherTrial = u"http://try.taobao.com/item.htm?id=7007"_s;
    openTrialPage(otherTrial, trialPage(u"属性描述<em>颜色</em>"_s));

    gate->open();
    waitForPassEnd();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QCOMPARE(fieldValue(), QString());
}

// The box starts a pass one interval after it is checked, then one every interval, until unchecked. The
// passes are counted against the ticks the test sees, never against the time gone by: a busy machine
// may fit fewer ticks into a second, or more into a pass.
void AnsweringTest::autoAnswerTicksEveryInterval()
{
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy passes(m_window->answeringPass(), &AnsweringPass::started);
    QSignalSpy ticks(m_window->Timer1, &IntervalTimer::tick);
    QElapsedTimer sinceChecked;
    QList<qint64> startedAt;
    connect(m_window->answeringPass(), &AnsweringPass::started, this, [&] {
        startedAt.append(sinceChecked.elapsed());
        if (passes.count() == 2) // the box goes off as the second pass starts: it runs to its end
            QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    });
    QList<qsizetype> passesAtTick; // how many passes had started once the window had the tick
    connect(m_window->Timer1, &IntervalTimer::tick, this, [&] { passesAtTick.append(passes.count()); });

    sinceChecked.start();
    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QVERIFY(m_window->Timer1->isTicking());
    QCOMPARE(passes.count(), 0); // checking the box runs no pass by itself
    QUILLORY_TRY_VERIFY(passes.count() >= 1);
    QUILLORY_TRY_COMPARE(m_window->Text1->text(), u"长春"_s);
    QUILLORY_TRY_COMPARE(passes.count(), 2);
    waitForPassEnd();
    // The first tick starts the first pass, the second tick the second (at once, or as the first ends
    // when it came during it).
    QCOMPARE(passesAtTick.value(0), 1);
    QVERIFY(passesAtTick.size() >= 2);
    // A timer never fires early: the passes start an interval and two intervals after the check at
    // the soonest.
    QVERIFY2(startedAt.value(0) >= m_interval && startedAt.value(1) >= 2 * m_interval,
             qPrintable(u"passes started at %1 and %2 ms"_s.arg(startedAt.value(0)).arg(startedAt.value(1))));

    QVERIFY(!m_window->Check1->isChecked());
    QCOMPARE(m_window->Timer1->interval(), 0);
    const qsizetype ticksWhenOff = ticks.count();
    waitForTheTimersChance();
    QCOMPARE(ticks.count(), ticksWhenOff);
    QCOMPARE(passes.count(), 2);
}

// The product server holds its answer while three more ticks come: they fall on the pass the first
// tick started, and one more pass follows it, not three.
void AnsweringTest::tickDuringSlowPassStartsOneMore()
{
    const auto gate = std::make_shared<ReplyGate>();
    serveHeldProductPage(gate);
    openTrialPage(trialItemUrl, trialPage(brandQuestion()));
    QSignalSpy passes(m_window->answeringPass(), &AnsweringPass::started);
    QSignalSpy ends(m_window->answeringPass(), &AnsweringPass::finished);
    QSignalSpy ticks(m_window->Timer1, &IntervalTimer::tick);
    qsizetype endsWhenSecondStarted = -1;
    connect(m_window->answeringPass(), &AnsweringPass::started, this, [&] {
        if (passes.count() == 2) { // the one put off: nothing ticks after it
            endsWhenSecondStarted = ends.count();
            QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
        }
    });

    QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8));
    QUILLORY_TRY_COMPARE(passes.count(), 1);
    QUILLORY_TRY_VERIFY(ticks.count() >= 4); // three ticks fall due while the first pass waits
    QCOMPARE(passes.count(), 1);
    QCOMPARE(ends.count(), 0);

    gate->open();
    QUILLORY_TRY_COMPARE(ends.count(), 2);
    QCOMPARE(endsWhenSecondStarted, 1); // it started right as the first ended, once, not three times
    QVERIFY(!m_window->Check1->isChecked());
    const qsizetype ticksWhenOff = ticks.count();
    waitForTheTimersChance();
    QCOMPARE(ticks.count(), ticksWhenOff);
    QCOMPARE(passes.count(), 2);
}

// A pass that follows at once (a tick that fell due during the last one) reads the page as the last
// pass's write left it: here the page answers the write by asking another question.
void AnsweringTest::passRightAfterAWriteReadsTheWrittenPage()
{
    const QString colourProduct = u"http://item.taobao.com/item.htm?id=3003"_s;
    servePage(productUrl, productPage(u"&nbsp;&#38271;&#26149;"_s));
    servePage(colourProduct, u"<ul class=\"attributes-list\"><li>颜色:红色</li></ul>描述加载中"_s);
    const QString nextQuestion =
        u"<p>属性描述<em>颜色</em><a href=\"%1\">找答案</a></p>"_s.arg(colourProduct);
    openTrialPage(trialItemUrl,
                  trialPage(brandQuestion(), {productUrl},
                            u"<script>document.getElementById('answer').addEventListener('input', () => {"
                            u" document.querySelector('.question').outerHTML = '"_s +
                                nextQuestion + u"'; });</script>"_s));

    QSignalSpy answers(m_window->answeringPass(), &AnsweringPass::answerReady);
    m_window->answeringPass()->request();
    m_window->answeringPass()->request(); // the second waits for the first and starts as it ends
    QUILLORY_TRY_COMPARE(answers.size(), 2);
    QCOMPARE(answers.at(0).at(0).toString(), u"长春"_s);
    QCOMPARE(answers.at(1).at(0).toString(), u"红色"_s);
    waitForPassEnd();
}

void AnsweringTest::answerPageButton_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QList<QUrl>>("launched");

    const QString earlier = u"http://item.taobao.com/item.htm?id=1"_s;
    QTest::newRow("the later answer link")
        << trialItemUrl << trialPage(brandQuestion(), {earlier, productUrl}) << QList<QUrl>{QUrl(productUrl)};
    QTest::newRow("not a trial item page")
        << u"http://try.taobao.com/list.htm"_s << trialPage(brandQuestion()) << QList<QUrl>{};
    QTest::newRow("no answer link") << trialItemUrl << trialPage(brandQuestion(), {}) << QList<QUrl>{};
    QTest::newRow("file link is not handed over")
        << trialItemUrl << trialPage(brandQuestion(), {u"file:///etc/passwd"_s}) << QList<QUrl>{};
    QTest::newRow("script link is not handed over")
        << trialItemUrl << trialPage(brandQuestion(), {u"javascript:alert(1)"_s}) << QList<QUrl>{};
    // Characters the pane keeps as they are in a link's query; the link still opens.
    for (const QString &query : {u"id=1|2"_s, u"spm={a}"_s, u"x=1^2"_s, u"q=100%"_s, u"q=`a`"_s}) {
        const QString link = u"http://item.taobao.com/item.htm?"_s + query;
        QTest::addRow("web link with %s", qPrintable(query))
            << trialItemUrl << trialPage(brandQuestion(), {link})
            << QList<QUrl>{QUrl(link, QUrl::TolerantMode)};
    }
}

void AnsweringTest::answerPageButton()
{
    QFETCH(QString, url);
    QFETCH(QString, page);
    QFETCH(QList<QUrl>, launched);

    openTrialPage(url, page);
    LaunchRecorder launcher;
    pressInPage(Qt::Key_C);
    if (!launched.isEmpty())
        QUILLORY_TRY_COMPARE(launcher.launched, launched);
    settlePageCalls(*m_window->page());    // the button's read of the page has come back
    QCOMPARE(launcher.launched, launched); // nothing more, or nothing at all, is handed over
    QCOMPARE(m_window->Text1->text(), helpText);
}

void AnsweringTest::newWindowGoesToFocusedLink_data()
{
    QTest::addColumn<QString>("focus");  // the id of the element focused before the action, or "body"
    QTest::addColumn<QString>("action"); // a script to run, or "enter" for the Enter key in the page
    QTest::addColumn<int>("refusals");   // new-window requests the user made, which the window handles
    QTest::addColumn<QString>("expected");

    QTest::newRow("link with a new-window target") << u"blank"_s << u"enter"_s << 1 << u"/target.htm"_s;
    QTest::newRow("form that submits into a new window") << u"submit"_s << u"enter"_s << 1 << u"/start.htm"_s;
    QTest::newRow("window opened from a local file link") << u"local"_s << u"enter"_s << 1 << u"/start.htm"_s;
    // Windows that a script opens without the user's action are dropped, wherever the focus rests.
    QTest::newRow("script window, focus on the body")
        << u"body"_s << u"window.open('/popup.htm')"_s << 0 << u"/start.htm"_s;
    QTest::newRow("script window, focus on another link")
        << u"other"_s << u"window.open('/popup.htm')"_s << 0 << u"/start.htm"_s;
}

// The new window is always refused; on the user's request the pane goes to the focused element's web
// link, if it has one.
void AnsweringTest::newWindowGoesToFocusedLink()
{
    QFETCH(QString, focus);
    QFETCH(QString, action);
    QFETCH(int, refusals);
    QFETCH(QString, expected);

    const QString site = u"http://try.taobao.com"_s;
    for (const QString &page : {u"/target.htm"_s, u"/other.htm"_s, u"/popup.htm"_s, u"/submit.htm"_s})
        servePage(site + page, u"<html><body>"_s + page + u"</body></html>"_s);
    openTrialPage(site + u"/start.htm"_s,
                  u"<html><body><a id=\"blank\" target=\"_blank\" href=\"/target.htm\">open</a>"
                  u"<a id=\"other\" href=\"/other.htm\">other</a>"
                  u"<a id=\"local\" href=\"file:///etc/hostname\""
                  u" onclick=\"window.open('/popup.htm'); return false\">local</a>"
                  u"<form action=\"/submit.htm\" target=\"_blank\"><button id=\"submit\">go</button></form>"
                  u"</body></html>"_s);
    QSignalSpy refused(m_window->page(), &BrowserPage::newWindowRefused);
    const int windowsBefore = QApplication::topLevelWidgets().size();

    pressInPage(Qt::Key_Shift, Qt::NoModifier); // puts the keyboard focus into the page
    inPage(focus == u"body"_s ? u"document.activeElement.blur()"_s
                              : u"document.getElementById('%1').focus()"_s.arg(focus));
    if (action == u"enter"_s)
        QTest::keyClick(m_window->WebBrowser1->focusProxy(), Qt::Key_Return);
    else
        inPage(action);

    QUILLORY_TRY_COMPARE(m_window->page()->url().path(), expected);
    QUILLORY_TRY_COMPARE(refused.count(), refusals);
    // The window's read of the focused link has come back, and a request the page made before the
    // page's own later one has reached the server.
    settlePageCalls(*m_window->page());
    sendBeacon();
    QCOMPARE(m_window->page()->url().path(), expected);
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    QCOMPARE(requestsFor(site + u"/popup.htm"_s) + requestsFor(site + u"/submit.htm"_s), 0);

    if (expected != u"/start.htm"_s) { // the followed link is an ordinary entry of the history
        m_window->Command2->click();
        QUILLORY_TRY_COMPARE(m_window->page()->url().path(), u"/start.htm"_s);
    }
}

QUILLORY_BROWSER_TEST_MAIN(AnsweringTest, TrialSiteFixture::startProxy)
#include "tst_answering.moc"
