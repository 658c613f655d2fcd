#include "pagescripts.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace Quillory::PageScripts {

namespace {

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
    return u"(p => p === undefined ? \""_s + QLatin1StringView(notInstalled) + u"\" : p."_s + method + u'(' +
           arguments.join(u", "_s) + u"))(window[Symbol.for(\"quillory.page\")])"_s;
}

} // namespace

QString setup()
{
    static const QString source = [] {
        QFile file(u":/quillory/scripts/page.js"_s);
        if (!file.open(QIODevice::ReadOnly))
            qFatal("the page script is missing from the program's resources");
        return QString::fromUtf8(file.readAll());
    }();
    return source;
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

QString readPage(const PageReadRequest &request, bool piecesOnly)
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

QString keepRead(const ReadToKeep &keep)
{
    QStringList stretches;
    stretches.reserve(keep.decidingStretches.size() * 2);
    for (const auto &[begin, end] : keep.decidingStretches)
        stretches << QString::number(begin) << QString::number(end);
    return call("keepRead"_L1, {stringLiteral(keep.read.documentToken), QString::number(keep.read.generation),
                                u'[' + stretches.join(u',') + u']', stringLiteral(keep.markerCharacters)});
}

QString writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                   bool keepUserEdit)
{
    return call("writeField"_L1, {stringLiteral(documentToken), stringLiteral(fieldName),
                                  stringLiteral(value), boolean(keepUserEdit)});
}

QString focusedLinkTarget()
{
    return call("focusedLinkTarget"_L1, {});
}

} // namespace Quillory::PageScripts
