#include "app/browserpage.h"
#include "app/form1.h"
#include "app/statusbubble.h"
#include "app/stuckpagebar.h"
#include "app/translations.h"
#include "app/twips.h"
#include "browsertest.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyle>
#include <QToolButton>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using namespace Quillory;
using namespace Quillory::Testing;

// The window at the desktop's font sizes and, through QT_SCALE_FACTOR, at its scales (CTest runs this
// once per scale), and what it tells assistive technology.
class LayoutTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void captionsFit_data();
    void captionsFit();
    void windowFitsTheScreen();
    void controlsHaveNames();
    void clickOnTheLabelTogglesTheBox();
    void paneMenuHoldsOnlyWhatWorks();
    void paneMenuSpeaksTheWindowsLanguage();

private:
    QList<QWidget *> strip() const
    {
        return {m_window->Command_dati, m_window->Command2, m_window->Label1,
                m_window->Command1,     m_window->Text1,    m_window->Command3};
    }

    QFont m_appFont;
    std::unique_ptr<Form1> m_window;
};

void LayoutTest::init()
{
    m_appFont = QApplication::font();
    m_window = std::make_unique<Form1>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), eventCeilingMs));
}

void LayoutTest::cleanup()
{
    m_window.reset();
    QApplication::setFont(m_appFont);
}

void LayoutTest::captionsFit_data()
{
    QTest::addColumn<int>("points");
    for (int points = 9; points <= 14; ++points)
        QTest::addRow("%d pt", points) << points;
}

// The font changes under the shown window, as when the user sets the desktop's font. Every caption shows
// whole, no control covers the next, none reaches into the pane, and the window holds the strip.
void LayoutTest::captionsFit()
{
    QFETCH(int, points);

    QFont font = m_appFont;
    font.setPointSize(points);
    QApplication::setFont(font);
    QUILLORY_TRY_COMPARE(m_window->Command1->font().pointSize(), points);

    const int buttonMargin = m_window->style()->pixelMetric(QStyle::PM_ButtonMargin);
    int right = 0;
    QList<QWidget *> controls = strip();
    std::sort(controls.begin(), controls.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
    for (QWidget *control : controls) {
        const QByteArray nameBytes = control->objectName().toUtf8();
        const char *name = nameBytes.constData();
        const QFontMetrics metrics = control->fontMetrics();
        // What the control shows: a button's caption with the style's margin, the rest as they ask.
        const auto *button = qobject_cast<QPushButton *>(control);
        int shown = button ? metrics.size(Qt::TextShowMnemonic, button->text()).width() + buttonMargin
                           : control->sizeHint().width();
        // The answer box scrolls its text: it gives width back, down to a few characters, only when the
        // screen cannot hold the strip (the window then reaches the screen's edge, frame aside).
        if (control == m_window->Text1 && control->width() < shown) {
            QVERIFY2(control->width() >= metrics.averageCharWidth() * 8, name);
            const int frame = m_window->frameGeometry().width() - m_window->width();
            const int room = m_window->screen()->availableGeometry().width() - frame;
            QVERIFY2(m_window->Command3->geometry().right() + Twips::toPixels(120) >= room - 16, name);
            shown = control->width();
        }
        QVERIFY2(control->width() >= shown, name);
        QVERIFY2(control->height() >= metrics.height(), name);
        QVERIFY2(control->x() >= right, name);
        QVERIFY2(control->geometry().bottom() < m_window->WebBrowser1->y(), name);
        right = control->x() + shown;
    }
    QVERIFY(m_window->width() >= right);
    // The check box keeps its box whole between the buttons and its label.
    QVERIFY(m_window->Check1->x() >= m_window->Command1->geometry().right());
    QVERIFY(m_window->Check1->geometry().right() < m_window->Label1->x());
    QVERIFY(m_window->Check1->width() >= m_window->style()->pixelMetric(QStyle::PM_IndicatorWidth));
}

// At every scale the window opens within the screen's free area, with the whole strip (the by-line
// button last) and the status over the pane inside it.
void LayoutTest::windowFitsTheScreen()
{
    const QRect free = m_window->screen()->availableGeometry();
    QUILLORY_TRY_VERIFY(m_window->frameGeometry().width() <= free.width() &&
                        m_window->frameGeometry().height() <= free.height());
    const QRect inside = m_window->rect();
    QVERIFY(inside.contains(m_window->Command3->geometry()));
    QVERIFY(m_window->Command3->x() > m_window->Text1->geometry().right());
    m_window->status()->showText(
        u"没有找到答案：商品页上没有“颜色”。答案框里是提示语，不是答案，请勿提交。"_s);
    QVERIFY(inside.contains(m_window->status()->geometry()));
    QVERIFY(inside.contains(m_window->status()->closeButton()->geometry()));
}

void LayoutTest::controlsHaveNames()
{
    const QList<std::pair<QWidget *, QString>> names{
        {m_window->Command_dati, u"答题"_s},
        {m_window->Command2, u"后退"_s},
        {m_window->Command1, u"查看答案"_s},
        {m_window->Check1, u"自动答题（网速要给力啊）"_s},
        {m_window->Label1, u"自动答题（网速要给力啊）"_s},
        {m_window->Text1, u"答案"_s},
        {m_window->Command3, u"by:tovrin"_s},
        {m_window->WebBrowser1, u"网页"_s},
    };
    // What comes up over the pane is a notification, which screen readers speak when it comes.
    for (QWidget *notice :
         {static_cast<QWidget *>(m_window->status()), static_cast<QWidget *>(m_window->stuckPageBar())})
        QCOMPARE(QAccessible::queryAccessibleInterface(notice)->role(), QAccessible::Notification);
    for (const auto &[control, name] : names) {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
        QVERIFY2(accessible, qPrintable(control->objectName()));
        QCOMPARE(accessible->text(QAccessible::Name), name);
        QVERIFY2(!accessible->text(QAccessible::Description).isEmpty(), qPrintable(control->objectName()));
    }
}

void LayoutTest::clickOnTheLabelTogglesTheBox()
{
    QTest::mouseClick(m_window->Label1, Qt::LeftButton);
    QVERIFY(m_window->Check1->isChecked());
    QCOMPARE(m_window->Timer1->interval(), Form1::autoAnswerIntervalMs); // the box's own handler ran
    QTest::mouseClick(m_window->Label1, Qt::LeftButton);
    QVERIFY(!m_window->Check1->isChecked());
    QCOMPARE(m_window->Timer1->interval(), 0);
}

// A right-click on a link in the pane: its menu offers what this window can do, nothing that would
// silently do nothing (a second window, a file to save to, the developer tools).
void LayoutTest::paneMenuHoldsOnlyWhatWorks()
{
    const QString page = u"<html><body style='margin:0'><a href='http://try.taobao.com/x' "
                         u"style='display:block;width:300px;height:100px'>链接</a>"
                         u"<script>addEventListener('mousemove', () => { window.moved = true; });"
                         u"</script></body></html>"_s;
    QSignalSpy loaded(m_window->page(), &QWebEnginePage::loadFinished);
    m_window->page()->setHtml(page, QUrl(u"http://try.taobao.com/"_s));
    QUILLORY_TRY_VERIFY(!loaded.isEmpty());
    QWidget *pageWidget = m_window->WebBrowser1->focusProxy();
    QVERIFY(pageWidget);
    // The engine passes the mouse on to a page once it has shown it: the page's own word that the
    // mouse has reached it, not a load that has finished, says that the right-click will.
    int moves = 0;
    QVERIFY(waitFor([&] {
        QTest::mouseMove(pageWidget, QPoint(50 + ++moves % 2, 50));
        return evaluateInPage(*m_window->page(), u"window.moved === true"_s).toBool();
    }));
    QTest::mouseClick(pageWidget, Qt::RightButton, {}, QPoint(50, 50));
    QUILLORY_TRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());

    const QList<QAction *> entries = menu->actions();
    QVERIFY(entries.contains(m_window->page()->action(QWebEnginePage::CopyLinkToClipboard)));
    for (QWebEnginePage::WebAction dead :
         {QWebEnginePage::SavePage, QWebEnginePage::ViewSource, QWebEnginePage::OpenLinkInNewWindow,
          QWebEnginePage::OpenLinkInNewTab, QWebEnginePage::OpenLinkInNewBackgroundTab,
          QWebEnginePage::DownloadLinkToDisk, QWebEnginePage::InspectElement})
        QVERIFY2(!entries.contains(m_window->page()->action(dead)), qPrintable(QString::number(dead)));
    QVERIFY(!entries.first()->isSeparator());
    QVERIFY(!entries.last()->isSeparator());
    menu->close();
}

// The window speaks Chinese whatever the desktop's language (this test runs under the C locale): with
// Qt's own translations for it, the pane's menu entries read in Chinese too.
void LayoutTest::paneMenuSpeaksTheWindowsLanguage()
{
    QCOMPARE(windowLocale().name(), u"zh_CN"_s);
    QCOMPARE(installQtTranslations(*QCoreApplication::instance(), windowLocale()), 2);
    m_window = std::make_unique<Form1>();
    QCOMPARE(m_window->page()->action(QWebEnginePage::Back)->text(), u"后退"_s);
    QCOMPARE(m_window->page()->action(QWebEnginePage::CopyLinkToClipboard)->text().contains(u"复制"_s), true);
}

QUILLORY_BROWSER_TEST_MAIN(LayoutTest)
#include "tst_layout.moc"
