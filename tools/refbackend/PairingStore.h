#pragma once

#include "core/Result.h"
#include "tools/refbackend/Database.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace fennimar::refbackend {

// A pending setup as handed to the agent.
struct Ticket {
    QString token;
    QString pairCode;
    QString deviceId;
    QDateTime expiresAt;
};

// What a status poll finds under a ticket token.
struct SetupState {
    bool claimed = false;
    bool expired = false;
    bool consumed = false;  // claimed, and its session was handed out by an earlier poll
    QString deviceId;
    QString childId;
    QString childName;
    QString deviceName;
    QString sessionToken;
};

struct ClaimResult {
    enum class Kind { Claimed, UnknownCode, Expired, AlreadyClaimed };
    Kind kind = Kind::UnknownCode;
    QString deviceId;
    QString childId;
    QString sessionToken;
};

// The device a bearer token belongs to.
struct Session {
    QString deviceId;
    QString childId;
};

struct ChildApp {
    QString packageId;
    bool blocked = false;
};

// Children, devices, pair codes and session tokens. Every method runs SQL on the caller's
// thread (a few statements, well under a millisecond on a small file) and reports a database
// failure as a failed Result instead of an answer.
class PairingStore {
public:
    // Pair codes are six characters from an alphabet without look-alikes (no 0/O, 1/I/L), so a
    // parent can type what a child reads out; they live ten minutes.
    static constexpr int kCodeLength = 6;
    static constexpr qint64 kDefaultCodeLifetimeMs = 10 * 60 * 1000;
    static const QString &codeAlphabet();

    // codeLifetimeMs is shorter only when a test wants to see codes expire.
    explicit PairingStore(Database &db, qint64 codeLifetimeMs = kDefaultCodeLifetimeMs)
        : m_db(db), m_codeLifetimeMs(codeLifetimeMs)
    {
    }

    // Creates an unclaimed device and a pending setup for it with a code unique among the codes
    // still open at now.
    Result<Ticket> createPairing(const QString &deviceType, const QJsonObject &platformInfo, const QDateTime &now);

    // The setup under token, or nothing when no such token was issued (or its device was
    // removed). A claimed setup stays claimed after its code's expiry. The first answer after the
    // claim carries the session and marks it handed out (one UPDATE); every later answer is
    // claimed, expired and consumed, without ids or token, so a second poller of a leaked ticket
    // gets nothing.
    Result<std::optional<SetupState>> setupState(const QString &token, const QDateTime &now);

    // Claims the newest setup with code (case-insensitive) for the child named childName, who is
    // created on first use, and issues the device's session token.
    Result<ClaimResult> claim(const QString &code, const QString &childName, const QString &deviceName,
                              const QDateTime &now);

    // The device and child of a session token; nothing for an unknown or revoked token.
    Result<std::optional<Session>> session(const QString &token);

    Result<bool> deviceExists(const QString &deviceId);

    // Removes the device with everything stored about it; its session token stops working.
    Result<bool> removeDevice(const QString &deviceId);

    // Removes every device that was never claimed and whose codes have all expired at now: a code
    // nobody claimed in time leaves nothing behind.
    Status purgeExpiredSetups(const QDateTime &now);

    // The child's apps in the order they were set.
    Result<QList<ChildApp>> childApps(const QString &childId);

    // Replaces the apps of the child named childName (created when new) by apps, in order.
    Status setChildApps(const QString &childName, const QList<ChildApp> &apps);

private:
    // pairings.claimed: 0 open, 1 claimed, 2 claimed and its session handed out.
    static constexpr int kUnclaimed = 0;
    static constexpr int kClaimed = 1;
    static constexpr int kHandedOut = 2;
    Result<QString> childIdFor(const QString &name);
    Database &m_db;
    const qint64 m_codeLifetimeMs;
};

}  // namespace fennimar::refbackend
