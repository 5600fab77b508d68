#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrl>

namespace fennimar::test {

// What one request to the server brought back.
struct HttpAnswer {
    int status = 0;  // 0: no HTTP answer at all
    QByteArray body;

    QJsonObject json() const;
};

// Blocking HTTP calls for tests, over a real QNetworkAccessManager on the test's event loop.
// Redirects are not followed, so that a redirect can be seen. Each call waits at most 15 s.
class HttpProbe {
public:
    explicit HttpProbe(QUrl base) : m_base(std::move(base)) {}

    HttpAnswer get(const QString &path, const QString &token = {});
    HttpAnswer post(const QString &path, const QByteArray &body, const QString &token = {});
    HttpAnswer post(const QString &path, const QJsonObject &body, const QString &token = {});
    HttpAnswer send(const QByteArray &method, const QString &path, const QByteArray &body,
                    const QList<QPair<QByteArray, QByteArray>> &headers);

private:
    QNetworkAccessManager m_manager;
    QUrl m_base;
};

// Request bodies as the agent sends them.
QJsonObject pendingBody();
QJsonObject dayObject(const QString &date, const QList<int> &hoursWithSeconds);  // (hour, seconds) pairs flattened
QJsonObject usageBody(const QString &deviceId, const QJsonObject &today, const QJsonArray &backfill = {});

}  // namespace fennimar::test
