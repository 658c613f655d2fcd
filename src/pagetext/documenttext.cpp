#include "documenttext.h"

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

// Every element's part, as the read placed it: a stretch of the root's markup, or a part of its own.
QString joinMarkupParts(const DocumentMarkup &markup)
{
    const QStringView root(markup.rootMarkup);
    auto partOf = [&](std::pair<qint32, qint32> range) -> QStringView {
        const auto [begin, end] = range;
        if (begin < 0) {
            const qsizetype hidden = -1 - qsizetype(begin);
            return hidden < markup.hiddenParts.size() ? QStringView(markup.hiddenParts[hidden])
                                                      : QStringView();
        }
        if (end < begin || end > root.size())
            return {};
        return root.sliced(begin, end - begin);
    };
    qsizetype total = 0;
    for (const auto &range : markup.ranges)
        total += 1 + partOf(range).size();
    QString text;
    text.reserve(total);
    for (const auto &range : markup.ranges) {
        text.append(QChar(u'\r'));
        text.append(partOf(range));
    }
    return text;
}

// Joining every element's part of a large page takes milliseconds per megabyte of the result, which the
// window's thread would otherwise be held up for: such joins run on a thread of the pool.
constexpr qsizetype kJoinForThePool = 256 * 1024;

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

QString documentText(const PageSnapshot &page)
{
    if (!page.hasDocument)
        return QString();
    if (const ElementTexts *texts = page.texts())
        return joinDocumentParts(texts->parts);
    const DocumentMarkup *markup = page.markup();
    if (!markup)
        return QString(); // a kept read, or a read without a part: no text of its own
    if (markup->ranges.isEmpty())
        return QChar(u'\r') + markup->rootMarkup;
    return joinMarkupParts(*markup);
}

void readDocumentText(BrowserPane &pane, const PageReadRequest &request, QObject *context,
                      std::function<void(const PageSnapshot &, const QString &)> done)
{
    pane.readPage(request, context, [context, done = std::move(done)](const PageSnapshot &page) {
        const DocumentMarkup *markup = page.markup();
        const bool large =
            markup && !markup->ranges.isEmpty() && markup->rootMarkup.size() >= kJoinForThePool;
        if (!large) {
            done(page, documentText(page));
            return;
        }
        QThreadPool::globalInstance()->start([page, guard = QPointer<QObject>(context), done] {
            QString text = documentText(page);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done, page, text = std::move(text)] {
                    if (guard)
                        done(page, text);
                },
                Qt::QueuedConnection);
        });
    });
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
