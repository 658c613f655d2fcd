#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

namespace Quillory {

// The pass's status over the lower left corner of the browser pane, where a browser shows what it
// does: a small box of plain text that leaves the window's layout alone. It shows the outcome of the
// last pass until the next one or until the pane leaves the page, and counts the seconds while a pass
// waits for its product page; a click on it then cancels the pass. Screen readers announce each new
// text.
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
    // Puts the bubble at the lower left corner of `area` (in the parent's coordinates), at most as wide
    // as the area.
    void placeIn(const QRect &area);

Q_SIGNALS:
    // The user clicked the bubble while it counted.
    void cancelRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void setShown(const QString &text);
    void showSeconds();

    QRect m_area;
    QElapsedTimer m_waited;
    QTimer m_tick;
    bool m_stillLoading = false; // until the next outcome
};

} // namespace Quillory
