#include "tools/refbackend/RefServer.h"

#include "tools/refbackend/Request.h"

#include <QTcpSocket>
#include <QUrl>

#include <cstdio>

namespace fennimar::refbackend {

struct RefServer::Pending {
    QByteArray bytes;
    bool drop = false;
    bool close = false;
    bool ready = false;
    TimerHandle timer;
};

struct RefServer::Connection {
    HttpRequestParser parser{{64 * 1024, kMaxBodyBytes}};
    std::deque<std::unique_ptr<Pending>> queue;
    QHostAddress peer;
    quint64 since = 0;  // when it started, or its last request came whole: the longest waiting makes room first
    enum class Waiting { Nothing, Request, Idle } waiting = Waiting::Nothing;
    TimerHandle deadline;
    bool served = false;   // a request came whole: silence is then idleness, no longer a slow request
    bool closing = false;  // the last answer closes it: nothing more is read
};

namespace {

Request detach(HttpRequestParser::Parsed in, const QHostAddress &remote)
{
    Request out;
    out.method = in.method;
    const qsizetype question = in.target.indexOf('?');
    out.rawPath = question < 0 ? in.target : in.target.left(question);
    // Split before decoding, so that an encoded "/" inside a token stays inside its segment.
    const QList<QByteArray> parts = out.rawPath.split('/');
    for (qsizetype i = 1; i < parts.size(); ++i)
        out.segments.append(QUrl::fromPercentEncoding(parts.at(i)));
    if (question >= 0)
        out.query = QUrlQuery(QString::fromUtf8(in.target.mid(question + 1)));
    out.headers = std::move(in.headers);
    out.body = std::move(in.body);
    out.remote = remote;
    return out;
}

// The log names routes, never secrets: a ticket token in a status path is enough to take the
// session of a setup that a parent has just claimed.
QByteArray loggedPath(const Request &request)
{
    const QStringList &s = request.segments;
    if (s.size() == 4 && s.at(0) == QStringLiteral("api") && s.at(1) == QStringLiteral("devices") &&
        s.at(2) == QStringLiteral("setup-status"))
        return "/api/devices/setup-status/<token>";
    return request.rawPath;
}

void logLine(const Request &request, const Reply &reply)
{
    const QByteArray line = request.method + ' ' + loggedPath(request) + " \xc2\xb7 " +
                            (reply.dropConnection ? QByteArray("dropped") : QByteArray::number(reply.status)) +
                            (reply.delayMs > 0 ? " \xc2\xb7 delayed " + QByteArray::number(reply.delayMs) + " ms" : "");
    std::fprintf(stderr, "%s\n", line.constData());
}

}  // namespace

RefServer::RefServer(ApiRoutes &api, AdminRoutes &admin, const AdminGate &gate, FaultPlan &faults, Clock &clock,
                     Limits limits, QObject *parent)
    : QObject(parent), m_api(api), m_admin(admin), m_gate(gate), m_faults(faults), m_clock(clock), m_limits(limits)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RefServer::accept);
}

RefServer::~RefServer() = default;

quint16 RefServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server.listen(address, port) ? m_server.serverPort() : 0;
}

void RefServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        const QHostAddress peer = socket->peerAddress();
        const auto fromPeer = std::count_if(m_connections.begin(), m_connections.end(),
                                            [&](const auto &entry) { return entry.second.peer == peer; });
        if ((fromPeer >= m_limits.maxPerPeer && !evict(peer)) ||
            (std::ssize(m_connections) >= m_limits.maxConnections && !evict({}))) {
            std::fprintf(stderr, "connection refused \xc2\xb7 503 \xc2\xb7 too many from %s or in all\n",
                         qPrintable(peer.toString()));
            socket->write(Reply::error(503, QStringLiteral("too many connections")).serialise(true));
            socket->disconnectFromHost();
            continue;
        }
        // Qt stops taking bytes from the system past this much unread: with reading paused, the
        // client's own sending stalls instead of this server's memory growing.
        socket->setReadBufferSize(64 * 1024);
        Connection &c = m_connections[socket];
        c.peer = peer;
        c.since = ++m_events;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { read(socket); });
        connect(socket, &QObject::destroyed, this, [this, socket] { m_connections.erase(socket); });
        rearm(socket, c);
    }
}

bool RefServer::evict(const QHostAddress &peer)
{
    auto oldest = m_connections.end();
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it)
        if ((peer.isNull() || it->second.peer == peer) && it->second.queue.empty() && !it->second.closing &&
            (oldest == m_connections.end() || it->second.since < oldest->second.since))
            oldest = it;
    if (oldest == m_connections.end())
        return false;
    QTcpSocket *socket = oldest->first;
    m_connections.erase(oldest);
    socket->abort();
    return true;
}

qint64 RefServer::unsent(QTcpSocket *socket, const Connection &c) const
{
    qint64 queued = socket->bytesToWrite();
    for (const auto &pending : c.queue)
        queued += pending->bytes.size();
    return queued;
}

void RefServer::rearm(QTcpSocket *socket, Connection &c)
{
    using W = Connection::Waiting;
    const W now = c.closing || !c.queue.empty() ? W::Nothing : c.served && c.parser.idle() ? W::Idle : W::Request;
    if (now == c.waiting)
        return;
    c.waiting = now;
    c.deadline.cancel();
    if (now == W::Nothing)
        return;
    c.deadline = m_clock.callAfter(now == W::Idle ? m_limits.keepAlive : m_limits.requestDeadline, [this, socket, now] {
        const auto it = m_connections.find(socket);
        if (it == m_connections.end())
            return;
        it->second.closing = true;
        // A client that does not take its answers is not waited for.
        if (socket->bytesToWrite() > 0)
            return socket->abort();
        if (now == W::Request)
            socket->write(Reply::error(408, QStringLiteral("the request did not arrive in time")).serialise(true));
        socket->disconnectFromHost();
    });
}

void RefServer::read(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end() || it->second.closing)
        return;
    Connection &c = it->second;
    HttpRequestParser &parser = c.parser;
    // Back-pressure: while the client leaves this much unread, its next requests wait where they are.
    if (unsent(socket, c) > m_limits.maxUnsent)
        return rearm(socket, c);
    parser.feed(socket->readAll());
    while (unsent(socket, c) <= m_limits.maxUnsent) {
        HttpRequestParser::Step step = parser.next();
        if (const auto *more = std::get_if<HttpRequestParser::NeedMore>(&step)) {
            if (more->sendContinue)
                socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            break;
        }
        if (const auto *failed = std::get_if<HttpRequestParser::Failure>(&step)) {
            std::fprintf(stderr, "unframed request \xc2\xb7 %d \xc2\xb7 %s\n", failed->status,
                         qPrintable(failed->message));
            c.closing = true;
            send(socket, Reply::error(failed->status, failed->message), true);
            break;
        }
        auto &parsed = std::get<HttpRequestParser::Parsed>(step);
        c.since = ++m_events;
        c.served = true;
        c.waiting = Connection::Waiting::Nothing;  // the next request has a deadline of its own
        c.deadline.cancel();
        const bool http10 = parsed.http10;
        const Request request = detach(std::move(parsed), socket->peerAddress());
        const Reply reply = answer(request);
        logLine(request, reply);
        const QByteArray connection = request.header("Connection").trimmed().toLower();
        const bool closeAfter = connection == "close" || (http10 && connection != "keep-alive");
        c.closing = closeAfter;
        send(socket, reply, closeAfter);
        if (closeAfter)
            break;
    }
    if (m_connections.contains(socket))
        rearm(socket, c);
}

Reply RefServer::answer(const Request &request)
{
    // The admin routes claim codes and rewrite data, and the page shows all of it: only the owner
    // of this server may use them, even when --allow-remote opens the API to others. The page
    // also takes its token from the address, so that a browser can open it.
    if (request.segments.value(0) == QStringLiteral("admin")) {
        if (auto refused = m_gate.refusal(request, false))
            return *refused;
        return m_admin.handle(request);
    }
    if (request.rawPath == "/") {
        if (auto refused = m_gate.refusal(request, true))
            return *refused;
        return m_admin.page(request);
    }

    const auto match = ApiRoutes::match(request);
    if (!match)
        return Reply::error(404, QStringLiteral("no such route"));
    if (match->method != request.method) {
        Reply reply =
            Reply::error(405, QStringLiteral("method not allowed; use ") + QString::fromLatin1(match->method));
        reply.headers.append(QPair<QByteArray, QByteArray>{"Allow", match->method});
        return reply;
    }
    const auto fault = m_faults.take(match->route);
    if (fault && fault->kind != Fault::Kind::Delay)
        return fault->apply({}, request.rawPath);
    Reply reply = m_api.handle(*match, request);
    return fault ? fault->apply(std::move(reply), request.rawPath) : reply;
}

void RefServer::send(QTcpSocket *socket, Reply reply, bool closeAfter)
{
    auto pending = std::make_unique<Pending>();
    pending->bytes = reply.serialise(closeAfter);
    pending->drop = reply.dropConnection;
    pending->close = closeAfter;

    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    // Cutting the connection waits for the next turn of the loop, so that reading is not inside a
    // call on a socket that is going away.
    if (reply.delayMs > 0 || pending->drop) {
        Pending *raw = pending.get();
        raw->timer = m_clock.callAfter(Millis(reply.delayMs), [this, socket, raw] {
            raw->ready = true;
            flush(socket);
        });
    } else {
        pending->ready = true;
    }
    it->second.queue.push_back(std::move(pending));
    flush(socket);
}

void RefServer::flush(QTcpSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    auto &queue = it->second.queue;
    while (!queue.empty() && queue.front()->ready) {
        const std::unique_ptr<Pending> next = std::move(queue.front());
        queue.pop_front();
        if (next->drop) {
            queue.clear();
            socket->abort();
            return;
        }
        socket->write(next->bytes);
        if (next->close) {
            queue.clear();
            socket->disconnectFromHost();
            return;
        }
    }
    rearm(socket, it->second);
}

}  // namespace fennimar::refbackend
