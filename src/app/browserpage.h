#pragma once

#include "pageconsole.h"
#include "pagedialog.h"
#include "pagetext/browserpane.h"

#include <QPointer>
#include <QVariant>
#include <QWebEnginePage>

#include <functional>

class QWebEngineNewWindowRequest;

namespace Quillory {

// The engine's sandbox cannot start as root, and the engine then refuses to run at all. As root, and
// only then, this lets it run without the sandbox; any other user keeps it. Call it before the
// application object is made.
void allowEngineAsRoot();

// The page shown in the window's browser pane. It owns every script the window runs in a page and
// runs them all in the application's own script world (pagescripts.h).
//
// What a page may do to the desktop and the window is decided here: the pane navigates to web pages
// only (http and https, and the engine's own about:, data: and blob: for what pages embed), never
// hands a link to a desktop handler, opens a new window only when the user asked for it, and shows
// the page's alert, confirm and prompt without blocking the window (pagedialog.h).
class BrowserPage final : public QWebEnginePage, public BrowserPane
{
    Q_OBJECT

public:
    explicit BrowserPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // A script whose answer has not come back by then is taken as a failed read, so no caller waits
    // forever on a page that went away under it.
    static constexpr int scriptAnswerTimeoutMs = 30000;

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

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg, const QString &defaultValue,
                          QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;

private:
    bool canShowDialog() const;
    bool runDialog(PageDialog::Kind kind, const QUrl &origin, const QString &message,
                   const QString &defaultText, QString *text);
    void runPageCall(const QString &call, QObject *context, std::function<void(const QVariant &)> done);
    void runScript(const QString &source, QObject *context, std::function<void(const QVariant &)> done);

    bool m_piecesOnly = false;

    // Dialogs: the one that is up, how many the page's site has shown, whether the user stopped them.
    QPointer<PageDialog> m_dialog;
    QString m_dialogSite;
    int m_dialogsShown = 0;
    bool m_dialogsStopped = false;
    bool m_closing = false;
    PageConsole m_console;
};

} // namespace Quillory
