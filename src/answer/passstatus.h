#pragma once

#include "passreport.h"

#include <QString>

// What the window tells the user about a pass, in the user's words: one short text for every outcome
// that the log line tells apart (passreport.h), and one for the wait for the product page.
namespace Quillory {

QString passStatusText(const PassReport &report);
// `stillLoading`: the product page is there but still building what the lookup needs in the page as
// the browser shows it.
QString waitingStatusText(qint64 secondsWaited, bool stillLoading = false);

} // namespace Quillory
