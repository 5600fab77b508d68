#include "tools/refbackend/AdminGate.h"

#include <QFile>
#include <QRandomGenerator>

namespace fennimar::refbackend {

namespace {

bool sameToken(const QByteArray &given, const QByteArray &expected)
{
    if (given.size() != expected.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < given.size(); ++i)
        diff |= static_cast<unsigned char>(given.at(i) ^ expected.at(i));
    return diff == 0;
}

}  // namespace

Result<AdminGate> AdminGate::create(const QString &tokenFile, const QHostAddress &listenAddress)
{
    QByteArray raw(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), raw.size() / 4);
    const QString token =
        QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));

    // Removing first and then creating exclusively never writes through a planted symlink and
    // never keeps the wider permissions of an older file.
    QFile::remove(tokenFile);
    QFile file(tokenFile);
    const QByteArray text = token.toLatin1() + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(text) != text.size() || !file.flush())
        return Result<AdminGate>::failure(QStringLiteral("cannot write the admin token to ") + tokenFile +
                                          QStringLiteral(": ") + file.errorString());
    return AdminGate(token, listenAddress);
}

bool AdminGate::hostNamesThisServer(const QByteArray &host) const
{
    const qsizetype colon = host.lastIndexOf(':');
    if (colon < 0 || host.endsWith(']'))
        return false;  // browsers and Qt always send the port of a non-default port
    bool portOk = false;
    if (host.mid(colon + 1).toUInt(&portOk) != m_port || !portOk)
        return false;
    QByteArray name = host.left(colon).toLower();
    if (name == "localhost")
        return true;
    if (name.startsWith('[') && name.endsWith(']'))
        name = name.mid(1, name.size() - 2);
    const QHostAddress address(QString::fromLatin1(name));
    return !address.isNull() && (address.isLoopback() || address == m_address);
}

std::optional<Reply> AdminGate::refusal(const Request &request, bool tokenInQuery) const
{
    if (!request.remote.isLoopback())
        return Reply::error(403, QStringLiteral("the admin routes answer only on loopback"));
    if (!hostNamesThisServer(request.header("Host").trimmed()))
        return Reply::error(403, QStringLiteral("the Host header must name this server's loopback address and port"));

    QByteArray given;
    const QByteArray authorization = request.header("Authorization").trimmed();
    if (authorization.size() > 7 && authorization.left(7).toLower() == "bearer ")
        given = authorization.mid(7).trimmed();
    else if (tokenInQuery)
        given = request.query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8();
    if (!sameToken(given, m_token.toLatin1())) {
        Reply reply = Reply::error(401, QStringLiteral("missing or wrong admin token (see --admin-token-file)"));
        reply.headers.append(QPair<QByteArray, QByteArray>{"WWW-Authenticate", "Bearer"});
        return reply;
    }

    if (request.method != "GET" && request.method != "HEAD") {
        const QByteArray type = request.header("Content-Type").split(';').first().trimmed().toLower();
        if (type != "application/json")
            return Reply::error(415, QStringLiteral("\"Content-Type\" must be application/json"));
    }
    return std::nullopt;
}

}  // namespace fennimar::refbackend
