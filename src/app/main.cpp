#include "browserpage.h"
#include "commandline.h"
#include "form1.h"
#include "singleinstance.h"
#include "translations.h"

#include <QApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QNetworkProxyFactory>
#include <QStandardPaths>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QStringList argumentsOf(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int print(std::FILE *stream, const QString &text, int exitCode)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    return exitCode;
}

// The engine's start-up diagnostics say nothing a user can act on; the pass lines stay. These rules come
// before QT_LOGGING_RULES, so "qt.webenginecontext.debug=true" there brings them back.
void quietEngine()
{
    QLoggingCategory::setFilterRules(u"qt.webenginecontext.debug=false\n"
                                     u"qt.webenginecontext.info=false"_s);
}

// Brings the window forward on the desktop as the user's own action would.
void bringForward(QWidget &window)
{
    if (window.isMinimized())
        window.showNormal();
    window.raise();
    window.activateWindow();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(u"quillory"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORY_VERSION));
    QGuiApplication::setDesktopFileName(u"org.quillory.Quillory"_s);

    const Quillory::CommandLine commandLine = Quillory::parseCommandLine(argumentsOf(argc, argv));
    switch (commandLine.action) {
    case Quillory::CommandLine::Action::ShowHelp:
    case Quillory::CommandLine::Action::ShowVersion:
        return print(stdout, commandLine.output, 0);
    case Quillory::CommandLine::Action::Fail:
        return print(stderr, commandLine.output, 1);
    case Quillory::CommandLine::Action::Run:
        break;
    }

    quietEngine();
    Quillory::allowEngineAsRoot();
    // One language for the whole window: the engine takes its own (menus, error pages) from the
    // default locale when it starts.
    QLocale::setDefault(Quillory::windowLocale());
    QApplication app(argc, argv);
    Quillory::installQtTranslations(app, Quillory::windowLocale());

    Quillory::WindowOptions options;
    options.renderProductPages = commandLine.renderProductPages;
    options.geometryFile =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + u"/window.ini"_s;
    Quillory::SingleInstance instance(Quillory::paneProfileFolder(options));
    const Quillory::SingleInstance::Claim claim = instance.claim();
    switch (claim.role) {
    case Quillory::SingleInstance::Role::HandedOver:
        return 0;
    case Quillory::SingleInstance::Role::Unreachable:
        return print(stderr, u"quillory: "_s + claim.error + u'\n', 1);
    case Quillory::SingleInstance::Role::First:
        break;
    }
    if (!instance.listen())
        qWarning("quillory: later starts cannot reach this window: %s", qPrintable(instance.socketPath()));

    // The pane and every download follow the desktop's proxy settings.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    Quillory::Form1 window(options);
    QObject::connect(&instance, &Quillory::SingleInstance::activationRequested, &window,
                     [&window] { bringForward(window); });
    window.Form_Load();
    window.show();
    return app.exec();
}
