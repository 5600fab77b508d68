#pragma once

#include "agent/AgentState.h"
#include "platform/LoginService.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace fennimar {

// The sampler's latest decision as the menu needs it. Same cases and payloads as the sampler's own
// verdict, so that the menu can switch to `ActivitySampler::Verdict` by changing one alias.
namespace MenuVerdicts {
struct Counting {
    QString subject;  // app identifier, or the site's host for a browser
};
struct NotMonitored {
    QString subject;  // app identifier, or the site's host (the browser's identifier when there is none)
};
struct BrowserNoPermission {
    QString browserId;
};
struct BrowserUnreadable {
    QString browserId;
    QString reason;  // why the address could not be read; never shown in the menu
};
struct Idle {};
}  // namespace MenuVerdicts

using MenuVerdict = std::variant<MenuVerdicts::Counting, MenuVerdicts::NotMonitored, MenuVerdicts::BrowserNoPermission,
                                 MenuVerdicts::BrowserUnreadable, MenuVerdicts::Idle>;

// What the monitored-apps list tells the menu.
struct MonitoredReading {
    int appCount = 0;                  // monitored application identifiers
    int domainCount = 0;               // monitored website domains
    std::optional<QString> lastError;  // description of the last failed refresh
};

// Everything the menu shows, read from the agent at the moment the menu opens. A plain value: the
// menu is a function of it and of nothing else.
struct MenuReadings {
    AgentState state = AgentStates::Unpaired{};
    std::optional<QDateTime> lastBeat;          // when the last heartbeat succeeded
    std::optional<QString> lastBeatError;       // description of the last heartbeat failure
    qint64 todaySeconds = 0;                    // seconds counted today (local day)
    std::optional<MenuVerdict> verdict;         // absent while no sampler exists
    std::optional<MonitoredReading> monitored;  // absent while no monitored list exists
    bool accessibilityTrusted = false;          // may the agent read browsers' pages
    LoginService::Status loginItem = LoginService::Status::NotRegistered;
    QString computerName;  // empty when the system gives none
    QString userName;      // the login name
    QDateTime now;         // the instant relative times are measured from
    // The display name of an installed app by identifier, or nothing when none is installed under
    // it. Empty: no app is ever found, and identifiers are shown as they are.
    std::function<std::optional<QString>(const QString &appId)> appName;
};

}  // namespace fennimar
