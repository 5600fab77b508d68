#pragma once

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <memory>

namespace fennimar::test {

// A connection from the loopback address `from` that sent `bytes` and waits.
inline std::unique_ptr<QTcpSocket> open(quint16 port, const QByteArray &bytes = {}, const char *from = "127.0.0.1")
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(QHostAddress(QString::fromLatin1(from)));
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (socket->waitForConnected(5000) && socket->write(bytes) >= 0)
        socket->waitForBytesWritten(1000);
    return socket;
}

// All that came back within ms, then "<closed>" when the server closed the connection.
inline QByteArray drain(QTcpSocket &socket, int ms)
{
    QByteArray all;
    for (const QDeadlineTimer deadline(ms); socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired();
         all += socket.readAll())
        socket.waitForReadyRead(20);
    return all + socket.readAll() + (socket.state() == QAbstractSocket::ConnectedState ? "" : "<closed>");
}

struct HttpAnswer {
    int status = 0;  // 0: no HTTP answer at all
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One request asking to close after the answer; `headers` are extra lines (a Host among them replaces ours).
inline HttpAnswer request(quint16 port, const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
                          QByteArray headers = {})
{
    if (!headers.contains("Host:"))
        headers += "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    QByteArray answer = drain(*open(port, method + ' ' + target + " HTTP/1.1\r\n" + headers + "Content-Length: " +
                                              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body),
                              15000);
    answer.chop(answer.endsWith("<closed>") ? 8 : 0);
    const qsizetype head = answer.indexOf("\r\n\r\n");
    return {answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0, answer.mid(head + 4)};
}

inline HttpAnswer post(quint16 port, const QByteArray &target, const QByteArray &body, const QString &token = {})
{
    const QByteArray bearer = token.isEmpty() ? QByteArray() : "Authorization: Bearer " + token.toUtf8() + "\r\n";
    return request(port, "POST", target, body, "Content-Type: application/json\r\n" + bearer);
}

// Bodies as the agent sends them.
inline const QByteArray kPendingBody =
    R"({"device_type":"linux_laptop","platform_info":{"brand":"Framework","model":"Laptop 13","os":"linux",)"
    R"("os_version":"12.0.0","device_type":"laptop","device_name":"kid-pc","os_user":"mia"}})";

// A day's usage, all of it in one hour.
inline QJsonObject day(const QString &date, int hour, int seconds)
{
    QJsonArray buckets;
    for (int h = 0; h < 24; ++h)
        buckets.append(h == hour ? seconds : 0);
    return {{"date", date},
            {"source", "linux_foreground_sampler"},
            {"total_seconds", seconds},
            {"bucket_seconds", 3600},
            {"buckets", buckets},
            {"tz_offset_minutes", 60},
            {"platform", "desktop"},
            {"carrier", "linux_agent"},
            {"computed_at_ms", 1796000000000.0}};
}

inline QByteArray usageBody(const QString &deviceId, const QJsonObject &today, const QJsonArray &backfill = {})
{
    QJsonObject body{
        {"device_id", deviceId},
        {"device_type", "desktop"},
        {"app_build",
         QJsonObject{{"app_version", "0.1.0"}, {"build_number", "1"}, {"platform", "linux"}, {"os_version", "12.0.0"}}},
        {"wall_clock_ms", 1796000000000.0},
        {"device_uptime_ms", 123456},
        {"daily_usage", today}};
    if (!backfill.isEmpty())
        body.insert("daily_usage_backfill", backfill);
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

}  // namespace fennimar::test
