#include "tools/refbackend/ApiRoutes.h"

#include "tools/refbackend/WireCheck.h"

namespace fennimar::refbackend {

namespace {

Reply badRequest(const QString &reason)
{
    return Reply::error(400, reason);
}

Reply databaseFailure(const QString &reason)
{
    return Reply::error(500, QStringLiteral("database: ") + reason);
}

Reply ok()
{
    return Reply::json(200, QJsonObject{{QStringLiteral("ok"), true}});
}

bool isJson(const Request &request)
{
    const QByteArray type = request.header("Content-Type").split(';').first().trimmed().toLower();
    return type == "application/json";
}

// "Bearer <token>", scheme case-insensitive; anything else is no token at all.
QString bearerToken(const Request &request)
{
    const QByteArray value = request.header("Authorization").trimmed();
    if (value.size() < 8 || value.left(7).toLower() != "bearer ")
        return {};
    return QString::fromUtf8(value.mid(7).trimmed());
}

// The body's "device_id" must be the device the session belongs to: one child's token may not
// write another device's records.
std::optional<Reply> checkDeviceId(const QJsonObject &body, const Session &session)
{
    const auto id = WireCheck::string(body, QStringLiteral("device_id"));
    if (!id)
        return badRequest(id.error());
    if (*id != session.deviceId)
        return Reply::error(403, QStringLiteral("\"device_id\" is not the device of this session"));
    return std::nullopt;
}

}  // namespace

std::optional<ApiRoutes::Match> ApiRoutes::match(const Request &request)
{
    const QStringList &s = request.segments;
    if (s.size() < 3 || s.at(0) != QStringLiteral("api"))
        return std::nullopt;
    if (s.at(1) == QStringLiteral("devices")) {
        if (s.size() == 3 && s.at(2) == QStringLiteral("setup-pending"))
            return Match{QStringLiteral("setup-pending"), "POST", {}};
        if (s.size() == 4 && s.at(2) == QStringLiteral("setup-status") && !s.at(3).isEmpty())
            return Match{QStringLiteral("setup-status"), "GET", s.at(3)};
        if (s.size() == 4 && s.at(3) == QStringLiteral("heartbeat") && !s.at(2).isEmpty())
            return Match{QStringLiteral("heartbeat"), "POST", s.at(2)};
    } else if (s.at(1) == QStringLiteral("guard") && s.size() == 3) {
        if (s.at(2) == QStringLiteral("heartbeat"))
            return Match{QStringLiteral("usage"), "POST", {}};
        if (s.at(2) == QStringLiteral("my-installed-apps"))
            return Match{QStringLiteral("installed-apps"), "GET", {}};
        if (s.at(2) == QStringLiteral("desktop-apps-seen"))
            return Match{QStringLiteral("apps-seen"), "POST", {}};
    }
    return std::nullopt;
}

Reply ApiRoutes::handle(const Match &match, const Request &request)
{
    if (match.method == "POST" && !isJson(request))
        return Reply::error(415, QStringLiteral("\"Content-Type\" must be application/json"));
    if (match.route == QStringLiteral("setup-pending"))
        return setupPending(request);
    if (match.route == QStringLiteral("setup-status"))
        return setupStatus(match.argument);
    if (match.route == QStringLiteral("heartbeat"))
        return deviceHeartbeat(match.argument, request);

    // Everything under /api/guard/ acts for the device of a session token.
    const auto session = m_pairings.session(bearerToken(request));
    if (!session)
        return databaseFailure(session.error());
    if (!session->has_value()) {
        Reply reply = Reply::error(401, QStringLiteral("missing or unknown bearer token"));
        reply.headers.append(QPair<QByteArray, QByteArray>{"WWW-Authenticate", "Bearer"});
        return reply;
    }
    if (match.route == QStringLiteral("usage"))
        return usage(**session, request);
    if (match.route == QStringLiteral("installed-apps"))
        return installedApps(**session);
    return appsSeen(**session, request);
}

Reply ApiRoutes::setupPending(const Request &request)
{
    const Millis now = m_clock.monotonic(), minute(60000);
    for (auto it = m_setupsByPeer.begin(); it != m_setupsByPeer.end();) {
        while (!it->second.empty() && it->second.front() <= now - minute)
            it->second.pop_front();
        it = it->second.empty() ? m_setupsByPeer.erase(it) : std::next(it);
    }
    std::deque<Millis> &recent = m_setupsByPeer[request.remote.toString()];
    if (std::ssize(recent) >= kSetupsPerMinute) {
        Reply reply = Reply::error(429, QStringLiteral("too many pair codes asked for; try again in a minute"));
        const auto wait = std::chrono::ceil<std::chrono::seconds>(recent.front() + minute - now);
        reply.headers.append({"Retry-After", QByteArray::number(static_cast<qint64>(wait.count()))});
        return reply;
    }
    recent.push_back(now);
    if (const Status purged = m_pairings.purgeExpiredSetups(m_clock.now()); !purged)
        return databaseFailure(purged.error());
    const auto body = WireCheck::object(request.body);
    if (!body)
        return badRequest(body.error());
    const auto deviceType = WireCheck::string(*body, QStringLiteral("device_type"));
    if (!deviceType)
        return badRequest(deviceType.error());
    const auto facts = WireCheck::stringMap(*body, QStringLiteral("platform_info"));
    if (!facts)
        return badRequest(facts.error());
    const auto ticket = m_pairings.createPairing(*deviceType, *facts, m_clock.now());
    if (!ticket)
        return databaseFailure(ticket.error());
    return Reply::json(
        201, QJsonObject{{QStringLiteral("token"), ticket->token},
                         {QStringLiteral("pair_code"), ticket->pairCode},
                         {QStringLiteral("device_id"), ticket->deviceId},
                         {QStringLiteral("expires_at"), ticket->expiresAt.toUTC().toString(Qt::ISODateWithMs)}});
}

Reply ApiRoutes::setupStatus(const QString &token)
{
    const auto state = m_pairings.setupState(token, m_clock.now());
    if (!state)
        return databaseFailure(state.error());
    if (!state->has_value())
        return Reply::error(404, QStringLiteral("unknown setup token"));
    const SetupState &s = **state;
    QJsonObject answer{{QStringLiteral("claimed"), s.claimed}, {QStringLiteral("expired"), s.expired}};
    // A consumed setup reads as claimed and expired, which the agent takes as "expired": the
    // user asks for a new code, and nobody polling the old ticket gets the session again.
    if (s.claimed && !s.consumed) {
        answer.insert(QStringLiteral("device_id"), s.deviceId);
        answer.insert(QStringLiteral("child_id"), s.childId);
        answer.insert(QStringLiteral("child_session_token"), s.sessionToken);
        answer.insert(QStringLiteral("child"), QJsonObject{{QStringLiteral("name"), s.childName}});
        if (!s.deviceName.isEmpty())
            answer.insert(QStringLiteral("device_name"), s.deviceName);
    }
    return Reply::json(200, answer);
}

Reply ApiRoutes::deviceHeartbeat(const QString &deviceId, const Request &request)
{
    const auto exists = m_pairings.deviceExists(deviceId);
    if (!exists)
        return databaseFailure(exists.error());
    if (!*exists)
        return Reply::error(404, QStringLiteral("unknown device"));
    const auto body = WireCheck::object(request.body);
    if (!body)
        return badRequest(body.error());
    for (const auto &key : {QStringLiteral("platform_info"), QStringLiteral("app_build")}) {
        const auto map = WireCheck::stringMap(*body, key);
        if (!map)
            return badRequest(map.error());
    }
    const auto health = WireCheck::child(*body, QStringLiteral("health_snapshot"));
    if (!health)
        return badRequest(health.error());
    const auto os = WireCheck::stringMap(*health, QStringLiteral("os"));
    if (!os)
        return badRequest(QStringLiteral("health_snapshot: ") + os.error());
    const auto checks = WireCheck::child(*health, QStringLiteral("checks"));
    if (!checks)
        return badRequest(QStringLiteral("health_snapshot: ") + checks.error());
    for (auto it = checks->begin(); it != checks->end(); ++it) {
        const auto okFlag = it.value().isObject() ? WireCheck::boolean(it.value().toObject(), QStringLiteral("ok"))
                                                  : Result<bool>::failure(QStringLiteral("must be an object"));
        if (!okFlag)
            return badRequest(QStringLiteral("health_snapshot.checks.") + it.key() + QStringLiteral(": ") +
                              okFlag.error());
    }
    const Status stored = m_reports.recordHeartbeat(deviceId, *body, m_clock.now());
    return stored ? ok() : databaseFailure(stored.error());
}

Reply ApiRoutes::usage(const Session &session, const Request &request)
{
    const auto body = WireCheck::object(request.body);
    if (!body)
        return badRequest(body.error());
    if (const auto refused = checkDeviceId(*body, session))
        return *refused;
    const auto deviceType = WireCheck::string(*body, QStringLiteral("device_type"));
    if (!deviceType)
        return badRequest(deviceType.error());
    const auto build = WireCheck::stringMap(*body, QStringLiteral("app_build"));
    if (!build)
        return badRequest(build.error());
    for (const auto &key : {QStringLiteral("wall_clock_ms"), QStringLiteral("device_uptime_ms")}) {
        const auto n = WireCheck::integer(*body, key);
        if (!n)
            return badRequest(n.error());
    }

    QList<UsageDay> days;
    const auto today = UsageDay::fromJson(body->value(QStringLiteral("daily_usage")), QStringLiteral("daily_usage"));
    if (!today)
        return badRequest(today.error());
    // Backfill goes first so that, should a day come twice, today's copy is the one kept.
    if (body->contains(QStringLiteral("daily_usage_backfill"))) {
        const auto backfill = WireCheck::array(*body, QStringLiteral("daily_usage_backfill"));
        if (!backfill)
            return badRequest(backfill.error());
        for (qsizetype i = 0; i < backfill->size(); ++i) {
            const auto day = UsageDay::fromJson(backfill->at(i), QStringLiteral("daily_usage_backfill[%1]").arg(i));
            if (!day)
                return badRequest(day.error());
            days.append(*day);
            days.last().pastDay = true;
        }
    }
    days.append(*today);
    const Status stored = m_reports.recordUsage(session.deviceId, days, m_clock.now());
    return stored ? ok() : databaseFailure(stored.error());
}

Reply ApiRoutes::installedApps(const Session &session)
{
    const auto apps = m_pairings.childApps(session.childId);
    if (!apps)
        return databaseFailure(apps.error());
    QJsonArray list;
    for (const auto &app : *apps)
        list.append(
            QJsonObject{{QStringLiteral("package_id"), app.packageId}, {QStringLiteral("is_blocked"), app.blocked}});
    return Reply::json(200, QJsonObject{{QStringLiteral("apps"), list}});
}

Reply ApiRoutes::appsSeen(const Session &session, const Request &request)
{
    const auto body = WireCheck::object(request.body);
    if (!body)
        return badRequest(body.error());
    if (const auto refused = checkDeviceId(*body, session))
        return *refused;
    const auto apps = WireCheck::array(*body, QStringLiteral("apps"));
    if (!apps)
        return badRequest(apps.error());
    QList<SeenAppReport> reports;
    for (qsizetype i = 0; i < apps->size(); ++i) {
        const QString where = QStringLiteral("apps[%1]: ").arg(i);
        if (!apps->at(i).isObject())
            return badRequest(where + QStringLiteral("must be an object"));
        const QJsonObject app = apps->at(i).toObject();
        SeenAppReport report;
        const auto bundleId = WireCheck::string(app, QStringLiteral("bundle_id"));
        if (!bundleId || bundleId->isEmpty())
            return badRequest(where + (bundleId ? QStringLiteral("\"bundle_id\" is empty") : bundleId.error()));
        const auto name = WireCheck::string(app, QStringLiteral("app_name"));
        if (!name)
            return badRequest(where + name.error());
        // The agent leaves "category" out when it has none; a null is a fault on its side.
        if (app.contains(QStringLiteral("category"))) {
            const auto category = WireCheck::string(app, QStringLiteral("category"));
            if (!category)
                return badRequest(where + QStringLiteral("\"category\" must be a string when present"));
            report.category = *category;
        }
        report.bundleId = *bundleId;
        report.appName = *name;
        reports.append(report);
    }
    const auto fresh = m_reports.recordSeenApps(session.deviceId, session.childId, reports, m_clock.now());
    if (!fresh)
        return databaseFailure(fresh.error());
    return Reply::json(200, QJsonObject{{QStringLiteral("recorded"), reports.size()},
                                        {QStringLiteral("new"), *fresh},
                                        {QStringLiteral("skipped_system"), 0}});
}

}  // namespace fennimar::refbackend
