#pragma once

#include "attributelookup.h"
#include "pagetext/browserpane.h"
#include "pagetext/pagedownloader.h"

#include <QLoggingCategory>
#include <QString>

#include <optional>

// What one answering pass did, for the one line it writes to the log (category "quillory.pass",
// shown on standard error unless QT_LOGGING_RULES turns it off).
Q_DECLARE_LOGGING_CATEGORY(lcPass)

namespace Quillory {

struct PassReport
{
    struct Download
    {
        DownloadResult::Status status = DownloadResult::Status::NetworkError;
        bool refused = false;
        QString errorText;
        int httpStatus = 0;
        qint64 bytes = 0;
        qint64 elapsedMs = 0;
    };

    QString pageUrl;
    bool trialItemPage = false;
    bool question = false; // false on a trial item page: the fixed report answer, no lookup
    QString attribute;     // as cut from the question
    QString answerLink;
    std::optional<Download> download; // empty: no download was made
    std::optional<AnswerSource> source;
    QString answer;
    std::optional<FieldWrite> field;
};

PassReport::Download downloadReport(const DownloadResult &result, qint64 elapsedMs);

// The report as one line of plain text. Texts that come from web pages are quoted with their control
// characters escaped and cut short when long, so that a page can neither forge nor flood the log.
QString describePass(const PassReport &report);

} // namespace Quillory

Q_DECLARE_METATYPE(Quillory::PassReport)
