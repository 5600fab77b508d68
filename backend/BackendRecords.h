#pragma once

#include "core/Result.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The records the backend answers with. Each decodes strictly from the response body: a required
// member that is missing, null or of another JSON type fails, an integer member must be a whole
// number written as a number, an optional member may be missing or null, other members are ignored.
// fromJson never guesses; its error is the reason shown after "Could not read <Type>: ".
namespace fennimar {

// A pending setup: the code a parent enters and the token the agent polls with.
struct PairingTicket {
    static constexpr const char *typeName = "PairingTicket";
    QString token;      // "token": last path segment of the status poll
    QString pairCode;   // "pair_code": shown exactly as received
    QString deviceId;   // "device_id"
    QString expiresAt;  // "expires_at": ISO-8601 text, read with ISO8601DateFormatter::fennimar()

    static Result<PairingTicket> fromJson(const QByteArray &body);
    bool operator==(const PairingTicket &) const = default;
};

struct ChildSummary {
    std::optional<QString> name;  // "name"
    bool operator==(const ChildSummary &) const = default;
};

// The answer to a status poll.
struct SetupStatus {
    static constexpr const char *typeName = "SetupStatus";
    bool claimed = false;                      // "claimed", required
    bool expired = false;                      // "expired", required
    std::optional<QString> deviceId;           // "device_id"
    std::optional<QString> childId;            // "child_id"
    std::optional<QString> deviceName;         // "device_name"
    std::optional<QString> childSessionToken;  // "child_session_token"; never logged
    std::optional<ChildSummary> child;         // "child"

    static Result<SetupStatus> fromJson(const QByteArray &body);
    bool operator==(const SetupStatus &) const = default;
};

// The child's apps and sites with their restriction flags.
struct InstalledAppsResponse {
    static constexpr const char *typeName = "InstalledAppsResponse";
    struct App {
        std::optional<QString> packageId;  // "package_id"
        std::optional<bool> isBlocked;     // "is_blocked"
        bool operator==(const App &) const = default;
    };
    std::optional<std::vector<App>> apps;  // "apps"

    static Result<InstalledAppsResponse> fromJson(const QByteArray &body);
    bool operator==(const InstalledAppsResponse &) const = default;
};

// The package ids to measure: in response order, of the blocked apps with a package id that begins
// with this platform's app prefix or "web:" (exact case). Duplicates stay.
QStringList selectedPackages(const InstalledAppsResponse &response);

// The answer to an apps-seen report; only newCount is used.
struct AppsSeenResponse {
    static constexpr const char *typeName = "AppsSeenResponse";
    std::optional<qint64> recorded;       // "recorded"
    std::optional<qint64> newCount;       // "new"
    std::optional<qint64> skippedSystem;  // "skipped_system"

    static Result<AppsSeenResponse> fromJson(const QByteArray &body);
    bool operator==(const AppsSeenResponse &) const = default;
};

}  // namespace fennimar
