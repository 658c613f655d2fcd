#include "answeringpass.h"

#include "attributelookup.h"
#include "pagetext/documenttext.h"
#include "pagetext/pagedownloader.h"
#include "passrules.h"
#include "trialsite.h"

#include <QElapsedTimer>
#include <QThread>

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
    Q_EMIT started();
    if (!isTrialItemPage(m_pane.currentUrl())) {
        finish();
        return;
    }
    m_pane.readPage({.part = ElementPart::InnerHtml, .scope = m_scope, .withLinks = true}, this,
                    [this](const PageSnapshot &page) { answerFromPage(page); });
}

void AnsweringPass::answerFromPage(const PageSnapshot &page)
{
    const QString documentText = page.hasDocument ? joinDocumentParts(page.elementParts) : QString();
    const QString productUrl = answerPageLink(page.links);
    const QuestionCut question = cutQuestion(documentText);
    if (question.needsLookup)
        lookUpInWorker(productUrl, question.answerText, page.documentToken);
    else
        deliver(question.answerText, page.documentToken);
}

// The download may take up to the downloader's limits; the window keeps running meanwhile.
void AnsweringPass::lookUpInWorker(const QString &productUrl, const QString &attribute,
                                   const QString &documentToken)
{
    m_stop = std::stop_source();
    m_worker = QThread::create([this, productUrl, attribute, documentToken, stop = m_stop.get_token()] {
        QElapsedTimer clock;
        clock.start();
        QString answer = attribute;
        chasuxing(m_downloader, productUrl, answer, stop);
        const qint64 elapsed = clock.elapsed();
        if (stop.stop_requested())
            return;
        QMetaObject::invokeMethod(
            this,
            [this, answer, documentToken, elapsed] {
                m_lastDownloadMs = elapsed;
                stopWorker();
                deliver(answer, documentToken);
            },
            Qt::QueuedConnection);
    });
    m_worker->start();
}

void AnsweringPass::deliver(const QString &answer, const QString &documentToken)
{
    Q_EMIT answerReady(answer);
    // The field is written only in the document the question was read from. The writes are queued in
    // order on the page, so the pass can end without waiting for this one to report back.
    if (!documentToken.isEmpty())
        m_pane.writeField(documentToken, TrialSite::answerFieldName, answer, this,
                          [this](bool written) { Q_EMIT fieldWritten(written); });
    finish();
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
    delete m_worker;
    m_worker = nullptr;
}

} // namespace Quillory
