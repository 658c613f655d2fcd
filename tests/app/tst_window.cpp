#include "answer/passrules.h"
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
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
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
    (void)waitFor([&] { return done; });
    return text;
}

// One read of the root's part of the markup.
std::optional<PageSnapshot> readRootMarkup(BrowserPage &page)
{
    std::optional<PageSnapshot> snapshot;
    PageReadRequest request;
    request.part = ElementPart::InnerHtml;
    request.scope = ElementScope::RootOnly;
    QObject context;
    page.readPage(request, &context, [&](const PageSnapshot &result) { snapshot = result; });
    (void)waitFor([&] { return snapshot.has_value(); });
    return snapshot;
}

// A text of the page, every UTF-16 code unit of it.
QString unitsInPage(BrowserPage &page, const QString &text)
{
    const QByteArray units =
        evaluateInPage(page, u"(() => { const s = "_s + text +
                                 u"; const a = new Uint16Array(s.length);"
                                 u" for (let i = 0; i < s.length; ++i) a[i] = s.charCodeAt(i);"
                                 u" return a.buffer; })()"_s)
            .toByteArray();
    return QString(reinterpret_cast<const QChar *>(units.constData()), units.size() / 2);
}

// The engine's own innerHTML of the root, and the document text from the engine's innerHTML of every
// element.
QString engineRootMarkup(BrowserPage &page)
{
    return unitsInPage(page, u"document.documentElement.innerHTML"_s);
}

QString engineDocumentText(BrowserPage &page)
{
    return unitsInPage(
        page, u"Array.from(document.getElementsByTagName('*'), e => '\\r' + e.innerHTML).join('')"_s);
}

// Where `ours` differs from `engine`, it is an ASCII capital where the engine has the small letter.
bool differsOnlyInNameCase(const QString &ours, const QString &engine)
{
    if (ours.size() != engine.size())
        return false;
    for (qsizetype i = 0; i < ours.size(); ++i) {
        const char16_t a = ours[i].unicode(), b = engine[i].unicode();
        if (a != b && !(a >= u'A' && a <= u'Z' && b == a + 32))
            return false;
    }
    return true;
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
    void tabOrderFollowsTheStrip();
    void accessKeysClickTheirButtons_data();
    void accessKeysClickTheirButtons();
    void startUpHandsOutPromotionalLinkFirst();
    void layoutRule_data();
    void layoutRule();
    void paneFollowsOuterSize();
    void sizeAndPlaceComeBack();
    void placeOffEveryScreenIsNotUsed();
    void openwebOpensOnlyWebUrls_data();
    void openwebOpensOnlyWebUrls();

    void documentText_data();
    void documentText();
    void documentMarkupMatchesEngine();
    void markupIsTheEnginesWithTagNames_data();
    void markupIsTheEnginesWithTagNames();
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

// Tab goes along the strip as it reads, left to right, then to the page and round again; the control
// with the focus has a ring around it that shows at a glance.
void WindowTest::tabOrderFollowsTheStrip()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get(), eventCeilingMs));
    QUILLORY_TRY_VERIFY(
        m_window->WebBrowser1->hasFocus() ||
        (m_window->WebBrowser1->focusProxy() && m_window->WebBrowser1->focusProxy()->hasFocus()));
    QVERIFY(!m_window->focusRing()->isVisible());

    const QList<QWidget *> expected{m_window->Command_dati, m_window->Command2, m_window->Command1,
                                    m_window->Check1,       m_window->Text1,    m_window->Command3};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QUILLORY_TRY_COMPARE(QApplication::focusWidget(), next);
        QWidget *ring = m_window->focusRing();
        QVERIFY(ring->isVisible());
        QVERIFY(ring->geometry().contains(next->geometry().adjusted(-3, -3, 3, 3)));
        // The ring is drawn thick in the highlight colour, just outside the control.
        const QImage drawn = ring->grab().toImage();
        const QColor highlight = ring->palette().color(QPalette::Highlight);
        const int middle = drawn.height() / 2;
        int thick = 0;
        for (int x = 0; x < drawn.width() / 2 && drawn.pixelColor(x, middle) == highlight; ++x)
            ++thick;
        QVERIFY2(thick >= 2, qPrintable(next->objectName()));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QUILLORY_TRY_VERIFY(
        m_window->WebBrowser1->hasFocus() ||
        (m_window->WebBrowser1->focusProxy() && m_window->WebBrowser1->focusProxy()->hasFocus()));
    QVERIFY(!m_window->focusRing()->isVisible());
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
    QVERIFY(QTest::qWaitForWindowActive(m_window.get(), eventCeilingMs));
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
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
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

// The user's size and place, kept when the window closes, come back at the next start.
void WindowTest::sizeAndPlaceComeBack()
{
    QTemporaryDir config;
    WindowOptions options;
    options.geometryFile = config.filePath(u"window.ini"_s);
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
    m_window->resize(1000, 660);
    m_window->move(30, 40);
    QUILLORY_TRY_VERIFY(m_window->size() == QSize(1000, 660) && m_window->pos() == QPoint(30, 40));
    QVERIFY(m_window->close());
    m_window.reset();

    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
    QUILLORY_TRY_COMPARE(m_window->size(), QSize(1000, 660));
    QUILLORY_TRY_COMPARE(m_window->pos(), QPoint(30, 40));
}

// A kept place that no screen shows now (a screen since unplugged, a smaller one) is not used: the
// window opens at its first size, on the screen.
void WindowTest::placeOffEveryScreenIsNotUsed()
{
    QTemporaryDir config;
    WindowOptions options;
    options.geometryFile = config.filePath(u"window.ini"_s);
    {
        QSettings saved(options.geometryFile, QSettings::IniFormat);
        saved.setValue(u"window/client"_s, QRect(5000, 4000, 1000, 660));
        saved.setValue(u"window/frame"_s, QRect(4995, 3970, 1010, 695));
    }
    m_window = std::make_unique<Form1>(options);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
    QCOMPARE(m_window->size(), QSize(932, 619));
    QVERIFY(m_window->screen()->availableGeometry().intersects(m_window->frameGeometry()));
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

void WindowTest::markupIsTheEnginesWithTagNames_data()
{
    QTest::addColumn<QString>("before"); // markup before the question's "<em>品牌</em>"
    QTest::addColumn<QString>("script"); // run in the page after it has loaded
    QTest::addColumn<QString>("route");
    QTest::addColumn<QString>("attribute"); // the question's cut
    QTest::addColumn<QStringList>("holds"); // in the markup read

    const QString svg = u"http://www.w3.org/2000/svg"_s;
    QTest::newRow("plain page") << QString() << QString() << u"walk"_s << u"品牌"_s
                                << QStringList{u"<EM>品牌</EM>"_s, u"<A href=\"x\">找答案</A>"_s};
    QTest::newRow("quotes in an attribute name")
        << uR"(<span class="x"" title="<em>颜色</em>">s</span><b a"b='</em>'>t</b>)"_s << QString()
        << u"walk"_s << u"品牌"_s << QStringList{uR"(<SPAN class="x" "="" title="<em>颜色</em>">)"_s};
    QTest::newRow("comments made by script beginning with > and ->")
        << u"<b id=\"t\">t</b>"_s << uR"(const t = document.getElementById('t');
t.appendChild(document.createComment('><em>颜色</em>'));
t.appendChild(document.createComment('-><EM>尺寸'));)"_s
        << u"walk"_s << u"尺寸--></B>请问<EM>品牌"_s
        << QStringList{u"<!--><em>颜色</em>-->"_s, u"<!---><EM>尺寸-->"_s};
    QTest::newRow("raw-text and void names made by script in other case")
        << u"<b id=\"t\">t</b>"_s
        << uR"(const t = document.getElementById('t'), X = 'http://www.w3.org/1999/xhtml';
t.appendChild(document.createElementNS(X, 'XMP')).appendChild(document.createElement('em')).textContent = '颜色';
t.appendChild(document.createElementNS(X, 'BR')).appendChild(document.createTextNode('<i>'));)"_s
        << u"walk"_s << u"颜色"_s << QStringList{u"<XMP><EM>颜色</EM></XMP><BR>&lt;i&gt;</BR>"_s};
    QTest::newRow("elements inside void and raw-text elements made by script")
        << u"<b id=\"t\">t</b>"_s << uR"(const t = document.getElementById('t');
t.appendChild(document.createElement('img')).appendChild(document.createElement('em')).textContent = '颜色';
t.appendChild(document.createElement('script')).appendChild(document.createElement('em')).textContent = '尺寸';)"_s
        << u"walk"_s << u"尺寸"_s << QStringList{u"<IMG><SCRIPT><EM>尺寸</EM></SCRIPT>"_s};
    QTest::newRow("processing instruction holding markers")
        << u"<b id=\"t\">t</b>"_s
        << u"document.getElementById('t').appendChild(document.createProcessingInstruction('x', '<em>颜色</em>'))"_s
        << u"walk"_s << u"品牌"_s << QStringList{u"<?x <em>颜色</em>?>"_s};
    QTest::newRow("namespaced attributes under prefixes of the script's own")
        << u"<b id=\"t\">t</b>"_s << uR"(const t = document.getElementById('t');
t.setAttributeNS('http://www.w3.org/1999/xlink', 'foo:href', 'u');
t.setAttributeNS('http://www.w3.org/XML/1998/namespace', 'bar:lang', 'v');
t.setAttributeNS('urn:x', 'EM:x', 'w');)"_s
        << u"walk"_s << u"品牌"_s << QStringList{uR"(<B id="t" xlink:href="u" xml:lang="v" EM:x="w">)"_s};
    QTest::newRow("lone surrogates") << u"<b id=\"t\">t</b>"_s
                                     << u"document.getElementById('t').firstChild.data = '\\ud800x\\udc00'"_s
                                     << u"walk"_s << u"品牌"_s
                                     << QStringList{u"<B id=\"t\">"_s + QChar(0xd800) + u'x' + QChar(0xdc00)};
    QTest::newRow("SVG and MathML")
        << u"<svg id=\"s\"><foreignObject><em>颜色</em></foreignObject></svg><math><mi>y</mi></math>"_s
        << u"document.getElementById('s').appendChild(document.createElementNS('"_s + svg +
               u"', 'em')).textContent = 'x'"_s
        << u"walk"_s << u"颜色"_s
        << QStringList{u"<svg id=\"s\"><foreignObject><EM>颜色</EM></foreignObject><em>x</em></svg>"_s,
                       u"<math><mi>y</mi></math>"_s};
    QTest::newRow("custom and prefixed elements")
        << u"<x-em>c</x-em><b id=\"t\">t</b>"_s
        << u"document.getElementById('t').appendChild(document.createElementNS('http://www.w3.org/1999/xhtml', 'q:em')).textContent = '颜色'"_s
        << u"walk"_s << u"品牌"_s << QStringList{u"<X-EM>c</X-EM>"_s, u"<Q:EM>颜色</Q:EM>"_s};
    QTest::newRow("template holding markers")
        << u"<template>a&lt;<!--c--><em>颜色</em></template>"_s << QString() << u"walk"_s << u"颜色"_s
        << QStringList{u"<TEMPLATE>a&lt;<!--c--><EM>颜色</EM></TEMPLATE>"_s};
    QTest::newRow("raw text and attribute values holding <em> and </em>")
        << uR"(<script>var s = "<em>颜色</em>";</script><textarea><em>尺寸</em></textarea><i title="<em>" lang="</em>">i</i>)"_s
        << QString() << u"walk"_s << u"品牌"_s
        << QStringList{uR"(<SCRIPT>var s = "<em>颜色</em>";</SCRIPT>)"_s, u"<TEXTAREA>&lt;em&gt;尺寸"_s};
    QTest::newRow("a customized built-in element: the engine writes an is attribute the page never set")
        << u"<b id=\"t\">t</b>"_s
        << uR"(customElements.define('x-b', class extends HTMLButtonElement {}, {extends: 'button'});
document.getElementById('t').appendChild(document.createElement('button', {is: 'x-b'}));)"_s
        << u"pieces"_s << u"品牌"_s << QStringList{u"<BUTTON is=\"x-b\"></BUTTON>"_s};
    QTest::newRow("a page over 256 KB") << u"<p>填充文字 0123456789</p>"_s.repeated(12000) << QString()
                                        << u"walk"_s << u"品牌"_s << QStringList{u"<EM>品牌</EM>"_s};
}

// The markup read is the engine's own innerHTML of the root with the element names as tagName gives
// them, by either way of writing it, whatever the page holds or its scripts made.
void WindowTest::markupIsTheEnginesWithTagNames()
{
    QFETCH(QString, before);
    QFETCH(QString, script);
    QFETCH(QString, route);
    QFETCH(QString, attribute);
    QFETCH(QStringList, holds);

    const QString page = u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p>属性描述："_s +
                         before + u"请问<em>品牌</em>是什么？<a href=\"x\">找答案</a></p></body></html>"_s;
    HttpFixture server([&](const HttpRequest &) { return HttpReply::html(page.toUtf8(), "utf-8"); });
    QVERIFY(server.start());
    QVERIFY(loadAndWait(*m_window->page(), server.url(u"/page.html")));
    if (!script.isEmpty())
        evaluateInPage(*m_window->page(), u"(() => {"_s + script + u"})()"_s);

    const QString engine = engineRootMarkup(*m_window->page());
    const QString engineText = engineDocumentText(*m_window->page());
    for (const bool piecesOnly : {false, true}) {
        m_window->page()->setPiecesOnly(piecesOnly);
        const std::optional<PageSnapshot> read = readRootMarkup(*m_window->page());
        QVERIFY(read && read->markup());
        // The script's own routes (the scan of the engine's markup, or the walk) unless the pieces.
        QCOMPARE(read->markup()->route == MarkupRoute::Pieces ? u"pieces"_s : u"walk"_s,
                 piecesOnly ? u"pieces"_s : route);
        QVERIFY(read->markup()->checked);
        const QString ours = read->markup()->rootMarkup;
        QVERIFY2(differsOnlyInNameCase(ours, engine), qPrintable(ours.left(2000)));
        for (const QString &piece : holds)
            QVERIFY2(ours.contains(piece), qPrintable(piece));
        QCOMPARE(cutQuestion(u'\r' + ours).answerText, attribute);
        // Every element's part, those the root's markup lacks included.
        QVERIFY(differsOnlyInNameCase(readDocumentText(*m_window->page(), true), engineText));
    }
}

void WindowTest::documentTextWithoutPage()
{
    QCOMPARE(readDocumentText(*m_window->page(), true), QString());
    QCOMPARE(readDocumentText(*m_window->page(), false), QString());
}

QUILLORY_BROWSER_TEST_MAIN(WindowTest)
#include "tst_window.moc"
