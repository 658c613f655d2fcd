#pragma once

#include "pagetext/hostresolver.h"

#include <QHash>
#include <QStringList>
#include <QTimer>

namespace Quillory::Testing {

// Host names that lead where the test says, answered from the event loop as a real lookup is; a name
// not in the table is unknown.
class TableResolver final : public HostResolver
{
public:
    explicit TableResolver(QHash<QString, QStringList> table) : m_table(std::move(table)) {}

    void lookUp(const QString &host, QObject *context, Done done) const override
    {
        m_asked.append(host);
        QList<QHostAddress> addresses;
        for (const QString &address : m_table.value(host))
            addresses.append(QHostAddress(address));
        QTimer::singleShot(0, context, [addresses, done = std::move(done)] { done(addresses); });
    }

    // The names looked up, in order.
    QStringList asked() const { return m_asked; }

private:
    QHash<QString, QStringList> m_table;
    mutable QStringList m_asked;
};

} // namespace Quillory::Testing
