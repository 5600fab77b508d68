#include "tests/faults/FaultFront.h"

#include <QSslServer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace fennimar::test {

struct FaultFront::Link {
    QTcpSocket *client, *upstream;
    bool resetting;
    bool awaiting = false;
    QByteArray answer;  // read from upstream, not yet passed on

    void close(bool abortive) const
    {
        for (QTcpSocket *s : {client, upstream}) {
            s->disconnect();
            abortive ? s->abort() : s->close();
            s->deleteLater();
        }
    }
};

FaultFront::FaultFront(quint16 upstreamPort) : m_upstreamPort(upstreamPort)
{
    listen();
    m_port = m_server->serverPort();
}

bool FaultFront::listen()
{
    m_server = std::make_unique<QTcpServer>();
    if (m_tls) {
        auto tls = std::make_unique<QSslServer>();
        tls->setSslConfiguration(m_mode == Mode::UntrustedCertificate ? m_tls->second : m_tls->first);
        connect(tls.get(), &QSslServer::startedEncryptionHandshake, this, [this](QSslSocket *socket) {
            std::erase_if(m_handshakes, [](const QPointer<QSslSocket> &s) { return s.isNull(); });
            m_handshakes.emplace_back(socket);
        });
        m_server = std::move(tls);
    }
    // A TLS server offers a connection only once its handshake is done, and says so with the
    // second signal; accept() takes whatever is ready, so either signal may come first.
    connect(m_server.get(), &QTcpServer::newConnection, this, &FaultFront::accept);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &FaultFront::accept);
    return m_server->listen(QHostAddress::LocalHost, m_port);
}

bool FaultFront::serveTls(const QSslConfiguration &trusted, const QSslConfiguration &untrusted)
{
    m_tls = {trusted, untrusted};
    m_server->close();
    closeAll();
    return m_mode == Mode::Refuse || listen();
}

void FaultFront::closeAll()
{
    for (const auto &link : m_links)
        link->close(true);
    m_links.clear();
}

bool FaultFront::setMode(Mode mode)
{
    const Mode before = std::exchange(m_mode, mode);
    if (mode == before)
        return true;
    if (mode == Mode::Refuse) {
        m_server->close();
        closeAll();
        return true;
    }
    // A new certificate counts from the next handshake, so kept-alive connections go; otherwise
    // they are the client's usual way in and misbehave from now on too.
    if (before == Mode::Refuse || m_tls) {
        closeAll();
        return listen();
    }
    for (const auto &link : m_links)
        link->resetting = mode == Mode::ResetMidAnswer;
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
        client->setParent(this);
        auto link =
            std::make_shared<Link>(Link{client, new QTcpSocket(this), m_mode == Mode::ResetMidAnswer, false, {}});
        m_links.push_back(link);
        const std::weak_ptr<Link> weak = link;
        auto end = [this, weak](bool abortive) {
            if (auto l = weak.lock()) {
                l->close(abortive);
                std::erase(m_links, l);
            }
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
            if (!l->resetting)
                return void(l->client->write(std::exchange(l->answer, {})));
            // The whole head and half of the body, then a reset: always in the middle of the body,
            // wherever the server's writes were split.
            const qsizetype head = l->answer.indexOf("\r\n\r\n");
            if (head < 0 || l->answer.size() == head + 4)
                return;
            l->client->write(l->answer.left(head + 4 + std::max<qsizetype>(1, (l->answer.size() - head - 4) / 2)));
            l->client->flush();
            // SO_LINGER 0 makes the close a reset (RST instead of FIN): what a crashing server or a
            // middlebox dropping state looks like to the client.
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(l->client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            end(true);
        });
        connect(client, &QTcpSocket::disconnected, this, [end] { end(false); });
        connect(link->upstream, &QTcpSocket::disconnected, this, [end] { end(false); });
        link->upstream->connectToHost(QHostAddress::LocalHost, m_upstreamPort);
    }
}

}  // namespace fennimar::test
