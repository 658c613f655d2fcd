#pragma once

#include <QLocale>

class QCoreApplication;

namespace Quillory {

// Loads Qt's own translations (qtbase, qtwebengine) for `locale` where the system has them, so that
// the pane's menu and the engine's dialogs speak the user's language. Returns how many were loaded.
int installQtTranslations(QCoreApplication &app, const QLocale &locale);

} // namespace Quillory
