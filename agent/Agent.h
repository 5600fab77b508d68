#pragma once

#include "agent/AgentState.h"
#include "backend/BackendClient.h"
#include "backend/SystemInfo.h"
#include "measure/UsageReporter.h"
#include "inventory/SeenAppsReporter.h"
#include "measure/ActivitySampler.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "services/AccessibilityPermission.h"
#include "core/CancelToken.h"
#include "services/Keychain.h"
#include "services/RunMarker.h"
#include "platform/Platform.h"

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>

namespace fennimar {

// The agent's spine: owns the state, the day ledger, the backend client and every long-running
// activity (pairing, heartbeat, measurement with its sampler and reporters, the permission watcher).
// Main thread only; tasks are coroutines on the injected clock that hold the agent weakly.
//
// States and transitions (all in this class and AgentPairing.cpp):
//   unpaired --start(), identity stored--> paired            (heartbeat and measuring start)
//   unpaired --start(), none stored------> unpaired + beginPairing()
//   any      --pair code obtained--------> pairing            (polling every 2 s)
//   pairing  --claimed with a session----> paired             (identity saved; heartbeat, measuring)
//   pairing  --expired / no session / error--> failed         (resting)
//   unpaired, failed --beginPairing()----> (code requested)   refused in any other state
//   pairing  --cancelPairing()-----------> unpaired           (only the pairing task stops: a
//                                                              pairing only begins with none stored;
//                                                              the store is read again and waited
//                                                              for when locked)
//   any      --unpair()------------------> unpaired           (everything stopped, ledger saved,
//                                                              identity deleted), or failed
//                                                              (unpairing) when the store would
//                                                              not delete it
// A secret store that cannot be read (locked keyring, no Secret Service) is waited for, with
// back-off and on the store's own change notices, before anything is concluded: a locked store is
// never taken for "not paired", nor is a "nothing stored" said just after the store came back,
// until it is said again once the store has settled. While the stored identity is being read,
// saved or deleted, menu actions are refused with a log line, so that no action overlaps the store
// and leaves two truths.
class Agent {
public:
    static constexpr Millis heartbeatInterval{15000};
    static constexpr Millis reportInterval{300000};
    static constexpr double refreshEverySeconds = 900.0;
    static constexpr Millis pollInterval{2000};
    static constexpr Millis fallbackCodeLifetime{300000};
    static constexpr Millis saveInterval{60000};  // unsaved credits reach the disk at least this often
    // A secret store that could not be read is asked again after these, doubling up to the last,
    // and at once when it tells of a change (unlocked, a new owner).
    static constexpr Millis storeRetryFirst{5000};
    static constexpr Millis storeRetryMax{30000};
    // "Nothing stored" from a store that could not be read before counts once it says so again
    // after this long with no change of the store in between.
    static constexpr Millis storeSettle{5000};

    // Creates the ledger on "ledger.json" in supportDirectory (loading it at once) and the client;
    // the last good monitored list is kept beside it in "monitored-list.json".
    // clock and platform must outlive the agent.
    Agent(Clock &clock, Platform &platform, QUrl backendURL, QString supportDirectory,
          BackendClient::Limits limits = {});
    ~Agent();
    Agent(const Agent &) = delete;
    Agent &operator=(const Agent &) = delete;

    // Restores a stored pairing (paired at once) or begins pairing. Called once.
    void start();
    // The user's actions. Each returns at once; a refusal carries a sentence for the user (and a
    // log line): pairing is refused unless unpaired or failed at pairing (a second pairing of a
    // paired computer makes a second device), and every action while the stored identity is being
    // read, saved or deleted. beginPairing's outcome is the next Pairing or Failed state; unpair's
    // is the state once storeBusy() is false again (unpaired, or failed with `unpairing`).
    Status beginPairing();
    // Stops the pairing task and shows unpaired, reading the store again so that a keyring locked
    // meanwhile is shown as waited for; nothing else (heartbeat, measuring) is touched. Nothing to
    // cancel is not a failure.
    Status cancelPairing();
    Status unpair();
    // Saves the ledger and logs today's total.
    void flush();
    // Keeps the tamper evidence that no acknowledged heartbeat has carried in `record` (which must
    // outlive the agent), and counts again what an earlier run left there: a restart before the
    // next heartbeat, or a kill, no longer wipes it. Called once, before start().
    void keepEvidenceIn(RunMarker &record);

    // Readable by the menu.
    const AgentState &state() const { return m_state; }
    // Counts the state's changes (every setState, even to an equal state): a waiter that noted it
    // before an action knows that a state it sees later was produced after the action.
    quint64 stateSerial() const { return m_stateSerial; }
    // Whether the stored identity is being read, saved or deleted now.
    bool storeBusy() const { return m_storeBusy != nullptr; }
    const std::optional<QDateTime> &lastBeat() const { return m_lastBeat; }
    const std::optional<QString> &lastBeatError() const { return m_lastBeatError; }
    // While the secret store cannot be read: what the agent waits for, as a menu sentence
    // ("Waiting for the keyring to be unlocked"); nothing otherwise.
    const std::optional<QString> &waitingFor() const { return m_waitingFor; }
    const DayLedger &ledger() const { return *m_ledger; }
    const ActivitySampler *sampler() const { return m_sampler.get(); }
    const MonitoredApps *monitored() const { return m_monitored.get(); }
    const UsageReporter *reporter() const { return m_reporter.get(); }
    const SeenAppsReporter *seenApps() const { return m_seenApps.get(); }
    bool accessibilityTrusted() { return m_permission.isTrusted(); }
    AccessibilityPermission &permission() { return m_permission; }
    const SystemInfo &systemInfo() const { return *m_system; }
    const QUrl &backendURL() const { return m_backendURL; }

    // Set once by the menu; called on the main thread after every change worth redrawing.
    std::function<void()> onChange;

private:
    void setState(AgentState state);
    void changed();
    void startHeartbeat(const QString &deviceId);
    void startMeasuring(const PairedIdentity &identity);
    // The one way into `paired`: the state, the heartbeat and measuring together.
    void enterPaired(const PairedIdentity &identity);
    void stopMeasuring();
    // Whether a menu action may run now; logs the refusal when the store is busy.
    Status acceptAction(const char *action);

    // Reads the stored identity, waiting out a store that cannot be read; paired when one is
    // stored, otherwise unpaired and, when pairIfNone, a new pairing.
    QCoro::Task<void> restore(bool pairIfNone, CancelToken token);
    QCoro::Task<void> restoreOrPair();
    QCoro::Task<void> heartbeatLoop(QString deviceId, CancelToken token);
    QCoro::Task<void> measurementLoop(std::shared_ptr<DayLedger> ledger, std::shared_ptr<SystemInfo> system,
                                      std::shared_ptr<MonitoredApps> monitored,
                                      std::shared_ptr<SeenAppsReporter> seenApps,
                                      std::shared_ptr<UsageReporter> reporter, CancelToken token);
    QCoro::Task<void> pairingTask(CancelToken token);
    QCoro::Task<void> pairingSteps(CancelToken token);
    QCoro::Task<Status> pollUntilClaimed(PairingTicket ticket, QDateTime expiry, CancelToken token);
    QCoro::Task<void> clearIdentity();

    Clock &m_clock;
    Platform &m_platform;
    const QUrl m_backendURL;
    const QString m_listPath;
    AgentState m_state = AgentStates::Unpaired{};
    quint64 m_stateSerial = 0;
    std::optional<QDateTime> m_lastBeat;
    std::optional<QString> m_lastBeatError;
    quint64 m_tamperDelivered = 0;         // the tamper evidence's count the last delivered heartbeat saw
    std::optional<Millis> m_beatLoggedAt;  // monotonic time of the last heartbeat line
    int m_beatsUnlogged = 0;
    std::optional<QString> m_waitingFor;
    const char *m_storeBusy = nullptr;  // what is being done with the stored identity, if anything
    std::optional<CancelToken> m_restoreTask;
    std::optional<CancelToken> m_storeWake;  // cut short the restore's pause when the store changes
    // Shared with the running measurement task, whose reporter may finish a request after the
    // agent is gone.
    std::shared_ptr<DayLedger> m_ledger;
    std::shared_ptr<SystemInfo> m_system;
    Keychain m_keychain;
    AccessibilityPermission m_permission;
    BackendClient m_client;

    // Replaced together by startMeasuring; kept (stopped) after unpair.
    std::shared_ptr<MonitoredApps> m_monitored;
    std::shared_ptr<UsageReporter> m_reporter;
    std::shared_ptr<SeenAppsReporter> m_seenApps;
    std::unique_ptr<ActivitySampler> m_sampler;

    std::optional<CancelToken> m_heartbeatTask, m_pairingTask, m_measurementTask;
    TimerHandle m_permissionWatcher;
    TimerHandle m_saveTimer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace fennimar
