#pragma once

#include "passreport.h"

#include <QList>
#include <QString>

// What the window tells the user about a pass, in the user's words: one text for every outcome that the
// log line tells apart (passreport.h), for the wait for the product page, and for a page the user
// stopped. Every phrase comes from one table (passstatus.cpp), so that the words can be read, reviewed
// and tested as a whole.
namespace Quillory {

// One phrase of the table: its key (what it is said for) and its words, with %1, %2 where a value goes.
struct StatusWord
{
    const char *key;
    QString words;
};

// The whole table, in the order the outcomes are told apart.
const QList<StatusWord> &statusWords();

// The status of a finished pass. A screen reader is told the same text.
QString passStatusText(const PassReport &report);
// What the status shows while a pass waits for its product page, with the seconds counted.
// `stillLoading`: the product page is there but still building what the lookup needs in the page as
// the browser shows it.
QString waitingStatusText(qint64 secondsWaited, bool stillLoading = false);
// What a screen reader is told of that wait: the same without the count, which changes every second.
QString waitingAnnouncement(bool stillLoading = false);
// The status after the user stopped a page that did not respond.
QString pageStoppedText();
// The page's address, shown on demand where the status shows.
QString pageAddressText(const QString &address);

} // namespace Quillory
