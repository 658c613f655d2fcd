#include "answer/trialsite.h"
#include "app/browserpage.h"
#include "app/form1.h"
#include "app/launcher.h"
#include "browsertest.h"
#include "httpfixture.h"
#include "launchrecorder.h"
#include "pagetext/documenttext.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;

namespace {

QString readDocumentText(BrowserPage &page, bool markup)
{
    QString text;
    bool done = false;
    QObject context;
    auto receive = [&](const QString &result) {
        text = result;
        done = true;
    };
    if (markup)
        getWebHtml(page, &context, receive);
    else
        getWebContent(page, &context, receive);
    (void)waitFor([&] { return done; }, 20000);
    return text;
}

// How the engine's markup of the root element came back: with the element names to follow from it, with
// a list of names, or not at all (our own exact walk).
QString howTheMarkupCame(BrowserPage &page)
{
    std::optional<PageSnapshot> snapshot;
    PageReadRequest request;
    request.part = ElementPart::InnerHtml;
    request.scope = ElementScope::RootOnly;
    QObject context;
    page.readPage(request, &context, [&](const PageSnapshot &result) { snapshot = result; });
    if (!waitFor([&] { return snapshot.has_value(); }, 10000))
        return {};
    return !snapshot->engineMarkup                    ? u"exact"_s
           : snapshot->engineMarkup->htmlElementCount ? u"names from markup"_s
                                                      : u"names listed"_s;
}

} // namespace

class WindowTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void checkBoxCaptionIsCutOff();
    void storedSettings();
    void tabOrderStartsInThePane();
    void accessKeysClickTheirButtons_data();
    void accessKeysClickTheirButtons();
    void startUpHandsOutPromotionalLinkFirst();
    void layoutRule_data();
    void layoutRule();
    void paneFollowsOuterSize();
    void openwebOpensOnlyWebUrls_data();
    void openwebOpensOnlyWebUrls();

    void documentText_data();
    void documentText();
    void documentMarkupMatchesEngine();
    void engineMarkupMatchesExactWalk_data();
    void engineMarkupMatchesExactWalk();
    void markupCheckFollowsTheDocument_data();
    void markupCheckFollowsTheDocument();
    void documentTextWithoutPage();

private:
    std::unique_ptr<Form1> m_window;
};

void WindowTest::init()
{
    m_window = std::make_unique<Form1>();
}

void WindowTest::cleanup()
{
    m_window.reset();
}

void WindowTest::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("text");

    QTest::newRow("answer button") << u"Command_dati"_s << QRect(120, 120, 855, 375) << u"答题(&z)"_s;
    QTest::newRow("back button") << u"Command2"_s << QRect(1200, 120, 975, 375) << u"后退(&x)"_s;
    QTest::newRow("answer page button") << u"Command1"_s << QRect(2400, 120, 1215, 375) << u"查看答案(&c)"_s;
    QTest::newRow("auto-answer box") << u"Check1"_s << QRect(3840, 240, 255, 255) << u"Check1"_s;
    QTest::newRow("auto-answer label")
        << u"Label1"_s << QRect(4200, 240, 3615, 255) << u"自动答题（网速要给力啊）"_s;
    QTest::newRow("answer box") << u"Text1"_s << QRect(6480, 120, 5535, 375)
                                << u"快捷键：答题Alt+z后退Alt+x查看答案Alt+c，祝好运气！"_s;
    QTest::newRow("by-line button") << u"Command3"_s << QRect(12240, 120, 1455, 375) << u"by:tovrin"_s;
}

void WindowTest::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    QFETCH(QString, text);

    QCOMPARE(m_window->windowTitle(), u"Quillory（自动答题）2.3 by:tovrin"_s);
    QCOMPARE(m_window->size(), QSize(932, 619)); // 13980 x 9285 twips
    // The icon's picture is really there (a missing file still gives a QIcon that is not null).
    const QImage icon = m_window->windowIcon().pixmap(32, 32).toImage();
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(icon.pixelColor(16, 16).alpha() > 0);

    auto *control = m_window->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(edit->text(), text);
    else
        QFAIL("unexpected kind of control");
    QVERIFY(control->isEnabled());
    QVERIFY(control->toolTip().isEmpty());
    QVERIFY(!m_window->Check1->isChecked());
    QCOMPARE(m_window->Timer1->interval(), 0);
    QVERIFY(!m_window->Timer1->isTicking());
}

void WindowTest::checkBoxCaptionIsCutOff()
{
    QVERIFY(m_window->Check1->width() < m_window->Check1->sizeHint().width());
}

// The page downloader waits 60 s for a silent server; auto-answer ticks every 5 s; the pane keeps
// persistent cookies (the login) on disk, as browsers do. (The other tests build their windows with
// shorter waits.)
void WindowTest::storedSettings()
{
    QCOMPARE(m_window->Inet1.limits().transferTimeout, std::chrono::milliseconds(60000));
    m_window->Check1->click();
    QCOMPARE(m_window->Timer1->interval(), 5000);
    QCOMPARE(Form1::autoAnswerIntervalMs, 5000);
    m_window->Check1->click();
    QCOMPARE(m_window->Timer1->interval(), 0);
    QWebEngineProfile *profile = m_window->page()->profile();
    QVERIFY(!profile->isOffTheRecord());
    QCOMPARE(profile->persistentCookiesPolicy(), QWebEngineProfile::AllowPersistentCookies);
    QVERIFY(!profile->persistentStoragePath().isEmpty());
}

void WindowTest::tabOrderStartsInThePane()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QUILLORY_TRY_VERIFY(
        m_window->WebBrowser1->hasFocus() ||
        (m_window->WebBrowser1->focusProxy() && m_window->WebBrowser1->focusProxy()->hasFocus()));

    const QList<QWidget *> expected{m_window->Command_dati, m_window->Text1,  m_window->Command1,
                                    m_window->Command2,     m_window->Check1, m_window->Command3};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QUILLORY_TRY_COMPARE(QApplication::focusWidget(), next);
    }
}

void WindowTest::accessKeysClickTheirButtons_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shifted");
    QTest::addColumn<QString>("button");

    QTest::newRow("Alt+z answers") << int(Qt::Key_Z) << false << u"Command_dati"_s;
    QTest::newRow("Alt+Z answers") << int(Qt::Key_Z) << true << u"Command_dati"_s;
    QTest::newRow("Alt+x goes back") << int(Qt::Key_X) << false << u"Command2"_s;
    QTest::newRow("Alt+X goes back") << int(Qt::Key_X) << true << u"Command2"_s;
    QTest::newRow("Alt+c shows the answer page") << int(Qt::Key_C) << false << u"Command1"_s;
    QTest::newRow("Alt+C shows the answer page") << int(Qt::Key_C) << true << u"Command1"_s;
}

void WindowTest::accessKeysClickTheirButtons()
{
    QFETCH(int, key);
    QFETCH(bool, shifted);
    QFETCH(QString, button);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_window->Text1->setFocus();
    QList<std::pair<QString, QSignalSpy *>> spies;
    for (QPushButton *each : m_window->findChildren<QPushButton *>())
        spies.append({each->objectName(), new QSignalSpy(each, &QPushButton::clicked)});

    const Qt::KeyboardModifiers modifiers = shifted ? Qt::AltModifier | Qt::ShiftModifier : Qt::AltModifier;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);

    for (const auto &[name, spy] : spies) {
        if (name == button)
            QUILLORY_TRY_COMPARE(spy->count(), 1);
        else
            QCOMPARE(spy->count(), 0);
    }
    for (const auto &[name, spy] : spies)
        delete spy;
}

void WindowTest::startUpHandsOutPromotionalLinkFirst()
{
    LaunchRecorder launcher;
    QUrl paneUrlAtLaunch(u"unset"_s);
    launcher.onLaunch = [&](const QUrl &) {
        paneUrlAtLaunch = m_window->page()->requestedUrl();
    };

    m_window->Form_Load();

    QCOMPARE(launcher.launched, QList<QUrl>{QUrl(Form1::promotionalLink)});
    QVERIFY(Form1::promotionalLink.startsWith(u"http://s.click.taobao.com/t?e="_s));
    QVERIFY(paneUrlAtLaunch.isEmpty());
    QCOMPARE(m_window->page()->requestedUrl(), QUrl(u"http://try.taobao.com/"_s));
    QVERIFY(!m_window->isVisible());
}

void WindowTest::layoutRule_data()
{
    QTest::addColumn<QSizeF>("outer");
    QTest::addColumn<QRectF>("current");
    QTest::addColumn<QRectF>("expected");

    const QRectF stored(0, 600, 13935, 8655);
    QTest::newRow("15000 x 10000") << QSizeF(15000, 10000) << stored << QRectF(0, 600, 14900, 8900);
    QTest::newRow("exactly 1100 high") << QSizeF(15000, 1100) << stored << QRectF(0, 600, 14900, 0);
    QTest::newRow("under 1100 high keeps the height")
        << QSizeF(15000, 1000) << stored << QRectF(0, 600, 14900, 8655);
    QTest::newRow("under 100 wide keeps the width")
        << QSizeF(90, 5000) << stored << QRectF(0, 600, 13935, 3900);
    QTest::newRow("moved pane comes back")
        << QSizeF(3000, 3000) << QRectF(45, 7, 10, 10) << QRectF(0, 600, 2900, 1900);
}

void WindowTest::layoutRule()
{
    QFETCH(QSizeF, outer);
    QFETCH(QRectF, current);
    QFETCH(QRectF, expected);
    QCOMPARE(browserPaneLayout(outer, current), expected);
}

void WindowTest::paneFollowsOuterSize()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->resize(1000, 667);
    const auto expectPane = [&] {
        const QSize outer = m_window->frameGeometry().size();
        return QRect(0, 40, qRound((outer.width() * 15 - 100) / 15.0),
                     qRound((outer.height() * 15 - 1100) / 15.0));
    };
    QUILLORY_TRY_COMPARE(m_window->WebBrowser1->geometry(), expectPane());

    // Too low for the pane (an outer height under 1100 twips, frame included): its height stays, the
    // rest of the rule still applies.
    const int heightBefore = m_window->WebBrowser1->height();
    const int frameHeight = m_window->frameGeometry().height() - m_window->height();
    m_window->resize(500, std::max(1, 70 - frameHeight));
    QUILLORY_TRY_COMPARE(m_window->WebBrowser1->width(), expectPane().width());
    QCOMPARE(m_window->WebBrowser1->height(), heightBefore);
    QCOMPARE(m_window->WebBrowser1->pos(), QPoint(0, 40));
}

void WindowTest::openwebOpensOnlyWebUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("opens");

    QTest::newRow("http") << u"http://try.taobao.com/item.htm?id=1"_s << true;
    QTest::newRow("https") << u"https://item.taobao.com/item.htm?id=2"_s << true;
    QTest::newRow("scheme in capitals") << u"HTTP://WWW.QUILLORY.ORG/"_s << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("file") << u"file:///etc/passwd"_s << false;
    QTest::newRow("javascript") << u"javascript:alert(1)"_s << false;
    QTest::newRow("data") << u"data:text/html,<b>x</b>"_s << false;
    QTest::newRow("ftp") << u"ftp://example.org/x"_s << false;
    QTest::newRow("relative") << u"/item.htm?id=1"_s << false;
    QTest::newRow("http without host") << u"http:///etc/passwd"_s << false;
    QTest::newRow("not a url") << u"找答案"_s << false;
}

void WindowTest::openwebOpensOnlyWebUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, opens);

    LaunchRecorder launcher;
    openweb(url);
    QCOMPARE(launcher.launched.size(), opens ? 1 : 0);
    if (opens)
        QCOMPARE(launcher.launched.first(), QUrl(url));
}

void WindowTest::documentText_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("markup");
    QTest::addColumn<QString>("text");

    QTest::newRow("nested parts repeat")
        << QByteArray("<html><head></head><body><div id=\"a\">1<em>x</em></div></body></html>")
        << u"\r<HEAD></HEAD><BODY><DIV id=\"a\">1<EM>x</EM></DIV></BODY>\r\r<DIV id=\"a\">1<EM>x</EM></DIV>"
           u"\r1<EM>x</EM>\rx"_s
        << u"\r1x\r\r1x\r1x\rx"_s;
    QTest::newRow("entities and void elements")
        << QByteArray("<html><head></head><body><p title='a&quot;b'>&lt;&amp;&nbsp;<br>z</p></body></html>")
        << u"\r<HEAD></HEAD><BODY><P title=\"a&quot;b\">&lt;&amp;&nbsp;<BR>z</P></BODY>\r\r<P "
           u"title=\"a&quot;b\">"
           u"&lt;&amp;&nbsp;<BR>z</P>\r&lt;&amp;&nbsp;<BR>z\r"_s
        << u"\r<&\u00a0\nz\r\r<&\u00a0\nz\r<&\u00a0\nz\r"_s;
}

void WindowTest::documentText()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, markup);
    QFETCH(QString, text);

    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "utf-8"); });
    QVERIFY(server.start());
    QVERIFY(loadAndWait(*m_window->page(), server.url(u"/page.html")));

    QCOMPARE(readDocumentText(*m_window->page(), true), markup);
    QCOMPARE(readDocumentText(*m_window->page(), false), text);
}

// Our serializer differs from the engine's own innerHTML in the case of element names only.
void WindowTest::documentMarkupMatchesEngine()
{
    const QByteArray page = R"(<!DOCTYPE html><html><head><title>t &amp; u</title>
<style>p > b { color: red }</style><script>var a = 1 < 2 && "x";</script></head>
<body class="c" data-x='"q"'><!-- note --><ul class="attributes-list"><li title="品牌">品牌:&nbsp;&#38271;</li></ul>
<template><em>in</em></template><svg viewBox="0 0 1 1"><foreignObject><p>f</p></foreignObject></svg>
<table><tr><th>a</th><td>b<img src="x.png" alt=""></td></tr></table><textarea>&lt;t&gt;</textarea>
<noscript><b>n</b></noscript><em>属性</em></body></html>)";
    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "utf-8"); });
    QVERIFY(server.start());
    QVERIFY(loadAndWait(*m_window->page(), server.url(u"/page.html")));

    const QString ours = readDocumentText(*m_window->page(), true);
    const QVariant engine = evaluateInPage(
        *m_window->page(),
        u"Array.from(document.getElementsByTagName('*'), e => '\\r' + e.innerHTML).join('')"_s);
    QCOMPARE(ours.toLower(), engine.toString().toLower());
    QVERIFY(ours.contains(u"<EM>属性</EM>"_s));
    QVERIFY(ours.contains(u"<foreignObject><P>f</P></foreignObject>"_s));
}

void WindowTest::engineMarkupMatchesExactWalk_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>(
        "read"); // how the engine's markup came: "names from markup", "names listed", "exact"

    QTest::newRow("plain HTML page") << QByteArray(R"(<html><head><style>a < b {}</style></head>
<body><!-- <em>not</em> --><p title="<EM>x</EM>">属性描述<em>品牌</em></p><br><img src=x><x-é>c</x-é>
<script>if (1 < 2) x = "</em>";</script><textarea><em>t</em></textarea><table><tr><td>1</td></tr></table></body></html>)")
                                     << u"names from markup"_s;
    QTest::newRow("foreign elements, raw text, comments, quotes")
        << QByteArray(R"(<html><head><style>a < b {}</style><script>if (1 < 2) x = "</em>";</script></head>
<body><!-- <em>not</em> --><p title="<EM>x</EM>" data-q='a"b'>属性描述<em>品牌</em></p><br><img src=x>
<svg><foreignObject><div>f</div></foreignObject><title>t</title></svg><math><mi>x</mi></math>
<textarea><em>t</em></textarea><noscript><em>n</em></noscript><table><tr><td>1</td></tr></table></body></html>)")
        << u"names listed"_s;
    QTest::newRow("markup built by script") << QByteArray(R"(<html><body><p id="p">x</p><img id="i"><script>
const p = document.getElementById('p');
p.appendChild(document.createComment('--><em>fake</em><!--'));
p.appendChild(document.createTextNode('<EM>'));
p.appendChild(document.createTextNode('属性描述'));
document.getElementById('i').appendChild(document.createElement('span'));
const s = document.createElement('script'); s.textContent = '</em><\/script><b>'; p.appendChild(s);
p.appendChild(document.createElementNS('http://www.w3.org/2000/svg', 'Mixed'));
</script></body></html>)") << u"names listed"_s;
    // Pages whose elements are all HTML, but whose markup holds text that passes for tags (a hidden
    // element balanced by a faked one would fool a count): the names are listed.
    QTest::newRow("comment holding -->, built by script")
        << QByteArray(R"(<html><body><p id="p">x<em>y</em></p><script>
document.getElementById('p').appendChild(document.createComment('--><em>fake</em><!--'));
document.querySelector('em').remove();</script></body></html>)")
        << u"names listed"_s;
    QTest::newRow("script text holding its end tag, built by script")
        << QByteArray(R"(<html><body><p id="p">x</p><script>
const s = document.createElement('script'); s.textContent = '<\/script><em>fake</em><script>';
document.getElementById('p').appendChild(s);</script></body></html>)")
        << u"names listed"_s;
    QTest::newRow("prefixed HTML element, built by script")
        << QByteArray(R"(<html><body><p id="p">x</p><script>
document.getElementById('p').appendChild(document.createElementNS('http://www.w3.org/1999/xhtml', 'q:em'));
</script></body></html>)")
        << u"names listed"_s;
    QTest::newRow("processing instruction, built by script")
        << QByteArray(R"(<html><body><p id="p">x</p><script>
document.getElementById('p').appendChild(document.createProcessingInstruction('x', 'a><em>b'));
</script></body></html>)")
        << u"names listed"_s;
    QTest::newRow("template") << QByteArray(
                                     "<html><body><template><em>in</em></template><em>out</em></body></html>")
                              << u"exact"_s;
}

// The fast path through the engine's own serialization gives exactly what our own walk gives.
void WindowTest::engineMarkupMatchesExactWalk()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, read);

    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page, "utf-8"); });
    QVERIFY(server.start());
    QVERIFY(loadAndWait(*m_window->page(), server.url(u"/page.html")));

    QCOMPARE(howTheMarkupCame(*m_window->page()), read);

    const QString fast = readDocumentText(*m_window->page(), true);
    m_window->page()->setEngineMarkupAllowed(false);
    const QString exact = readDocumentText(*m_window->page(), true);
    QVERIFY(!exact.isEmpty());
    QCOMPARE(fast, exact);
}

void WindowTest::markupCheckFollowsTheDocument_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("read");

    QTest::newRow("an element added")
        << u"document.body.appendChild(document.createElement('em'))"_s << u"names from markup"_s;
    QTest::newRow("a comment holding --> added")
        << u"document.body.appendChild(document.createComment('--><em>fake</em><!--'))"_s
        << u"names listed"_s;
    QTest::newRow("a foreign element added")
        << u"document.body.appendChild(document.createElementNS('http://www.w3.org/2000/svg', 'em'))"_s
        << u"names listed"_s;
    QTest::newRow("script text set to hold its end tag")
        << u"document.querySelector('script').textContent = '<\\/script><em>fake</em>'"_s
        << u"names listed"_s;
}

// What the page worked out about its markup holds only until the document changes.
void WindowTest::markupCheckFollowsTheDocument()
{
    QFETCH(QString, change);
    QFETCH(QString, read);

    HttpFixture server([](const HttpRequest &) {
        return HttpReply::html(
            "<html><body><p>属性描述<em>品牌</em></p><script>var a = 1;</script></body></html>", "utf-8");
    });
    QVERIFY(server.start());
    QVERIFY(loadAndWait(*m_window->page(), server.url(u"/page.html")));
    QCOMPARE(howTheMarkupCame(*m_window->page()), u"names from markup"_s);

    evaluateInPage(*m_window->page(), change);
    QCOMPARE(howTheMarkupCame(*m_window->page()), read);
    const QString fast = readDocumentText(*m_window->page(), true);
    m_window->page()->setEngineMarkupAllowed(false);
    QCOMPARE(fast, readDocumentText(*m_window->page(), true));
}

void WindowTest::documentTextWithoutPage()
{
    QCOMPARE(readDocumentText(*m_window->page(), true), QString());
    QCOMPARE(readDocumentText(*m_window->page(), false), QString());
}

QUILLORY_BROWSER_TEST_MAIN(WindowTest)
#include "tst_window.moc"
