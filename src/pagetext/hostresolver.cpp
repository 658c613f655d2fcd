#include "hostresolver.h"

#include <QHostInfo>

namespace Quillory {

namespace {

class SystemHostResolver final : public HostResolver
{
public:
    void lookUp(const QString &host, QObject *context, Done done) const override
    {
        QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo &info) {
            done(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
        });
    }
};

} // namespace

const HostResolver &HostResolver::system()
{
    static const SystemHostResolver resolver;
    return resolver;
}

} // namespace Quillory
