#pragma once

#include "core/Result.h"
#include "tools/refbackend/Reply.h"
#include "tools/refbackend/Request.h"

#include <QHostAddress>
#include <QString>

#include <optional>

namespace fennimar::refbackend {

// Who may use the admin routes and the overview page. Being on this machine is not enough: another
// local user, or a page in the child's own browser (a cross-site form post, a DNS-rebound name),
// reaches a loopback port too. So a request must also carry the random token this server wrote to
// a file only its owner can read, name this server's loopback address in its Host header (a
// rebound name does not), and send JSON when it changes anything (a form cannot).
class AdminGate {
public:
    // Draws a fresh 256-bit token and writes it to tokenFile, replacing any file or link there,
    // created 0600 so only this user can read it. Fails with the path and the reason.
    static Result<AdminGate> create(const QString &tokenFile, const QHostAddress &listenAddress);

    // The port the server ended up on (known after listening); the Host header must name it.
    void setPort(quint16 port) { m_port = port; }
    const QString &token() const { return m_token; }

    // Nothing when request may pass; otherwise the refusal: 403 for a peer off this machine or a
    // Host that is not this server's loopback address, 401 for a missing or wrong token (from
    // "Authorization: Bearer", or from the "token" query item when tokenInQuery), 415 for a
    // request other than GET or HEAD without a JSON body type. Constant time in the token.
    std::optional<Reply> refusal(const Request &request, bool tokenInQuery) const;

private:
    AdminGate(QString token, QHostAddress listenAddress) : m_token(std::move(token)), m_address(listenAddress) {}
    bool hostNamesThisServer(const QByteArray &host) const;

    QString m_token;
    QHostAddress m_address;
    quint16 m_port = 0;
};

}  // namespace fennimar::refbackend
