#include "tests/support/LoopbackHttpServer.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QCoreApplication>

namespace fennimar::test {

struct LoopbackHttpServer::Connection {
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool busy = false;  // a response is being sent; further requests wait in the buffer
};

namespace {

LoopbackHttpServer::Response response(int status, QByteArray body, QList<LoopbackHttpServer::Header> headers)
{
    LoopbackHttpServer::Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

}  // namespace

LoopbackHttpServer::Response LoopbackHttpServer::Response::json(QByteArray body, int status)
{
    return response(status, std::move(body), {{"Content-Type", "application/json"}});
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::text(int status, QByteArray body)
{
    return response(status, std::move(body), {{"Content-Type", "text/plain"}});
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::redirect(int status, const QUrl &to)
{
    return response(status, {}, {{"Location", to.toEncoded()}});
}

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
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHttpServer::accept);
    m_server.listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    for (const auto &connection : m_open)
        if (connection->socket)
            connection->socket->abort();
}

QUrl LoopbackHttpServer::baseUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port()));
}

void LoopbackHttpServer::respond(const QString &path, Response response)
{
    m_standing[path] = std::move(response);
}

void LoopbackHttpServer::respondOnce(const QString &path, Response response)
{
    m_once[path].push_back(std::move(response));
}

std::vector<LoopbackHttpServer::Request> LoopbackHttpServer::requestsTo(const QString &path) const
{
    std::vector<Request> out;
    for (const auto &request : m_requests)
        if (request.path == path)
            out.push_back(request);
    return out;
}

bool LoopbackHttpServer::waitForRequests(std::size_t n, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (m_requests.size() < n && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return m_requests.size() >= n;
}

void LoopbackHttpServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connections;
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        m_open.push_back(connection);
        std::weak_ptr<Connection> weak = connection;
        connect(socket, &QTcpSocket::readyRead, this, [this, weak] {
            if (auto c = weak.lock())
                readFrom(c);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHttpServer::readFrom(const std::shared_ptr<Connection> &connection)
{
    if (!connection->socket)
        return;
    connection->buffer += connection->socket->readAll();
    while (!connection->busy) {
        const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
        Request request;
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        request.method = start.value(0);
        const QByteArray target = start.value(1);
        const qsizetype q = target.indexOf('?');
        request.rawPath = q < 0 ? target : target.left(q);
        request.hasQuery = q >= 0;
        request.query = q < 0 ? QString() : QString::fromUtf8(target.mid(q + 1));
        request.path = QUrl::fromPercentEncoding(request.rawPath);
        qint64 length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            Header header{line.left(colon).trimmed(), line.mid(colon + 1).trimmed()};
            if (header.first.compare("content-length", Qt::CaseInsensitive) == 0)
                length = header.second.toLongLong();
            request.headers.push_back(std::move(header));
        }
        if (connection->buffer.size() < headEnd + 4 + length)
            return;
        request.body = connection->buffer.mid(headEnd + 4, length);
        connection->buffer.remove(0, headEnd + 4 + length);
        serve(connection, std::move(request));
    }
}

LoopbackHttpServer::Response LoopbackHttpServer::responseFor(const QString &path)
{
    auto once = m_once.find(path);
    if (once != m_once.end() && !once->second.empty()) {
        Response r = std::move(once->second.front());
        once->second.pop_front();
        return r;
    }
    auto standing = m_standing.find(path);
    if (standing != m_standing.end())
        return standing->second;
    return Response::text(404, "no script for " + path.toUtf8());
}

void LoopbackHttpServer::serve(const std::shared_ptr<Connection> &connection, Request request)
{
    const Response response = responseFor(request.path);
    m_requests.push_back(std::move(request));
    connection->busy = true;
    auto sendHead = [this, connection, response] {
        if (!connection->socket)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (response.contentLength)
            head +=
                "Content-Length: " + QByteArray::number(response.claimedLength.value_or(response.body.size())) + "\r\n";
        else
            head += "Connection: close\r\n";
        head += "\r\n";
        connection->socket->write(head);
        sendBody(connection, response, 0);
    };
    if (response.delay.count() > 0)
        QTimer::singleShot(response.delay, this, sendHead);
    else
        sendHead();
}

void LoopbackHttpServer::sendBody(const std::shared_ptr<Connection> &connection, const Response &response,
                                  qint64 offset)
{
    QTcpSocket *socket = connection->socket;
    if (!socket)
        return;
    const qint64 size = response.body.size();
    qint64 end = response.trickleBytes > 0 ? std::min(size, offset + response.trickleBytes) : size;
    const bool closing = response.closeAfterBytes >= 0 && end >= response.closeAfterBytes;
    if (closing)
        end = std::min(end, response.closeAfterBytes);
    socket->write(response.body.mid(offset, end - offset));
    if (closing || (end >= size && !response.contentLength)) {
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    if (end < size) {
        QTimer::singleShot(response.trickleInterval, this,
                           [this, connection, response, end] { sendBody(connection, response, end); });
        return;
    }
    connection->busy = false;
    if (!connection->buffer.isEmpty())
        readFrom(connection);
}

}  // namespace fennimar::test
