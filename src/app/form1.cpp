#include "form1.h"

#include "answer/answeringpass.h"
#include "answer/answerpage.h"
#include "answer/autoanswer.h"
#include "answer/passstatus.h"
#include "answer/productpages.h"
#include "answer/trialsite.h"
#include "browserpage.h"
#include "cookiesync.h"
#include "launcher.h"
#include "pagetext/cookiejar.h"
#include "pagetext/downloadmanager.h"
#include "pagetext/hostresolver.h"
#include "pagetext/weburl.h"
#include "paneview.h"
#include "renderedproductsource.h"
#include "statusbubble.h"
#include "stuckpagebar.h"
#include "twips.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QShortcutEvent>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <limits>

using namespace Qt::StringLiterals;

namespace Quillory {

const QString Form1::promotionalLink =
    u"http://s.click.taobao.com/t?e=zGU34CA7K%2BPkqB04MQzdgG%2FQuillory2.3%2BStart%3D"_s;
const QString Form1::publisherSite = u"http://www.quillory.org/"_s;

namespace {

// The pane's place below the strip of controls, and the room the frame leaves around it, in twips.
constexpr float paneTop = 600;
constexpr float paneWidthAllowance = 100;
constexpr float paneHeightAllowance = 1100;

// Keeps a login across restarts: persistent cookies live on disk, session cookies end with the window.
// The folder is always set, the default one too, so that the lock of the single instance and the
// profile cannot part ways.
std::unique_ptr<QWebEngineProfile> makeProfile(const WindowOptions &options)
{
    auto profile = std::make_unique<QWebEngineProfile>(u"Quillory"_s);
    profile->setPersistentStoragePath(paneProfileFolder(options));
    if (!options.profilePath.isEmpty())
        profile->setCachePath(options.profilePath + u"/cache"_s);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    return profile;
}

// The downloads speak for the pane: its cookies and its user agent.
BrowserSession paneSession(QWebEngineProfile &profile, SharedCookieJar &cookies)
{
    return BrowserSession{profile.httpUserAgent().toUtf8(), &cookies};
}

// A button whose access key clicks it at once and leaves the keyboard focus where it is: the user
// presses Alt+Z while typing in the page and goes on typing there. (Qt's own access keys animate the
// click for a tenth of a second and move the focus to the button.)
class AccessKeyButton final : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent *>(event)->isAmbiguous()) {
            if (isEnabled())
                click();
            return true;
        }
        return QPushButton::event(event);
    }
};

// The check box's caption: a click on it toggles the check box, as on the box itself.
class CheckBoxLabel final : public QLabel
{
public:
    CheckBoxLabel(const QString &text, QCheckBox *checkBox, QWidget *parent)
        : QLabel(text, parent), m_checkBox(checkBox)
    {
        setBuddy(checkBox);
    }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
            m_checkBox->isEnabled())
            m_checkBox->click();
    }

private:
    QCheckBox *m_checkBox = nullptr;
};

// A ring around the control of the strip that has the keyboard focus, thick and in the highlight
// colour, so that the focus shows at a glance (a style's own mark is a thin dotted line or a shade).
// It takes no click and covers only the gap around the control.
class FocusRing final : public QWidget
{
public:
    static constexpr int thickness = 3;

    explicit FocusRing(QWidget *parent) : QWidget(parent)
    {
        setObjectName(u"FocusRing"_s);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

    void follow(QWidget *control)
    {
        m_control = control;
        if (!control) {
            hide();
            return;
        }
        const int around = thickness + 1;
        setGeometry(control->geometry().adjusted(-around, -around, around, around));
        show();
        raise();
        update();
    }
    QWidget *control() const { return m_control; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), thickness));
        painter.setBrush(Qt::NoBrush);
        const qreal inset = thickness / 2.0;
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 3, 3);
    }

private:
    QWidget *m_control = nullptr;
};

// The room a control needs to show its caption whole. A button's is its caption and the style's frame
// around it, without the wider minimum that styles give buttons in dialogs: the described sizes are
// narrower than that, and a caption that fits in them needs nothing more.
QSize captionRoom(const QWidget &control)
{
    // The check box shows its box alone: the label beside it is its caption.
    if (const auto *checkBox = qobject_cast<const QCheckBox *>(&control)) {
        return {checkBox->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, checkBox),
                checkBox->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, checkBox)};
    }
    const auto *button = qobject_cast<const QPushButton *>(&control);
    if (!button)
        return control.sizeHint();
    QStyleOptionButton option;
    option.initFrom(button);
    option.features = QStyleOptionButton::None;
    const QSize caption = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    return button->style()->sizeFromContents(QStyle::CT_PushButton, &option, caption, button);
}

template <typename Control> Control *placeControl(Control *control, const char *name, QRect twips)
{
    control->setObjectName(QLatin1StringView(name));
    control->setGeometry(Twips::toPixels(twips.x(), twips.y(), twips.width(), twips.height()));
    return control;
}

} // namespace

QString paneProfileFolder(const WindowOptions &options)
{
    if (!options.profilePath.isEmpty())
        return options.profilePath;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/QtWebEngine/Quillory"_s;
}

QRectF browserPaneLayout(QSizeF outerTwips, QRectF currentTwips)
{
    QRectF pane = currentTwips;
    pane.moveTo(0, paneTop);
    const float width = float(outerTwips.width()) - paneWidthAllowance;
    const float height = float(outerTwips.height()) - paneHeightAllowance;
    if (width >= 0)
        pane.setWidth(width);
    if (height >= 0)
        pane.setHeight(height);
    return pane;
}

Form1::Form1(const WindowOptions &options, QWidget *parent)
    : QWidget(parent), m_cookies(std::make_unique<SharedCookieJar>()), m_profile(makeProfile(options)),
      Inet1(options.downloadLimits, paneSession(*m_profile, *m_cookies)), m_geometryFile(options.geometryFile)
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Quillory（自动答题）2.3 by:tovrin"_s);
    setWindowIcon(QIcon(u":/quillory/quillory.png"_s));
    resize(Twips::toPixels(13980), Twips::toPixels(9285));
    createControls();
    m_cookieSync = std::make_unique<CookieSync>(*m_profile->cookieStore(), *m_cookies,
                                                m_profile->persistentStoragePath());
    setTabOrder();
    m_downloads = std::make_unique<DownloadManager>(Inet1.limits(), Inet1.session(),
                                                    options.hostResolver ? *options.hostResolver
                                                                         : HostResolver::system());
    m_productSource = std::make_unique<DownloadedProductSource>(*m_downloads);
    m_productPages = std::make_unique<ProductPages>(
        *m_productSource, options.clock ? *options.clock : Clock::steady(), options.keepProductPage);
    if (options.renderProductPages) {
        m_renderer = std::make_unique<RenderedPageLoader>(
            m_profile.get(), RenderSession{m_cookies.get(), options.hostResolver, options.clock},
            options.renderLimits);
        m_renderedSource = std::make_unique<RenderedProductSource>(*m_renderer, *m_productSource);
        m_productPages->setRenderedSource(m_renderedSource.get());
    }
    m_page->setAnswerTimeout(options.pageAnswerTimeout);
    m_pass = std::make_unique<AnsweringPass>(*m_page, *m_productPages);
    m_autoAnswer = std::make_unique<AutoAnswer>(*m_pass, options.autoAnswerIntervalMs);
    Timer1 = m_autoAnswer->timer();
    Timer1->setObjectName(u"Timer1"_s);
    connectHandlers();
}

Form1::~Form1()
{
    // The pass holds the page and may have a download under way; the page must go before its profile.
    m_autoAnswer.reset();
    m_pass.reset();
    m_productPages.reset();
    m_renderedSource.reset();
    m_renderer.reset(); // its hidden page goes before the profile
    m_productSource.reset();
    m_downloads.reset();
    m_cookieSync.reset();
    showBusy(false);
    disconnect(m_status, nullptr, this, nullptr); // the status goes with the window's children
    disconnect(qApp, nullptr, this, nullptr);
    delete WebBrowser1;
    WebBrowser1 = nullptr;
}

void Form1::createControls()
{
    Command_dati =
        placeControl(new AccessKeyButton(u"答题(&z)"_s, this), "Command_dati", {120, 120, 855, 375});
    Command2 = placeControl(new AccessKeyButton(u"后退(&x)"_s, this), "Command2", {1200, 120, 975, 375});
    Command1 = placeControl(new AccessKeyButton(u"查看答案(&c)"_s, this), "Command1", {2400, 120, 1215, 375});
    // Only as wide as its box: its own caption is cut off, the label beside it names the mode.
    Check1 = placeControl(new QCheckBox(u"Check1"_s, this), "Check1", {3840, 240, 255, 255});
    Label1 = placeControl(new CheckBoxLabel(u"自动答题（网速要给力啊）"_s, Check1, this), "Label1",
                          {4200, 240, 3615, 255});
    Text1 = placeControl(new QLineEdit(u"快捷键：答题Alt+z后退Alt+x查看答案Alt+c，祝好运气！"_s, this),
                         "Text1", {6480, 120, 5535, 375});
    Text1->setMaxLength(std::numeric_limits<int>::max()); // an answer shows whole, however long
    Text1->setCursorPosition(0);
    Command3 = placeControl(new QPushButton(u"by:tovrin"_s, this), "Command3", {12240, 120, 1455, 375});

    WebBrowser1 = placeControl(new PaneView(this), "WebBrowser1", {0, 600, 13935, 8655});
    m_paneTwips = QRectF(0, 600, 13935, 8655);
    m_page = new BrowserPage(m_profile.get(), WebBrowser1);
    WebBrowser1->setPage(m_page);
    m_status = new StatusBubble(this);
    m_address = new AddressBubble(this);
    m_address->setPageAddress([this] { return m_page->url().toString(); });
    m_stuckPageBar = new StuckPageBar(this);
    m_focusRing = new FocusRing(this);
    m_cancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_cancelKey->setEnabled(false); // Esc is the page's own but while a pass waits
    nameControls();
    layoutStrip();

    for (QPushButton *button : {Command_dati, Command2, Command1, Command3}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // F6 moves the keyboard focus from part to part of the window (the buttons, the bar over a page
    // that does not respond, the page), Shift+F6 back: a page holds on to Tab, and a page that does not
    // respond holds on to every key but the window's own.
    connect(new QShortcut(QKeySequence(Qt::Key_F6), this), &QShortcut::activated, this,
            [this] { moveFocusBetweenParts(1); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6), this), &QShortcut::activated, this,
            [this] { moveFocusBetweenParts(-1); });
    addShiftedAccessKey(Command_dati, Qt::Key_Z);
    addShiftedAccessKey(Command2, Qt::Key_X);
    addShiftedAccessKey(Command1, Qt::Key_C);
}

// What a screen reader says of each control: its caption without the access key's marker, or what it
// is for where the caption does not say.
void Form1::nameControls()
{
    Command_dati->setAccessibleName(u"答题"_s);
    Command_dati->setAccessibleDescription(u"在网页的答案框里填入答案（Alt+Z）"_s);
    Command2->setAccessibleName(u"后退"_s);
    Command2->setAccessibleDescription(u"网页后退到上一页（Alt+X）"_s);
    Command1->setAccessibleName(u"查看答案"_s);
    Command1->setAccessibleDescription(u"打开本页“找答案”链接的商品页（Alt+C）"_s);
    Check1->setAccessibleName(Label1->text());
    Check1->setAccessibleDescription(u"选中时每隔几秒自动答题一次"_s);
    Label1->setAccessibleName(Label1->text());
    Label1->setAccessibleDescription(u"点击可切换自动答题"_s);
    Text1->setAccessibleName(u"答案"_s);
    Text1->setAccessibleDescription(u"最近一次答题的答案"_s);
    Command3->setAccessibleName(Command3->text());
    Command3->setAccessibleDescription(u"在浏览器里打开发布者的网站"_s);
    WebBrowser1->setAccessibleName(u"网页"_s);
    WebBrowser1->setAccessibleDescription(u"试用网站的网页"_s);
}

// The strip of controls: each at least at its place and size in twips, and wide and tall enough for
// its caption at the current font and scale. A control's caption has the room up to the next control
// (the label's box reaches under the answer box); one that needs more pushes the controls to its right
// along, keeping the gaps between them.
void Form1::layoutStrip()
{
    struct Placed
    {
        QWidget *control;
        QRect twips;
    };
    const Placed strip[] = {
        {Command_dati, {120, 120, 855, 375}}, {Command2, {1200, 120, 975, 375}},
        {Command1, {2400, 120, 1215, 375}},   {Check1, {3840, 240, 255, 255}},
        {Label1, {4200, 240, 3615, 255}},     {Text1, {6480, 120, 5535, 375}},
        {Command3, {12240, 120, 1455, 375}},
    };
    const auto pixels = [](QRect twips) {
        return Twips::toPixels(twips.x(), twips.y(), twips.width(), twips.height());
    };
    QList<QRect> placed;
    int shift = 0;
    for (std::size_t i = 0; i < std::size(strip); ++i) {
        const QRect least = pixels(strip[i].twips);
        const int nextLeft = i + 1 < std::size(strip) ? pixels(strip[i + 1].twips).x() : least.right() + 1;
        const int room = qMin(least.width(), nextLeft - least.x());
        const QSize needed = captionRoom(*strip[i].control);
        const int height = qMax(least.height(), needed.height());
        // A taller control grows up and down around its middle, but never above the window's top.
        const int top = qMax(0, least.center().y() - height / 2);
        placed.append(QRect(least.x() + shift, top, qMax(least.width(), needed.width()), height));
        shift += qMax(0, needed.width() - room);
    }
    // A strip wider than the screen can hold (large fonts on a small screen) gives the answer box's
    // width back first, down to a few characters, so that the by-line button stays on the screen.
    const qsizetype text = 5;
    const int margin = Twips::toPixels(120);
    const int excess = placed.constLast().right() + 1 + margin - widestOnScreen();
    const int minimum = Text1->fontMetrics().averageCharWidth() * 8;
    const int giveBack = qBound(0, excess, qMax(0, placed.at(text).width() - minimum));
    placed[text].setWidth(placed.at(text).width() - giveBack);
    placed[text + 1].translate(-giveBack, 0);
    for (std::size_t i = 0; i < std::size(strip); ++i)
        strip[i].control->setGeometry(placed.at(qsizetype(i)));
    if (m_focusRing)
        showFocus(static_cast<FocusRing *>(m_focusRing)->control());
    // The window widens to hold the strip it has grown; the user may still make it narrower.
    const int needed = placed.constLast().right() + 1 + margin;
    if (width() < needed)
        resize(needed, height());
}

// The room a frame leaves around the client area: the window's own once it has one, the usual title
// bar and borders before.
QSize Form1::frameRoom() const
{
    const QSize frame = frameGeometry().size() - size();
    if (frame.width() > 0 || frame.height() > 0)
        return frame;
    return {2 * 4, 4 + style()->pixelMetric(QStyle::PM_TitleBarHeight) + 4};
}

int Form1::widestOnScreen() const
{
    const QScreen *on = screen();
    return on ? on->availableGeometry().width() - frameRoom().width() : std::numeric_limits<int>::max();
}

// The first size is the described one, no larger than the screen's free area; a size and place the
// user gave the window before come back where they still fit on a screen.
void Form1::placeOnScreen()
{
    if (restorePlace())
        return;
    const QScreen *on = screen();
    if (!on)
        return;
    const QRect free = on->availableGeometry();
    resize(size().boundedTo(free.size() - frameRoom()));
}

bool Form1::restorePlace()
{
    if (m_geometryFile.isEmpty())
        return false;
    const QSettings saved(m_geometryFile, QSettings::IniFormat);
    const QRect client = saved.value(u"window/client"_s).toRect();
    const QRect outer = saved.value(u"window/frame"_s).toRect();
    if (!client.isValid() || !outer.contains(client))
        return false;
    for (const QScreen *each : QGuiApplication::screens()) {
        if (each->availableGeometry().contains(outer)) {
            // Before the first show the window's place is its client area's.
            move(client.topLeft());
            resize(client.size());
            if (saved.value(u"window/maximized"_s).toBool())
                setWindowState(windowState() | Qt::WindowMaximized);
            return true;
        }
    }
    return false;
}

// The client area and the frame around it; for a maximized window, the ones it had before, which it
// gets back when the user restores it.
void Form1::savePlace() const
{
    if (m_geometryFile.isEmpty())
        return;
    QSettings saved(m_geometryFile, QSettings::IniFormat);
    const bool maximized = isMaximized();
    const QRect client = maximized ? normalGeometry() : geometry();
    const QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                         frameGeometry().right() - geometry().right(),
                         frameGeometry().bottom() - geometry().bottom());
    saved.setValue(u"window/client"_s, client);
    saved.setValue(u"window/frame"_s, client.marginsAdded(frame));
    saved.setValue(u"window/maximized"_s, maximized);
}

// Tab follows the strip from left to right, then the page, and comes back to the first button.
void Form1::setTabOrder()
{
    const QList<QWidget *> order{Command_dati, Command2, Command1, Check1, Text1, Command3, WebBrowser1};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// The ring follows the keyboard focus over the strip's controls; the page shows its own.
void Form1::showFocus(QWidget *focus)
{
    const QList<QWidget *> strip{Command_dati, Command2, Command1, Check1, Text1, Command3};
    static_cast<FocusRing *>(m_focusRing)->follow(focus && strip.contains(focus) ? focus : nullptr);
}

void Form1::moveFocusBetweenParts(int step)
{
    // The strip's first control that takes the focus (the answer button is off during a pass).
    QWidget *strip = Command_dati;
    for (QWidget *control : {static_cast<QWidget *>(Command_dati), static_cast<QWidget *>(Command2),
                             static_cast<QWidget *>(Command1), static_cast<QWidget *>(Check1),
                             static_cast<QWidget *>(Text1), static_cast<QWidget *>(Command3)}) {
        if (control->isEnabled()) {
            strip = control;
            break;
        }
    }
    QList<QWidget *> parts{strip};
    if (m_stuckPageBar->isVisible())
        parts.append(m_stuckPageBar->stopButton());
    parts.append(WebBrowser1);
    const QWidget *focus = focusWidget();
    qsizetype current = 0; // the strip's controls are one part
    if (focus && m_stuckPageBar->isVisible() && m_stuckPageBar->isAncestorOf(focus))
        current = 1;
    else if (focus && (focus == WebBrowser1 || WebBrowser1->isAncestorOf(focus)))
        current = parts.size() - 1;
    parts.at((current + step + parts.size()) % parts.size())->setFocus(Qt::ShortcutFocusReason);
}

// The mnemonic takes Alt+letter; the letter typed in upper case (Shift held) clicks the button too.
void Form1::addShiftedAccessKey(QPushButton *button, Qt::Key key)
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::SHIFT | key), this);
    connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
}

void Form1::connectHandlers()
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { showFocus(now); });
    connect(Command_dati, &QPushButton::clicked, this, &Form1::Command_dati_Click);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    connect(Timer1, &IntervalTimer::tick, this, &Form1::Timer1_Timer);
    connect(m_pass.get(), &AnsweringPass::waitingForProductPage, this, &Form1::passWaiting);
    connect(m_pass.get(), &AnsweringPass::reported, this, &Form1::passReported);
    m_waitingAfter.setSingleShot(true);
    m_waitingAfter.setInterval(busyAfterMs);
    connect(&m_waitingAfter, &QTimer::timeout, this, [this] {
        if (m_pass->isWaiting())
            m_status->showWaiting();
    });
    if (m_renderer) {
        connect(m_renderer.get(), &RenderedPageLoader::stillLoading, m_status, [this] {
            if (m_pass->isWaiting())
                m_status->markStillLoading();
        });
    }
    connect(m_cancelKey, &QShortcut::activated, m_pass.get(), &AnsweringPass::cancel);
    connect(m_status, &StatusBubble::cancelRequested, m_pass.get(), &AnsweringPass::cancel);
    // What the last pass did holds for the page it was done on.
    connect(m_page, &QWebEnginePage::loadStarted, m_status, &StatusBubble::clear);
    connect(m_page, &QWebEnginePage::linkHovered, m_address, &AddressBubble::showLink);
    // The address stands above the status when both are in the lower left corner.
    connect(m_status, &StatusBubble::moved, this, &Form1::placeAddress);
    connect(m_page, &BrowserPage::newWindowRefused, this, &Form1::WebBrowser1_NewWindow2);
    // A page whose scripts hold it: the offer to stop it, gone once it responds again.
    connect(m_page, &BrowserPage::notResponding, m_stuckPageBar, &StuckPageBar::offer);
    connect(m_page, &BrowserPage::respondingAgain, m_stuckPageBar, &QWidget::hide);
    connect(m_stuckPageBar, &StuckPageBar::stopRequested, m_page, [this] { m_page->stopPage(); });
    connect(m_page, &BrowserPage::pageStopped, m_status, [this] { m_status->showText(pageStoppedText()); });
    // The product page of a trial page is downloaded as soon as the page has loaded.
    connect(m_page, &QWebEnginePage::loadStarted, m_pass.get(), &AnsweringPass::pageLeft);
    connect(m_page, &QWebEnginePage::loadFinished, m_pass.get(), [this](bool ok) {
        if (ok)
            m_pass->pageLoaded();
    });

    connect(m_pass.get(), &AnsweringPass::started, this, &Form1::passStarted);
    connect(m_pass.get(), &AnsweringPass::answerReady, Text1, &QLineEdit::setText);
    connect(m_pass.get(), &AnsweringPass::finished, this, &Form1::passFinished);
    m_busyAfter.setSingleShot(true);
    m_busyAfter.setInterval(busyAfterMs);
    connect(&m_busyAfter, &QTimer::timeout, this, [this] {
        Command_dati->setUpdatesEnabled(true);
        showBusy(true);
    });
}

void Form1::Form_Load()
{
    openweb(promotionalLink);
    m_page->navigate(QUrl(TrialSite::homePage));
}

void Form1::Form_Resize()
{
    const QSize outer = frameGeometry().size();
    m_paneTwips = browserPaneLayout(
        QSizeF(Twips::fromPixels(outer.width()), Twips::fromPixels(outer.height())), m_paneTwips);
    WebBrowser1->setGeometry(Twips::toPixels(m_paneTwips.x()), Twips::toPixels(m_paneTwips.y()),
                             Twips::toPixels(m_paneTwips.width()), Twips::toPixels(m_paneTwips.height()));
    m_status->placeIn(WebBrowser1->geometry());
    placeAddress();
    m_stuckPageBar->placeIn(WebBrowser1->geometry());
}

void Form1::placeAddress()
{
    const QRect pane = WebBrowser1->geometry();
    const QRect status = m_status->geometry();
    const bool statusBelow =
        m_status->isVisible() && status.left() == pane.left() && status.bottom() == pane.bottom();
    m_address->placeIn(pane, statusBelow ? status : QRect());
}

// Closing works while a page's dialog is up: the dialog goes with the window. The window's size and
// place are kept for the next start.
void Form1::closeEvent(QCloseEvent *event)
{
    savePlace();
    m_page->closeDialogs();
    QWidget::closeEvent(event);
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

// The frame can settle after the first resize (the window manager adds its decorations then).
void Form1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Form_Resize();
}

// A new font (the desktop's, or a new scale) gives the captions new sizes.
void Form1::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        layoutStrip();
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Shown by us, with the style's sizes now final; a window restored by the user keeps its width.
    if (!event->spontaneous())
        layoutStrip();
    if (!event->spontaneous() && !m_placed) {
        m_placed = true;
        placeOnScreen();
    }
    Form_Resize();
    WebBrowser1->setFocus(Qt::OtherFocusReason);
}

void Form1::Command_dati_Click()
{
    dati(PassTrigger::User);
}

void Form1::Timer1_Timer()
{
    dati(PassTrigger::Timer);
}

void Form1::dati(PassTrigger trigger)
{
    m_pass->request(trigger);
}

// Esc and a click on the status cancel the pass only while it waits; at other times Esc is the page's.
void Form1::passWaiting()
{
    m_cancelKey->setEnabled(true);
    m_waitingAfter.start();
}

// A field write reports after its pass has ended: a pass that waits by then is newer, and its wait is
// what the user needs to see.
void Form1::passReported(const PassReport &report)
{
    if (m_pass->isWaiting())
        return;
    m_waitingAfter.stop();
    m_cancelKey->setEnabled(false);
    m_status->showText(passStatusText(report));
}

// From its first step to its last a pass has the answer button disabled: neither a click nor Alt+Z starts
// another. A pass that answers at once (most do) shows the user no more than its answer; one that takes
// longer shows the disabled button and the busy pointer until it ends. (A repaint of the window costs
// milliseconds that would hold up the answer, and a flash of grey every few seconds in auto-answer mode
// helps nobody.)
void Form1::passStarted()
{
    Command_dati->setUpdatesEnabled(false);
    Command_dati->setEnabled(false);
    m_busyAfter.start();
}

void Form1::passFinished()
{
    m_busyAfter.stop();

    Command_dati->setEnabled(true);
    Command_dati->setUpdatesEnabled(true);
    showBusy(false);
}

// The busy cursor shows over the whole window, the pane included (whose page sets cursors of its own).
void Form1::showBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void Form1::Check1_Click()
{
    m_autoAnswer->follow(Check1->checkState());
}

void Form1::Command1_Click()
{
    showAnswerPage(*m_page, this, openweb);
}

void Form1::Command2_Click()
{
    m_page->goBack();
}

void Form1::Command3_Click()
{
    openweb(publisherSite);
}

// The new window is already refused. The pane goes to the link that has the focus, if any: the link
// the user activated. Only web links are followed; the page cannot send the pane to a local file.
void Form1::WebBrowser1_NewWindow2()
{
    m_page->readFocusedLinkTarget(this, [this](const QString &href) {
        const QUrl target(href);
        if (isWebUrl(target))
            m_page->navigate(target);
    });
}

} // namespace Quillory
