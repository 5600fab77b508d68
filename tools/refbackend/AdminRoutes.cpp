#include "tools/refbackend/AdminRoutes.h"

#include "tools/refbackend/OverviewPage.h"
#include "tools/refbackend/WireCheck.h"

#include <cmath>

namespace fennimar::refbackend {

namespace {

Reply methodNotAllowed(const QByteArray &allowed)
{
    Reply reply = Reply::error(405, QStringLiteral("method not allowed; use ") + QString::fromLatin1(allowed));
    reply.headers.append(QPair<QByteArray, QByteArray>{"Allow", allowed});
    return reply;
}

}  // namespace

Reply AdminRoutes::handle(const Request &request)
{
    const QStringList &s = request.segments;
    const QString what = s.value(1);
    if (s.size() == 2 && what == QStringLiteral("claim"))
        return request.method == "POST" ? claim(request) : methodNotAllowed("POST");
    if (s.size() == 2 && what == QStringLiteral("apps"))
        return request.method == "POST" ? setApps(request) : methodNotAllowed("POST");
    if (s.size() == 2 && what == QStringLiteral("devices"))
        return request.method == "GET" ? devices() : methodNotAllowed("GET");
    if (s.size() == 2 && what == QStringLiteral("overview")) {
        if (request.method != "GET")
            return methodNotAllowed("GET");
        const auto overview = m_overview.build();
        return overview ? Reply::json(200, *overview)
                        : Reply::error(500, QStringLiteral("database: ") + overview.error());
    }
    if (s.size() == 3 && what == QStringLiteral("devices"))
        return request.method == "DELETE" ? removeDevice(s.at(2)) : methodNotAllowed("DELETE");
    if (s.size() == 2 && what == QStringLiteral("faults"))
        return faults(request);
    if (s.size() == 2 && what == QStringLiteral("dismiss"))
        return request.method == "POST" ? dismiss(request) : methodNotAllowed("POST");
    return Reply::error(404, QStringLiteral("no such admin route"));
}

Reply AdminRoutes::page(const Request &request)
{
    if (request.method != "GET")
        return methodNotAllowed("GET");
    const auto overview = m_overview.build();
    if (!overview)
        return Reply::error(500, QStringLiteral("database: ") + overview.error());
    Reply reply;
    reply.body = OverviewPage::render(*overview);
    reply.headers = {
        {"Content-Type", "text/html; charset=utf-8"},
        {"Cache-Control", "no-store"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'"}};
    return reply;
}

Reply AdminRoutes::claim(const Request &request)
{
    const auto body = WireCheck::object(request.body);
    if (!body)
        return Reply::error(400, body.error());
    const auto code = WireCheck::string(*body, QStringLiteral("code"));
    if (!code)
        return Reply::error(400, code.error());
    const auto child = WireCheck::string(*body, QStringLiteral("child"));
    if (!child || child->trimmed().isEmpty())
        return Reply::error(400, child ? QStringLiteral("\"child\" is empty") : child.error());
    QString deviceName;
    if (body->contains(QStringLiteral("device_name"))) {
        const auto name = WireCheck::string(*body, QStringLiteral("device_name"));
        if (!name)
            return Reply::error(400, name.error());
        deviceName = *name;
    }
    const auto result = m_pairings.claim(*code, child->trimmed(), deviceName, m_clock.now());
    if (!result)
        return Reply::error(500, QStringLiteral("database: ") + result.error());
    switch (result->kind) {
        case ClaimResult::Kind::UnknownCode:
            return Reply::error(404, QStringLiteral("no setup has the code ") + *code);
        case ClaimResult::Kind::Expired:
            return Reply::error(410, QStringLiteral("the code ") + *code + QStringLiteral(" has expired"));
        case ClaimResult::Kind::AlreadyClaimed:
            return Reply::error(409, QStringLiteral("the code ") + *code + QStringLiteral(" was claimed already"));
        case ClaimResult::Kind::Claimed:
            break;
    }
    return Reply::json(200, QJsonObject{{QStringLiteral("device_id"), result->deviceId},
                                        {QStringLiteral("child_id"), result->childId},
                                        {QStringLiteral("child_session_token"), result->sessionToken}});
}

Reply AdminRoutes::dismiss(const Request &request)
{
    const auto body = WireCheck::object(request.body);
    if (!body)
        return Reply::error(400, body.error());
    const QJsonValue id = body->value(QStringLiteral("alert"));
    if (!id.isDouble() || id.toDouble() != std::floor(id.toDouble()))
        return Reply::error(400, QStringLiteral("\"alert\" must be an alert's number"));
    const auto dismissed = m_reports.dismissAlert(id.toInteger());
    if (!dismissed)
        return Reply::error(500, QStringLiteral("database: ") + dismissed.error());
    if (!*dismissed)
        return Reply::error(404, QStringLiteral("no alert %1 stands").arg(id.toInteger()));
    return Reply::json(200, QJsonObject{{QStringLiteral("dismissed"), id.toInteger()}});
}

Reply AdminRoutes::setApps(const Request &request)
{
    const auto body = WireCheck::object(request.body);
    if (!body)
        return Reply::error(400, body.error());
    const auto child = WireCheck::string(*body, QStringLiteral("child"));
    if (!child || child->trimmed().isEmpty())
        return Reply::error(400, child ? QStringLiteral("\"child\" is empty") : child.error());
    const auto apps = WireCheck::array(*body, QStringLiteral("apps"));
    if (!apps)
        return Reply::error(400, apps.error());
    QList<ChildApp> list;
    for (qsizetype i = 0; i < apps->size(); ++i) {
        const QString where = QStringLiteral("apps[%1]: ").arg(i);
        const QJsonObject app = apps->at(i).toObject();
        const auto id = WireCheck::string(app, QStringLiteral("package_id"));
        if (!id || id->isEmpty())
            return Reply::error(400, where + (id ? QStringLiteral("\"package_id\" is empty") : id.error()));
        const auto blocked = WireCheck::boolean(app, QStringLiteral("is_blocked"));
        if (!blocked)
            return Reply::error(400, where + blocked.error());
        list.append({*id, *blocked});
    }
    const Status stored = m_pairings.setChildApps(child->trimmed(), list);
    if (!stored)
        return Reply::error(500, QStringLiteral("database: ") + stored.error());
    return Reply::json(200, QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("apps"), list.size()}});
}

Reply AdminRoutes::devices()
{
    const auto all = m_reports.devices();
    if (!all)
        return Reply::error(500, QStringLiteral("database: ") + all.error());
    return Reply::json(200, QJsonObject{{QStringLiteral("devices"), *all}});
}

Reply AdminRoutes::removeDevice(const QString &deviceId)
{
    const auto removed = m_pairings.removeDevice(deviceId);
    if (!removed)
        return Reply::error(500, QStringLiteral("database: ") + removed.error());
    if (!*removed)
        return Reply::error(404, QStringLiteral("unknown device"));
    return Reply::json(200, QJsonObject{{QStringLiteral("ok"), true}});
}

Reply AdminRoutes::faults(const Request &request)
{
    if (request.method == "DELETE") {
        m_faults.clear();
    } else if (request.method == "POST") {
        const auto body = WireCheck::object(request.body);
        if (!body)
            return Reply::error(400, body.error());
        auto fault = Fault::fromJson(*body);
        if (!fault)
            return Reply::error(400, fault.error());
        m_faults.add(std::move(fault).value());
    } else if (request.method != "GET") {
        return methodNotAllowed("GET, POST, DELETE");
    }
    return Reply::json(200, QJsonObject{{QStringLiteral("faults"), m_faults.toJson()}});
}

}  // namespace fennimar::refbackend
