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
//
// It holds under abuse: a request must arrive whole within a deadline of its first byte (408), an
// idle connection is closed after a keep-alive timeout, connections are capped per peer and in all
// (at a cap the connection that waited longest without a request in hand makes room; with none,
// the newcomer gets 503), and a connection whose answers are not being read is not read either.
class RefServer final : public QObject {
    Q_OBJECT
public:
    // Bodies above this many bytes are refused with 413 before any route sees them.
    static constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

    struct Limits {
        int maxConnections = 1024;  // main lowers it to what the open-file limit allows
        int maxPerPeer = 256;
        Millis requestDeadline{10000};  // from a request's first byte (or the connection's start) to its end
        Millis keepAlive{5000};         // idle between requests
        qint64 maxUnsent = 256 * 1024;  // answers not yet taken by the client, before it is read no more
    };

    RefServer(ApiRoutes &api, AdminRoutes &admin, const AdminGate &gate, FaultPlan &faults, Clock &clock, Limits limits,
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
    // Arms the deadline the connection's state calls for: none while answers are owed, the
    // request deadline while one is coming, the keep-alive timeout while idle.
    void rearm(QTcpSocket *socket, Connection &c);
    qint64 unsent(QTcpSocket *socket, const Connection &c) const;
    // Makes room for a newcomer from peer (all peers: null): false when nobody can go.
    bool evict(const QHostAddress &peer);

    ApiRoutes &m_api;
    AdminRoutes &m_admin;
    const AdminGate &m_gate;
    FaultPlan &m_faults;
    Clock &m_clock;
    const Limits m_limits;
    quint64 m_events = 0;  // connections started and requests come whole, in order
    // Before the server: its sockets, destroyed with it, still find the map to leave.
    std::map<QTcpSocket *, Connection> m_connections;
    QTcpServer m_server;
};

}  // namespace fennimar::refbackend
