#include "documenttext.h"

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

void readDocumentText(BrowserPane &Browser, ElementPart part, QObject *context,
                      std::function<void(const QString &)> done)
{
    PageReadRequest request;
    request.part = part;
    request.scope = ElementScope::AllElements;
    request.withLinks = false;
    Browser.readPage(request, context, [done = std::move(done)](const PageSnapshot &page) {
        done(page.hasDocument ? joinDocumentParts(page.elementParts) : QString());
    });
}

} // namespace

void getWebHtml(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done)
{
    readDocumentText(Browser, ElementPart::InnerHtml, context, std::move(done));
}

void getWebContent(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done)
{
    readDocumentText(Browser, ElementPart::InnerText, context, std::move(done));
}

} // namespace Quillory
