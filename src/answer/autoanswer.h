#pragma once

#include "intervaltimer.h"

#include <QObject>

namespace Quillory {

class AnsweringPass;

// Auto-answer mode. It has no state of its own but the timer's interval: 0 (off) means no ticks, the
// mode's interval (on) one tick every so many milliseconds from the moment it was switched on. Each tick
// is the window's to turn into a pass; a pass under way when the mode goes off runs to its end, and one
// that was put off behind it is forgotten.
class AutoAnswer final : public QObject
{
    Q_OBJECT

public:
    AutoAnswer(AnsweringPass &pass, int intervalMs, QObject *parent = nullptr);

    IntervalTimer *timer() { return &m_timer; }
    int intervalMs() const { return m_intervalMs; }

    // Follows the check box: unchecked switches the mode off, checked switches it on (the count starts
    // afresh), any other state changes nothing.
    void follow(Qt::CheckState checkBox);

private:
    AnsweringPass &m_pass;
    const int m_intervalMs;
    IntervalTimer m_timer;
};

} // namespace Quillory
