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

QString readPage(const QString &part, bool rootOnly, bool exact, bool withLinks, const QString &requiredText)
{
    return call("read"_L1, {stringLiteral(part), boolean(rootOnly), boolean(exact), boolean(withLinks),
                            stringLiteral(requiredText)});
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
