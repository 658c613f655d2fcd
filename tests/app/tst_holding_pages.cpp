#include "answer/passstatus.h"
#include "app/browserpage.h"
#include "app/pagedialog.h"
#include "app/statusbubble.h"
#include "app/stuckpagebar.h"
#include "hostiletest.h"
#include "trialsitefixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTimer>
#include <QWebEngineView>

#include <optional>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;
using namespace Quillory::Testing::Hostile;
using namespace Quillory::Testing::TrialSiteFixture;

// Pages that would hold the window or the user on them: dialogs with huge texts, a question whether to
// leave once dialogs are stopped, scripts that never yield. Whatever a page does, the window keeps
// working and the user can leave.
class HoldingPagesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void hugeDialogTextStaysBounded_data();
    void hugeDialogTextStaysBounded();
    void leaveQuestionAfterDialogsStopped_data();
    void leaveQuestionAfterDialogsStopped();
    void stuckPageLetsTheUserOut_data();
    void stuckPageLetsTheUserOut();
    void pageWaitingForItsDialogIsNotStuck();
    void slowPageIsNotStuck();
    void backLeavesAPageWhoseDialogIsUp_data();
    void backLeavesAPageWhoseDialogIsUp();

private:
    void serveFirstAndNext();
    void pressEnterOn(const QString &focusScript);
    void pressAltOnThePane(Qt::Key key);
    bool pageAnswers(const QString &text);

    std::unique_ptr<Form1> m_window;
};

// A page that does not answer within half a second counts as not responding here.
constexpr std::chrono::milliseconds answerTimeout{500};

void HoldingPagesTest::init()
{
    clearPages();
    WindowOptions options = shortLimits();
    options.pageAnswerTimeout = answerTimeout;
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void HoldingPagesTest::cleanup()
{
    m_window.reset();
}

// The Enter key on an element of the page: a user's action, as far as the page can tell.
// The pages a test leaves from and goes to: first.htm, which going back asks the server for again, and
// next.htm.
void HoldingPagesTest::serveFirstAndNext()
{
    HttpReply firstPage = HttpReply::html("<p>first</p>", "utf-8");
    firstPage.withHeader("Cache-Control", "no-store");
    servePage(u"http://try.taobao.com/first.htm"_s, firstPage);
    servePage(u"http://try.taobao.com/next.htm"_s, u"<p>next</p>"_s);
}

void HoldingPagesTest::pressEnterOn(const QString &focusScript)
{
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    pageWidget->setFocus();
    QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
    evaluateInPage(*m_window->page(), focusScript);
    // The pane's focus reaches the page's renderer a moment later: a key sent before it would go nowhere.
    QUILLORY_TRY_VERIFY(evaluateInPage(*m_window->page(), u"document.hasFocus()"_s).toBool());
    QTest::keyClick(pageWidget, Qt::Key_Return);
}

// Alt and a letter on the browser pane, with no script to ask the page where its focus is.
void HoldingPagesTest::pressAltOnThePane(Qt::Key key)
{
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    pageWidget->setFocus();
    QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
    QTest::keyClick(pageWidget, key, Qt::AltModifier);
}

// The pane shows a live page whose body reads `text`.
bool HoldingPagesTest::pageAnswers(const QString &text)
{
    return evaluateInPage(*m_window->page(), u"document.body.innerText"_s, 5000).toString() == text;
}

void HoldingPagesTest::hugeDialogTextStaysBounded_data()
{
    QTest::addColumn<QString>("call");  // sets the title to what the dialog gave back
    QTest::addColumn<QString>("typed"); // typed into the prompt before it is answered
    QTest::addColumn<QString>("title");

    // "😀" is two code units: the cut falls between the two halves of one, and keeps neither.
    QTest::newRow("alert with a 10 MB word")
        << u"alert('x'.repeat(10 * 1024 * 1024)), 'shown'"_s << QString() << u"shown"_s;
    QTest::newRow("confirm with 10 MB of short lines")
        << u"String(confirm('a line\\n'.repeat(1024 * 1024)))"_s << QString() << u"true"_s;
    QTest::newRow("prompt with a 10 MB default")
        << u"String(prompt('?', 'a' + '\\u{1F600}'.repeat(5 * 1024 * 1024)).length)"_s << u"zz"_s
        << QString::number(PageDialog::promptMax);
}

// A page's dialog with a huge text: the dialog fits in its part of the screen, its message wraps inside
// the word and scrolls, the prompt holds a bounded default cut whole, and typing into it still works.
void HoldingPagesTest::hugeDialogTextStaysBounded()
{
    QFETCH(QString, call);
    QFETCH(QString, typed);
    QFETCH(QString, title);

    servePage(trialItemUrl, u"<html><body><script>addEventListener('load', () => setTimeout(() => {"
                            u" document.title = ("_s +
                                call + u"); }, 0));</script></body></html>"_s);
    // What the dialog showed, read while it is up (the page waits for it, and so does everything below
    // its event loop).
    struct Shown
    {
        QSize size;
        qsizetype messageSize = 0;
        int sidewaysScroll = -1;
        QString prompt;
        QString typedInto;
    };
    std::optional<Shown> shown;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        QTimer::singleShot(0, dialog, [&, dialog] {
            const auto *message = dialog->findChild<QTextEdit *>();
            Shown seen{dialog->size(), message->toPlainText().size(),
                       message->horizontalScrollBar()->maximum(), QString(), QString()};
            if (auto *input = dialog->findChild<QLineEdit *>()) {
                seen.prompt = input->text();
                QTest::keyClick(input, Qt::Key_End); // the default comes selected, to be typed over
                QTest::keyClicks(input, typed);
                seen.typedInto = input->text();
            }
            shown = seen;
            QTest::keyClick(dialog, Qt::Key_Return);
        });
    });
    m_window->page()->load(QUrl(trialItemUrl));
    QUILLORY_TRY_COMPARE(m_window->page()->title(), title);

    QVERIFY(shown);
    const QSize room = PageDialog::roomOn(m_window.get());
    QVERIFY2(shown->size.width() <= room.width() && shown->size.height() <= room.height(),
             qPrintable(u"%1×%2 in %3×%4"_s.arg(shown->size.width())
                            .arg(shown->size.height())
                            .arg(room.width())
                            .arg(room.height())));
    QVERIFY(shown->messageSize <= PageDialog::messageMax + 1);
    QCOMPARE(shown->sidewaysScroll, 0); // the long word wraps
    if (!typed.isEmpty()) {
        QCOMPARE(shown->prompt.size(), PageDialog::promptMax - 1); // not half of the last "😀"
        QVERIFY(!shown->prompt.back().isHighSurrogate());
        // As much as the prompt holds: the first character typed fills it.
        QCOMPARE(shown->typedInto, shown->prompt + typed.front());
    }
}

void HoldingPagesTest::leaveQuestionAfterDialogsStopped_data()
{
    QTest::addColumn<bool>("stopDialogs");
    QTest::addColumn<QString>("how");    // "back" (the window's button), "link" or "script" (the page's own)
    QTest::addColumn<QString>("target"); // where the pane is to go; empty: it stays on the page

    const QString first = u"http://try.taobao.com/first.htm"_s;
    const QString next = u"http://try.taobao.com/next.htm"_s;
    QTest::newRow("dialogs stopped: Back leaves") << true << u"back"_s << first;
    QTest::newRow("dialogs stopped: a link leaves") << true << u"link"_s << next;
    QTest::newRow("dialogs stopped: the page's own navigation leaves") << true << u"script"_s << next;
    QTest::newRow("dialogs shown: the user is asked and stays") << false << u"back"_s << QString();
}

// A page that asks before it is left (beforeunload) and whose dialogs the user stopped: every way out
// leaves, rather than being answered "stay" without a word. While dialogs are shown, the user decides.
void HoldingPagesTest::leaveQuestionAfterDialogsStopped()
{
    QFETCH(bool, stopDialogs);
    QFETCH(QString, how);
    QFETCH(QString, target);

    const QString first = u"http://try.taobao.com/first.htm"_s;
    const QString asking = u"http://try.taobao.com/asking.htm"_s;
    serveFirstAndNext();
    servePage(asking, u"<html><body><script>addEventListener('beforeunload', e => { e.preventDefault();"
                      u" e.returnValue = ''; });</script>"
                      u"<button id=\"dialogs\" onclick=\"alert(1); alert(2)\">dialogs</button>"
                      u"<a id=\"link\" href=\"next.htm\">next</a>"
                      u"<button id=\"script\" onclick=\"setTimeout(() => location.href = 'next.htm', 0)\">go"
                      u"</button></body></html>"_s);
    QStringList messages;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        messages.append(dialog->findChild<QTextEdit *>()->toPlainText());
        if (auto *stop = dialog->findChild<QCheckBox *>())
            stop->setChecked(stopDialogs);
        // The page's two alerts are answered; the question whether to leave is answered "stay".
        QTimer::singleShot(0, dialog, messages.size() <= 2 ? &QDialog::accept : &QDialog::reject);
    });
    QVERIFY(loadAndWait(*m_window->page(), QUrl(first)));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(asking)));
    pressEnterOn(u"document.getElementById('dialogs').focus()"_s); // the user's action: the page may ask
    QUILLORY_TRY_COMPARE(messages.size(), 2);
    proxy().clearRequests();

    m_window->activateWindow(); // from the page's last dialog
    QUILLORY_TRY_VERIFY(m_window->isActiveWindow());
    if (how == u"back"_s)
        m_window->Command2->click();
    else
        pressEnterOn(u"document.getElementById('%1').focus()"_s.arg(how));

    if (target.isEmpty()) {
        QUILLORY_TRY_COMPARE(messages.size(), 3); // the engine's question, in a dialog of ours
        settlePageCalls(*m_window->page());       // the page has taken the answer "stay" and done with it
        QCOMPARE(m_window->page()->url(), QUrl(asking));
        return;
    }
    QUILLORY_TRY_COMPARE(m_window->page()->url(), QUrl(target));
    QCOMPARE(messages.size(), 2);
    const QList<HttpRequest> requests = proxy().requests();
    QVERIFY(std::any_of(requests.cbegin(), requests.cend(),
                        [&](const HttpRequest &request) { return request.url == QUrl(target); }));
}

void HoldingPagesTest::stuckPageLetsTheUserOut_data()
{
    QTest::addColumn<QString>("loop"); // "loading" (the page's own script), "click" or "timer"
    QTest::addColumn<QString>("then"); // "Back", "Alt+Z", "close", "stop, Back" or "stop, new page"

    QTest::newRow("loop while loading: Back") << u"loading"_s << u"Back"_s;
    QTest::newRow("loop from a click: Back") << u"click"_s << u"Back"_s;
    QTest::newRow("loop while loading: Alt+Z") << u"loading"_s << u"Alt+Z"_s;
    QTest::newRow("loop from a timer: Alt+Z") << u"timer"_s << u"Alt+Z"_s;
    QTest::newRow("loop from a timer: the window closes") << u"timer"_s << u"close"_s;
    QTest::newRow("loop from a click: stopped, then Back") << u"click"_s << u"stop, Back"_s;
    QTest::newRow("loop from a timer: stopped, then Alt+X") << u"timer"_s << u"stop, Alt+X"_s;
    QTest::newRow("loop while loading: stopped, then a new page") << u"loading"_s << u"stop, new page"_s;
}

// A trial page whose script never yields: Back leaves it, a pass waits on it while the window offers to
// stop it (again after "wait"), the window closes, and stopping it ends its renderer and the pass, so
// that Back and new pages work again.
void HoldingPagesTest::stuckPageLetsTheUserOut()
{
    QFETCH(QString, loop);
    QFETCH(QString, then);

    const QString first = u"http://try.taobao.com/first.htm"_s;
    const QString next = u"http://try.taobao.com/next.htm"_s;
    serveFirstAndNext();
    servePage(u"http://try.taobao.com/looping.htm"_s, u"looping"_s);
    // The page tells the server, and waits for its answer, just before its loop starts.
    const QString hang = u"<script>function hang() { const x = new XMLHttpRequest();"
                         u" x.open('GET', 'looping.htm', false); x.send(); for (;;) {} }</script>"_s;
    const QString start = loop == u"loading"_s ? u"<script>hang()</script>"_s
                          : loop == u"timer"_s
                              ? u"<script>addEventListener('load', () => setTimeout(hang, 0))</script>"_s
                              : u"<button id=\"loop\" onclick=\"hang()\">loop</button>"_s;
    servePage(trialItemUrl, trialPage(brandQuestion(), {productUrl}, hang + start));
    const auto looping = [] {
        return requestsFor(u"http://try.taobao.com/looping.htm"_s) > 0;
    };

    QVERIFY(loadAndWait(*m_window->page(), QUrl(first)));
    if (loop == u"loading"_s)
        m_window->page()->load(QUrl(trialItemUrl)); // a load that never finishes
    else
        QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    if (loop == u"click"_s)
        pressEnterOn(u"document.getElementById('loop').focus()"_s);
    QUILLORY_TRY_VERIFY(looping());
    QCOMPARE(m_window->page()->url(), QUrl(trialItemUrl));
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    proxy().clearRequests();

    if (then == u"close"_s) {
        m_window->close();
        QVERIFY(!m_window->isVisible());
        m_window.reset(); // the engine's side of the window goes with it, stuck renderer or not
        return;
    }
    if (then == u"Back"_s) {
        pressAltOnThePane(Qt::Key_X);
        QUILLORY_TRY_COMPARE(m_window->page()->url(), QUrl(first));
        QCOMPARE(requestsFor(first), 1);
        QUILLORY_TRY_VERIFY(pageAnswers(u"first"_s));
        return;
    }

    // Alt+Z: the window offers to stop the page, and the pass waits on: the page may only be slow.
    QSignalSpy notResponding(m_window->page(), &BrowserPage::notResponding);
    pressAltOnThePane(Qt::Key_Z);
    StuckPageBar *bar = m_window->stuckPageBar();
    QUILLORY_TRY_VERIFY(bar->isVisible());
    for (QWidget *control : {static_cast<QWidget *>(bar), static_cast<QWidget *>(bar->stopButton()),
                             static_cast<QWidget *>(bar->waitButton())})
        QVERIFY(!control->accessibleName().isEmpty());
    QVERIFY(m_window->answeringPass()->isRunning());
    QVERIFY(!m_window->Command_dati->isEnabled());
    QCOMPARE(reported.size(), 0);
    if (then == u"Alt+Z"_s) {
        // "Wait" puts the offer away; the pass still waits, and the offer comes again while the page
        // stays stuck.
        const qsizetype offers = notResponding.size();
        bar->waitButton()->click();
        QVERIFY(!bar->isVisible());
        QUILLORY_TRY_VERIFY(notResponding.size() > offers);
        QVERIFY(bar->isVisible());
        QVERIFY(m_window->answeringPass()->isRunning());
        QCOMPARE(reported.size(), 0);
        return;
    }

    QSignalSpy ended(m_window->page(), &QWebEnginePage::renderProcessTerminated);
    if (then == u"stop, Alt+X"_s) {
        // By keys alone: F6 leaves the page that holds on to Tab, for the strip, then the bar.
        QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
        pageWidget->setFocus();
        QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
        QTest::keyClick(pageWidget, Qt::Key_F6);
        QVERIFY(!pageWidget->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
        QCOMPARE(QApplication::focusWidget(), bar->stopButton());
        QTest::keyClick(bar->stopButton(), Qt::Key_Space);
    } else {
        bar->stopButton()->click();
    }
    QUILLORY_TRY_COMPARE(ended.size(), 1);
    QCOMPARE(ended.first().first().value<QWebEnginePage::RenderProcessTerminationStatus>(),
             QWebEnginePage::KilledTerminationStatus);
    QVERIFY(!bar->isVisible());
    // The stopped page never answered the read: the pass ends, says so, and writes nothing.
    QUILLORY_TRY_VERIFY(!m_window->answeringPass()->isRunning());
    QCOMPARE(reported.size(), 1);
    const auto report = reported.first().first().value<PassReport>();
    QVERIFY(report.pageNotResponding);
    QCOMPARE(m_window->Text1->text(), helpText); // no answer
    QVERIFY(m_window->Command_dati->isEnabled());
    QVERIFY(m_window->status()->text().startsWith(u"已停止这个网页"_s));
    if (then.startsWith(u"stop, "_s) && then != u"stop, new page"_s) {
        if (then == u"stop, Alt+X"_s)
            QTest::keyClick(m_window.get(), Qt::Key_X, Qt::AltModifier);
        else
            m_window->Command2->click();
        QUILLORY_TRY_COMPARE(m_window->page()->url(), QUrl(first));
        QCOMPARE(requestsFor(first), 1);
        QUILLORY_TRY_VERIFY(pageAnswers(u"first"_s));
    } else {
        QVERIFY(loadAndWait(*m_window->page(), QUrl(next)));
        QUILLORY_TRY_VERIFY(pageAnswers(u"next"_s));
    }
}

// A page that shows a dialog waits for the user, not stuck: a pass waits with it, no offer to stop
// the page comes however long the user takes, and the pass reads the page once the dialog is answered.
void HoldingPagesTest::pageWaitingForItsDialogIsNotStuck()
{
    servePage(productUrl, productPage(brandValue));
    servePage(trialItemUrl, trialPage(brandQuestion(), {productUrl},
                                      u"<script>addEventListener('load', () => setTimeout(() => "
                                      u"alert('wait'), 0))</script>"_s));
    QSignalSpy notResponding(m_window->page(), &BrowserPage::notResponding);
    bool passWaited = false;
    qsizetype notRespondingWhileUp = -1;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        m_window->Command_dati->click();
        // Three answer time-outs go by while the dialog is up.
        QTimer::singleShot(3 * answerTimeout, dialog, [&, dialog] {
            passWaited = m_window->answeringPass()->isRunning();
            notRespondingWhileUp = notResponding.size();
            dialog->accept();
        });
    });
    m_window->page()->load(QUrl(trialItemUrl));
    QUILLORY_TRY_VERIFY(passWaited);
    QUILLORY_TRY_COMPARE(m_window->Text1->text(), u"长春"_s);
    QCOMPARE(notRespondingWhileUp, 0);
    // How soon the page answers once its dialog is gone is this machine's business; once it has, no
    // offer to stop it stays.
    QUILLORY_TRY_VERIFY(!m_window->stuckPageBar()->isVisible());
}

// A page that is busy far longer than the answer time-out, and then yields, is slow, not stuck: the
// window offers to stop it while it is busy, the pass waits, and once the page yields the pass reads
// it and answers, and the offer goes. The page is busy until the test lets it go: each round of its
// loop asks the server whether to go on.
void HoldingPagesTest::slowPageIsNotStuck()
{
    const QString gate = u"http://try.taobao.com/gate.htm"_s;
    bool open = false;
    servePage(gate, [&open](const HttpRequest &) { return HttpReply::html(open ? "go" : "wait", "utf-8"); });
    servePage(productUrl, productPage(u"长春"_s));
    servePage(trialItemUrl, trialPage(brandQuestion(), {productUrl},
                                      u"<script>function busy() { for (;;) { const x = new XMLHttpRequest();"
                                      u" x.open('GET', 'gate.htm', false); x.send();"
                                      u" if (x.responseText === 'go') return; } }"
                                      u" addEventListener('load', () => setTimeout(busy, 0))</script>"_s));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    QUILLORY_TRY_VERIFY(requestsFor(gate) > 0);
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);

    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY(m_window->stuckPageBar()->isVisible());
    QVERIFY(m_window->answeringPass()->isRunning());
    const int polls = requestsFor(gate);
    QUILLORY_TRY_VERIFY(requestsFor(gate) > polls); // still busy, well past the time-out
    QVERIFY(m_window->answeringPass()->isRunning());
    QCOMPARE(reported.size(), 0);

    open = true;
    QUILLORY_TRY_COMPARE(m_window->Text1->text(), u"长春"_s);
    QUILLORY_TRY_COMPARE(reported.size(), 1);
    QVERIFY(!reported.first().first().value<PassReport>().pageNotResponding);
    QUILLORY_TRY_VERIFY(!m_window->stuckPageBar()->isVisible());
}

void HoldingPagesTest::backLeavesAPageWhoseDialogIsUp_data()
{
    QTest::addColumn<QString>("dialogs"); // the page's script, run once it has loaded
    QTest::addColumn<bool>("loops");      // whether the page asks again as soon as it is answered
    // How often the server is asked for the page gone back to: twice where the navigation had gone out
    // before the page showed that it holds its renderer, which drops it.
    QTest::addColumn<int>("requests");

    QTest::newRow("one alert") << u"alert('one')"_s << false << 1;
    QTest::newRow("alert loop") << u"for (;;) alert('again')"_s << true << 1;
    QTest::newRow("confirm loop") << u"while (!confirm('leave?')) {}"_s << true << 1;
    QTest::newRow("prompt loop") << u"while (prompt('name?') !== 'x') {}"_s << true << 1;
    QTest::newRow("alerts from a timer") << u"setInterval(() => alert('tick'), 0)"_s << true << 1;
    QTest::newRow("an alert, then a loop of alerts")
        << u"alert('one'); setTimeout(() => { for (;;) alert('again'); }, 0)"_s << true << 2;
    QTest::newRow("an alert, then a loop without dialogs") << u"alert('one'); for (;;) {}"_s << true << 1;
}

// A page whose dialog is up, one after another without end or just one: Back answers the dialog that
// is up and leaves, whatever the page does when answered. The page gone back to is asked of the server
// again and shown; a page that showed one dialog is left as any page is, its renderer kept.
void HoldingPagesTest::backLeavesAPageWhoseDialogIsUp()
{
    QFETCH(QString, dialogs);
    QFETCH(bool, loops);
    QFETCH(int, requests);

    const QString first = u"http://try.taobao.com/first.htm"_s;
    const QString asking = u"http://try.taobao.com/asking.htm"_s;
    serveFirstAndNext();
    servePage(asking,
              u"<html><body><p>asking</p><script>addEventListener('load', () => setTimeout(() => {"_s +
                  dialogs + u" }, 0))</script></body></html>"_s);
    // The user presses Back while the page's first dialog is up. A dialog of the page shown after that
    // fails the test; it is closed so that the test goes on to say so.
    int shown = 0;
    bool backPressed = false;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        if (++shown == 1) {
            QTimer::singleShot(0, dialog, [&] {
                QCOMPARE(m_window->page()->url(), QUrl(asking));
                proxy().clearRequests();
                m_window->Command2->click();
                backPressed = true;
            });
        } else {
            QTimer::singleShot(0, dialog, &QDialog::reject);
        }
    });
    QSignalSpy ended(m_window->page(), &QWebEnginePage::renderProcessTerminated);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(first)));
    m_window->page()->load(QUrl(asking));
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(backPressed, 10000);
    QUILLORY_TRY_COMPARE_WITH_TIMEOUT(m_window->page()->url(), QUrl(first), 10000);
    QUILLORY_TRY_VERIFY(pageAnswers(u"first"_s));
    QCOMPARE(requestsFor(first), requests);
    QCOMPARE(m_window->WebBrowser1->url(), QUrl(first));
    QVERIFY(!m_window->findChild<PageDialog *>());
    QCOMPARE(shown, 1); // no dialog of the page left came up after Back
    if (!loops)
        QCOMPARE(ended.size(), 0);
}

QUILLORY_BROWSER_TEST_MAIN(HoldingPagesTest, TrialSiteFixture::startProxy)
#include "tst_holding_pages.moc"
