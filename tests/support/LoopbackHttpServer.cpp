#include "tests/support/LoopbackHttpServer.h"

#include "tools/refbackend/HttpRequestParser.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace fennimar::test {

using refbackend::HttpRequestParser;

// Requests on one connection are answered one at a time, in order; the next waits in the parser.
struct LoopbackHttpServer::Connection {
    QPointer<QTcpSocket> socket;
    HttpRequestParser parser{HttpRequestParser::Limits{}};
    bool busy = false;
    bool slow = false;  // the answer being given is delayed or trickled
};

std::optional<QByteArray> LoopbackHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

QJsonObject LoopbackHttpServer::Request::json() const
{
    return QJsonDocument::fromJson(body).object();
}

LoopbackHttpServer::LoopbackHttpServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            auto c = std::make_shared<Connection>();
            c->socket = socket;
            std::erase_if(m_connections, [](const auto &old) { return old->socket.isNull(); });
            m_connections.push_back(c);
            connect(socket, &QTcpSocket::readyRead, this, [this, c] {
                c->parser.feed(c->socket->readAll());
                serveNext(c);
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_server.listen(QHostAddress::LocalHost, 0);
    m_port = m_server.serverPort();
}

bool LoopbackHttpServer::setRefusing(bool refusing)
{
    if (!refusing)
        return m_server.isListening() || m_server.listen(QHostAddress::LocalHost, m_port);
    m_server.close();
    for (const auto &c : std::exchange(m_connections, {}))
        if (c->socket)
            c->socket->abort();
    return true;
}

int LoopbackHttpServer::answersHeld() const
{
    return static_cast<int>(std::count_if(m_connections.begin(), m_connections.end(),
                                          [](const auto &c) { return c->socket && c->busy && c->slow; }));
}

void LoopbackHttpServer::serveNext(const std::shared_ptr<Connection> &c)
{
    if (c->busy)
        return;
    auto step = c->parser.next();
    auto *parsed = std::get_if<HttpRequestParser::Parsed>(&step);
    if (!parsed)
        return;
    Request request{parsed->method, {}, parsed->target, {}, false, parsed->headers, parsed->body};
    if (const qsizetype q = parsed->target.indexOf('?'); q >= 0) {
        request.rawPath = parsed->target.left(q);
        request.query = QString::fromUtf8(parsed->target.mid(q + 1));
        request.hasQuery = true;
    }
    request.path = QUrl::fromPercentEncoding(request.rawPath);
    const Response r = responseFor(request.path);
    m_requests.push_back(std::move(request));
    c->busy = true;
    c->slow = r.delay > std::chrono::milliseconds(0) || r.trickleBytes > 0;
    QTimer::singleShot(r.delay, this, [this, c, r] {
        if (!c->socket)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Scripted\r\n";
        for (const auto &[name, value] : r.headers)
            head += name + ": " + value + "\r\n";
        head += r.contentLength ? "Content-Length: " + QByteArray::number(r.claimedLength.value_or(r.body.size()))
                                : QByteArray("Connection: close");
        c->socket->write(head + "\r\n\r\n");
        sendBody(c, r, 0);
    });
}

void LoopbackHttpServer::sendBody(const std::shared_ptr<Connection> &c, const Response &r, qint64 offset)
{
    if (!c->socket)
        return;
    const qint64 size = r.body.size();
    qint64 end = r.trickleBytes > 0 ? std::min(size, offset + r.trickleBytes) : size;
    const bool reset = r.resetAfterBytes >= 0 && end >= r.resetAfterBytes;
    end = reset ? std::min(end, r.resetAfterBytes) : end;
    c->socket->write(r.body.mid(offset, end - offset));
    if (reset) {
        // SO_LINGER 0 makes the close a reset, as a crashing server or a middlebox does.
        c->socket->flush();
        const linger hard{1, 0};
        ::setsockopt(static_cast<int>(c->socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        return c->socket->abort();
    }
    if (end >= size && !r.contentLength)
        return c->socket->disconnectFromHost();
    if (end < size)
        return QTimer::singleShot(r.trickleInterval, this, [this, c, r, end] { sendBody(c, r, end); });
    c->busy = false;
    serveNext(c);
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requestsTo(const QString &path) const
{
    std::vector<Request> out;
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(out),
                 [&](const Request &r) { return r.path == path; });
    return out;
}

bool LoopbackHttpServer::waitForRequests(std::size_t n, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (m_requests.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return m_requests.size() >= n;
}

LoopbackHttpServer::Response LoopbackHttpServer::responseFor(const QString &path)
{
    if (m_everywhere)
        return *m_everywhere;
    if (auto once = m_once.find(path); once != m_once.end() && !once->second.empty()) {
        Response r = std::move(once->second.front());
        once->second.pop_front();
        return r;
    }
    if (auto standing = m_standing.find(path); standing != m_standing.end())
        return standing->second;
    return Response::text(404, "no script for " + path.toUtf8());
}

}  // namespace fennimar::test
