#include "tools/refbackend/RefServer.h"

#include "tools/refbackend/Request.h"

#include <QHttpServerRequest>
#include <QTcpSocket>

#include <cstdio>

namespace fennimar::refbackend {

struct RefServer::Pending {
    QByteArray bytes;
    bool drop = false;
    bool close = false;
    bool ready = false;
    TimerHandle timer;
};

namespace {

Request detach(const QHttpServerRequest &in)
{
    Request out;
    switch (in.method()) {
        case QHttpServerRequest::Method::Get:
            out.method = "GET";
            break;
        case QHttpServerRequest::Method::Post:
            out.method = "POST";
            break;
        case QHttpServerRequest::Method::Put:
            out.method = "PUT";
            break;
        case QHttpServerRequest::Method::Delete:
            out.method = "DELETE";
            break;
        case QHttpServerRequest::Method::Head:
            out.method = "HEAD";
            break;
        case QHttpServerRequest::Method::Patch:
            out.method = "PATCH";
            break;
        default:
            out.method = "OTHER";
            break;
    }
    const QUrl url = in.url();
    out.rawPath = url.path(QUrl::FullyEncoded).toUtf8();
    // Split before decoding, so that an encoded "/" inside a token stays inside its segment.
    const QList<QByteArray> parts = out.rawPath.split('/');
    for (qsizetype i = 1; i < parts.size(); ++i)
        out.segments.append(QUrl::fromPercentEncoding(parts.at(i)));
    out.query = in.query();
    out.headers = in.headers();
    out.body = in.body();
    out.remote = in.remoteAddress();
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
                     QObject *parent)
    : QAbstractHttpServer(parent), m_api(api), m_admin(admin), m_gate(gate), m_faults(faults), m_clock(clock)
{
}

RefServer::~RefServer() = default;

Reply RefServer::answer(const Request &request)
{
    if (request.body.size() > kMaxBodyBytes)
        return Reply::error(413, QStringLiteral("request body larger than %1 bytes").arg(kMaxBodyBytes));

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

bool RefServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const Request detached = detach(request);
    const Reply reply = answer(detached);
    logLine(detached, reply);
    // A refused oversized body may have been followed by more of it: start afresh.
    const bool closeAfter = detached.header("Connection").trimmed().toLower() == "close" || reply.status == 413;
    send(socket, reply, closeAfter);
    return true;
}

void RefServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    send(socket, Reply::error(404, QStringLiteral("no such route")), false);
}

void RefServer::send(QTcpSocket *socket, Reply reply, bool closeAfter)
{
    auto pending = std::make_unique<Pending>();
    pending->bytes = reply.serialise(closeAfter);
    pending->drop = reply.dropConnection;
    pending->close = closeAfter;

    auto [queue, fresh] = m_queues.try_emplace(socket);
    if (fresh) {
        connect(socket, &QObject::destroyed, this, [this, socket] { m_queues.erase(socket); });
    }
    // Cutting the connection waits for the next turn of the loop, so the HTTP parser is not
    // inside a call on a socket that is going away.
    if (reply.delayMs > 0 || pending->drop) {
        Pending *raw = pending.get();
        raw->timer = m_clock.callAfter(Millis(reply.delayMs), [this, socket, raw] {
            raw->ready = true;
            flush(socket);
        });
    } else {
        pending->ready = true;
    }
    queue->second.push_back(std::move(pending));
    flush(socket);
}

void RefServer::flush(QTcpSocket *socket)
{
    const auto it = m_queues.find(socket);
    if (it == m_queues.end())
        return;
    auto &queue = it->second;
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
}

}  // namespace fennimar::refbackend
