#include "tests/refbackend/HttpProbe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QPointer>

namespace fennimar::test {

QJsonObject HttpAnswer::json() const
{
    return QJsonDocument::fromJson(body).object();
}

HttpAnswer HttpProbe::get(const QString &path, const QString &token)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer " + token.toUtf8()});
    return send("GET", path, {}, headers);
}

HttpAnswer HttpProbe::post(const QString &path, const QByteArray &body, const QString &token)
{
    QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer " + token.toUtf8()});
    return send("POST", path, body, headers);
}

HttpAnswer HttpProbe::post(const QString &path, const QJsonObject &body, const QString &token)
{
    return post(path, QJsonDocument(body).toJson(QJsonDocument::Compact), token);
}

HttpAnswer HttpProbe::send(const QByteArray &method, const QString &path, const QByteArray &body,
                           const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QUrl url = m_base;
    const qsizetype query = path.indexOf(u'?');
    url.setPath(path.left(query));
    if (query >= 0)
        url.setQuery(path.mid(query + 1));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QPointer<QNetworkReply> reply = m_manager.sendCustomRequest(request, method, body);
    const QDeadlineTimer deadline(15000);
    while (reply && !reply->isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    HttpAnswer answer;
    if (reply && reply->isFinished())
        answer = {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    if (reply) {
        reply->abort();
        reply->deleteLater();
    }
    return answer;
}

QJsonObject pendingBody()
{
    return {{QStringLiteral("device_type"), QStringLiteral("linux_laptop")},
            {QStringLiteral("platform_info"), QJsonObject{{QStringLiteral("brand"), QStringLiteral("Framework")},
                                                          {QStringLiteral("model"), QStringLiteral("Laptop 13")},
                                                          {QStringLiteral("os"), QStringLiteral("linux")},
                                                          {QStringLiteral("os_version"), QStringLiteral("12.0.0")},
                                                          {QStringLiteral("device_type"), QStringLiteral("laptop")},
                                                          {QStringLiteral("device_name"), QStringLiteral("kid-pc")},
                                                          {QStringLiteral("os_user"), QStringLiteral("mia")}}}};
}

QJsonObject dayObject(const QString &date, const QList<int> &hoursWithSeconds)
{
    QList<int> buckets(24, 0);
    for (qsizetype i = 0; i + 1 < hoursWithSeconds.size(); i += 2)
        buckets[hoursWithSeconds.at(i)] = hoursWithSeconds.at(i + 1);
    QJsonArray array;
    int total = 0;
    for (int b : buckets) {
        array.append(b);
        total += b;
    }
    return {{QStringLiteral("date"), date},
            {QStringLiteral("source"), QStringLiteral("linux_foreground_sampler")},
            {QStringLiteral("total_seconds"), total},
            {QStringLiteral("bucket_seconds"), 3600},
            {QStringLiteral("buckets"), array},
            {QStringLiteral("tz_offset_minutes"), 60},
            {QStringLiteral("platform"), QStringLiteral("desktop")},
            {QStringLiteral("carrier"), QStringLiteral("linux_agent")},
            {QStringLiteral("computed_at_ms"), 1796000000000.0}};
}

QJsonObject usageBody(const QString &deviceId, const QJsonObject &today, const QJsonArray &backfill)
{
    QJsonObject body{
        {QStringLiteral("device_id"), deviceId},
        {QStringLiteral("device_type"), QStringLiteral("desktop")},
        {QStringLiteral("app_build"), QJsonObject{{QStringLiteral("app_version"), QStringLiteral("0.1.0")},
                                                  {QStringLiteral("build_number"), QStringLiteral("1")},
                                                  {QStringLiteral("platform"), QStringLiteral("linux")},
                                                  {QStringLiteral("os_version"), QStringLiteral("12.0.0")}}},
        {QStringLiteral("wall_clock_ms"), 1796000000000.0},
        {QStringLiteral("device_uptime_ms"), 123456},
        {QStringLiteral("daily_usage"), today}};
    if (!backfill.isEmpty())
        body.insert(QStringLiteral("daily_usage_backfill"), backfill);
    return body;
}

}  // namespace fennimar::test
