#include "weburl.h"

#include <QHostAddress>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

bool isPrivateIPv4(quint32 a)
{
    const auto in = [a](quint32 network, int bits) {
        return (a >> (32 - bits)) == (network >> (32 - bits));
    };
    return in(0x00000000, 8)      // 0.0.0.0/8: "this network", reaches this machine
           || in(0x0a000000, 8)   // 10.0.0.0/8
           || in(0x7f000000, 8)   // 127.0.0.0/8 loopback
           || in(0xa9fe0000, 16)  // 169.254.0.0/16 link-local
           || in(0xac100000, 12)  // 172.16.0.0/12
           || in(0xc0a80000, 16)  // 192.168.0.0/16
           || in(0x64400000, 10); // 100.64.0.0/10 shared address space
}

bool isPrivateIPv6(const Q_IPV6ADDR &a)
{
    bool zeroPrefix = true; // ::/96 holds :: and ::1 and the old IPv4-compatible form
    for (int i = 0; i < 12; ++i)
        zeroPrefix = zeroPrefix && a[i] == 0;
    if (zeroPrefix)
        return true;
    return (a[0] == 0xfe && (a[1] & 0xc0) == 0x80)    // fe80::/10 link-local
           || (a[0] == 0xfe && (a[1] & 0xc0) == 0xc0) // fec0::/10 site-local
           || (a[0] & 0xfe) == 0xfc;                  // fc00::/7 unique local
}

} // namespace

bool isWebScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme.compare(u"http"_s, Qt::CaseInsensitive) == 0 ||
           scheme.compare(u"https"_s, Qt::CaseInsensitive) == 0;
}

bool isWebUrl(const QUrl &url)
{
    return url.isValid() && isWebScheme(url) && !url.host().isEmpty();
}

QString redirectRefusal(const QUrl &current, const QUrl &next, bool privateNetworkAllowed)
{
    if (!isWebScheme(next))
        return u"redirect to a URL that is not http or https refused: "_s;
    if (current.scheme().compare(u"https"_s, Qt::CaseInsensitive) == 0 &&
        next.scheme().compare(u"http"_s, Qt::CaseInsensitive) == 0)
        return u"redirect from https to http refused: "_s;
    if (!isWebUrl(next))
        return u"redirect to an invalid URL refused: "_s;
    if (!privateNetworkAllowed && isPrivateNetworkHost(next))
        return u"redirect into this machine or a private network refused: "_s;
    return {};
}

QString networkHost(const QUrl &url)
{
    QString host = url.host().toLower();
    while (host.endsWith(u'.'))
        host.chop(1);
    return host;
}

bool hasAddressHost(const QUrl &url)
{
    return !QHostAddress(networkHost(url)).isNull();
}

bool isPrivateNetworkAddress(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped); // IPv4, or IPv4 mapped into IPv6
    if (mapped)
        return isPrivateIPv4(v4);
    return address.protocol() == QAbstractSocket::IPv6Protocol && isPrivateIPv6(address.toIPv6Address());
}

bool isPrivateNetworkHost(const QUrl &url)
{
    const QString host = networkHost(url);
    if (host.isEmpty())
        return false;
    if (host == u"localhost"_s || host.endsWith(u".localhost"_s))
        return true;
    const QHostAddress address(host);
    if (address.isNull())
        return false; // a name: where it leads is for the resolver to say
    return isPrivateNetworkAddress(address);
}

} // namespace Quillory
