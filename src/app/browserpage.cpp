#include "browserpage.h"

#include "pagescripts.h"

#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>

#include <memory>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

std::optional<QString> optionalText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

PageSnapshot snapshotFrom(const QVariant &result)
{
    PageSnapshot snapshot;
    const QVariantMap map = result.toMap();
    snapshot.hasDocument = map.value(u"hasDocument"_s).toBool();
    if (!snapshot.hasDocument)
        return snapshot;
    snapshot.documentToken = map.value(u"token"_s).toString();
    const QVariantList parts = map.value(u"parts"_s).toList();
    snapshot.elementParts.reserve(parts.size());
    for (const QVariant &part : parts)
        snapshot.elementParts.append(optionalText(part));
    const QVariant links = map.value(u"links"_s);
    if (links.typeId() == QMetaType::QVariantList) {
        QList<PageLink> pageLinks;
        for (const QVariant &link : links.toList()) {
            const QVariantList pair = link.toList();
            pageLinks.append({optionalText(pair.value(0)), optionalText(pair.value(1))});
        }
        snapshot.links = std::move(pageLinks);
    }
    return snapshot;
}

} // namespace

BrowserPage::BrowserPage(QWebEngineProfile *profile, QObject *parent) : QWebEnginePage(profile, parent)
{
    // Leaving the request unanswered refuses the new window; the window decides where the pane goes.
    connect(this, &QWebEnginePage::newWindowRequested, this,
            [this](QWebEngineNewWindowRequest &) { Q_EMIT newWindowRefused(); });
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
    QString part;
    if (request.part)
        part = *request.part == ElementPart::InnerHtml ? u"html"_s : u"text"_s;
    const QString source =
        PageScripts::readPage(part, request.scope == ElementScope::RootOnly, request.withLinks,
                              QUuid::createUuid().toString(QUuid::WithoutBraces));
    runScript(source, context,
              [done = std::move(done)](const QVariant &result) { done(snapshotFrom(result)); });
}

void BrowserPage::writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                             QObject *context, std::function<void(bool)> done)
{
    runScript(PageScripts::writeField(documentToken, fieldName, value), context,
              [done = std::move(done)](const QVariant &result) { done(result.toBool()); });
}

void BrowserPage::readFocusedLinkTarget(QObject *context, std::function<void(const QString &)> done)
{
    runScript(PageScripts::focusedLinkTarget(), context, [done = std::move(done)](const QVariant &result) {
        done(optionalText(result).value_or(QString()));
    });
}

void BrowserPage::runScript(const QString &source, QObject *context,
                            std::function<void(const QVariant &)> done)
{
    // Exactly one answer per call: the script's result, or an invalid value if the engine never
    // answers; never after the caller's context (or this page) is gone.
    auto answered = std::make_shared<bool>(false);
    auto answer = [answered, guard = QPointer<QObject>(context), page = QPointer<BrowserPage>(this),
                   done = std::move(done)](const QVariant &result) {
        if (*answered)
            return;
        *answered = true;
        if (guard && page)
            done(result);
    };
    QTimer::singleShot(scriptAnswerTimeoutMs, context, [answer] { answer(QVariant()); });
    runJavaScript(source, QWebEngineScript::ApplicationWorld, answer);
}

} // namespace Quillory
