#include "form1.h"

#include <QApplication>
#include <QNetworkProxyFactory>

#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // The engine's sandbox cannot start as root and the engine then refuses to run at all; as root,
    // and only then, run without it rather than not at all. Any other user keeps the sandbox.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication::setApplicationName(u"quillory"_s);
    QApplication::setApplicationDisplayName(u"Quillory"_s);
    QApplication::setDesktopFileName(u"quillory"_s);
    QApplication app(argc, argv);
    // The pane and every download follow the desktop's proxy settings.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    Quillory::Form1 window;
    window.Form_Load();
    window.show();
    return app.exec();
}
