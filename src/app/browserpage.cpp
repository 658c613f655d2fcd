#include "browserpage.h"

#include "pagescripts.h"
#include "pagetext/tagnamecase.h"

#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineScript>

#include <memory>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

std::optional<QString> optionalText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

QList<std::optional<QString>> partsFrom(const QVariantList &parts)
{
    QList<std::optional<QString>> elementParts;
    elementParts.reserve(parts.size());
    for (const QVariant &part : parts)
        elementParts.append(optionalText(part));
    return elementParts;
}

// The root element's part and, for every element, the parts of those inside it, from the engine's
// markup with the element names put right; nothing when the two do not match.
std::optional<QList<std::optional<QString>>>
partsFromEngineMarkup(const QString &markup, const QString &tagNames, ElementScope scope)
{
    const QStringList names = tagNames.isEmpty() ? QStringList() : tagNames.split(u' ');
    std::optional<ElementMarkup> restored = restoreTagNameCase(markup, names);
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

QList<PageLink> linksFrom(const QVariantList &links)
{
    QList<PageLink> pageLinks;
    pageLinks.reserve(links.size());
    for (const QVariant &link : links) {
        const QVariantList pair = link.toList();
        pageLinks.append({optionalText(pair.value(0)), optionalText(pair.value(1))});
    }
    return pageLinks;
}

// Nothing when the engine's markup has to be read again the exact way.
std::optional<PageSnapshot> snapshotFrom(const QVariant &result, ElementScope scope)
{
    PageSnapshot snapshot;
    const QVariantMap map = result.toMap();
    snapshot.hasDocument = map.value(u"hasDocument"_s).toBool();
    if (!snapshot.hasDocument)
        return snapshot;
    snapshot.documentToken = map.value(u"token"_s).toString();
    if (map.contains(u"markup"_s)) {
        auto parts = partsFromEngineMarkup(map.value(u"markup"_s).toString(),
                                           map.value(u"tagNames"_s).toString(), scope);
        if (!parts)
            return std::nullopt;
        snapshot.elementParts = std::move(*parts);
    } else {
        snapshot.elementParts = partsFrom(map.value(u"parts"_s).toList());
    }
    const QVariant links = map.value(u"links"_s);
    if (links.typeId() == QMetaType::QVariantList)
        snapshot.links = linksFrom(links.toList());
    return snapshot;
}

} // namespace

void allowEngineAsRoot()
{
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

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
    readPageWith(request, !m_engineMarkupAllowed, context, std::move(done));
}

void BrowserPage::readPageWith(const PageReadRequest &request, bool exact, QObject *context,
                               std::function<void(const PageSnapshot &)> done)
{
    QString part;
    if (request.part)
        part = *request.part == ElementPart::InnerHtml ? u"html"_s : u"text"_s;
    const QString source =
        PageScripts::readPage(part, request.scope == ElementScope::RootOnly, exact, request.withLinks,
                              QUuid::createUuid().toString(QUuid::WithoutBraces));
    runScript(source, context,
              [this, request, context = QPointer<QObject>(context),
               done = std::move(done)](const QVariant &result) {
                  if (std::optional<PageSnapshot> snapshot = snapshotFrom(result, request.scope))
                      done(*snapshot);
                  else
                      readPageWith(request, true, context, done);
              });
}

void BrowserPage::writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                             QObject *context, std::function<void(FieldWrite)> done)
{
    runScript(PageScripts::writeField(documentToken, fieldName, value), context,
              [done = std::move(done)](const QVariant &result) {
                  const QString outcome = result.toString();
                  if (outcome == u"written"_s)
                      done(FieldWrite::Written);
                  else if (outcome == u"no-field"_s)
                      done(FieldWrite::NoField);
                  else if (outcome == u"page-left"_s)
                      done(FieldWrite::PageLeft);
                  else
                      done(FieldWrite::NoAnswer);
              });
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
