#include "answeringpass.h"

#include "attributelookup.h"
#include "pagetext/documenttext.h"
#include "pagetext/pagedownloader.h"
#include "pagetext/weburl.h"
#include "passrules.h"
#include "trialsite.h"

#include <QUrl>

namespace Quillory {

AnsweringPass::AnsweringPass(BrowserPane &pane, ProductPages &productPages, QObject *parent)
    : QObject(parent), m_pane(pane), m_productPages(productPages), m_questionAhead(pane)
{}

void AnsweringPass::request(PassTrigger trigger)
{
    if (m_running) {
        m_queuedTrigger = m_queued && m_queuedTrigger == PassTrigger::User ? PassTrigger::User : trigger;
        m_queued = true;
        return;
    }
    run(trigger);
}

void AnsweringPass::cancel()
{
    if (!m_waiting)
        return;
    m_waiting = false;
    m_queued = false;
    ++m_pass; // the product page's answer, when it comes, is for nobody
    m_report.cancelled = true;
    report(m_report);
    finish();
}

void AnsweringPass::run(PassTrigger trigger)
{
    ++m_pass;
    m_running = true;
    m_trigger = trigger;
    m_writeRule = trigger == PassTrigger::Timer ? FieldWriteRule::KeepUserEdit : FieldWriteRule::Always;
    m_report = PassReport();
    m_trace = PassTrace();
    m_trace.mark(PassPhase::Started);
    Q_EMIT started();
    m_report.pageUrl = m_pane.currentUrl();
    // The user may answer on any page that looks like a trial item page; the timer only on the trial
    // site's own.
    m_report.trialItemPage = trigger == PassTrigger::User ? isTrialItemPage(m_report.pageUrl)
                                                          : isTrialSiteItemPage(m_report.pageUrl);
    if (!m_report.trialItemPage) {
        report(m_report);
        finish();
        return;
    }
    PageReadRequest read;
    read.part = ElementPart::InnerHtml;
    read.scope = m_scope;
    read.withLinks = true;
    if (m_scope == ElementScope::RootOnly)
        read.kept = m_questionAhead.keptRead();
    readDocumentText(m_pane, read, this, [this](const PageSnapshot &page, const QString &documentText) {
        answerFromPage(page, documentText);
    });
}

void AnsweringPass::answerFromPage(const PageSnapshot &page, const QString &documentText)
{
    // A page that does not answer has no question to give: the answer box keeps what it shows.
    if (page.notResponding) {
        m_report.pageNotResponding = true;
        report(m_report);
        finish();
        return;
    }
    m_trace.mark(PassPhase::PageRead);
    m_report.answerLink = answerPageLink(page.links);
    m_report.pageRead = pageReadOf(page);
    const QuestionCut question = page.kept() ? m_questionAhead.keptCut() : cutQuestion(documentText);
    if (!page.kept())
        m_questionAhead.keep(page, question);
    m_trace.mark(PassPhase::QuestionCut);
    m_report.question = question.needsLookup;
    if (!question.needsLookup) {
        deliver(question.answerText, page.documentToken);
        return;
    }
    m_report.attribute = question.answerText;
    if (m_report.answerLink.isEmpty()) {
        answerFromProductPage(QString(), PageForm::Served, question.answerText,
                              page.documentToken); // nothing to download
        return;
    }
    lookUp(question.answerText, page.documentToken);
}

// The download may take up to the downloader's limits; the window keeps running meanwhile.
void AnsweringPass::lookUp(const QString &attribute, const QString &documentToken)
{
    m_waiting = true;
    Q_EMIT waitingForProductPage();
    m_productPages.get(
        documentToken, productRequest(m_report.answerLink, m_report.pageUrl, m_trigger == PassTrigger::User),
        attribute, this, [this, attribute, documentToken, pass = m_pass](const ProductPages::Page &page) {
            if (pass != m_pass)
                return;
            m_waiting = false;
            m_trace.mark(PassPhase::ProductPage);
            m_trace.downloadMs = page.origin == ProductPages::Origin::New ? page.elapsedMs : 0;
            PassReport::Download download = downloadReport(page.result, page.bodyBytes, page.elapsedMs);
            download.origin = page.origin;
            download.rendered = page.rendered;
            m_report.download = download;
            // The product page is the lookup's page only when it downloaded whole: anything
            // else is an empty page, which gives the no-table text.
            answerFromProductPage(page.result.ok() ? page.result.text : QString(),
                                  page.rendered ? PageForm::Rendered : PageForm::Served, attribute,
                                  documentToken);
        });
}

void AnsweringPass::answerFromProductPage(const QString &pageText, PageForm form, const QString &attribute,
                                          const QString &documentToken)
{
    QString answer = attribute;
    AnswerSource source;
    lookUpAttribute(pageText, answer, &source, form);
    m_report.source = source;
    m_trace.mark(PassPhase::LookedUp);
    deliver(answer, documentToken);
}

DownloadRequest AnsweringPass::productRequest(const QString &answerLink, const QString &trialPageUrl,
                                              bool userActivated)
{
    DownloadRequest request;
    request.url = QUrl(answerLink);
    request.initiator = QUrl(trialPageUrl);
    request.userActivated = userActivated;
    // A page from the internet may not send the download into this machine or the user's network.
    request.privateNetworkAllowed = isPrivateNetworkHost(QUrl(trialPageUrl));
    return request;
}

void AnsweringPass::pageLoaded()
{
    const QString url = m_pane.currentUrl();
    if (!isTrialItemPage(url))
        return;
    m_questionAhead.pageLoaded();
    if (!isTrialSiteItemPage(url))
        return; // nobody asked: no download from a page of another site
    // The links, and whether there is a question at all: without one no page is downloaded.
    PageReadRequest read;
    read.withLinks = true;
    read.requiredText = TrialSite::questionMarker;
    m_pane.readPage(read, this, [this, url](const PageSnapshot &page) {
        const QString link = answerPageLink(page.links);
        const PageProbe *probe = page.probe();
        const bool holdsQuestion = probe && probe->holdsRequiredText.value_or(false);
        if (holdsQuestion && !link.isEmpty() && m_pane.currentUrl() == url)
            m_productPages.prepare(page.documentToken, productRequest(link, url, false));
    });
}

void AnsweringPass::pageLeft()
{
    m_questionAhead.pageLeft();
    m_productPages.leave();
}

void AnsweringPass::deliver(const QString &answer, const QString &documentToken)
{
    m_report.answer = answer;
    Q_EMIT answerReady(answer);
    // The field is written only in the document the question was read from. The writes are queued in
    // order on the page, so the pass can end without waiting for this one to report back.
    if (documentToken.isEmpty()) {
        m_report.field = FieldWrite::NoDocument;
        report(m_report);
    } else {
        m_pane.writeField(documentToken, TrialSite::answerFieldName, answer, m_writeRule, this,
                          [this, passReport = m_report, trace = m_trace](FieldWrite result) mutable {
                              passReport.field = result;
                              trace.mark(PassPhase::FieldWritten);
                              report(passReport, trace);
                              Q_EMIT fieldWritten(result);
                          });
    }
    finish();
}

void AnsweringPass::report(const PassReport &passReport)
{
    report(passReport, m_trace);
}

void AnsweringPass::report(const PassReport &passReport, const PassTrace &trace)
{
    qCInfo(lcPass).noquote() << describePass(passReport);
    qCDebug(lcPassTrace).noquote() << trace.describe();
    Q_EMIT traced(trace);
    Q_EMIT reported(passReport);
}

void AnsweringPass::finish()
{
    m_running = false;
    Q_EMIT finished();
    if (m_queued && !m_running) {
        m_queued = false;
        run(m_queuedTrigger);
    }
}

} // namespace Quillory
