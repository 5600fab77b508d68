#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QTcpSocket;

namespace fennimar::test {

// A real HTTP/1.1 server on 127.0.0.1 with a free port, for tests of anything that calls the backend.
// Responses are scripted per path (the query is ignored when matching); every request is recorded.
// An unscripted path answers 404 "no script for <path>". Connections are kept alive between requests.
// Lives on the test's thread; its work happens while the test runs the Qt event loop.
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    using Header = std::pair<QByteArray, QByteArray>;

    struct Response {
        int status = 200;
        QByteArray body;
        QList<Header> headers;                         // sent as given, after the status line
        std::chrono::milliseconds delay{0};            // wait before sending anything
        qint64 trickleBytes = 0;                       // > 0: send the body this many bytes at a time ...
        std::chrono::milliseconds trickleInterval{0};  // ... with this pause between pieces
        qint64 closeAfterBytes = -1;                   // >= 0: close the connection after this many body bytes
        bool contentLength = true;                     // false: no Content-Length; the close ends the body
        std::optional<qint64> claimedLength;           // a Content-Length other than the body's size

        static Response json(QByteArray body, int status = 200);
        static Response text(int status, QByteArray body);
        static Response redirect(int status, const QUrl &to);
    };

    struct Request {
        QByteArray method;
        QString path;           // decoded path, e.g. "/api/devices/a b/heartbeat"
        QByteArray rawPath;     // as sent, e.g. "/api/devices/a%20b/heartbeat"
        QString query;          // after "?", as sent; empty when none
        bool hasQuery = false;  // a "?" was sent, even with nothing after it
        QList<Header> headers;
        QByteArray body;

        // The value of a header (name compared case-insensitively), or nothing.
        std::optional<QByteArray> header(const QByteArray &name) const;
        QJsonObject json() const;  // the body as a JSON object (empty when it is not one)
    };

    LoopbackHttpServer();
    ~LoopbackHttpServer() override;

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QUrl baseUrl() const;  // http://127.0.0.1:<port>

    // The standing answer for every request to path.
    void respond(const QString &path, Response response);
    // Answers the next request to path, before the standing answer; queued in order.
    void respondOnce(const QString &path, Response response);

    const std::vector<Request> &requests() const { return m_requests; }
    std::vector<Request> requestsTo(const QString &path) const;
    // Runs the event loop until n requests have arrived in all, or timeout passes.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    int connectionsAccepted() const { return m_connections; }
    void clearRequests() { m_requests.clear(); }

private:
    struct Connection;
    void accept();
    void readFrom(const std::shared_ptr<Connection> &connection);
    void serve(const std::shared_ptr<Connection> &connection, Request request);
    Response responseFor(const QString &path);
    void sendBody(const std::shared_ptr<Connection> &connection, const Response &response, qint64 offset);

    QTcpServer m_server;
    std::map<QString, Response> m_standing;
    std::map<QString, std::deque<Response>> m_once;
    std::vector<Request> m_requests;
    std::vector<std::shared_ptr<Connection>> m_open;
    int m_connections = 0;
};

}  // namespace fennimar::test
