#include "passtrace.h"

#include "pagetext/timemark.h"

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcPassTrace, "quillory.pass.trace", QtInfoMsg)

namespace Quillory {

void PassTrace::mark(PassPhase phase)
{
    m_at[std::size_t(phase)] = timeMarkNs();
}

double PassTrace::msBetween(PassPhase from, PassPhase to) const
{
    return at(from) > 0 && at(to) > 0 ? double(at(to) - at(from)) / 1e6 : 0;
}

QString PassTrace::describe() const
{
    static const char *const names[] = {"start", "read", "cut", "product page", "lookup", "field"};
    QStringList parts;
    std::size_t previous = 0;
    for (std::size_t i = 1; i < m_at.size(); ++i) {
        if (m_at[i] == 0)
            continue;
        parts.append(u"%1 %2 ms"_s.arg(QLatin1StringView(names[i]))
                         .arg(msBetween(PassPhase(previous), PassPhase(i)), 0, 'f', 2));
        previous = i;
    }
    if (downloadMs > 0)
        parts.append(u"(download %1 ms)"_s.arg(downloadMs));
    return u"pass trace: "_s + parts.join(u", "_s);
}

} // namespace Quillory
