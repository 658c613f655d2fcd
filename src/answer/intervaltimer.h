#pragma once

#include <QObject>
#include <QTimer>

namespace Quillory {

// A timer whose interval alone starts and stops it: 0 means no ticks at all (a QTimer with interval 0
// would fire continuously). Ticks that fall due while the thread is busy are not made up.
class IntervalTimer final : public QObject
{
    Q_OBJECT

public:
    explicit IntervalTimer(QObject *parent = nullptr) : QObject(parent)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, &IntervalTimer::tick);
    }

    int interval() const { return m_interval; }
    bool isTicking() const { return m_timer.isActive(); }

    // Any interval but 0 starts the count afresh from now.
    void setInterval(int milliseconds)
    {
        m_interval = milliseconds;
        if (milliseconds > 0)
            m_timer.start(milliseconds);
        else
            m_timer.stop();
    }

Q_SIGNALS:
    void tick();

private:
    QTimer m_timer;
    int m_interval = 0;
};

} // namespace Quillory
