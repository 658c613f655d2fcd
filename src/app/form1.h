#pragma once

#include "answer/answeringpass.h"
#include "answer/intervaltimer.h"
#include "pagetext/pagedownloader.h"
#include "renderedpage.h"

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QWebEngineProfile;
class QWebEngineView;

namespace Quillory {

class AnsweringPass;
class AutoAnswer;
class BrowserPage;
class CookieSync;
class Clock;
class DownloadManager;
class HostResolver;
class ProductPages;
class ProductSource;
class RenderedPageLoader;
class SharedCookieJar;
class AddressBubble;
class StatusBubble;
class StuckPageBar;
struct PassReport;

// What a window is built with. The defaults are the program's; tests shorten the waits.
struct WindowOptions
{
    DownloadLimits downloadLimits; // Inet1's: a 60-second request time-out by default
    int autoAnswerIntervalMs = 5000;
    // How long a product page downloaded for a trial page serves the passes on that page.
    std::chrono::milliseconds keepProductPage{std::chrono::seconds(60)};
    // Where the pane keeps its profile (cookies, cache); empty: the user's data folder.
    QString profilePath;
    // Where host names lead, for the downloads' private-network rule; null: the system's resolver.
    const HostResolver *hostResolver = nullptr;
    // The time of the product pages' rules; null: the system's monotonic clock.
    const Clock *clock = nullptr;
    // A product page that lacks the attribute as served is looked up as the browser shows it.
    bool renderProductPages = true;
    RenderLimits renderLimits;
    // How long a call into the page waits for its answer before the page counts as not responding.
    std::chrono::milliseconds pageAnswerTimeout{std::chrono::seconds(5)};
    // Where the window keeps its size and place from one run to the next; empty: nowhere.
    QString geometryFile;
};

// The folder of the pane's profile: the options' own, or the one in the user's data folder.
QString paneProfileFolder(const WindowOptions &options);

// The browser pane's place for a window of the given outer size, frame and title bar included, all in
// twips. A step that would give a negative size is skipped: that size keeps its current value.
QRectF browserPaneLayout(QSizeF outerTwips, QRectF currentTwips);

// The one window: a strip of controls on top, the browser pane below.
class Form1 final : public QWidget
{
    Q_OBJECT

    // First, so that they are made before `Inet1`, which downloads in the pane's session.
    std::unique_ptr<SharedCookieJar> m_cookies;
    std::unique_ptr<QWebEngineProfile> m_profile;

public:
    static constexpr int autoAnswerIntervalMs = 5000;
    // A pass that runs longer than this shows the busy pointer and the disabled answer button.
    static constexpr int busyAfterMs = 100;
    static const QString promotionalLink;
    static const QString publisherSite;

    explicit Form1(const WindowOptions &options = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up: hands the promotional link to the default browser, then sends the pane home.
    void Form_Load();

    BrowserPage *page() const { return m_page; }
    AnsweringPass *answeringPass() const { return m_pass.get(); }
    ProductPages *productPages() const { return m_productPages.get(); }

    QPushButton *Command_dati = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command3 = nullptr;
    QWebEngineView *WebBrowser1 = nullptr;
    // What the last pass did, over the pane's lower left corner.
    StatusBubble *status() const { return m_status; }
    // The target of the link under the pointer, and the page's address while Alt is held.
    AddressBubble *address() const { return m_address; }
    // The ring around the control of the strip that has the keyboard focus.
    QWidget *focusRing() const { return m_focusRing; }
    // The offer to stop a page that does not respond, over the pane's top.
    StuckPageBar *stuckPageBar() const { return m_stuckPageBar; }
    IntervalTimer *Timer1 = nullptr;
    const PageDownloader Inet1;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void createControls();
    void nameControls();
    void layoutStrip();
    QSize frameRoom() const;
    int widestOnScreen() const;
    void placeOnScreen();
    bool restorePlace();
    void savePlace() const;
    void setTabOrder();
    void showFocus(QWidget *focus);
    void moveFocusBetweenParts(int step);
    void addShiftedAccessKey(QPushButton *button, Qt::Key key);
    void connectHandlers();

    void Form_Resize();
    void Command_dati_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Check1_Click();
    void Timer1_Timer();
    void WebBrowser1_NewWindow2();
    void dati(PassTrigger trigger = PassTrigger::User);
    void passWaiting();
    void passReported(const Quillory::PassReport &report);
    void passStarted();
    void passFinished();
    void showBusy(bool busy);
    void placeAddress();

    bool m_busy = false;
    QTimer m_busyAfter;
    QTimer m_waitingAfter; // a product page that is there at once is not worth a word
    StatusBubble *m_status = nullptr;
    AddressBubble *m_address = nullptr;
    QWidget *m_focusRing = nullptr;
    StuckPageBar *m_stuckPageBar = nullptr;
    QShortcut *m_cancelKey = nullptr;
    BrowserPage *m_page = nullptr;
    std::unique_ptr<DownloadManager> m_downloads;
    std::unique_ptr<ProductSource> m_productSource;
    std::unique_ptr<RenderedPageLoader> m_renderer;
    std::unique_ptr<ProductSource> m_renderedSource;
    std::unique_ptr<ProductPages> m_productPages;
    std::unique_ptr<AnsweringPass> m_pass;
    std::unique_ptr<AutoAnswer> m_autoAnswer;
    std::unique_ptr<CookieSync> m_cookieSync;
    QRectF m_paneTwips;
    QString m_geometryFile;
    bool m_placed = false; // sized and placed on its screen at the first show
};

} // namespace Quillory
