#pragma once

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcPage)

namespace Quillory {

// The page's console messages, in the quillory.page category (off unless the user switches it on).
// A page decides what it logs and how much, so each message is escaped and cut like the pass line's
// outside texts, at most `kPerSecond` go out a second, and none is written while standard error could
// not take it at once: a flood, or a pipe nobody reads, must never hold up the window.
class PageConsole final
{
public:
    static constexpr int kPerSecond = 20;

    // False when the message was dropped (category off, over the budget, or standard error full).
    bool log(const QString &message, int line, const QString &source);

private:
    QDeadlineTimer m_window{0}; // the current second: none yet
    int m_count = 0;            // messages written in it
    int m_dropped = 0;          // messages dropped since the last one written
};

} // namespace Quillory
