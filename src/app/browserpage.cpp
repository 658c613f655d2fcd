#include "browserpage.h"

#include "pageprotocol.h"
#include "platform.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineHistory>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

const QString pageScriptName = u"quillory-page"_s;

// The page script goes into every document of the profile before the page's own scripts run.
void installPageScript(QWebEngineProfile &profile)
{
    QWebEngineScriptCollection *scripts = profile.scripts();
    if (!scripts->find(pageScriptName).isEmpty())
        return;
    QWebEngineScript script;
    script.setName(pageScriptName);
    script.setSourceCode(PageProtocol::scriptSource());
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(false);
    scripts->insert(script);
}

// Where the pane may go: web pages, and what the engine makes of pages' own content.
bool isPaneScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == u"http"_s || scheme == u"https"_s || scheme == u"about"_s || scheme == u"data"_s ||
           scheme == u"blob"_s;
}

// The site a dialog comes from, for stopping a page's dialogs: its scheme, host and port.
QString siteOf(const QUrl &url)
{
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
        .toString();
}

// The engine asks whether to leave a page that has a beforeunload handler through the confirm call,
// with this question of its own (in the desktop's language once Qt's translations are loaded).
bool isLeaveQuestion(const QString &message)
{
    return message == QCoreApplication::translate("QWebEnginePage",
                                                  "Are you sure you want to leave this page? "
                                                  "Changes that you made may not be saved.");
}

} // namespace

void allowEngineAsRoot()
{
    if (Platform::runsAsSuperuser() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

BrowserPage::BrowserPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    installPageScript(*profile);
    // A scheme the engine does not know itself would go to the desktop after a click: never.
    settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);
    // Windows that scripts open without the user's action are blocked before they are made.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);

    // Leaving the request unanswered refuses the new window; the window decides where the pane goes,
    // and only when the user asked for it.
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest &request) {
        if (request.isUserInitiated())
            Q_EMIT newWindowRefused();
    });
    connect(this, &QWebEnginePage::renderProcessTerminated, this, &BrowserPage::rendererGone);
    connect(this, &QWebEnginePage::renderProcessPidChanged, this, [this](qint64 pid) {
        ++m_document;
        m_rendererLive = pid > 0;
    });
    connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl &url) {
        // Another document is shown: the one that held the pane is behind.
        ++m_document;
        m_leaving.reset();
        answeredAgain();
        if (siteOf(url) != m_dialogSite) { // another site: its dialogs start afresh
            m_dialogSite = siteOf(url);
            m_dialogsShown = 0;
            m_dialogsStopped = false;
        }
    });
}

BrowserPage::~BrowserPage()
{
    *m_alive = false;
}

bool BrowserPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (!isPaneScheme(url))
        return false; // smb:, mailto:, file:, made-up schemes: never to the desktop, in no frame
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void BrowserPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    runDialog(PageDialog::Kind::Alert, securityOrigin, msg, QString(), nullptr);
}

// Not the engine's own output on standard error: see PageConsole.
void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message,
                                           int lineNumber, const QString &sourceID)
{
    m_console.log(message, lineNumber, sourceID);
}

bool BrowserPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    // Where no dialog may be shown, "stay" would hold the pane on the page for good: Back, a click and
    // the page's own navigations would all be cancelled without a word. The user leaves. (A page that
    // asks the engine's own question through confirm() gets a yes it could have given itself.)
    if (isLeaveQuestion(msg) && !canShowDialog())
        return true;
    return runDialog(PageDialog::Kind::Confirm, securityOrigin, msg, QString(), nullptr);
}

bool BrowserPage::javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                                   const QString &defaultValue, QString *result)
{
    return runDialog(PageDialog::Kind::Prompt, securityOrigin, msg, defaultValue, result);
}

// The engine waits for the answer, so the dialog runs in a local event loop; the window keeps
// working meanwhile. A dialog the page may no longer show answers at once: no, nothing typed.
bool BrowserPage::runDialog(PageDialog::Kind kind, const QUrl &origin, const QString &message,
                            const QString &defaultText, QString *text)
{
    if (m_leaving && m_leaving->document == m_document) {
        dialogWhileLeaving();
        return false;
    }
    if (!canShowDialog())
        return false;
    QWebEngineView *view = QWebEngineView::forPage(this);
    ++m_dialogsShown;
    m_dialog = new PageDialog(kind, origin, message, defaultText, m_dialogsShown > 1,
                              view ? view->window() : nullptr);
    QEventLoop wait;
    connect(m_dialog, &QDialog::finished, &wait, &QEventLoop::quit);
    connect(this, &QWebEnginePage::loadStarted, &wait, &QEventLoop::quit); // leaving the page ends it
    m_dialog->show();
    Q_EMIT dialogShown(m_dialog);
    wait.exec();
    ++m_dialogsEnded;
    bool accepted = false;
    if (m_dialog) {
        accepted = m_dialog->result() == QDialog::Accepted;
        m_dialogsStopped = m_dialog->stopAsked();
        if (accepted && text)
            *text = m_dialog->text();
        delete m_dialog;
    }
    return accepted && !m_closing;
}

bool BrowserPage::canShowDialog() const
{
    return !m_closing && !m_dialogsStopped && !m_dialog;
}

void BrowserPage::closeDialogs()
{
    m_closing = true;
    if (m_dialog)
        m_dialog->reject();
}

QString BrowserPage::currentUrl() const
{
    return url().toString();
}

void BrowserPage::navigate(const QUrl &url)
{
    load(url);
}

void BrowserPage::readPage(const PageReadRequest &request, QObject *context,
                           std::function<void(const PageSnapshot &)> done)
{
    // Before the first navigation the engine holds a blank placeholder document: nothing is loaded yet.
    if (url().isEmpty()) {
        QTimer::singleShot(0, context, [done = std::move(done)] { done(PageSnapshot()); });
        return;
    }
    runPageCall(PageProtocol::readCall(request, m_piecesOnly), context,
                [scope = request.scope, done = std::move(done)](const ScriptAnswer &answer) {
                    PageSnapshot snapshot = PageProtocol::readReply(answer.result, scope);
                    snapshot.notResponding = !answer.answered;
                    done(snapshot);
                });
}

void BrowserPage::writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                             FieldWriteRule rule, QObject *context, std::function<void(FieldWrite)> done)
{
    runPageCall(
        PageProtocol::writeFieldCall(documentToken, fieldName, value, rule == FieldWriteRule::KeepUserEdit),
        context, [done = std::move(done)](const ScriptAnswer &answer) {
            done(PageProtocol::writeFieldReply(answer.result));
        });
}

void BrowserPage::keepRead(const ReadToKeep &keep, QObject *context, std::function<void(bool)> done)
{
    runPageCall(PageProtocol::keepReadCall(keep), context,
                [done = std::move(done)](const ScriptAnswer &answer) {
                    done(PageProtocol::keepReadReply(answer.result));
                });
}

void BrowserPage::readFocusedLinkTarget(QObject *context, std::function<void(const QString &)> done)
{
    runPageCall(PageProtocol::focusedLinkCall(), context,
                [done = std::move(done)](const ScriptAnswer &answer) {
                    done(PageProtocol::focusedLinkReply(answer.result));
                });
}

// A document the engine made without the page script gets it first, then the call again.
void BrowserPage::runPageCall(const QString &call, QObject *context, ScriptDone done)
{
    runScript(call, context,
              [this, call, context = QPointer<QObject>(context), done](const ScriptAnswer &answer) {
                  if (answer.answered && PageProtocol::isNotInstalled(answer.result))
                      runScript(PageProtocol::scriptSource() + u";\n"_s + call, context, done);
                  else
                      done(answer);
              });
}

void BrowserPage::runScript(const QString &source, QObject *context, ScriptDone done)
{
    // Exactly one answer per call, never after the caller's context (or this page) is gone: the
    // script's result, or none once the page's renderer is gone or the document the call went to is.
    // A slow page is not a stuck one: past the answer time-out the page is offered for stopping, and
    // the call goes on waiting for its result.
    const quint64 id = ++m_lastCall;
    auto settled = std::make_shared<bool>(false);
    // The engine answers pending calls while it destroys the page too, after this class is gone.
    auto settle = [settled, id, guard = QPointer<QObject>(context), alive = m_alive, this,
                   done = std::move(done)](const ScriptAnswer &answer) {
        if (*settled || !*alive)
            return;
        *settled = true;
        m_unanswered.erase(id);
        if (guard)
            done(answer);
    };
    m_unanswered.emplace(id, [settle] { settle(ScriptAnswer()); });

    auto *overdue = new QTimer(context);
    auto probing = std::make_shared<bool>(false);
    auto dialogsSeen = std::make_shared<quint64>(m_dialogsEnded);
    connect(overdue, &QTimer::timeout, this,
            [this, overdue, settled, settle, probing, dialogsSeen, document = m_document] {
                if (*settled) {
                    overdue->deleteLater();
                    return;
                }
                if (m_dialog)
                    return; // a page that shows a dialog waits for the user, and so does the call
                // Once its dialog is answered, the page gets a whole answer time-out to answer.
                if (std::exchange(*dialogsSeen, m_dialogsEnded) != m_dialogsEnded)
                    return;
                leftUnanswered(document);
                if (std::exchange(*probing, true))
                    return;
                // The engine runs a page's calls in the order they were made. A call made now that is
                // answered before the overdue one shows that the document the overdue one went to is gone
                // (the pane has committed another), not that the page is busy: it will never be answered.
                runJavaScript(u"0"_s, QWebEngineScript::ApplicationWorld,
                              [settle, probing, alive = m_alive, this](const QVariant &) {
                                  *probing = false;
                                  if (*alive)
                                      answeredAgain();
                                  settle(ScriptAnswer());
                              });
            });
    overdue->start(m_answerTimeout);
    runJavaScript(
        source, QWebEngineScript::ApplicationWorld,
        [settle, overdue = QPointer<QTimer>(overdue), alive = m_alive, this](const QVariant &result) {
            if (overdue)
                overdue->deleteLater();
            if (*alive)
                answeredAgain();
            settle(ScriptAnswer{result, true});
        });
}

void BrowserPage::leftUnanswered(quint64 document)
{
    if (document != m_document)
        return; // the pane has left the document since: its silence says nothing of the page shown
    m_responding = false;
    Q_EMIT notResponding();
    // Back waits for the page's word only as long as it would wait for a page that responds.
    if (std::exchange(m_backAsked, false))
        stopThenGoBack();
    else if (m_leaving && m_leaving->asking && !m_leaving->stopping && m_leaving->document == document)
        stopToLeave(); // it stopped answering while Back leaves it from its dialog
}

void BrowserPage::answeredAgain()
{
    if (m_responding)
        return;
    m_responding = true;
    Q_EMIT respondingAgain();
}

// Calls into a renderer that is gone get no answer: each is told so now.
void BrowserPage::settleUnanswered()
{
    auto unanswered = std::exchange(m_unanswered, {});
    for (auto &[id, settle] : unanswered)
        settle();
}

bool BrowserPage::stopPage()
{
    const qint64 pid = renderProcessPid();
    if (!m_rendererLive || pid <= 0 || pid == QCoreApplication::applicationPid())
        return false;
    // A renderer held by a script takes no request to stop: only the end of its process frees the pane.
    // The engine sees it end, says so (renderProcessTerminated), and starts a new one when needed.
    if (!Platform::killProcess(pid))
        return false;
    m_stopAsked = true;
    return true;
}

void BrowserPage::rendererGone()
{
    if (m_leaving && m_leaving->stopping && m_leaving->document == m_document &&
        m_leaving->backItem.isValid())
        history()->goToItem(m_leaving->backItem);
    m_leaving.reset();
    // The engine may go on naming the ended process until it starts another: a renderer that is gone is
    // neither stopped nor asked again, and the pane goes back at once.
    m_rendererLive = false;
    ++m_document;
    answeredAgain(); // nothing is left to wait for
    settleUnanswered();
    const bool back = std::exchange(m_backAfterStop, false) || std::exchange(m_backAsked, false);
    if (std::exchange(m_stopAsked, false))
        Q_EMIT pageStopped();
    if (back)
        triggerAction(Back);
}

void BrowserPage::goBack()
{
    if (m_dialog) {
        leaveFromDialog();
        return;
    }
    if (!m_rendererLive || renderProcessPid() <= 0) {
        triggerAction(Back); // nothing in the page can hold the pane
        return;
    }
    if (!m_responding) {
        stopThenGoBack();
        return;
    }
    if (m_backAsked)
        return; // the page's answer to the last Back is on its way
    m_backAsked = true;
    runScript(u"0"_s, this, [this](const ScriptAnswer &) {
        if (std::exchange(m_backAsked, false))
            triggerAction(Back);
    });
}

// The dialog that is up is answered as its Cancel answers, and the pane goes back once the page has
// taken the answer; the page's dialogs from then on are answered at once, unseen. A page may meet the
// answer with another dialog at once, and so on without end: its renderer attends to nothing else
// meanwhile, so that a navigation would never commit. Such a page, and one that stops answering while
// it is left, has its renderer ended, after which the pane goes to the entry Back was asked for (the
// engine drops a navigation that waited on the renderer it ended).
void BrowserPage::leaveFromDialog()
{
    m_leaving = Leaving{m_document, history()->backItem()};
    m_dialog->reject();
    askWhileLeaving();
}

void BrowserPage::askWhileLeaving()
{
    m_leaving->asking = true;
    runScript(u"0"_s, this, [this, document = m_leaving->document](const ScriptAnswer &answer) {
        if (!m_leaving || m_leaving->document != document || m_leaving->stopping)
            return; // left already, or on its way out
        m_leaving->asking = false;
        if (!answer.answered) {
            stopToLeave();
        } else if (!m_leaving->backAsked) {
            m_leaving->backAsked = true;
            triggerAction(Back);
        }
    });
}

// A dialog of the document that Back leaves.
void BrowserPage::dialogWhileLeaving()
{
    if (m_leaving->stopping)
        return;
    if (!m_leaving->backAsked)
        stopToLeave(); // it asks again before it has taken the answer: its dialogs hold its renderer
    else if (!m_leaving->asking)
        askWhileLeaving(); // whether it still lets the navigation in between its dialogs
}

void BrowserPage::stopToLeave()
{
    m_leaving->stopping = stopPage();
    if (!m_leaving->stopping && !m_leaving->backAsked) { // nothing to end: the renderer is this process
        m_leaving->backAsked = true;
        triggerAction(Back);
    }
}

// Back waits for the renderer's end: a navigation asked for before it would wait on the stuck page.
void BrowserPage::stopThenGoBack()
{
    m_backAfterStop = stopPage();
    if (!m_backAfterStop)
        triggerAction(Back);
}

} // namespace Quillory
