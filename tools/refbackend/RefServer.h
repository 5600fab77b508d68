#pragma once

#include "platform/Clock.h"
#include "tools/refbackend/AdminGate.h"
#include "tools/refbackend/AdminRoutes.h"
#include "tools/refbackend/ApiRoutes.h"
#include "tools/refbackend/FaultPlan.h"
#include "tools/refbackend/Reply.h"
#include "tools/refbackend/Request.h"

#include <QAbstractHttpServer>

#include <deque>
#include <map>
#include <memory>

namespace fennimar::refbackend {

// The HTTP front of the reference backend on top of Qt HttpServer's parser. It writes answers to
// the socket itself rather than through QHttpServerResponder, because the faults it plays need
// what the responder does not offer: holding an answer back, cutting the connection, closing
// after the answer when the client asked for "Connection: close" (which QHttpServer ignores).
class RefServer final : public QAbstractHttpServer {
    Q_OBJECT
public:
    // Bodies above this many bytes are refused with 413 before any route sees them.
    static constexpr qsizetype kMaxBodyBytes = 1024 * 1024;

    RefServer(ApiRoutes &api, AdminRoutes &admin, const AdminGate &gate, FaultPlan &faults, Clock &clock,
              QObject *parent = nullptr);
    ~RefServer() override;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Pending;
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
    std::map<QTcpSocket *, std::deque<std::unique_ptr<Pending>>> m_queues;
};

}  // namespace fennimar::refbackend
