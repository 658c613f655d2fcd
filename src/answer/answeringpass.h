#pragma once

#include "pagetext/browserpane.h"
#include "passreport.h"
#include "passtrace.h"
#include "productpages.h"
#include "questionahead.h"

#include <QObject>
#include <QString>

namespace Quillory {

// Who started a pass: the user (a key, the button), or auto-answer's timer, which nobody asked for at
// that moment.
enum class PassTrigger
{
    User,
    Timer,
};

// One answering pass on the asynchronous engine: read the URL; on a trial item page read the document
// text and the links in one go, cut the question attribute, look it up on the product page (which
// ProductPages may have downloaded already), then hand the answer to the window and write it into the
// page it was read from. Each pass writes one line about what it did to the log (passreport.h).
// One pass at a time: a request that arrives during a pass is remembered once and run after it.
class AnsweringPass final : public QObject
{
    Q_OBJECT

public:
    AnsweringPass(BrowserPane &pane, ProductPages &productPages, QObject *parent = nullptr);

    bool isRunning() const { return m_running; }

    // Starts a pass, or, while one runs, makes sure exactly one more follows it. A pass the user asked
    // for writes the field whatever it holds; one the timer started leaves the user's typing there.
    void request(PassTrigger trigger = PassTrigger::User);
    // Stops a pass that waits for its product page: it writes nothing, the field stays as it is, and
    // the pass put off behind it is forgotten. Does nothing at any other time.
    void cancel();
    bool isWaiting() const { return m_waiting; }
    // Forgets a pass that `request` put off; the one under way runs to its end.
    void dropQueued() { m_queued = false; }

    // The pane has loaded a page: on a trial item page with a question, its product page is
    // downloaded ahead of the first pass.
    void pageLoaded();
    // The pane is leaving the page it showed.
    void pageLeft();

    // The question cut ahead of the key on the page shown.
    QuestionAhead &questionAhead() { return m_questionAhead; }

    // Which elements the document text is built from. The root element's part holds the first
    // occurrence of every marker the whole text holds, so the default reads only that.
    void setElementScope(ElementScope scope) { m_scope = scope; }

Q_SIGNALS:
    void started();
    // The pass waits for its product page (until `finished`); `cancel` can stop it now.
    void waitingForProductPage();
    void answerReady(const QString &answer);
    void finished();
    // The page reported back on writing the answer field (after `finished`).
    void fieldWritten(Quillory::FieldWrite result);
    // What the pass did, once per pass, when the last of it is known (also written to the log).
    void reported(const Quillory::PassReport &report);
    // How long each phase of that pass took, just before `reported` (passtrace.h).
    void traced(const Quillory::PassTrace &trace);

private:
    void run(PassTrigger trigger);
    void answerFromPage(const PageSnapshot &page, const QString &documentText);
    void lookUp(const QString &attribute, const QString &documentToken);
    void answerFromProductPage(const QString &pageText, PageForm form, const QString &attribute,
                               const QString &documentToken);
    void deliver(const QString &answer, const QString &documentToken);
    void report(const PassReport &report);
    void report(const PassReport &report, const PassTrace &trace);
    void finish();
    static DownloadRequest productRequest(const QString &answerLink, const QString &trialPageUrl,
                                          bool userActivated);

    BrowserPane &m_pane;
    ProductPages &m_productPages;
    QuestionAhead m_questionAhead;
    ElementScope m_scope = ElementScope::RootOnly;
    bool m_running = false;
    bool m_queued = false;
    bool m_waiting = false;
    // A later request by the user outweighs the timer's: the pass that follows is the user's.
    PassTrigger m_queuedTrigger = PassTrigger::Timer;
    PassTrigger m_trigger = PassTrigger::User;           // of the pass under way
    FieldWriteRule m_writeRule = FieldWriteRule::Always; // of the pass under way
    quint64 m_pass = 0;  // counts the passes: an answer for a cancelled one finds a later count
    PassReport m_report; // of the pass under way
    PassTrace m_trace;
};

} // namespace Quillory
