#include "tools/refbackend/Reply.h"

#include <QJsonDocument>

namespace fennimar::refbackend {

namespace {

Reply jsonReply(int status, const QJsonDocument &doc)
{
    Reply reply;
    reply.status = status;
    reply.headers.append(QPair<QByteArray, QByteArray>{"Content-Type", "application/json"});
    reply.body = doc.toJson(QJsonDocument::Compact);
    return reply;
}

}  // namespace

Reply Reply::json(int status, const QJsonObject &object)
{
    return jsonReply(status, QJsonDocument(object));
}

Reply Reply::json(int status, const QJsonArray &array)
{
    return jsonReply(status, QJsonDocument(array));
}

Reply Reply::error(int status, const QString &message)
{
    return json(status, QJsonObject{{QStringLiteral("error"), message}});
}

QByteArray Reply::serialise(bool closeAfter) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (closeAfter)
        out += "Connection: close\r\n";
    out += "\r\n";
    out += body;
    return out;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 410:
            return "Gone";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "Unknown";
    }
}

}  // namespace fennimar::refbackend
