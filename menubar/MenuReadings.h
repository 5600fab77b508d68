#pragma once

#include "agent/AgentState.h"
#include "platform/LoginService.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

namespace fennimar {

// The sampler's latest decision as the menu needs it: the same shape, names and factories as
// `ActivitySampler::Verdict`, so that the menu can take the sampler's own type by changing this one
// definition into an alias.
struct MenuVerdict {
    enum class Kind {
        Counting,             // subject: the app's identifier, or the site's host
        NotMonitored,         // subject: the identifier, or the host (the browser's identifier when none)
        BrowserNoPermission,  // subject: the browser's identifier
        BrowserUnreadable,    // subject: the browser's identifier; reason: why (never shown)
        Idle,                 // nothing counted right now
    };
    Kind kind = Kind::Idle;
    QString subject;
    QString reason;

    static MenuVerdict counting(QString s) { return {Kind::Counting, std::move(s), {}}; }
    static MenuVerdict notMonitored(QString s) { return {Kind::NotMonitored, std::move(s), {}}; }
    static MenuVerdict browserNoPermission(QString s) { return {Kind::BrowserNoPermission, std::move(s), {}}; }
    static MenuVerdict browserUnreadable(QString s, QString r)
    {
        return {Kind::BrowserUnreadable, std::move(s), std::move(r)};
    }
    static MenuVerdict idle() { return {}; }
    bool operator==(const MenuVerdict &) const = default;
};

// What the monitored-apps list tells the menu.
struct MonitoredReading {
    qsizetype appCount = 0;            // monitored application identifiers
    qsizetype domainCount = 0;         // monitored website domains
    std::optional<QString> lastError;  // description of the last failed refresh
};

// A loop that keeps failing: what the last attempt said and when the run of failures began.
struct FailureReading {
    QString error;    // the failure's description
    QDateTime since;  // the first failure of the current run
};

// Everything the menu shows, read from the agent at the moment the menu opens. A plain value: the
// menu is a function of it and of nothing else.
struct MenuReadings {
    AgentState state = AgentStates::Unpaired{};
    std::optional<QDateTime> lastBeat;            // when the last heartbeat succeeded
    std::optional<QString> lastBeatError;         // description of the last heartbeat failure
    std::optional<FailureReading> reportFailure;  // usage reports failing (absent while they arrive)
    std::optional<FailureReading> listFailure;    // monitored-list refreshes failing
    std::optional<QDateTime> listFetched;         // when the list in use was fetched (maybe by an earlier run)
    bool listStale = false;                       // its refreshes fail and it is over an hour old, or missing
    std::optional<FailureReading> appsFailure;    // reports of the installed apps failing
    QStringList refusedDays;                      // past days the backend refused alone ("2026-03-10")
    QString samplingProblem;                      // why the app in front cannot be seen; empty when it can
    QString unreadableBrowser;                    // the browser in front hiding its page for minutes; empty: none
    QString tamper;                               // what still tries to fool the count ("; "-joined); empty: nothing
    std::optional<QString> waitingFor;            // the secret store the agent waits for before it can tell its pairing
    qint64 todaySeconds = 0;                      // seconds counted today (local day)
    std::optional<MenuVerdict> verdict;           // absent while no sampler exists
    std::optional<MonitoredReading> monitored;    // absent while no monitored list exists
    bool accessibilityTrusted = false;            // may the agent read browsers' pages
    LoginService::Registration loginItem = LoginService::Registration::NotRegistered;
    QString computerName;  // empty when the system gives none
    QString userName;      // the login name
    QDateTime now;         // the instant relative times are measured from
    // The display name of an installed app by identifier, or nothing when none is installed under
    // it. Empty: no app is ever found, and identifiers are shown as they are.
    std::function<std::optional<QString>(const QString &appId)> appName;
};

}  // namespace fennimar
