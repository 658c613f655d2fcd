#pragma once

#include "answer/intervaltimer.h"
#include "pagetext/pagedownloader.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWebEngineProfile;
class QWebEngineView;

namespace Quillory {

class AnsweringPass;
class BrowserPage;

// The browser pane's place for a window of the given outer size, frame and title bar included, all in
// twips. A step that would give a negative size is skipped: that size keeps its current value.
QRectF browserPaneLayout(QSizeF outerTwips, QRectF currentTwips);

// The one window: a strip of controls on top, the browser pane below.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int autoAnswerIntervalMs = 5000;
    static const QString promotionalLink;
    static const QString publisherSite;

    // `downloadLimits` are those of the page downloader `Inet1`: a 60-second request time-out by default.
    explicit Form1(DownloadLimits downloadLimits = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up: hands the promotional link to the default browser, then sends the pane home.
    void Form_Load();

    BrowserPage *page() const { return m_page; }
    AnsweringPass *answeringPass() const { return m_pass.get(); }

    QPushButton *Command_dati = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command3 = nullptr;
    QWebEngineView *WebBrowser1 = nullptr;
    IntervalTimer *Timer1 = nullptr;
    const PageDownloader Inet1;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void createControls();
    void setTabOrder();
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
    void dati();

    std::unique_ptr<QWebEngineProfile> m_profile;
    BrowserPage *m_page = nullptr;
    std::unique_ptr<AnsweringPass> m_pass;
    QRectF m_paneTwips;
};

} // namespace Quillory
