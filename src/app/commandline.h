#pragma once

#include <QString>
#include <QStringList>

namespace Quillory {

// What the command line asks for. It is read before the application object exists, so that --help and
// --version need no display and touch nothing.
struct CommandLine
{
    enum class Action
    {
        Run,         // start (or bring forward) the window
        ShowHelp,    // print `output` on standard output, exit 0
        ShowVersion, // print `output` on standard output, exit 0
        Fail,        // print `output` on standard error, exit 1
    };

    Action action = Action::Run;
    QString output;
    // Run: look a product page up as the browser shows it when the page the server sent lacks the
    // attribute (--served-pages-only turns it off).
    bool renderProductPages = true;
};

// `arguments` as the program got them, its own path first. The options of the toolkit's own
// (-platform, -style, -display, ...) are accepted and left to it; everything after --webEngineArgs
// belongs to the browser engine.
CommandLine parseCommandLine(const QStringList &arguments);

} // namespace Quillory
