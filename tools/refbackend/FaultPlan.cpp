#include "tools/refbackend/FaultPlan.h"

#include "tools/refbackend/WireCheck.h"

namespace fennimar::refbackend {

namespace {

const QList<QPair<QString, Fault::Kind>> &kindNames()
{
    static const QList<QPair<QString, Fault::Kind>> names = {
        {QStringLiteral("status"), Fault::Kind::Status},       {QStringLiteral("delay"), Fault::Kind::Delay},
        {QStringLiteral("malformed"), Fault::Kind::Malformed}, {QStringLiteral("oversized"), Fault::Kind::Oversized},
        {QStringLiteral("drop"), Fault::Kind::Drop},           {QStringLiteral("redirect"), Fault::Kind::Redirect},
    };
    return names;
}

// A fault names its optional numbers only when it needs them; absent ones keep their default.
Status readOptionalInt(const QJsonObject &o, const QString &key, qint64 low, qint64 high, qint64 &target)
{
    if (!o.contains(key))
        return {};
    const auto n = WireCheck::integer(o, key);
    if (!n)
        return Status::failure(n.error());
    if (*n < low || *n > high)
        return Status::failure(QStringLiteral("\"%1\" must lie between %2 and %3").arg(key).arg(low).arg(high));
    target = *n;
    return {};
}

}  // namespace

const QStringList &FaultPlan::routeNames()
{
    static const QStringList names = {QStringLiteral("setup-pending"),  QStringLiteral("setup-status"),
                                      QStringLiteral("heartbeat"),      QStringLiteral("usage"),
                                      QStringLiteral("installed-apps"), QStringLiteral("apps-seen")};
    return names;
}

Result<Fault> Fault::fromJson(const QJsonObject &o)
{
    using R = Result<Fault>;
    Fault fault;
    const auto route = WireCheck::string(o, QStringLiteral("route"));
    if (!route)
        return R::failure(route.error());
    if (*route != QStringLiteral("any") && !FaultPlan::routeNames().contains(*route))
        return R::failure(QStringLiteral("unknown route ") + *route + QStringLiteral("; one of any, ") +
                          FaultPlan::routeNames().join(QStringLiteral(", ")));
    fault.route = *route;

    const auto kind = WireCheck::string(o, QStringLiteral("kind"));
    if (!kind)
        return R::failure(kind.error());
    const auto found =
        std::find_if(kindNames().begin(), kindNames().end(), [&](const auto &p) { return p.first == *kind; });
    if (found == kindNames().end())
        return R::failure(QStringLiteral("unknown fault kind ") + *kind);
    fault.kind = found->second;

    qint64 count = 1, status = fault.kind == Kind::Redirect ? 302 : 500, delay = 0, size = 2 * 1024 * 1024;
    for (const auto &s : {readOptionalInt(o, QStringLiteral("count"), 1, 1000000, count),
                          readOptionalInt(o, QStringLiteral("status"), 200, 599, status),
                          readOptionalInt(o, QStringLiteral("delay_ms"), 0, 600000, delay),
                          readOptionalInt(o, QStringLiteral("size"), 0, 256LL * 1024 * 1024, size)}) {
        if (!s)
            return R::failure(s.error());
    }
    if (fault.kind == Kind::Redirect && !QList<qint64>{301, 302, 303, 307, 308}.contains(status))
        return R::failure(QStringLiteral("a redirect's \"status\" must be 301, 302, 303, 307 or 308"));
    fault.remaining = static_cast<int>(count);
    fault.status = static_cast<int>(status);
    fault.delayMs = static_cast<int>(delay);
    fault.sizeBytes = size;

    for (const auto &[key, target] :
         {std::pair{QStringLiteral("body"), &fault.body}, std::pair{QStringLiteral("location"), &fault.location}}) {
        if (!o.contains(key))
            continue;
        const auto text = WireCheck::string(o, key);
        if (!text)
            return R::failure(text.error());
        *target = text->toUtf8();
    }
    if (fault.location.contains('\r') || fault.location.contains('\n'))
        return R::failure(QStringLiteral("\"location\" must be one line"));
    if (fault.kind == Kind::Status && !o.contains(QStringLiteral("body")))
        fault.body = R"({"error":"injected fault"})";
    return fault;
}

QJsonObject Fault::toJson() const
{
    QString kindName;
    for (const auto &[name, k] : kindNames())
        if (k == kind)
            kindName = name;
    QJsonObject o{
        {QStringLiteral("route"), route}, {QStringLiteral("kind"), kindName}, {QStringLiteral("count"), remaining}};
    switch (kind) {
        case Kind::Status:
            o.insert(QStringLiteral("status"), status);
            o.insert(QStringLiteral("body"), QString::fromUtf8(body));
            break;
        case Kind::Delay:
            o.insert(QStringLiteral("delay_ms"), delayMs);
            break;
        case Kind::Oversized:
            o.insert(QStringLiteral("size"), sizeBytes);
            break;
        case Kind::Redirect:
            o.insert(QStringLiteral("status"), status);
            o.insert(QStringLiteral("location"), QString::fromUtf8(location));
            break;
        case Kind::Malformed:
        case Kind::Drop:
            break;
    }
    return o;
}

Reply Fault::apply(Reply normal, const QByteArray &path) const
{
    Reply reply;
    reply.headers.append(QPair<QByteArray, QByteArray>{"Content-Type", "application/json"});
    switch (kind) {
        case Kind::Delay:
            normal.delayMs = delayMs;
            return normal;
        case Kind::Status:
            reply.status = status;
            reply.body = body;
            return reply;
        case Kind::Malformed:
            // Cut off in the middle of a member, as a proxy that dropped the rest would leave it.
            reply.body = R"({"claimed": tru)";
            return reply;
        case Kind::Oversized: {
            // Valid JSON of the requested length, so only a size limit on the reader can refuse it.
            const QByteArray head = R"({"padding":")", tail = R"("})";
            const qint64 fill = std::max<qint64>(0, sizeBytes - head.size() - tail.size());
            reply.body = head + QByteArray(static_cast<qsizetype>(fill), 'x') + tail;
            return reply;
        }
        case Kind::Drop:
            reply.dropConnection = true;
            return reply;
        case Kind::Redirect:
            reply.status = status;
            reply.headers.append(
                QPair<QByteArray, QByteArray>{"Location", location.isEmpty() ? QByteArray("/moved") + path : location});
            reply.body = R"({"error":"moved"})";
            return reply;
    }
    return reply;
}

QJsonArray FaultPlan::toJson() const
{
    QJsonArray out;
    for (const auto &f : m_faults)
        out.append(f.toJson());
    return out;
}

std::optional<Fault> FaultPlan::take(const QString &route)
{
    for (qsizetype i = 0; i < m_faults.size(); ++i) {
        Fault &f = m_faults[i];
        if (f.route != route && f.route != QStringLiteral("any"))
            continue;
        Fault used = f;
        if (--f.remaining <= 0)
            m_faults.removeAt(i);
        return used;
    }
    return std::nullopt;
}

}  // namespace fennimar::refbackend
