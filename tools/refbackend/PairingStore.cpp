#include "tools/refbackend/PairingStore.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUuid>

namespace fennimar::refbackend {

namespace {

QString randomToken(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), bytes / 4);
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString isoMs(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

}  // namespace

const QString &PairingStore::codeAlphabet()
{
    static const QString alphabet = QStringLiteral("ABCDEFGHJKMNPQRSTUVWXYZ23456789");
    return alphabet;
}

Result<Ticket> PairingStore::createPairing(const QString &deviceType, const QJsonObject &platformInfo,
                                           const QDateTime &now)
{
    using R = Result<Ticket>;
    Ticket ticket;
    ticket.token = randomToken(24);
    ticket.deviceId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    ticket.expiresAt = now.addMSecs(m_codeLifetimeMs);
    const qint64 nowMs = now.toMSecsSinceEpoch();
    // 31^6 codes: a clash among the few open ones is rare, and a few redraws settle it.
    for (int attempt = 0; attempt < 50 && ticket.pairCode.isEmpty(); ++attempt) {
        QString code;
        for (int i = 0; i < kCodeLength; ++i)
            code += codeAlphabet().at(static_cast<qsizetype>(
                QRandomGenerator::system()->bounded(static_cast<quint32>(codeAlphabet().size()))));
        auto taken = m_db.run(QStringLiteral("SELECT 1 FROM pairings WHERE code = ? AND claimed = 0 AND "
                                             "expires_at_ms > ?"),
                              {code, nowMs});
        if (!taken)
            return R::failure(taken.error());
        if (!taken->next())
            ticket.pairCode = code;
    }
    if (ticket.pairCode.isEmpty())
        return R::failure(QStringLiteral("no free pair code"));

    const Status stored = m_db.transaction([&]() -> Status {
        const QString facts = QString::fromUtf8(QJsonDocument(platformInfo).toJson(QJsonDocument::Compact));
        auto device = m_db.run(QStringLiteral("INSERT INTO devices (id, device_type, platform_info, created_at) "
                                              "VALUES (?, ?, ?, ?)"),
                               {ticket.deviceId, deviceType, facts, isoMs(now)});
        if (!device)
            return Status::failure(device.error());
        auto pairing = m_db.run(QStringLiteral("INSERT INTO pairings (token, code, device_id, expires_at_ms) "
                                               "VALUES (?, ?, ?, ?)"),
                                {ticket.token, ticket.pairCode, ticket.deviceId, ticket.expiresAt.toMSecsSinceEpoch()});
        return pairing ? Status() : Status::failure(pairing.error());
    });
    if (!stored)
        return R::failure(stored.error());
    return ticket;
}

Result<std::optional<SetupState>> PairingStore::setupState(const QString &token, const QDateTime &now)
{
    using R = Result<std::optional<SetupState>>;
    auto q = m_db.run(QStringLiteral("SELECT p.claimed, p.expires_at_ms, d.id, d.child_id, c.name, d.device_name, "
                                     "d.session_token FROM pairings p JOIN devices d ON d.id = p.device_id "
                                     "LEFT JOIN children c ON c.id = d.child_id WHERE p.token = ?"),
                      {token});
    if (!q)
        return R::failure(q.error());
    if (!q->next())
        return R(std::nullopt);
    SetupState state;
    const int claimed = q->value(0).toInt();
    state.claimed = claimed != kUnclaimed;
    if (claimed == kHandedOut) {
        // The session went to the first poll after the claim; whoever asks again learns only
        // that this setup is over.
        state.expired = true;
        state.consumed = true;
        return R(state);
    }
    state.expired = !state.claimed && now.toMSecsSinceEpoch() >= q->value(1).toLongLong();
    if (state.claimed) {
        auto handedOut =
            m_db.run(QStringLiteral("UPDATE pairings SET claimed = ? WHERE token = ?"), {kHandedOut, token});
        if (!handedOut)
            return R::failure(handedOut.error());
    }
    state.deviceId = q->value(2).toString();
    state.childId = q->value(3).toString();
    state.childName = q->value(4).toString();
    state.deviceName = q->value(5).toString();
    state.sessionToken = q->value(6).toString();
    return R(state);
}

Result<QString> PairingStore::childIdFor(const QString &name)
{
    auto found = m_db.run(QStringLiteral("SELECT id FROM children WHERE name = ?"), {name});
    if (!found)
        return Result<QString>::failure(found.error());
    if (found->next())
        return found->value(0).toString();
    const QString id = QStringLiteral("child-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    auto created = m_db.run(QStringLiteral("INSERT INTO children (id, name) VALUES (?, ?)"), {id, name});
    if (!created)
        return Result<QString>::failure(created.error());
    return id;
}

Result<ClaimResult> PairingStore::claim(const QString &code, const QString &childName, const QString &deviceName,
                                        const QDateTime &now)
{
    ClaimResult result;
    const Status status = m_db.transaction([&]() -> Status {
        auto q = m_db.run(QStringLiteral("SELECT p.token, p.device_id, p.claimed, p.expires_at_ms, d.platform_info "
                                         "FROM pairings p JOIN devices d ON d.id = p.device_id WHERE p.code = ? "
                                         "ORDER BY p.expires_at_ms DESC LIMIT 1"),
                          {code.trimmed().toUpper()});
        if (!q)
            return Status::failure(q.error());
        if (!q->next()) {
            result.kind = ClaimResult::Kind::UnknownCode;
            return {};
        }
        const QString ticketToken = q->value(0).toString();
        result.deviceId = q->value(1).toString();
        if (q->value(2).toInt() != kUnclaimed) {
            result.kind = ClaimResult::Kind::AlreadyClaimed;
            return {};
        }
        if (now.toMSecsSinceEpoch() >= q->value(3).toLongLong()) {
            result.kind = ClaimResult::Kind::Expired;
            return {};
        }
        // Without a name from the parent the device keeps the one the computer gave itself.
        QString name = deviceName;
        if (name.isEmpty())
            name = QJsonDocument::fromJson(q->value(4).toByteArray())
                       .object()
                       .value(QStringLiteral("device_name"))
                       .toString();

        auto child = childIdFor(childName);
        if (!child)
            return Status::failure(child.error());
        result.childId = *child;
        result.sessionToken = QStringLiteral("cst_") + randomToken(32);
        auto device = m_db.run(QStringLiteral("UPDATE devices SET child_id = ?, device_name = ?, session_token = ?, "
                                              "claimed_at = ? WHERE id = ?"),
                               {result.childId, name, result.sessionToken, isoMs(now), result.deviceId});
        if (!device)
            return Status::failure(device.error());
        auto pairing =
            m_db.run(QStringLiteral("UPDATE pairings SET claimed = ? WHERE token = ?"), {kClaimed, ticketToken});
        if (!pairing)
            return Status::failure(pairing.error());
        result.kind = ClaimResult::Kind::Claimed;
        return {};
    });
    if (!status)
        return Result<ClaimResult>::failure(status.error());
    return result;
}

Result<std::optional<Session>> PairingStore::session(const QString &token)
{
    using R = Result<std::optional<Session>>;
    if (token.isEmpty())
        return R(std::nullopt);
    auto q = m_db.run(QStringLiteral("SELECT id, child_id FROM devices WHERE session_token = ?"), {token});
    if (!q)
        return R::failure(q.error());
    if (!q->next())
        return R(std::nullopt);
    return R(Session{q->value(0).toString(), q->value(1).toString()});
}

Result<bool> PairingStore::deviceExists(const QString &deviceId)
{
    auto q = m_db.run(QStringLiteral("SELECT 1 FROM devices WHERE id = ?"), {deviceId});
    if (!q)
        return Result<bool>::failure(q.error());
    return q->next();
}

Result<bool> PairingStore::removeDevice(const QString &deviceId)
{
    const auto exists = deviceExists(deviceId);
    if (!exists || !*exists)
        return exists;
    const Status status = m_db.transaction([&]() -> Status {
        for (const char *table : {"pairings", "heartbeats", "usage_days", "usage_hours", "seen_apps", "alerts"}) {
            auto r =
                m_db.run(QStringLiteral("DELETE FROM %1 WHERE device_id = ?").arg(QLatin1String(table)), {deviceId});
            if (!r)
                return Status::failure(r.error());
        }
        auto r = m_db.run(QStringLiteral("DELETE FROM devices WHERE id = ?"), {deviceId});
        return r ? Status() : Status::failure(r.error());
    });
    if (!status)
        return Result<bool>::failure(status.error());
    return true;
}

Status PairingStore::purgeExpiredSetups(const QDateTime &now)
{
    auto q = m_db.run(QStringLiteral("SELECT d.id FROM devices d WHERE d.child_id IS NULL AND NOT EXISTS (SELECT 1 "
                                     "FROM pairings p WHERE p.device_id = d.id AND (p.claimed <> 0 OR "
                                     "p.expires_at_ms > ?))"),
                      {now.toMSecsSinceEpoch()});
    if (!q)
        return Status::failure(q.error());
    QStringList expired;
    while (q->next())
        expired.append(q->value(0).toString());
    for (const QString &id : expired)
        if (const auto removed = removeDevice(id); !removed)
            return Status::failure(removed.error());
    return {};
}

Result<QList<ChildApp>> PairingStore::childApps(const QString &childId)
{
    auto q = m_db.run(QStringLiteral("SELECT package_id, is_blocked FROM child_apps WHERE child_id = ? "
                                     "ORDER BY position"),
                      {childId});
    if (!q)
        return Result<QList<ChildApp>>::failure(q.error());
    QList<ChildApp> apps;
    while (q->next())
        apps.append({q->value(0).toString(), q->value(1).toInt() != 0});
    return apps;
}

Status PairingStore::setChildApps(const QString &childName, const QList<ChildApp> &apps)
{
    return m_db.transaction([&]() -> Status {
        auto child = childIdFor(childName);
        if (!child)
            return Status::failure(child.error());
        auto cleared = m_db.run(QStringLiteral("DELETE FROM child_apps WHERE child_id = ?"), {*child});
        if (!cleared)
            return Status::failure(cleared.error());
        int position = 0;
        for (const auto &app : apps) {
            // A package listed twice keeps its first place and its last flag.
            auto r = m_db.run(QStringLiteral("INSERT INTO child_apps (child_id, position, package_id, is_blocked) "
                                             "VALUES (?, ?, ?, ?) ON CONFLICT (child_id, package_id) "
                                             "DO UPDATE SET is_blocked = excluded.is_blocked"),
                              {*child, position++, app.packageId, app.blocked ? 1 : 0});
            if (!r)
                return Status::failure(r.error());
        }
        return {};
    });
}

}  // namespace fennimar::refbackend
