#include "httpfixture.h"

#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <optional>

namespace Quillory::Testing {

namespace {

constexpr qsizetype maxHeadBytes = 64 * 1024;
constexpr qsizetype chunkBytes = 64 * 1024;

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const QByteArray *findHeader(const HttpHeaders &headers, QByteArrayView name)
{
    for (const auto &[key, value] : headers) {
        if (equalsIgnoringCase(key, name))
            return &value;
    }
    return nullptr;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 410:
        return "Gone";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}

QByteArray chunk(QByteArrayView data)
{
    return QByteArray::number(data.size(), 16) + "\r\n" + data.toByteArray() + "\r\n";
}

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const
{
    const QByteArray *value = findHeader(headers, name);
    return value ? *value : QByteArray();
}

bool HttpRequest::hasHeader(QByteArrayView name) const
{
    return findHeader(headers, name) != nullptr;
}

HttpReply HttpReply::html(QByteArray body, QByteArrayView charset, int status)
{
    HttpReply reply;
    reply.status = status;
    QByteArray type = "text/html";
    if (!charset.isEmpty())
        type += "; charset=" + charset.toByteArray();
    reply.headers.append({"Content-Type", type});
    reply.body = std::move(body);
    return reply;
}

HttpReply HttpReply::redirect(QByteArray location, int status)
{
    HttpReply reply;
    reply.status = status;
    reply.headers.append({"Location", std::move(location)});
    return reply;
}

HttpReply &HttpReply::withHeader(QByteArray name, QByteArray value)
{
    headers.append({std::move(name), std::move(value)});
    return *this;
}

struct ReplyGate::State
{
    mutable QMutex mutex;
    bool open = false;
    QList<std::pair<QObject *, std::function<void()>>> waiting;
};

std::shared_ptr<ReplyGate::State> ReplyGate::makeState()
{
    return std::make_shared<State>();
}

void ReplyGate::open()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->open = true;
    // Posted while the lock is held: a context that is going waits in `forget` until this is done,
    // and its destruction then drops what was posted to it.
    for (auto &[context, act] : m_state->waiting)
        QMetaObject::invokeMethod(context, std::move(act), Qt::QueuedConnection);
    m_state->waiting.clear();
}

bool ReplyGate::isOpen() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->open;
}

int ReplyGate::held() const
{
    QMutexLocker lock(&m_state->mutex);
    return int(m_state->waiting.size());
}

void ReplyGate::whenOpen(QObject *context, std::function<void()> act)
{
    {
        QMutexLocker lock(&m_state->mutex);
        if (!m_state->open) {
            m_state->waiting.append({context, std::move(act)});
            return;
        }
    }
    act();
}

void ReplyGate::forget(QObject *context)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->waiting.removeIf([context](const auto &item) { return item.first == context; });
}

struct HttpFixture::Shared
{
    mutable QMutex mutex;
    Handler handler;
    QList<HttpRequest> requests;
    quint16 port = 0;

    Handler currentHandler() const
    {
        QMutexLocker lock(&mutex);
        return handler;
    }
};

// Lives in the serving thread, with its connections as children.
class HttpFixture::Server final : public QObject
{
public:
    explicit Server(std::shared_ptr<Shared> shared);

    bool listen()
    {
        if (!m_listener.listen(QHostAddress::LocalHost, 0))
            return false;
        QMutexLocker lock(&m_shared->mutex);
        m_shared->port = m_listener.serverPort();
        return true;
    }

private:
    class Connection;

    std::shared_ptr<Shared> m_shared;
    QTcpServer m_listener{this};
};

class HttpFixture::Server::Connection final : public QObject
{
public:
    Connection(QTcpSocket *socket, std::shared_ptr<Shared> shared, QObject *parent)
        : QObject(parent), m_socket(socket), m_shared(std::move(shared))
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_in += m_socket->readAll();
            processRequests();
        });
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0) {
            m_in += socket->readAll();
            QTimer::singleShot(0, this, [this] { processRequests(); });
        }
    }
    ~Connection() override
    {
        for (const std::shared_ptr<ReplyGate> &gate : std::as_const(m_gates))
            gate->forget(this);
    }

private:
    void processRequests()
    {
        while (!m_busy && m_socket->state() == QAbstractSocket::ConnectedState) {
            std::optional<HttpRequest> request = takeRequest();
            if (!request)
                return;
            {
                QMutexLocker lock(&m_shared->mutex);
                m_shared->requests.append(*request);
            }
            const Handler handler = m_shared->currentHandler();
            HttpReply reply;
            if (handler) {
                reply = handler(*request);
            } else {
                reply = HttpReply::html("<html><body>Not Found</body></html>", "utf-8", 404);
            }
            const QByteArray connection = request->header("Connection").toLower();
            const bool clientCloses = connection.contains("close") ||
                                      (request->version == "HTTP/1.0" && !connection.contains("keep-alive"));
            const bool headOnly = request->method == "HEAD";
            m_busy = true;
            if (reply.gate) {
                m_gates.append(reply.gate);
                reply.gate->whenOpen(this, [this, reply, clientCloses, headOnly] {
                    actAfterDelay(reply, clientCloses, headOnly);
                });
            } else {
                actAfterDelay(reply, clientCloses, headOnly);
            }
        }
    }

    void actAfterDelay(const HttpReply &reply, bool clientCloses, bool headOnly)
    {
        if (reply.delay.count() > 0) {
            QTimer::singleShot(reply.delay, this,
                               [this, reply, clientCloses, headOnly] { act(reply, clientCloses, headOnly); });
        } else {
            act(reply, clientCloses, headOnly);
        }
    }

    // The next complete request in the input, removed from it; nothing while it is incomplete.
    std::optional<HttpRequest> takeRequest()
    {
        while (m_in.startsWith("\r\n"))
            m_in.remove(0, 2);
        const qsizetype headEnd = m_in.indexOf("\r\n\r\n");
        if (headEnd < 0) {
            if (m_in.size() > maxHeadBytes)
                m_socket->abort();
            return std::nullopt;
        }
        const QList<QByteArray> lines = m_in.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        HttpRequest request;
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        request.version = requestLine.value(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        bool lengthOk = true;
        const QByteArray lengthText = request.header("Content-Length");
        const qint64 bodyLength = lengthText.isNull() ? 0 : lengthText.toLongLong(&lengthOk);
        if (!lengthOk || bodyLength < 0 || requestLine.size() != 3) {
            m_socket->abort();
            return std::nullopt;
        }
        const qsizetype bodyStart = headEnd + 4;
        if (m_in.size() - bodyStart < bodyLength)
            return std::nullopt;
        request.body = m_in.mid(bodyStart, bodyLength);
        m_in.remove(0, bodyStart + bodyLength);

        const QByteArray &target = request.target;
        if (target.startsWith('/')) {
            QByteArray host = request.header("Host");
            if (host.isEmpty())
                host = "127.0.0.1:" + QByteArray::number(m_socket->localPort());
            request.url = QUrl::fromEncoded("http://" + host + target);
        } else if (request.method == "CONNECT") {
            request.url = QUrl::fromEncoded("https://" + target + "/");
        } else {
            request.url = QUrl::fromEncoded(target);
        }
        return request;
    }

    QByteArray head(const HttpReply &reply, bool chunked, bool close) const
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' +
                         (reply.reason.isEmpty() ? reasonPhrase(reply.status) : reply.reason) + "\r\n";
        for (const auto &[name, value] : reply.headers)
            out += name + ": " + value + "\r\n";
        const bool framed =
            findHeader(reply.headers, "Content-Length") || findHeader(reply.headers, "Transfer-Encoding");
        if (!framed) {
            if (chunked)
                out += "Transfer-Encoding: chunked\r\n";
            else
                out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        }
        if (!findHeader(reply.headers, "Connection"))
            out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
        return out + "\r\n";
    }

    void act(const HttpReply &reply, bool clientCloses, bool headOnly)
    {
        using B = HttpReply::Behaviour;
        switch (reply.behaviour) {
        case B::NeverAnswer:
            return; // stays busy: nothing more is read or sent
        case B::Close:
            m_socket->disconnectFromHost();
            return;
        case B::Stall:
            m_socket->write(head(reply, false, false));
            if (!headOnly)
                m_socket->write(reply.body.left(reply.partialBody));
            return;
        case B::Trickle: {
            m_socket->write(head(reply, true, false));
            const QByteArray source = reply.body.isEmpty() ? QByteArray("x") : reply.body;
            const qsizetype step = qMax<qsizetype>(1, reply.trickleBytes);
            auto *timer = new QTimer(this);
            timer->setInterval(reply.trickleInterval);
            connect(timer, &QTimer::timeout, this, [this, source, step, offset = qsizetype(0)]() mutable {
                QByteArray piece;
                while (piece.size() < step) {
                    const QByteArray part = source.mid(offset, step - piece.size());
                    piece += part;
                    offset = (offset + part.size()) % source.size();
                }
                m_socket->write(chunk(piece));
            });
            timer->start();
            return;
        }
        case B::Answer:
            break;
        }

        const QByteArray *connection = findHeader(reply.headers, "Connection");
        const bool close = clientCloses || (connection && connection->toLower().contains("close"));
        const bool noBody = headOnly || reply.status == 204 || reply.status == 304 || reply.status < 200;
        m_socket->write(head(reply, reply.chunked, close));
        if (!noBody) {
            if (reply.chunked) {
                for (qsizetype offset = 0; offset < reply.body.size(); offset += chunkBytes)
                    m_socket->write(chunk(QByteArrayView(reply.body)
                                              .sliced(offset, qMin(chunkBytes, reply.body.size() - offset))));
                m_socket->write("0\r\n\r\n");
            } else {
                m_socket->write(reply.body);
            }
        }
        if (close) {
            m_socket->disconnectFromHost(); // after the written bytes have gone out
            return;
        }
        m_busy = false;
        if (!m_in.isEmpty())
            QTimer::singleShot(0, this, [this] { processRequests(); });
    }

    QTcpSocket *m_socket;
    std::shared_ptr<Shared> m_shared;
    QList<std::shared_ptr<ReplyGate>> m_gates; // that this connection has waited at
    QByteArray m_in;
    bool m_busy = false;
};

HttpFixture::Server::Server(std::shared_ptr<Shared> shared) : m_shared(std::move(shared))
{
    connect(&m_listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_listener.nextPendingConnection())
            new Connection(socket, m_shared, this);
    });
}

HttpFixture::HttpFixture(Handler handler) : m_shared(std::make_shared<Shared>())
{
    m_shared->handler = std::move(handler);
}

HttpFixture::~HttpFixture()
{
    if (m_thread) {
        Server *server = m_server;
        QMetaObject::invokeMethod(
            server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    } else {
        delete m_server;
    }
}

bool HttpFixture::start()
{
    if (m_server)
        return false;
    m_server = new Server(m_shared);
    return m_server->listen();
}

bool HttpFixture::startInThread()
{
    if (m_server)
        return false;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("HttpFixture"));
    m_server = new Server(m_shared);
    m_server->moveToThread(m_thread);
    m_thread->start();
    bool listening = false;
    Server *server = m_server;
    QMetaObject::invokeMethod(
        server, [server, &listening] { listening = server->listen(); }, Qt::BlockingQueuedConnection);
    return listening;
}

void HttpFixture::setHandler(Handler handler)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->handler = std::move(handler);
}

quint16 HttpFixture::port() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->port;
}

QUrl HttpFixture::url(QStringView pathAndQuery) const
{
    return QUrl(proxyUrl() + pathAndQuery);
}

QString HttpFixture::proxyUrl() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(port());
}

QList<HttpRequest> HttpFixture::requests() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

void HttpFixture::clearRequests()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->requests.clear();
}

quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 1;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace Quillory::Testing
