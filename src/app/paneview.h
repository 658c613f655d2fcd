#pragma once

#include <QWebEngineView>

class QMenu;

namespace Quillory {

// The browser pane's view. Its right-click menu holds only what works in this window: there is no
// second window for a page's source or for new windows and tabs, and no place to save pages or
// downloads to, so those entries go.
class PaneView final : public QWebEngineView
{
    Q_OBJECT

public:
    using QWebEngineView::QWebEngineView;

    // The standard menu for the last right-click, without the entries that would do nothing here.
    QMenu *createPaneMenu();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
};

} // namespace Quillory
