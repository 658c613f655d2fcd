#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QObject;

namespace Quillory {

// Where a host name leads, asked before a download connects to it, so that a name cannot carry a
// download into this machine or a private network that its address would not be allowed into.
class HostResolver
{
public:
    using Done = std::function<void(const QList<QHostAddress> &addresses)>;

    virtual ~HostResolver() = default;

    // Looks up `host`. `done` runs on the calling thread, once, with the addresses (none when the name
    // is unknown or the lookup failed), and never once `context` is gone. It may run before this
    // returns.
    virtual void lookUp(const QString &host, QObject *context, Done done) const = 0;

    // The system's resolver (QHostInfo, with its cache).
    static const HostResolver &system();
};

} // namespace Quillory
