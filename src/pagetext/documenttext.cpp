#include "documenttext.h"

#include "tagnamecase.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <utility>

namespace Quillory {

QString joinDocumentParts(const QList<std::optional<QString>> &parts)
{
    // The document text of a deep page is many times the page's size: size it once, then fill it.
    qsizetype total = 0;
    for (const std::optional<QString> &part : parts) {
        if (part)
            total += 1 + part->size();
    }
    QString text;
    text.reserve(total);
    for (const std::optional<QString> &part : parts) {
        if (!part)
            continue; // an unreadable element adds nothing, not even its carriage return
        text.append(QChar(u'\r'));
        text.append(*part);
    }
    return text;
}

namespace {

// The root element's part and, for every element, the parts of those inside it, from the engine's
// markup with the element names put right; nothing when the two do not match.
std::optional<QList<std::optional<QString>>> partsFromEngineMarkup(const EngineMarkup &engine,
                                                                   ElementScope scope)
{
    const bool allElements = scope == ElementScope::AllElements;
    std::optional<ElementMarkup> restored =
        engine.htmlElementCount ? restoreTagNameCase(engine.markup, *engine.htmlElementCount, allElements)
                                : restoreTagNameCase(engine.markup, engine.tagNames, allElements);
    if (!restored)
        return std::nullopt;
    QList<std::optional<QString>> parts{restored->markup};
    if (scope == ElementScope::AllElements) {
        parts.reserve(1 + restored->innerRanges.size());
        for (const auto &[begin, end] : restored->innerRanges)
            parts.append(restored->markup.sliced(begin, end - begin));
    }
    return parts;
}

// Markup larger than this is put right on a thread of the pool: it takes milliseconds per megabyte,
// which the window's thread would otherwise be held up for.
constexpr qsizetype kMarkupForThePool = 256 * 1024;

void readWholeDocument(BrowserPane &Browser, ElementPart part, QObject *context,
                       std::function<void(const QString &)> done)
{
    PageReadRequest request;
    request.part = part;
    request.scope = ElementScope::AllElements;
    readDocumentText(Browser, request, context,
                     [done = std::move(done)](const PageSnapshot &, const QString &text) { done(text); });
}

} // namespace

void readDocumentText(BrowserPane &pane, PageReadRequest request, QObject *context,
                      std::function<void(const PageSnapshot &, const QString &)> done)
{
    pane.readPage(
        request, context, [&pane, request, context, done = std::move(done)](const PageSnapshot &page) {
            auto finish = [&pane, request, context, done, page](const std::optional<QString> &text) {
                if (text || request.exact) { // an exact read is always put together as read
                    done(page, text.value_or(QString()));
                    return;
                }
                PageReadRequest exact = request;
                exact.exact = true;
                readDocumentText(pane, exact, context, done);
            };
            if (!page.engineMarkup || page.engineMarkup->markup.size() < kMarkupForThePool) {
                finish(documentText(page));
                return;
            }
            QThreadPool::globalInstance()->start(
                [page, guard = QPointer<QObject>(context), finish = std::move(finish)] {
                    std::optional<QString> text = documentText(page);
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(),
                        [guard, finish, text = std::move(text)] {
                            if (guard)
                                finish(text);
                        },
                        Qt::QueuedConnection);
                });
        });
}

std::optional<QString> documentText(const PageSnapshot &page)
{
    if (!page.hasDocument)
        return QString();
    if (!page.engineMarkup)
        return joinDocumentParts(page.elementParts);
    const std::optional<QList<std::optional<QString>>> parts =
        partsFromEngineMarkup(*page.engineMarkup, page.scope);
    if (!parts)
        return std::nullopt;
    return joinDocumentParts(*parts);
}

void getWebHtml(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done)
{
    readWholeDocument(Browser, ElementPart::InnerHtml, context, std::move(done));
}

void getWebContent(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done)
{
    readWholeDocument(Browser, ElementPart::InnerText, context, std::move(done));
}

} // namespace Quillory
