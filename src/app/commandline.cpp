#include "commandline.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// The options that the toolkit itself reads (and removes) when the application object is made.
void acceptToolkitOptions(QCommandLineParser &parser)
{
    const auto hidden = [&parser](const QString &name, const QString &value = {}) {
        QCommandLineOption option(name, QString(), value);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    };
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "display", "geometry", "title", "name", "icon", "style",
          "stylesheet", "visual", "ncols", "cmap"})
        hidden(QString::fromLatin1(name), u"value"_s);
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"})
        hidden(QString::fromLatin1(name));
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions); // "-platform xcb"
    parser.setApplicationDescription(
        u"Quillory answers the application question of a trial item page from the item's product page.\n"
        u"Keys in the window: Alt+Z answer, Alt+X back, Alt+C open the answer page in your browser."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption version({u"v"_s, u"version"_s}, u"Show the name and version and exit."_s);
    const QCommandLineOption servedOnly(
        u"served-pages-only"_s,
        u"Look answers up only in product pages as the server sends them, never as the browser shows them "
        u"once their scripts have run."_s);
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(servedOnly);
    acceptToolkitOptions(parser);

    // The browser engine takes what follows --webEngineArgs.
    QStringList ours = arguments;
    if (const qsizetype engine = ours.indexOf(u"--webEngineArgs"_s); engine >= 0)
        ours = ours.first(engine);
    if (ours.isEmpty())
        ours.append(u"quillory"_s);

    if (!parser.parse(ours))
        return {CommandLine::Action::Fail,
                u"quillory: "_s + parser.errorText() + u"\nTry 'quillory --help'.\n"_s};
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace(u"<executable_name>"_s, u"quillory"_s);
        return {CommandLine::Action::ShowHelp, text};
    }
    if (parser.isSet(version))
        return {CommandLine::Action::ShowVersion, u"Quillory " QUILLORY_VERSION "\n"_s};
    if (!parser.positionalArguments().isEmpty())
        return {CommandLine::Action::Fail, u"quillory: unexpected argument '"_s +
                                               parser.positionalArguments().constFirst() +
                                               u"'\nTry 'quillory --help'.\n"_s};
    CommandLine run;
    run.renderProductPages = !parser.isSet(servedOnly);
    return run;
}

} // namespace Quillory
