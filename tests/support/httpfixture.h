#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks.
//
//     HttpFixture server([](const HttpRequest &request) {
//         return HttpReply::html(QByteArray("<p>hi</p>"), "gbk");
//     });
//     QVERIFY(server.start());
//     ... fetch server.url(u"/item.htm?id=1"_s) ...
//     QCOMPARE(server.requests().size(), 1);
//
// - It listens on 127.0.0.1 with a port of the system's choosing (`port()`).
// - `start()` serves from the calling thread's event loop: a client that blocks the same thread in a
//   nested QEventLoop (a QNetworkAccessManager call, GetText) is still served. `startInThread()` serves
//   from a thread of its own, for a client that blocks its thread without running events (benchmarks).
// - It works as an HTTP proxy too: point `http_proxy=http://127.0.0.1:PORT` (see `proxyUrl()`) at it and
//   requests for any host arrive in absolute form; `HttpRequest::url` is the absolute URL either way.
//   CONNECT (https through the proxy) is handed to the handler like any request; nothing is tunnelled.
// - Connections are kept alive (HTTP/1.1) unless the client or the reply says "Connection: close".
//   Request bodies are read by Content-Length (chunked request bodies are not supported).
// - The handler runs on the serving thread, one request at a time per connection. It may be replaced
//   at any time with `setHandler`; the default handler answers 404.
// - Every complete request is recorded, from any thread, before the handler sees it.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

class QObject;
class QThread;

namespace Quillory::Testing {

// Holds the replies given it until the test opens it: a server that answers exactly when the test says,
// however fast or slow the machine is. The serving thread goes on serving other connections meanwhile.
// Thread-safe.
class ReplyGate
{
public:
    ReplyGate() = default;
    ReplyGate(const ReplyGate &) = delete;
    ReplyGate &operator=(const ReplyGate &) = delete;

    // Sends every reply held, and from now on each at once.
    void open();
    bool isOpen() const;
    // How many replies it holds now: a request that has arrived and waits for the gate.
    int held() const;

    // For the fixture: runs `act` on `context`'s thread once the gate is open (at once if it is).
    void whenOpen(QObject *context, std::function<void()> act);
    // For the fixture: `context` is going; what it waits for is forgotten.
    void forget(QObject *context);

private:
    struct State;
    std::shared_ptr<State> m_state = makeState();
    static std::shared_ptr<State> makeState();
};

using HttpHeaders = QList<std::pair<QByteArray, QByteArray>>;

struct HttpRequest
{
    QByteArray method;   // "GET"
    QByteArray target;   // the request target exactly as sent: "/a?b" or "http://host/a?b"
    QByteArray version;  // "HTTP/1.1"
    QUrl url;            // absolute: from an absolute-form target, else "http://" + Host + target
    HttpHeaders headers; // in the order sent, names as sent
    QByteArray body;

    // The first value of the header `name` (compared case-insensitively), or a null QByteArray.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
};

struct HttpReply
{
    enum class Behaviour
    {
        Answer,      // status line, headers and body
        NeverAnswer, // read the request and hold the connection open without sending anything
        Stall,       // send the status line, the headers (Content-Length of the whole body) and the first
                     // `partialBody` bytes of the body, then hold the connection open
        Trickle,     // send the headers (chunked), then `trickleBytes` bytes of the body (cycled) every
                     // `trickleInterval`, forever
        Close,       // close the connection without sending anything
    };

    int status = 200;
    QByteArray reason; // empty: the standard phrase for `status`
    // Sent as given, in order. The fixture adds Content-Length (unless `chunked`, or a Content-Length
    // or Transfer-Encoding is given here: then the body is sent as is, which lets a test lie about
    // the length) and Connection (unless given here). "Connection: close" here closes the connection
    // once the reply is written, so a declared length longer than the body gives a truncated body.
    HttpHeaders headers;
    QByteArray body;
    bool chunked = false; // send the body with Transfer-Encoding: chunked (64 KiB chunks)

    Behaviour behaviour = Behaviour::Answer;
    std::chrono::milliseconds delay{0}; // wait this long before doing what `behaviour` says
    qsizetype partialBody = 0;          // Stall: how much of the body is sent before the stall
    qsizetype trickleBytes = 4;         // Trickle
    std::chrono::milliseconds trickleInterval{20};
    // Non-null: nothing is done until this gate opens (then `delay`, then `behaviour`).
    std::shared_ptr<ReplyGate> gate;

    // An HTML page; `charset` empty: "Content-Type: text/html" without a charset parameter.
    static HttpReply html(QByteArray body, QByteArrayView charset = {}, int status = 200);
    // A redirect to `location` (sent as given, relative or absolute) with an empty body.
    static HttpReply redirect(QByteArray location, int status = 302);

    HttpReply &withHeader(QByteArray name, QByteArray value);
};

class HttpFixture final
{
public:
    using Handler = std::function<HttpReply(const HttpRequest &)>;

    explicit HttpFixture(Handler handler = {});
    ~HttpFixture(); // closes every connection; with startInThread, also stops the thread
    HttpFixture(const HttpFixture &) = delete;
    HttpFixture &operator=(const HttpFixture &) = delete;

    bool start();         // serve from the calling thread; false when listening failed
    bool startInThread(); // serve from a thread of its own

    void setHandler(Handler handler); // thread-safe

    quint16 port() const;
    // "http://127.0.0.1:PORT" + pathAndQuery (which should begin with "/").
    QUrl url(QStringView pathAndQuery = u"/") const;
    QString proxyUrl() const; // "http://127.0.0.1:PORT", for http_proxy

    QList<HttpRequest> requests() const; // thread-safe copy, in the order they arrived
    void clearRequests();

private:
    struct Shared;
    class Server;
    std::shared_ptr<Shared> m_shared;
    Server *m_server = nullptr;
    QThread *m_thread = nullptr;
};

// A port on 127.0.0.1 that nothing listens on (it was free a moment ago): a refused connection.
quint16 closedPort();

// The text in the shopping site's encoding (GBK, written through its superset GB18030), for page bodies.
QByteArray gbk(const QString &text);

// Characters that GB2312 lacks and GBK has, so that a strict EUC-CN decoder would garble them, and a
// product page's attribute text with them.
inline const QString gbkOnly = QStringLiteral("喆镕堃");
inline const QString chinese = QStringLiteral("品牌:长春") + gbkOnly;

} // namespace Quillory::Testing
