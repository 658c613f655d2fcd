#include "answeringpass.h"

#include "attributelookup.h"
#include "pagetext/documenttext.h"
#include "pagetext/pagedownloader.h"
#include "pagetext/weburl.h"
#include "passrules.h"
#include "trialsite.h"

#include <QElapsedTimer>
#include <QUrl>

namespace Quillory {

AnsweringPass::AnsweringPass(BrowserPane &pane, const PageDownloader &downloader, QObject *parent)
    : QObject(parent), m_pane(pane), m_downloader(downloader)
{}

AnsweringPass::~AnsweringPass()
{
    stopWorker();
}

void AnsweringPass::request()
{
    if (m_running) {
        m_queued = true;
        return;
    }
    run();
}

void AnsweringPass::run()
{
    m_running = true;
    m_report = PassReport();
    m_report.timings.started = timeMarkNs();
    Q_EMIT started();
    m_report.pageUrl = m_pane.currentUrl();
    m_report.trialItemPage = isTrialItemPage(m_report.pageUrl);
    if (!m_report.trialItemPage) {
        report(m_report);
        finish();
        return;
    }
    PageReadRequest read;
    read.part = ElementPart::InnerHtml;
    read.scope = m_scope;
    read.withLinks = true;
    read.requiredText = TrialSite::questionMarker; // without it the answer is fixed: no text to move
    readDocumentText(m_pane, read, this, [this](const PageSnapshot &page, const QString &documentText) {
        answerFromPage(page, documentText);
    });
}

void AnsweringPass::answerFromPage(const PageSnapshot &page, const QString &documentText)
{
    m_report.timings.readAnswered = page.answeredNs;
    m_report.timings.snapshotMade = page.madeNs;
    m_report.timings.textReady = timeMarkNs();
    m_report.answerLink = answerPageLink(page.links);
    const QuestionCut question = cutQuestion(documentText);
    m_report.timings.questionCut = timeMarkNs();
    m_report.question = question.needsLookup;
    if (!question.needsLookup) {
        deliver(question.answerText, page.documentToken);
        return;
    }
    m_report.attribute = question.answerText;
    if (m_report.answerLink.isEmpty()) {
        // Nothing to download: the lookup of an empty page, at once.
        QString answer = question.answerText;
        AnswerSource source;
        lookUpAttribute(QString(), answer, &source);
        m_report.source = source;
        deliver(answer, page.documentToken);
        return;
    }
    lookUpInWorker(question.answerText, page.documentToken);
}

// The download may take up to the downloader's limits; the window keeps running meanwhile.
void AnsweringPass::lookUpInWorker(const QString &attribute, const QString &documentToken)
{
    m_stop = std::stop_source();
    DownloadRequest request;
    request.url = QUrl(m_report.answerLink);
    // A page from the internet may not send the download into this machine or the user's network.
    request.privateNetworkAllowed = isPrivateNetworkHost(QUrl(m_report.pageUrl));
    m_report.timings.pageAsked = timeMarkNs();
    m_worker.reset(QThread::create([this, request, attribute, documentToken, stop = m_stop.get_token()] {
        const qint64 downloadStarted = timeMarkNs();
        QElapsedTimer clock;
        clock.start();
        // The product page is the lookup's page only when it downloaded whole: anything else is an
        // empty page, which gives the no-table text.
        const DownloadResult page = m_downloader.fetch(request, stop);
        const PassReport::Download download = downloadReport(page, clock.elapsed());
        const qint64 downloaded = timeMarkNs();
        QString answer = attribute;
        AnswerSource source;
        lookUpAttribute(page.ok() ? page.text : QString(), answer, &source);
        const qint64 lookedUp = timeMarkNs();
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, answer, documentToken, download, source, downloadStarted, downloaded, lookedUp] {
                m_report.timings.downloadStarted = downloadStarted;
                m_report.timings.downloaded = downloaded;
                m_report.timings.lookedUp = lookedUp;
                m_report.timings.pageReady = timeMarkNs();
                m_lastDownloadMs = download.elapsedMs;
                m_report.download = download;
                m_report.source = source;
                stopWorker();
                deliver(answer, documentToken);
            },
            Qt::QueuedConnection);
    }));
    m_worker->start();
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
        m_pane.writeField(documentToken, TrialSite::answerFieldName, answer, this,
                          [this, passReport = m_report](FieldWrite result) mutable {
                              passReport.field = result;
                              passReport.timings.fieldWritten = timeMarkNs();
                              report(passReport);
                              Q_EMIT fieldWritten(result);
                          });
    }
    finish();
}

void AnsweringPass::report(PassReport passReport)
{
    qCInfo(lcPass).noquote() << describePass(passReport);
    Q_EMIT reported(passReport);
}

void AnsweringPass::finish()
{
    m_running = false;
    Q_EMIT finished();
    if (m_queued && !m_running) {
        m_queued = false;
        run();
    }
}

void AnsweringPass::stopWorker()
{
    if (!m_worker)
        return;
    m_stop.request_stop();
    m_worker->wait();
    m_worker.reset();
}

} // namespace Quillory
