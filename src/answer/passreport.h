#pragma once

#include "attributelookup.h"
#include "pagetext/browserpane.h"
#include "pagetext/pagedownloader.h"
#include "productpages.h"

#include <QLoggingCategory>
#include <QString>

#include <optional>

// What one answering pass did, for the one line it writes to the log (category "quillory.pass",
// shown on standard error unless QT_LOGGING_RULES turns it off).
Q_DECLARE_LOGGING_CATEGORY(lcPass)

namespace Quillory {

// How a pass came by the page's question.
enum class PageRead
{
    Kept,            // the cut made ahead of the key, the page's read still kept
    Scan,            // a fresh read: the engine's own markup with the tagNames put in where its names are
    Walk,            // a fresh read, written by the page script's serializer and checked
    Pieces,          // a fresh read, every piece but the names written by the engine
    PiecesUnchecked, // as Pieces, but even that differed from the engine's own markup
    Parts,           // a fresh read of every element's part
};

// The read a snapshot holds.
PageRead pageReadOf(const PageSnapshot &page);

struct PassReport
{
    struct Download
    {
        DownloadResult::Status status = DownloadResult::Status::NetworkError;
        bool refused = false;
        QString errorText;
        DownloadResult::Cause networkCause = DownloadResult::Cause::None;
        int httpStatus = 0;
        qint64 bytes = 0;
        qint64 elapsedMs = 0;
        ProductPages::Origin origin = ProductPages::Origin::New;
        bool rendered = false; // the page as the browser shows it, not as the server sent it
    };

    QString pageUrl;
    bool trialItemPage = false;
    bool pageNotResponding = false; // stopped or left before it answered the read: nothing done
    std::optional<PageRead> pageRead;
    bool question = false; // false on a trial item page: the fixed report answer, no lookup
    QString attribute;     // as cut from the question
    QString answerLink;
    std::optional<Download> download; // empty: no download was made
    std::optional<AnswerSource> source;
    QString answer;
    std::optional<FieldWrite> field;
    bool cancelled = false; // the user stopped it while it waited for the product page
};

// What a download gave, `bodyBytes` long, in `elapsedMs` from being asked for to its text.
PassReport::Download downloadReport(const DownloadResult &result, qint64 bodyBytes, qint64 elapsedMs);

// The report as one line of plain text. Texts that come from web pages are quoted with their control
// characters escaped and cut short when long, so that a page can neither forge nor flood the log.
QString describePass(const PassReport &report);

// An outside text as the pass line shows it: in quotes, on one line, terminal controls, bidi
// overrides and line breaks escaped, long texts cut with their length.
QString quotedOutsideText(const QString &text);

} // namespace Quillory

Q_DECLARE_METATYPE(Quillory::PassReport)
