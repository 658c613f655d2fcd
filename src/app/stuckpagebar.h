#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

namespace Quillory {

// The offer to stop a page that does not respond, across the top of the browser pane: a bar, never a
// modal question, so that the window keeps working while the user decides. "Wait" puts the offer away
// until the page leaves another call unanswered; it goes by itself once the page responds again.
// Screen readers are told of it as of a notification, which they speak when it comes up.
class StuckPageBar final : public QFrame
{
    Q_OBJECT

public:
    explicit StuckPageBar(QWidget *parent);

    // Shows the offer, unless it is up already.
    void offer();
    // Puts the bar along the top of `area` (in the parent's coordinates), as wide as the area.
    void placeIn(const QRect &area);

    QPushButton *stopButton() const { return m_stop; }
    QPushButton *waitButton() const { return m_wait; }

Q_SIGNALS:
    void stopRequested();

private:
    QLabel *m_text = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_wait = nullptr;
    QRect m_area;
};

} // namespace Quillory
