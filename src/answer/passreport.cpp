#include "passreport.h"

#include "trialsite.h"

Q_LOGGING_CATEGORY(lcPass, "quillory.pass", QtInfoMsg)

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

constexpr qsizetype kQuotedMax = 120;

// Characters that would break the line or change how the rest of it reads on a terminal.
bool isEscaped(char16_t c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x200e && c <= 0x200f) || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// An outside text on one line: control characters escaped, long texts cut with their length. `quote`
// also escapes the quote mark, for a text shown in quotes.
QString escaped(const QString &text, bool quote)
{
    qsizetype shown = qMin(text.size(), kQuotedMax);
    if (shown < text.size() && shown > 0 && text[shown - 1].isHighSurrogate())
        --shown; // never half a character
    QString line;
    line.reserve(shown + 16);
    for (qsizetype i = 0; i < shown; ++i) {
        const char16_t c = text[i].unicode();
        if ((quote && c == u'"') || c == u'\\') {
            line += u'\\';
            line += QChar(c);
        } else if (c == u'\n') {
            line += u"\\n"_s;
        } else if (isEscaped(c)) {
            line += u"\\u"_s + QString::number(uint(c), 16).rightJustified(4, u'0');
        } else {
            line += QChar(c);
        }
    }
    if (shown < text.size())
        line += u"… (%1 characters)"_s.arg(text.size());
    return line;
}

// A page's text in quotes, on one line.
QString quoted(const QString &text)
{
    return u'"' + escaped(text, true) + u'"';
}

QString describeOrigin(ProductPages::Origin origin)
{
    switch (origin) {
    case ProductPages::Origin::New:
        return u" (new download)"_s;
    case ProductPages::Origin::Early:
        return u" (early download)"_s;
    case ProductPages::Origin::Kept:
        return u" (kept copy)"_s;
    }
    return {};
}

QString describeDownloadOutcome(const PassReport::Download &download)
{
    using Status = DownloadResult::Status;
    switch (download.status) {
    case Status::Ok:
        if (download.rendered) // the served page lacked the attribute
            return u"page as the browser shows it: %1 characters, %2 ms"_s.arg(download.bytes)
                .arg(download.elapsedMs);
        return u"download: HTTP %1, %2 bytes, %3 ms"_s.arg(download.httpStatus)
            .arg(download.bytes)
            .arg(download.elapsedMs);
    case Status::UnsupportedScheme:
        return u"download refused: not an http or https link"_s;
    case Status::TimedOut:
        return u"download failed after %1 ms: no answer within the limit (%2)"_s.arg(download.elapsedMs)
            .arg(escaped(download.errorText, false));
    case Status::TooLarge:
        return u"download failed after %1 ms: too large (%2)"_s.arg(download.elapsedMs)
            .arg(escaped(download.errorText, false));
    case Status::Cancelled:
        return u"download cancelled after %1 ms"_s.arg(download.elapsedMs);
    case Status::NetworkError:
        break;
    }
    if (download.refused)
        return u"download refused: "_s + escaped(download.errorText, false);
    return u"download failed after %1 ms: %2"_s.arg(download.elapsedMs)
        .arg(escaped(download.errorText, false));
}

QString describeDownload(const PassReport::Download &download)
{
    return describeDownloadOutcome(download) + describeOrigin(download.origin);
}

QString describeSource(AnswerSource source)
{
    switch (source) {
    case AnswerSource::List:
        return u"value from the attribute list"_s;
    case AnswerSource::ListNameOnly:
        return u"name in the attribute list without a closing </li>: answered with the name"_s;
    case AnswerSource::Table:
        return u"value from the packaging-and-parameters table"_s;
    case AnswerSource::TableNameOnly:
        return u"name in the packaging-and-parameters table without a closing </td>: answered with the name"_s;
    case AnswerSource::TableMiss:
        return u"not found: not in the attribute list nor in the packaging-and-parameters table"_s;
    case AnswerSource::NoTable:
        return u"not found: not in the attribute list, and no packaging-and-parameters table"_s;
    }
    return {};
}

QString describePageRead(PageRead read)
{
    switch (read) {
    case PageRead::Kept:
        return u"question cut ahead, page unchanged since"_s;
    case PageRead::Scan:
        return u"page read from the engine's markup, names matched against the elements"_s;
    case PageRead::Walk:
        return u"page read by the script's serializer, checked against the engine's"_s;
    case PageRead::Pieces:
        return u"page read piece by piece from the engine"_s;
    case PageRead::PiecesUnchecked:
        return u"page read piece by piece from the engine, which the engine's own markup did not match"_s;
    case PageRead::Parts:
        return u"page read element by element"_s;
    }
    return {};
}

QString describeField(FieldWrite field)
{
    switch (field) {
    case FieldWrite::Written:
        return u"written into the answer field"_s;
    case FieldWrite::NoField:
        return u"no field written: no answer field (a text field, text area or list) named "_s +
               TrialSite::answerFieldName;
    case FieldWrite::PageLeft:
        return u"no field written: the pane has moved on to another page"_s;
    case FieldWrite::NoDocument:
        return u"no field written: no document"_s;
    case FieldWrite::NoAnswer:
        return u"no field written: the page did not answer"_s;
    case FieldWrite::KeptEdit:
        return u"no field written: the user has typed into it since the last write"_s;
    }
    return {};
}

} // namespace

PageRead pageReadOf(const PageSnapshot &page)
{
    if (page.kept())
        return PageRead::Kept;
    const DocumentMarkup *markup = page.markup();
    if (!markup)
        return PageRead::Parts;
    if (markup->route == MarkupRoute::Scan)
        return PageRead::Scan;
    if (markup->route == MarkupRoute::Walk)
        return PageRead::Walk;
    return markup->checked ? PageRead::Pieces : PageRead::PiecesUnchecked;
}

PassReport::Download downloadReport(const DownloadResult &result, qint64 bodyBytes, qint64 elapsedMs)
{
    PassReport::Download download;
    download.status = result.status;
    download.refused = result.refused;
    download.errorText = result.errorText;
    download.networkCause = result.networkCause;
    download.httpStatus = result.httpStatus;
    download.bytes = bodyBytes;
    download.elapsedMs = elapsedMs;
    return download;
}

QString quotedOutsideText(const QString &text)
{
    return quoted(text);
}

QString describePass(const PassReport &report)
{
    QString line = u"pass on "_s + quoted(report.pageUrl);
    if (!report.trialItemPage)
        return line + u": not a trial item page, nothing done"_s;
    if (report.pageNotResponding)
        return line + u": the page was stopped or left before it answered the read, nothing done"_s;
    if (report.pageRead)
        line += u" ("_s + describePageRead(*report.pageRead) + u')';
    if (!report.question) {
        line += u": no question on the page (no \""_s + TrialSite::questionMarker + u"\"), no download"_s;
    } else {
        line += u": attribute "_s + quoted(report.attribute);
        line += report.answerLink.isEmpty() ? u"; no answer link"_s
                                            : u"; answer link "_s + quoted(report.answerLink);
        if (report.download)
            line += u"; "_s + describeDownload(*report.download);
        if (report.cancelled)
            return line + u"; cancelled by the user while the product page downloaded, nothing written"_s;
        if (report.source)
            line += u"; "_s + describeSource(*report.source);
    }
    line += u"; answer "_s + quoted(report.answer);
    if (report.field)
        line += u"; "_s + describeField(*report.field);
    return line;
}

} // namespace Quillory
