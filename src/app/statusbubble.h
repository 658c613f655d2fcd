#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <functional>

class QToolButton;

namespace Quillory {

// The pass's status over the lower left corner of the browser pane, where a browser shows what it
// does: a small box of plain text that leaves the window's layout alone. It shows the outcome of the
// last pass until the next one or until the pane leaves the page, and counts the seconds while a pass
// waits for its product page.
//
// It never stands in the page's way: every click on it reaches the page below, and when the pointer
// comes over it, it moves to the other corner. Its one control of its own, a small × at its top right
// corner, closes it (the next pass shows it again) or, while a pass waits, cancels the pass.
//
// Screen readers are told of it as of a notification: each new outcome (and the start of a wait) is its
// name, and it comes up anew, which screen readers speak. The seconds of a wait only show: they would
// interrupt every second.
class StatusBubble final : public QLabel
{
    Q_OBJECT

public:
    explicit StatusBubble(QWidget *parent);

    void showText(const QString &text);
    // Counts the seconds from now until `showText` or `clear`.
    void showWaiting();
    // The product page the pass waits for is still loading what the lookup needs: the count says so.
    void markStillLoading();
    void clear();
    // Puts the bubble at the lower left corner of `area` (in the parent's coordinates), or at another
    // corner while the pointer is over that one.
    void placeIn(const QRect &area);

    // What a screen reader is told: the text shown, without the seconds of a wait.
    QString announcement() const { return m_announced; }
    QToolButton *closeButton() const { return m_close; }
    bool isWaiting() const { return m_tick.isActive(); }

Q_SIGNALS:
    // The user clicked the × while the pass waited.
    void cancelRequested();
    // Screen readers have been told `announcement`: its name changed, or it came up anew.
    void told(const QString &announcement);
    // It has moved, come up or gone.
    void moved();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setShown(const QString &text, const QString &announcement);
    void showSeconds();
    void closeClicked();
    // The place in the area's corner of that index (statusbubble.cpp: the corners in order).
    QRect placeAt(int corner) const;
    void place();
    void avoidPointer(QPoint global);

    QRect m_area;
    int m_corner = 0; // the lower left one, or another out of the pointer's way
    QString m_announced;
    QToolButton *m_close = nullptr;
    QElapsedTimer m_waited;
    QTimer m_tick;
    bool m_stillLoading = false; // until the next outcome
};

// Where the pane is and where it goes, over the pane's lower left corner (above the status when that
// stands there): the target of the link under the pointer, as a browser shows it, and the page's own
// address while the user holds Alt down alone. One line, shortened in the middle; it takes no click,
// and moves to the lower right corner when the pointer comes over it.
class AddressBubble final : public QLabel
{
    Q_OBJECT

public:
    explicit AddressBubble(QWidget *parent);

    // The link under the pointer, or none (an empty text).
    void showLink(const QString &url);
    // Where the page's address comes from when Alt is held down.
    void setPageAddress(std::function<QString()> address) { m_pageAddress = std::move(address); }
    // The area is the pane's; `below` the status's place while it stands in the area's lower left
    // corner (an empty rectangle otherwise): the bubble stands above it.
    void placeIn(const QRect &area, const QRect &below);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();
    void place();

    QRect m_area;
    QRect m_below;
    QString m_link;
    bool m_altHeld = false;
    bool m_right = false; // out of the pointer's way
    std::function<QString()> m_pageAddress;
};

} // namespace Quillory
