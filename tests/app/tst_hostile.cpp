#include "answer/answeringpass.h"
#include "answer/attributelookup.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "app/pagedialog.h"
#include "browsertest.h"
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
using namespace Quillory::Testing::TrialSiteFixture;
using namespace std::chrono_literals;

namespace {

// Short limits, so that a server that misbehaves is given up on within a second rather than a minute.
// The server that trickles sends every 20 ms, far within the transfer time-out.
WindowOptions shortLimits()
{
    WindowOptions options;
    options.downloadLimits.transferTimeout = 500ms;
    options.downloadLimits.totalTimeout = 1000ms;
    options.downloadLimits.maxBodyBytes = 1024 * 1024;
    return options;
}

const QString brandValue = u"&nbsp;&#38271;&#26149;"_s;

} // namespace

// Pages and servers that misbehave, by accident or on purpose: the window shows a plain answer, stays
// responsive, and nothing of theirs runs in our place.
class HostileTest final : public QObject
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

    void schemesNeverReachTheDesktop_data();
    void schemesNeverReachTheDesktop();
    void dialogLoopLetsTheWindowClose_data();
    void dialogLoopLetsTheWindowClose();
    void dialogsCanBeStopped();
    void popUpStormIsDropped();
    void elementNamesCannotSwitchThePassOff_data();
    void elementNamesCannotSwitchThePassOff();
    void answerLinkIntoThePrivateNetwork_data();
    void answerLinkIntoThePrivateNetwork();

private:
    void runPass();
    QVariant inPage(const QString &source) { return evaluateInPage(*m_window->page(), source); }
    void pressEnterOn(const QString &focusScript);

    std::unique_ptr<Form1> m_window;
};

void HostileTest::init()
{
    clearPages();
    m_window = std::make_unique<Form1>(shortLimits());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void HostileTest::cleanup()
{
    m_window.reset();
}

void HostileTest::runPass()
{
    m_window->Command_dati->click();
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(!m_window->answeringPass()->isRunning(), 30000);
    QVERIFY(m_window->Command_dati->isEnabled());
}

void HostileTest::productServer_data()
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

void HostileTest::productServer()
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
void HostileTest::silentServerLeavesWindowResponsive()
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

    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(!m_window->answeringPass()->isRunning(), 10000);
    QCOMPARE(m_window->Text1->text(), LookupText::noTable);
}

void HostileTest::answerLinkTargets_data()
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

void HostileTest::answerLinkTargets()
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

void HostileTest::largeTrialPages_data()
{
    QTest::addColumn<int>("fillerBytes");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("links");

    QTest::newRow("5 MB") << 5 * 1024 * 1024 << 10 << 100;
    QTest::newRow("nested 200 deep") << 100 * 1024 << 200 << 100;
    QTest::newRow("20000 links") << 100 * 1024 << 10 << 20000;
}

void HostileTest::largeTrialPages()
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

// The Enter key on an element of the page: a user's click, as far as the page can tell.
void HostileTest::pressEnterOn(const QString &focusScript)
{
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    pageWidget->setFocus();
    QUILLORY_TRY_VERIFY(pageWidget->hasFocus());
    inPage(focusScript);
    QTest::keyClick(pageWidget, Qt::Key_Return);
}

void HostileTest::schemesNeverReachTheDesktop_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("how"); // "link", "script" (a click handler sets location) or "frame"
    QTest::addColumn<bool>("navigates");

    for (const char *target : {"smb://fileserver/share", "ssh://host", "mailto:someone@example.org",
                               "tel:+8612345678", "x-test:payload"}) {
        for (const char *how : {"link", "script", "frame"})
            QTest::addRow("%s, %s", target, how)
                << QString::fromLatin1(target) << QString::fromLatin1(how) << false;
    }
    QTest::newRow("http, link") << u"http://try.taobao.com/next.htm"_s << u"link"_s << true;
    QTest::newRow("http, script") << u"http://try.taobao.com/next.htm"_s << u"script"_s << true;
    QTest::newRow("https, link") << u"https://try.taobao.com/next.htm"_s << u"link"_s << true;
}

// Whatever a page links to, clicked or set by its script, in the page or in a frame: the pane goes
// only to web pages, and no desktop handler is ever asked.
void HostileTest::schemesNeverReachTheDesktop()
{
    QFETCH(QString, target);
    QFETCH(QString, how);
    QFETCH(bool, navigates);

    const QString start = u"http://try.taobao.com/start.htm"_s;
    servePage(u"http://try.taobao.com/next.htm"_s, u"<p>next</p>"_s);
    const QString quoted = target.toHtmlEscaped();
    servePage(start, u"<html><body><a id=\"link\" href=\""_s + quoted +
                         u"\">link</a>"
                         u"<button id=\"script\" onclick=\"location.href = this.dataset.to\" data-to=\""_s +
                         quoted + u"\">go</button><iframe id=\"frame\" srcdoc=\"<a id='link' href='"_s +
                         quoted + u"'>link</a>\"></iframe></body></html>"_s);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(start)));
    LaunchRecorder launcher;

    if (how == u"frame"_s)
        pressEnterOn(u"document.getElementById('frame').contentDocument.getElementById('link').focus()"_s);
    else
        pressEnterOn(u"document.getElementById('%1').focus()"_s.arg(how));

    if (navigates) {
        QUILLORY_TRY_COMPARE(m_window->page()->url(), QUrl(target));
    } else {
        runEventLoop(300); // a web page loads in a few milliseconds here
        QCOMPARE(m_window->page()->url(), QUrl(start));
    }
    QCOMPARE(launcher.launched, QList<QUrl>());
}

void HostileTest::dialogLoopLetsTheWindowClose_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::newRow("alert loop") << u"alert('x')"_s;
    QTest::newRow("confirm loop") << u"confirm('x')"_s;
    QTest::newRow("prompt loop") << u"prompt('x', 'y')"_s;
}

// A page that shows one dialog after another: the window still works, and closes at once.
void HostileTest::dialogLoopLetsTheWindowClose()
{
    QFETCH(QString, dialog);

    servePage(trialItemUrl, u"<html><body><p>loop</p><script>addEventListener('load', () =>"
                            u" setTimeout(() => { for (;;) "_s +
                                dialog + u"; }, 100));</script></body></html>"_s);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    QSignalSpy shown(m_window->page(), &BrowserPage::dialogShown);

    bool dialogUp = false;
    bool closed = false;
    QElapsedTimer closing;
    // Runs while the first dialog waits for an answer, a moment after it came up.
    const auto act = [&] {
        PageDialog *up = shown.isEmpty() ? nullptr : shown.last().first().value<PageDialog *>();
        dialogUp = up && up->isVisible();
        QTest::mouseClick(m_window->Check1, Qt::LeftButton, {}, QPoint(8, 8)); // the window works
        closing.start();
        m_window->close();
        closed = !m_window->isVisible();
    };
    connect(
        m_window->page(), &BrowserPage::dialogShown, m_window.get(),
        [&] { QTimer::singleShot(200, m_window.get(), act); }, Qt::SingleShotConnection);
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(closed, 10000);
    QVERIFY(dialogUp);
    QCOMPARE(m_window->Timer1->interval(), shortLimits().autoAnswerIntervalMs);
    const auto nothingShown = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::none_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->isVisible(); });
    };
    QUILLORY_TRY_VERIFY_WITH_TIMEOUT(nothingShown(), 3000);
    QVERIFY(closing.elapsed() < 3000);
}

// From a page's second dialog on, the user may stop the rest.
void HostileTest::dialogsCanBeStopped()
{
    servePage(trialItemUrl, u"<html><body><script>addEventListener('load', () => setTimeout(() => {"
                            u" for (let i = 0; i < 50; ++i) alert(i); document.title = 'done'; }, 100));"
                            u"</script></body></html>"_s);
    QList<bool> offered;
    connect(m_window->page(), &BrowserPage::dialogShown, this, [&](PageDialog *dialog) {
        auto *stop = dialog->findChild<QCheckBox *>();
        offered.append(stop != nullptr);
        if (stop)
            stop->setChecked(true);
        QTimer::singleShot(0, dialog, &QDialog::accept);
    });
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    QUILLORY_TRY_COMPARE(m_window->page()->title(), u"done"_s);
    QCOMPARE(offered, (QList<bool>{false, true}));
}

// A thousand windows that the page opens by itself: none is made, the page and the pass go on.
void HostileTest::popUpStormIsDropped()
{
    servePage(productUrl, productPage(brandValue));
    servePage(trialItemUrl, trialPage(brandQuestion(), {productUrl},
                                      u"<script>window.ticks = 0; setInterval(() => ++window.ticks, 10);"
                                      u"addEventListener('load', () => { for (let i = 0; i < 1000; ++i) "
                                      u"window.open('/popup' + i + '.htm'); });"
                                      u"</script>"_s));
    QSignalSpy refused(m_window->page(), &BrowserPage::newWindowRefused);
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    const int ticks = inPage(u"window.ticks"_s).toInt();
    QUILLORY_TRY_VERIFY(inPage(u"window.ticks"_s).toInt() > ticks + 10); // the page's timers run

    QElapsedTimer clock;
    clock.start();
    runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(refused.size(), 0);
    QCOMPARE(QApplication::topLevelWidgets().size(), 1);
    for (const HttpRequest &request : proxy().requests())
        QVERIFY2(!request.url.path().startsWith(u"/popup"_s), qPrintable(request.url.toString()));
}

void HostileTest::elementNamesCannotSwitchThePassOff_data()
{
    QTest::addColumn<QString>("markup");
    QTest::newRow("element with our reader's old name") << u"<div id=\"__quilloryReadPage\"></div>"_s;
    QTest::newRow("element with our token's old name") << u"<span id=\"__quilloryDocumentToken\"></span>"_s;
    QTest::newRow("form with our token's old name") << u"<form name=\"__quilloryDocumentToken\"></form>"_s;
    QTest::newRow("images named after document properties")
        << u"<img name=\"links\"><img name=\"documentElement\"><img name=\"contentType\">"
           u"<img name=\"activeElement\">"_s;
    QTest::newRow("forms named after document methods")
        << u"<form name=\"getElementsByName\"></form><form name=\"getElementsByTagName\"></form>"_s;
    QTest::newRow("form controls named after element properties")
        << u"<form><input name=\"tagName\"><input name=\"innerHTML\"><input name=\"attributes\">"
           u"<input name=\"firstChild\"><input name=\"nextSibling\"><input name=\"dispatchEvent\"></form>"_s;
}

// Elements named after our script's state or after the properties it reads change nothing.
void HostileTest::elementNamesCannotSwitchThePassOff()
{
    QFETCH(QString, markup);

    servePage(productUrl, productPage(brandValue));
    servePage(trialItemUrl, trialPage(brandQuestion(), {productUrl}, markup));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    QSignalSpy written(m_window->answeringPass(), &AnsweringPass::fieldWritten);
    runPass();
    QCOMPARE(m_window->Text1->text(), u"长春"_s);
    QUILLORY_TRY_COMPARE(written.size(), 1);
    QCOMPARE(written.first().first().value<FieldWrite>(), FieldWrite::Written);
    QCOMPARE(inPage(u"document.getElementById('answer').value"_s).toString(), u"长春"_s);
}

void HostileTest::answerLinkIntoThePrivateNetwork_data()
{
    QTest::addColumn<QString>("link"); // PORT: a server on this machine that must hear nothing
    QTest::newRow("127.0.0.1") << u"http://127.0.0.1:PORT/item.htm"_s;
    QTest::newRow("localhost") << u"http://localhost:PORT/item.htm"_s;
    QTest::newRow("[::1]") << u"http://[::1]:PORT/item.htm"_s;
    QTest::newRow("IPv4 in IPv6") << u"http://[::ffff:127.0.0.1]:PORT/item.htm"_s;
    QTest::newRow("127.0.0.1 as one number") << u"http://2130706433:PORT/item.htm"_s;
    QTest::newRow("10.x") << u"http://10.1.2.3/item.htm"_s;
    QTest::newRow("192.168.x") << u"http://192.168.1.1/item.htm"_s;
    QTest::newRow("172.16.x") << u"http://172.16.0.1/item.htm"_s;
    QTest::newRow("169.254.x") << u"http://169.254.169.254/latest/meta-data/"_s;
    QTest::newRow("a public link that redirects there") << u"REDIRECT"_s;
}

// A public trial page cannot make the pass fetch from this machine or the user's network.
void HostileTest::answerLinkIntoThePrivateNetwork()
{
    QFETCH(QString, link);

    HttpFixture local(
        [](const HttpRequest &) { return HttpReply::html(productPage(brandValue).toUtf8(), "utf-8"); });
    QVERIFY(local.startInThread());
    const QString localUrl = u"http://127.0.0.1:%1/item.htm"_s.arg(local.port());
    if (link == u"REDIRECT"_s) {
        servePage(productUrl, HttpReply::redirect(localUrl.toUtf8()));
        link = productUrl;
    }
    link.replace(u"PORT"_s, QString::number(local.port()));
    servePage(trialItemUrl, trialPage(brandQuestion(), {link}));
    QVERIFY(loadAndWait(*m_window->page(), QUrl(trialItemUrl)));
    QSignalSpy reported(m_window->answeringPass(), &AnsweringPass::reported);
    runPass();

    QCOMPARE(m_window->Text1->text(), LookupText::noTable);
    QCOMPARE(local.requests().size(), 0);
    for (const HttpRequest &request : proxy().requests())
        QVERIFY2(request.url == QUrl(trialItemUrl) || request.url == QUrl(productUrl) ||
                     request.url.path() == u"/favicon.ico"_s,
                 qPrintable(request.url.toString()));
    QUILLORY_TRY_COMPARE(reported.size(), 1);
    const QString line = describePass(reported.first().first().value<PassReport>());
    QVERIFY2(line.contains(u"download refused: "_s) && line.contains(u"private network"_s), qPrintable(line));
}

QUILLORY_BROWSER_TEST_MAIN(HostileTest, TrialSiteFixture::startProxy)
#include "tst_hostile.moc"
