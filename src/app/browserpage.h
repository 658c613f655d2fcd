#pragma once

#include "pageconsole.h"
#include "pagedialog.h"
#include "pagetext/browserpane.h"

#include <QPointer>
#include <QVariant>
#include <QWebEngineHistoryItem>
#include <QWebEnginePage>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QWebEngineNewWindowRequest;

namespace Quillory {

// The engine's sandbox cannot start as root, and the engine then refuses to run at all. As root, and
// only then, this lets it run without the sandbox; any other user keeps it. Call it before the
// application object is made.
void allowEngineAsRoot();

// The page shown in the window's browser pane. It owns every script the window runs in a page and
// runs them all in the application's own script world (pageprotocol.h).
//
// What a page may do to the desktop and the window is decided here: the pane navigates to web pages
// only (http and https, and the engine's own about:, data: and blob: for what pages embed), never
// hands a link to a desktop handler, opens a new window only when the user asked for it, and shows
// the page's alert, confirm and prompt without blocking the window (pagedialog.h).
//
// A page whose scripts hold its renderer (a loop that never yields) answers no script call and commits
// no navigation within its own site; only a navigation to another site leaves it. A call into the page
// that is not answered within the answer time-out makes the page count as not responding (the window
// offers to stop it), but the call goes on waiting: a slow page is not a stuck one. It ends when the
// page answers, when the document it went to is gone, or when the page is stopped: its renderer is
// ended, and the next navigation starts a new one.
class BrowserPage final : public QWebEnginePage, public BrowserPane
{
    Q_OBJECT

public:
    explicit BrowserPage(QWebEngineProfile *profile, QObject *parent = nullptr);
    ~BrowserPage() override;

    // How long a call into the page may go unanswered before the page counts as not responding. A page
    // that shows one of its dialogs waits for the user, not stuck: it never counts while a dialog is up.
    void setAnswerTimeout(std::chrono::milliseconds timeout) { m_answerTimeout = timeout; }
    // False from a call the page left unanswered until the page answers again or its renderer is gone.
    bool isResponding() const { return m_responding; }
    // Ends the page's renderer, the one way to stop a script that never yields. The pane shows nothing
    // of the page afterwards; Back and any navigation start a new renderer. False when the page has no
    // renderer process of its own (the engine runs in this process, or has none for it now).
    bool stopPage();
    // Back as the user asks for it: the page is asked whether it responds first, and one that does not
    // is stopped before the pane goes back, since it would never let the pane leave for a page of its
    // own site. While a dialog of the page is up, Back answers it and leaves, whatever the page does
    // when answered (see leaveFromDialog()).
    void goBack();

    // BrowserPane
    QString currentUrl() const override;
    void navigate(const QUrl &url) override;
    void readPage(const PageReadRequest &request, QObject *context,
                  std::function<void(const PageSnapshot &)> done) override;
    void writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                    FieldWriteRule rule, QObject *context, std::function<void(FieldWrite)> done) override;

    void keepRead(const ReadToKeep &keep, QObject *context, std::function<void(bool)> done) override;

    // Markup with every piece but the names serialized by the engine, never by the page script's own
    // serializer, as if the two had disagreed. Tests compare the two ways.
    void setPiecesOnly(bool piecesOnly) { m_piecesOnly = piecesOnly; }

    // The link target of the focused element of the top-level document, "" when it has none.
    void readFocusedLinkTarget(QObject *context, std::function<void(const QString &)> done);

    // The window is closing: the dialog that is up goes, and no other is shown.
    void closeDialogs();

Q_SIGNALS:
    // The user asked for a new window (a link with a new-window target, say); the request itself has
    // been refused. Requests the user did not make are dropped without a word.
    void newWindowRefused();
    // A dialog of the page was shown.
    void dialogShown(Quillory::PageDialog *dialog);
    // A call into the page went unanswered for the answer time-out: the page does not respond. Sent again
    // for each further time-out the call waits, so that an offer the user put off comes again.
    void notResponding();
    // The page answered again after not responding, or the renderer that held it is gone.
    void respondingAgain();
    // stopPage ended the page's renderer.
    void pageStopped();

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    // What became of one call into the page: the script's result, or none (the page was stopped or left).
    struct ScriptAnswer
    {
        QVariant result;
        bool answered = false;
    };
    using ScriptDone = std::function<void(const ScriptAnswer &)>;

    bool canShowDialog() const;
    bool runDialog(PageDialog::Kind kind, const QUrl &origin, const QString &message,
                   const QString &defaultText, QString *text);
    void runPageCall(const QString &call, QObject *context, ScriptDone done);
    void runScript(const QString &source, QObject *context, ScriptDone done);
    void leftUnanswered(quint64 document);
    void answeredAgain();
    void rendererGone();
    void settleUnanswered();
    void stopThenGoBack();
    void leaveFromDialog();
    void askWhileLeaving();
    void dialogWhileLeaving();
    void stopToLeave();

    bool m_piecesOnly = false;

    // Whether the page responds: the answer time-out, the state, which document and renderer the pane
    // shows (a call into one the pane has left may go unanswered without the page being stuck), and a
    // Back that waits for the page's answer or for its renderer to end.
    std::chrono::milliseconds m_answerTimeout{std::chrono::seconds(5)};
    bool m_responding = true;
    quint64 m_document = 0;
    bool m_backAsked = false;
    bool m_backAfterStop = false;
    bool m_stopAsked = false;
    bool m_rendererLive = true;
    // The calls not answered yet, each with the way to settle it unanswered.
    std::map<quint64, std::function<void()>> m_unanswered;
    quint64 m_lastCall = 0;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true); // false from the destructor on

    // Dialogs: the one that is up, how many the page's site has shown, whether the user stopped them.
    QPointer<PageDialog> m_dialog;
    QString m_dialogSite;
    int m_dialogsShown = 0;
    quint64 m_dialogsEnded = 0; // dialogs answered or gone: the overdue calls count afresh after each
    bool m_dialogsStopped = false;
    // Back asked while a dialog of this document was up: where it goes, whether the page is being asked
    // whether it answers, whether the navigation has been asked for, and whether the page's renderer is
    // being ended for it.
    struct Leaving
    {
        quint64 document = 0;
        QWebEngineHistoryItem backItem;
        bool asking = false;
        bool backAsked = false;
        bool stopping = false;
    };
    std::optional<Leaving> m_leaving;
    bool m_closing = false;
    PageConsole m_console;
};

} // namespace Quillory
