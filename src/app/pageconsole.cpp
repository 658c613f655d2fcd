#include "pageconsole.h"

#include "answer/passreport.h"
#include "platform.h"

Q_LOGGING_CATEGORY(lcPage, "quillory.page", QtFatalMsg) // off: QT_LOGGING_RULES="quillory.page=true"

namespace Quillory {

bool PageConsole::log(const QString &message, int line, const QString &source)
{
    if (!lcPage().isInfoEnabled())
        return false;
    if (m_window.hasExpired()) {
        m_window.setRemainingTime(1000);
        m_count = 0;
    }
    // A line of the pass line's size fits in what a writable pipe can take at once.
    if (m_count >= kPerSecond || !Platform::standardErrorWritable()) {
        ++m_dropped;
        return false;
    }
    ++m_count;
    const QString dropped = m_dropped > 0 ? QStringLiteral(" (%1 dropped before)").arg(m_dropped) : QString();
    m_dropped = 0;
    qCInfo(lcPage).noquote() << quotedOutsideText(source) + u':' + QString::number(line) + u' ' +
                                    quotedOutsideText(message) + dropped;
    return true;
}

} // namespace Quillory
