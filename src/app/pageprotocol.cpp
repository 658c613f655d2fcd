#include "pageprotocol.h"

#include <QFile>

#include <algorithm>

#include <cstring>

using namespace Qt::StringLiterals;

namespace Quillory::PageProtocol {

namespace {

// What a call evaluates to when the document lacks the page script.
const QString notInstalled = u"quillory:not-installed"_s;

QString boolean(bool value)
{
    return value ? u"true"_s : u"false"_s;
}

QString escapeUnit(char16_t unit)
{
    return u"\\u"_s + QString::number(unit, 16).rightJustified(4, u'0');
}

// A call of the page script's `method` with arguments that are already JavaScript literals.
QString call(QLatin1StringView method, const QStringList &arguments)
{
    return u"(p => p === undefined ? "_s + stringLiteral(notInstalled) + u" : p."_s + method + u'(' +
           arguments.join(u", "_s) + u"))(window[Symbol.for(\"quillory.page\")])"_s;
}

std::optional<QString> optionalText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

// A text the page script sent as its UTF-16 code units (an ArrayBuffer), every unit as it was.
std::optional<QString> unitsText(const QVariant &value)
{
    if (value.typeId() != QMetaType::QByteArray)
        return std::nullopt;
    const QByteArray bytes = value.toByteArray();
    return QString(reinterpret_cast<const QChar *>(bytes.constData()),
                   bytes.size() / qsizetype(sizeof(QChar)));
}

QList<std::optional<QString>> partsFrom(const QVariantList &parts)
{
    QList<std::optional<QString>> elementParts;
    elementParts.reserve(parts.size());
    for (const QVariant &part : parts)
        elementParts.append(unitsText(part));
    return elementParts;
}

QList<PageLink> linksFrom(const QVariantList &links)
{
    QList<PageLink> pageLinks;
    pageLinks.reserve(links.size());
    for (const QVariant &link : links) {
        const QVariantList pair = link.toList();
        pageLinks.append({unitsText(pair.value(0)), optionalText(pair.value(1))});
    }
    return pageLinks;
}

QList<std::pair<qint32, qint32>> rangesFrom(const QByteArray &bytes)
{
    QList<std::pair<qint32, qint32>> ranges;
    const qsizetype count = bytes.size() / qsizetype(2 * sizeof(qint32));
    ranges.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        qint32 pair[2];
        std::memcpy(pair, bytes.constData() + i * qsizetype(sizeof(pair)), sizeof(pair));
        ranges.append({pair[0], pair[1]});
    }
    return ranges;
}

DocumentMarkup markupFrom(const QVariantMap &map)
{
    DocumentMarkup markup;
    // The markup crosses as a string, or as its code units when it holds a lone surrogate.
    const QVariant text = map.value(u"markup"_s);
    markup.rootMarkup =
        text.typeId() == QMetaType::QString ? text.toString() : unitsText(text).value_or(QString());
    // Each tagName over the name the engine wrote, where the page found it (same length: see the scan).
    const QByteArray names = map.value(u"names"_s).toByteArray();
    const QVariantList tagNames = map.value(u"tagNames"_s).toList();
    if (!names.isEmpty()) {
        QList<QString> tags;
        tags.reserve(tagNames.size());
        for (const QVariant &tag : tagNames)
            tags.append(unitsText(tag).value_or(QString()));
        QChar *text = markup.rootMarkup.data();
        const qsizetype size = markup.rootMarkup.size();
        for (qsizetype i = 0; i + 1 < names.size() / qsizetype(sizeof(qint32)); i += 2) {
            qint32 pair[2];
            std::memcpy(pair, names.constData() + i * qsizetype(sizeof(qint32)), sizeof(pair));
            const auto [at, index] = pair;
            if (index < 0 || index >= tags.size() || at < 0 || at + tags[index].size() > size)
                continue;
            std::copy(tags[index].cbegin(), tags[index].cend(), text + at);
        }
    }
    const QString route = map.value(u"route"_s).toString();
    markup.route = route == u"scan"_s     ? MarkupRoute::Scan
                   : route == u"pieces"_s ? MarkupRoute::Pieces
                                          : MarkupRoute::Walk;
    markup.checked = map.value(u"checked"_s).toBool();
    markup.generation = map.value(u"generation"_s).toULongLong();
    if (map.contains(u"ranges"_s)) {
        markup.ranges = rangesFrom(map.value(u"ranges"_s).toByteArray());
        for (const QVariant &part : map.value(u"hiddenParts"_s).toList())
            markup.hiddenParts.append(unitsText(part).value_or(QString()));
    }
    return markup;
}

PageProbe probeFrom(const QVariantMap &map)
{
    PageProbe probe;
    probe.keptGeneration = map.value(u"keptGeneration"_s).toULongLong();
    probe.quietMs = qint64(map.value(u"quietMs"_s).toDouble());
    const QVariant holds = map.value(u"holdsRequiredText"_s);
    if (holds.typeId() == QMetaType::Bool)
        probe.holdsRequiredText = holds.toBool();
    return probe;
}

// Which alternative the page answered with follows from the keys it sent: a kept read, the markup, the
// elements' texts, or else the probe of a read without a part.
PageSnapshot::Reply replyFrom(const QVariantMap &map)
{
    if (map.value(u"kept"_s).toBool())
        return ReadStillKept();
    if (map.contains(u"markup"_s))
        return markupFrom(map);
    if (map.contains(u"parts"_s))
        return ElementTexts{partsFrom(map.value(u"parts"_s).toList())};
    return probeFrom(map);
}

} // namespace

QString scriptSource()
{
    static const QString source = [] {
        QFile file(u":/quillory/scripts/page.js"_s);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("the page script is missing from the program's resources");
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

bool isNotInstalled(const QVariant &reply)
{
    return reply.typeId() == QMetaType::QString && reply.toString() == notInstalled;
}

QString stringLiteral(const QString &text)
{
    QString literal;
    literal.reserve(text.size() + 2);
    literal += u'"';
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        const bool plain = unit >= 0x20 && unit < 0x7f && unit != u'"' && unit != u'\'' && unit != u'\\' &&
                           unit != u'<' && unit != u'>' && unit != u'&';
        if (plain)
            literal += c;
        else
            literal += escapeUnit(unit);
    }
    literal += u'"';
    return literal;
}

QString readCall(const PageReadRequest &request, bool piecesOnly)
{
    QString part;
    if (request.part)
        part = *request.part == ElementPart::InnerHtml ? u"html"_s : u"text"_s;
    QString kept = u"null"_s;
    if (request.kept) {
        kept = u"{token: "_s + stringLiteral(request.kept->documentToken) + u", generation: "_s +
               QString::number(request.kept->generation) + u'}';
    }
    const QString object = u"{part: "_s + stringLiteral(part) + u", rootOnly: "_s +
                           boolean(request.scope == ElementScope::RootOnly) + u", links: "_s +
                           boolean(request.withLinks) + u", kept: "_s + kept + u", requiredText: "_s +
                           stringLiteral(request.requiredText) + u", piecesOnly: "_s + boolean(piecesOnly) +
                           u'}';
    return call("read"_L1, {object});
}

PageSnapshot readReply(const QVariant &reply, ElementScope scope)
{
    PageSnapshot snapshot;
    snapshot.scope = scope;
    const QVariantMap map = reply.toMap();
    snapshot.hasDocument = map.value(u"hasDocument"_s).toBool();
    if (!snapshot.hasDocument)
        return snapshot;
    snapshot.documentToken = map.value(u"token"_s).toString();
    snapshot.reply = replyFrom(map);
    snapshot.readCostMs = qint64(map.value(u"scriptMs"_s).toDouble());
    const QVariant links = map.value(u"links"_s);
    if (links.typeId() == QMetaType::QVariantList)
        snapshot.links = linksFrom(links.toList());
    return snapshot;
}

QString keepReadCall(const ReadToKeep &keep)
{
    QStringList stretches;
    stretches.reserve(keep.decidingStretches.size() * 2);
    for (const auto &[begin, end] : keep.decidingStretches)
        stretches << QString::number(begin) << QString::number(end);
    return call("keepRead"_L1, {stringLiteral(keep.read.documentToken), QString::number(keep.read.generation),
                                u'[' + stretches.join(u',') + u']', stringLiteral(keep.markerCharacters)});
}

bool keepReadReply(const QVariant &reply)
{
    return reply.toBool();
}

QString writeFieldCall(const QString &documentToken, const QString &fieldName, const QString &value,
                       bool keepUserEdit)
{
    return call("writeField"_L1, {stringLiteral(documentToken), stringLiteral(fieldName),
                                  stringLiteral(value), boolean(keepUserEdit)});
}

FieldWrite writeFieldReply(const QVariant &reply)
{
    const QString outcome = reply.toString();
    if (outcome == u"written"_s)
        return FieldWrite::Written;
    if (outcome == u"no-field"_s)
        return FieldWrite::NoField;
    if (outcome == u"page-left"_s)
        return FieldWrite::PageLeft;
    if (outcome == u"kept-edit"_s)
        return FieldWrite::KeptEdit;
    return FieldWrite::NoAnswer;
}

QString focusedLinkCall()
{
    return call("focusedLinkTarget"_L1, {});
}

QString focusedLinkReply(const QVariant &reply)
{
    return optionalText(reply).value_or(QString());
}

} // namespace Quillory::PageProtocol
