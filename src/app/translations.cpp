#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace Quillory {

QLocale windowLocale()
{
    return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
}

int installQtTranslations(QCoreApplication &app, const QLocale &locale)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    int installed = 0;
    for (const QString &name : {u"qtbase"_s, u"qtwebengine"_s}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(locale, name, u"_"_s, folder) && QCoreApplication::installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}

} // namespace Quillory
