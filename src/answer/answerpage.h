#pragma once

#include "pagetext/browserpane.h"

#include <QObject>
#include <QString>

#include <functional>

namespace Quillory {

// The answer page of the trial item page that the pane shows: its answer-page link goes to `open` (the
// launcher), the empty text when no link matches. On any other page nothing happens.
void showAnswerPage(BrowserPane &pane, QObject *context, std::function<void(const QString &)> open);

} // namespace Quillory
