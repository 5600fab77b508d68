#include "tests/faults/FaultFront.h"

#include <QSslServer>
#include <QTcpSocket>

#include <algorithm>

#include <sys/socket.h>
#include <utility>

namespace fennimar::test {

struct FaultFront::Link {
    QTcpSocket *client = nullptr;
    QTcpSocket *upstream = nullptr;
    bool resetting = false;
    bool awaiting = false;
    QByteArray answer;  // read from upstream, not yet passed on
};

namespace {

// An abortive close: SO_LINGER with a zero timeout makes close() send RST instead of FIN, which is
// what a crashing server or a middlebox dropping state looks like to the client.
void reset(QTcpSocket *socket)
{
    const linger hard{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

}  // namespace

FaultFront::FaultFront(quint16 upstreamPort) : m_upstreamPort(upstreamPort)
{
    listen();
    m_port = m_server->serverPort();
}

bool FaultFront::listen()
{
    if (m_tls) {
        auto tls = std::make_unique<QSslServer>();
        tls->setSslConfiguration(tlsFor(m_mode));
        connect(tls.get(), &QSslServer::startedEncryptionHandshake, this, [this](QSslSocket *socket) {
            std::erase_if(m_handshakes, [](const QPointer<QSslSocket> &s) { return s.isNull(); });
            m_handshakes.emplace_back(socket);
        });
        m_server = std::move(tls);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    // A TLS server offers a connection only once its handshake is done, and says so with the
    // second signal; accept() takes whatever is ready, so either signal may come first.
    connect(m_server.get(), &QTcpServer::newConnection, this, &FaultFront::accept);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &FaultFront::accept);
    return m_server->listen(QHostAddress::LocalHost, m_port);
}

const QSslConfiguration &FaultFront::tlsFor(Mode mode) const
{
    return mode == Mode::UntrustedCertificate ? m_tls->second : m_tls->first;
}

bool FaultFront::serveTls(const QSslConfiguration &trusted, const QSslConfiguration &untrusted)
{
    m_tls = {trusted, untrusted};
    m_server->close();
    closeAll();
    return m_mode == Mode::Refuse || listen();
}

FaultFront::~FaultFront()
{
    closeAll();
}

void FaultFront::closeAll()
{
    for (const auto &link : m_links) {
        for (QTcpSocket *s : {link->client, link->upstream}) {
            if (s) {
                s->disconnect();
                s->abort();
                s->deleteLater();
            }
        }
    }
    m_links.clear();
}

bool FaultFront::setMode(Mode mode)
{
    if (mode == m_mode)
        return true;
    if (mode == Mode::Refuse) {
        m_server->close();
        closeAll();
    } else if (m_mode == Mode::Refuse) {
        m_mode = mode;
        if (!listen())
            return false;
    }
    if (auto *tls = qobject_cast<QSslServer *>(m_server.get())) {
        // A new certificate counts from the next handshake, so kept-alive connections go.
        tls->setSslConfiguration(tlsFor(mode));
        closeAll();
    }
    // Kept-alive connections are the client's usual way in, so they misbehave from now on too.
    for (const auto &link : m_links)
        link->resetting = mode == Mode::ResetMidAnswer;
    m_mode = mode;
    return true;
}

int FaultFront::awaitingAnswers() const
{
    const auto handshaking = std::count_if(m_handshakes.begin(), m_handshakes.end(), [](const QPointer<QSslSocket> &s) {
        return s && !s->isEncrypted() && s->state() == QAbstractSocket::ConnectedState;
    });
    return static_cast<int>(handshaking +
                            std::count_if(m_links.begin(), m_links.end(), [](const auto &l) { return l->awaiting; }));
}

void FaultFront::accept()
{
    while (QTcpSocket *client = m_server->nextPendingConnection()) {
        auto link = std::make_shared<Link>();
        link->client = client;
        link->upstream = new QTcpSocket(this);
        link->resetting = m_mode == Mode::ResetMidAnswer;
        client->setParent(this);
        m_links.push_back(link);
        const std::weak_ptr<Link> weak = link;
        auto end = [this, weak] {
            auto l = weak.lock();
            if (!l)
                return;
            for (QTcpSocket *s : {l->client, l->upstream}) {
                s->disconnect();
                s->close();
                s->deleteLater();
            }
            std::erase(m_links, l);
        };
        connect(client, &QTcpSocket::readyRead, link->upstream, [weak] {
            if (auto l = weak.lock()) {
                l->awaiting = true;
                l->upstream->write(l->client->readAll());
            }
        });
        connect(link->upstream, &QTcpSocket::readyRead, client, [weak, end] {
            auto l = weak.lock();
            if (!l)
                return;
            l->awaiting = false;
            l->answer += l->upstream->readAll();
            if (!l->resetting) {
                l->client->write(std::exchange(l->answer, {}));
                return;
            }
            // The whole head and half of the body, then a reset: always in the middle of the body,
            // wherever the server's writes were split.
            const qsizetype head = l->answer.indexOf("\r\n\r\n");
            if (head < 0 || l->answer.size() == head + 4)
                return;
            const qsizetype body = l->answer.size() - head - 4;
            l->client->write(l->answer.left(head + 4 + std::max<qsizetype>(1, body / 2)));
            l->client->flush();
            reset(l->client);
            end();
        });
        connect(client, &QTcpSocket::disconnected, this, end);
        connect(link->upstream, &QTcpSocket::disconnected, this, end);
        link->upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
    }
}

}  // namespace fennimar::test
