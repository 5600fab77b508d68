#pragma once

#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>

#include <memory>
#include <optional>
#include <vector>

class QSslSocket;

namespace fennimar::test {

// A TCP front on 127.0.0.1 for a server of the test: it passes connections through, refuses them
// (nothing listens on its port), or resets each connection in the middle of the first answer.
// After serveTls() it is an https front instead, whose certificate can turn into one no client
// may trust. Keeps its port across modes, so a client configured with its URL sees the backend go
// and come back. Works while the test's event loop runs.
class FaultFront : public QObject {
    Q_OBJECT
public:
    enum class Mode { Pass, Refuse, ResetMidAnswer, UntrustedCertificate };

    // Listens on a free loopback port and forwards to upstreamPort on 127.0.0.1.
    explicit FaultFront(quint16 upstreamPort);
    ~FaultFront() override { closeAll(); }

    quint16 port() const { return m_port; }
    // From now on TLS with `trusted`, or `untrusted` in UntrustedCertificate mode. False when the
    // port could not be listened on again.
    bool serveTls(const QSslConfiguration &trusted, const QSslConfiguration &untrusted);
    // Refuse closes the listening socket and every open connection; leaving Refuse listens on the
    // same port again (false when the port was taken meanwhile).
    bool setMode(Mode mode);
    // Connections whose client has sent something not answered yet, and TLS handshakes under way.
    int awaitingAnswers() const;

private:
    struct Link;
    void accept();
    void closeAll();
    bool listen();

    std::unique_ptr<QTcpServer> m_server;
    std::optional<std::pair<QSslConfiguration, QSslConfiguration>> m_tls;  // {trusted, untrusted}
    quint16 m_upstreamPort;
    quint16 m_port = 0;
    Mode m_mode = Mode::Pass;
    std::vector<std::shared_ptr<Link>> m_links;
    std::vector<QPointer<QSslSocket>> m_handshakes;
};

}  // namespace fennimar::test
