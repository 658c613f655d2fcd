#pragma once

#include "passreport.h"

#include <QString>

// What the window tells the user about a pass, in the user's words: one short text for every outcome
// that the log line tells apart (passreport.h), and one for the wait for the product page.
namespace Quillory {

QString passStatusText(const PassReport &report);
QString waitingStatusText(qint64 secondsWaited);

} // namespace Quillory
