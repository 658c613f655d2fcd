#include "commandline.h"

#include <QCommandLineParser>
#include <QRegularExpression>

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

// The help, in the window's language: Chinese, whatever the desktop's.
QString helpText()
{
    return u"用法：quillory [选项]\n"
           u"Quillory 从试用商品页的“找答案”链接打开商品页，找出申请问题的答案，填进网页的答案框。\n"
           u"窗口里的快捷键：Alt+Z 答题，Alt+X 后退，Alt+C 在浏览器里打开答案页。\n"
           u"\n"
           u"选项：\n"
           u"  -h, --help             显示这段说明后退出。\n"
           u"  -v, --version          显示名称和版本后退出。\n"
           u"  --served-pages-only    只在服务器发来的商品页里找答案，不再等商品页的脚本显示出属性表。\n"
           u"\n"
           u"Qt 自己的选项（-platform、-style、-display 等）照常可用。\n"_s;
}

CommandLine failure(const QString &what)
{
    return {CommandLine::Action::Fail,
            u"quillory: "_s + what + u"\n请用“quillory --help”查看可用的选项。\n"_s};
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions); // "-platform xcb"
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption servedOnly(u"served-pages-only"_s);
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

    if (!parser.parse(ours)) {
        if (!parser.unknownOptionNames().isEmpty())
            return failure(u"不认识的选项“%1”。"_s.arg(parser.unknownOptionNames().constFirst()));
        // The parser tells the one other fault, a value missing, in its own words only.
        static const QRegularExpression missing(u"^Missing value after '(.*)'\\.$"_s);
        if (const QRegularExpressionMatch match = missing.match(parser.errorText()); match.hasMatch())
            return failure(u"选项“%1”后面缺少值。"_s.arg(match.captured(1)));
        return failure(u"命令行有误（%1）。"_s.arg(parser.errorText()));
    }
    if (parser.isSet(help))
        return {CommandLine::Action::ShowHelp, helpText()};
    if (parser.isSet(version))
        return {CommandLine::Action::ShowVersion, u"Quillory " QUILLORY_VERSION "\n"_s};
    if (!parser.positionalArguments().isEmpty())
        return failure(u"多余的参数“%1”。"_s.arg(parser.positionalArguments().constFirst()));
    CommandLine run;
    run.renderProductPages = !parser.isSet(servedOnly);
    return run;
}

} // namespace Quillory
