#include "paneview.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QWebEnginePage>

namespace Quillory {

namespace {

// What needs a window, a file or a tool that this program does not have.
constexpr QWebEnginePage::WebAction deadActions[] = {
    QWebEnginePage::SavePage,
    QWebEnginePage::ViewSource,
    QWebEnginePage::OpenLinkInNewWindow,
    QWebEnginePage::OpenLinkInNewTab,
    QWebEnginePage::OpenLinkInNewBackgroundTab,
    QWebEnginePage::DownloadLinkToDisk,
    QWebEnginePage::DownloadImageToDisk,
    QWebEnginePage::DownloadMediaToDisk,
    QWebEnginePage::InspectElement,
};

} // namespace

QMenu *PaneView::createPaneMenu()
{
    QMenu *menu = createStandardContextMenu();
    for (QWebEnginePage::WebAction dead : deadActions)
        menu->removeAction(pageAction(dead));
    // No separator at either end, nor two in a row, once entries are gone.
    bool afterEntry = false;
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator())
            afterEntry = true;
        else if (!afterEntry)
            menu->removeAction(action);
        else
            afterEntry = false;
    }
    if (!menu->actions().isEmpty() && menu->actions().last()->isSeparator())
        menu->removeAction(menu->actions().last());
    return menu;
}

void PaneView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createPaneMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace Quillory
