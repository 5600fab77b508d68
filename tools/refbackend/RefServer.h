#pragma once

#include "core/Clock.h"
#include "tools/refbackend/AdminGate.h"
#include "tools/refbackend/AdminRoutes.h"
#include "tools/refbackend/ApiRoutes.h"
#include "tools/refbackend/FaultPlan.h"
#include "tools/refbackend/HttpRequestParser.h"
#include "tools/refbackend/Reply.h"
#include "tools/refbackend/Request.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <deque>
#include <map>
#include <memory>

namespace fennimar::refbackend {

// The HTTP front of the reference backend: a TCP server whose connections are framed by
// HttpRequestParser and answered on the socket itself, because the faults it plays need what a
// framework's responder does not offer: holding an answer back, cutting the connection, closing
// after the answer when the client asked for "Connection: close".
class RefServer final : public QObject {
    Q_OBJECT
public:
    // Bodies above this many bytes are refused with 413 before any route sees them.
    static constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

    RefServer(ApiRoutes &api, AdminRoutes &admin, const AdminGate &gate, FaultPlan &faults, Clock &clock,
              QObject *parent = nullptr);
    ~RefServer() override;

    // Listens on address:port (0: a free port). Returns the port bound, or 0 when it cannot listen.
    quint16 listen(const QHostAddress &address, quint16 port);

private:
    struct Pending;
    struct Connection;
    void accept();
    void read(QTcpSocket *socket);
    Reply answer(const Request &request);
    // Answers leave each connection in request order: one held back by a delay holds back the
    // answers to later requests on the same connection (pipelining) until it has gone.
    void send(QTcpSocket *socket, Reply reply, bool closeAfter);
    void flush(QTcpSocket *socket);

    ApiRoutes &m_api;
    AdminRoutes &m_admin;
    const AdminGate &m_gate;
    FaultPlan &m_faults;
    Clock &m_clock;
    // Before the server: its sockets, destroyed with it, still find the map to leave.
    std::map<QTcpSocket *, Connection> m_connections;
    QTcpServer m_server;
};

}  // namespace fennimar::refbackend
