#pragma once

#include <QHostAddress>
#include <QString>
#include <QUrl>

// Which URLs the program hands on or fetches: one rule for the launcher and the downloads.
namespace Quillory {

// The scheme is http or https, whatever else the URL holds (its host may be missing, the URL invalid).
bool isWebScheme(const QUrl &url);

// An absolute http or https URL with a host: the only URLs handed to the desktop's browser or fetched.
bool isWebUrl(const QUrl &url);

// True when the URL's host names this machine or a private network: "localhost" (and names under it),
// a loopback, link-local, private-range or unspecified address, written as an address (IPv4-mapped
// IPv6 included). A page from the internet must not make the program fetch from there.
bool isPrivateNetworkHost(const QUrl &url);

// Why a redirect from `current` to `next` may not be followed, as the start of a sentence that the
// target ends; empty when it may: http and https only, never from https to http, and never into this
// machine or a private network unless that is allowed. One rule for the downloads and the hidden page.
QString redirectRefusal(const QUrl &current, const QUrl &next, bool privateNetworkAllowed);

// True for a loopback, link-local, private-range, shared or unspecified address (IPv4-mapped IPv6
// included): where a resolved name must not lead a download that a page from the internet made.
bool isPrivateNetworkAddress(const QHostAddress &address);

// The URL's host as the network uses it: lower case, without the trailing dot that makes a name fully
// qualified ("127.0.0.1." and "localhost." are the same places as without it).
QString networkHost(const QUrl &url);

// True when the URL's host is written as an address rather than a name: nothing to resolve.
bool hasAddressHost(const QUrl &url);

} // namespace Quillory
