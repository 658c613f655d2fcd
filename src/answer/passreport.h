#pragma once

#include "attributelookup.h"
#include "pagetext/browserpane.h"
#include "pagetext/pagedownloader.h"
#include "pagetext/timemark.h"
#include "productpages.h"

#include <QLoggingCategory>
#include <QString>

#include <optional>

// What one answering pass did, for the one line it writes to the log (category "quillory.pass",
// shown on standard error unless QT_LOGGING_RULES turns it off).
Q_DECLARE_LOGGING_CATEGORY(lcPass)

namespace Quillory {

// When each phase of a pass ended (timemark.h; 0: it did not happen), for the benchmark's phase table.
struct PassTimings
{
    qint64 started = 0;
    qint64 readScript = 0;      // how long the read took in the page (a duration)
    qint64 readAnswered = 0;    // the page's answer to the read arrived (script, transfer, conversion)
    qint64 snapshotMade = 0;    // ... and was made into a snapshot
    qint64 textReady = 0;       // the element names were put right: the document text
    qint64 questionCut = 0;     // the question attribute was cut
    qint64 downloadStarted = 0; // the worker started on it
    qint64 downloaded = 0;      // the worker had the page, decoded
    qint64 pageReady = 0;       // the page was back on the window's thread
    qint64 lookedUp = 0;        // the value was looked up in it
    qint64 fieldWritten = 0;    // the page reported the answer field written
};

// How a pass came by the page's question.
enum class PageRead
{
    Kept,            // the cut made ahead of the key, the page's read still kept
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
    };

    QString pageUrl;
    bool trialItemPage = false;
    bool pageNotResponding = false; // the page did not answer the read in time: nothing was done
    std::optional<PageRead> pageRead;
    bool question = false; // false on a trial item page: the fixed report answer, no lookup
    QString attribute;     // as cut from the question
    QString answerLink;
    std::optional<Download> download; // empty: no download was made
    std::optional<AnswerSource> source;
    QString answer;
    std::optional<FieldWrite> field;
    bool cancelled = false; // the user stopped it while it waited for the product page
    PassTimings timings;
};

// What a download gave, `bodyBytes` long, asked for at `askedNs` (timemark.h; its time runs from there
// to the end of decoding).
PassReport::Download downloadReport(const DownloadResult &result, qint64 bodyBytes, qint64 askedNs);

// The report as one line of plain text. Texts that come from web pages are quoted with their control
// characters escaped and cut short when long, so that a page can neither forge nor flood the log.
QString describePass(const PassReport &report);

// An outside text as the pass line shows it: in quotes, on one line, terminal controls, bidi
// overrides and line breaks escaped, long texts cut with their length.
QString quotedOutsideText(const QString &text);

} // namespace Quillory

Q_DECLARE_METATYPE(Quillory::PassReport)
