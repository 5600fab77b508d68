#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace fennimar::test {

// A real HTTP/1.1 server on a free 127.0.0.1 port: responses scripted per path (query ignored), requests
// recorded, 404 otherwise; it can refuse and listen again on the same port. Needs the Qt event loop running.
class LoopbackHttpServer : public QObject {
    Q_OBJECT
public:
    using Header = std::pair<QByteArray, QByteArray>;

    struct Response {
        int status = 200;
        QByteArray body;
        QList<Header> headers;
        std::chrono::milliseconds delay{0};            // before sending anything
        qint64 trickleBytes = 0;                       // > 0: the body this many bytes at a time ...
        std::chrono::milliseconds trickleInterval{0};  // ... with this pause between pieces
        qint64 resetAfterBytes = -1;                   // >= 0: a reset (RST) after this many body bytes
        bool contentLength = true;                     // false: no Content-Length; the close ends the body
        std::optional<qint64> claimedLength;           // a Content-Length other than the body's size

        static Response json(QByteArray body, int status = 200)
        {
            return make(status, body, {"Content-Type", "application/json"});
        }
        static Response text(int status, QByteArray body) { return make(status, body, {"Content-Type", "text/plain"}); }
        static Response redirect(int status, const QUrl &to) { return make(status, {}, {"Location", to.toEncoded()}); }
        static Response make(int status, QByteArray body, Header header)
        {
            Response r;
            r.status = status;
            r.body = std::move(body);
            r.headers = {std::move(header)};
            return r;
        }
    };

    struct Request {
        QByteArray method;
        QString path;           // decoded, e.g. "/api/devices/a b/heartbeat"
        QByteArray rawPath;     // as sent, e.g. "/api/devices/a%20b/heartbeat"
        QString query;          // after "?", as sent
        bool hasQuery = false;  // a "?" was sent, even with nothing after it
        QList<Header> headers;
        QByteArray body;

        std::optional<QByteArray> header(const QByteArray &name) const;  // any case
        QJsonObject json() const;                                        // empty when the body is not one
    };

    LoopbackHttpServer();

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_port; }
    QUrl baseUrl() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_port)); }

    // Refusing closes the listener and all connections; not refusing listens again (false: port taken).
    bool setRefusing(bool refusing);
    // Requests whose answer is slow on purpose (a delay or a trickle) and not yet sent whole.
    int answersHeld() const;

    void respond(const QString &path, Response response) { m_standing[path] = std::move(response); }
    // While set, every path gets this answer, scripted ones included.
    void respondEverywhere(std::optional<Response> response) { m_everywhere = std::move(response); }
    // Answers the next request to path, before the standing answer; queued in order.
    void respondOnce(const QString &path, Response response) { m_once[path].push_back(std::move(response)); }

    const std::vector<Request> &requests() const { return m_requests; }
    std::vector<Request> requestsTo(const QString &path) const;
    // Runs the event loop until n requests have arrived in all, or timeout passes.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void clearRequests() { m_requests.clear(); }

private:
    struct Connection;
    void serveNext(const std::shared_ptr<Connection> &c);
    void sendBody(const std::shared_ptr<Connection> &c, const Response &r, qint64 offset);
    Response responseFor(const QString &path);

    QTcpServer m_server;
    quint16 m_port = 0;
    std::vector<std::shared_ptr<Connection>> m_connections;
    std::map<QString, Response> m_standing;
    std::optional<Response> m_everywhere;
    std::map<QString, std::deque<Response>> m_once;
    std::vector<Request> m_requests;
};

}  // namespace fennimar::test
