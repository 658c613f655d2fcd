#pragma once

#include <QLocale>

class QCoreApplication;

namespace Quillory {

// The window's one language, whatever the desktop's: the trial site, the status and every caption are
// Chinese, so the toolkit's and the engine's words (the pane's menu, its dialogs, its error pages) are
// too, and so is the command line's help.
QLocale windowLocale();

// Loads Qt's own translations (qtbase, qtwebengine) for `locale` where the system has them, so that
// the pane's menu and the engine's dialogs speak that language. Returns how many were loaded.
int installQtTranslations(QCoreApplication &app, const QLocale &locale);

} // namespace Quillory
