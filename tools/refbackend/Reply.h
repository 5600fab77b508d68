#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>

namespace fennimar::refbackend {

// One HTTP answer as the server writes it. Plain data: routes build it, faults replace it, the
// server serialises it.
struct Reply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;  // besides Content-Length and Connection
    QByteArray body;
    bool dropConnection = false;  // close the socket without answering
    int delayMs = 0;              // answer this much later (queued behind nothing else)

    static Reply json(int status, const QJsonObject &object);
    static Reply json(int status, const QJsonArray &array);
    // {"error": message}: every 4xx and 5xx of this server reads this way.
    static Reply error(int status, const QString &message);

    // The whole response, status line to body. closeAfter adds "Connection: close".
    QByteArray serialise(bool closeAfter) const;
};

// The reason phrase of a status code, "Unknown" for codes this server never uses on purpose.
QByteArray reasonPhrase(int status);

}  // namespace fennimar::refbackend
