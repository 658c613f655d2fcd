#include "browserpage.h"
#include "form1.h"

#include <QApplication>
#include <QNetworkProxyFactory>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    Quillory::allowEngineAsRoot();
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
