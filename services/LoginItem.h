#pragma once

#include "core/Clock.h"
#include "platform/LoginService.h"

#include <QString>

namespace fennimar {

// Keeps the agent registered to start at login for the running version, re-registering once after
// an upgrade. The only memory is the setting "loginItem.registeredBundleVersion": the version whose
// registration last succeeded. Main thread only; every call is as cheap as the service's calls.
class LoginItem {
public:
    static constexpr const char *versionSettingKey = "loginItem.registeredBundleVersion";
    // Set to 1 in the environment of the process the registration starts (the launch agent's
    // EnvironmentVariables on macOS): that process is "the job".
    static constexpr const char *jobVariable = "FENNIMAR_LOGIN_JOB";
    // Set to 1 to register a copy that does not run from where installed copies live.
    static constexpr const char *optInVariable = "FENNIMAR_REGISTER_LOGIN_ITEM";

    // How this copy was started, as far as the registration cares.
    struct Launch {
        bool isJob = false;        // started by the registration itself
        bool headless = false;     // --headless: tests and development runs
        bool installed = false;    // runs from where installed copies live (LoginService::runsInstalled)
        bool optedIn = false;      // optInVariable is 1
        bool canHandOver = false;  // LoginService::canHandOver
    };
    enum class Start {
        Register,              // ensureRegistered(), then become the agent
        LeaveAlone,            // become the agent without touching the registration
        RegisterThenHandOver,  // ensureRegistered(); once the item is enabled, hand over to its job
    };
    // What a copy does about the registration before it becomes the agent. A build tree or a
    // headless run never registers: a registered launch agent starts at once, so a developer's Mac
    // would run a second agent from build/. Any other copy than the job registers (re-registering
    // after an upgrade) and then, where the platform can, hands over to the job, so that the agent
    // always runs under launchd's restart-if-quit: a copy started from the Finder would otherwise
    // run outside launchd while the job, started at once by the registration, found it running and
    // stopped. Pure.
    static Start startDecision(const Launch &launch);

    // How a run of this program ends, for its exit status.
    enum class End {
        AnotherRuns,  // a copy of the agent already holds the claim
        HandedOver,   // the job took over after this copy started it
        Ran,          // ran as the agent until asked to quit (menu, signal, the system's quit)
    };
    // The exit status. launchd restarts the job only after an unsuccessful exit (KeepAlive
    // SuccessfulExit false), so the job exits 0 only when another copy runs (else it would be
    // relaunched every 30 s while that copy lives) and 75 after any run, whoever asked it to quit
    // (menu, SIGTERM from Activity Monitor, the system's Quit event): counting must not stop until
    // the next login. Any other copy exits 3 when another runs, 0 after handing over, and `usual`
    // after a run. Pure.
    static int exitStatus(End end, bool isJob, int usual);

    // The hand-over: this copy lets go of its claim, starts the job (LoginService::startRegistered)
    // and then, every handOverPoll, looks who holds the claim. It leaves once another copy of the
    // agent holds it; when the start failed, or nobody took the claim within handOverLimit, it
    // takes the claim back and becomes the agent itself: a job that did not start must not leave
    // the computer uncounted. Pure.
    static constexpr Millis handOverLimit{10000};
    static constexpr Millis handOverPoll{200};
    enum class HandOver { Wait, Leave, TakeBack };
    static HandOver handOverStep(bool started, bool heldByAnotherCopy, Millis waited);

    // "<short version>+<build>", e.g. "1.4.0+52"; an empty part becomes "0.1.0-dev" or "0".
    static QString bundleVersion(const QString &shortVersion, const QString &build);

    // service must outlive this object; version is the running build's bundleVersion(); isJob: this
    // process was started by the registration (Launch::isJob).
    LoginItem(LoginService &service, QString version, bool isJob = false);

    // Makes sure the registration exists and belongs to this version. Returns true when it does
    // after the call. Does nothing while the user has to approve the item (one WARN line); with the
    // item enabled for another (or an unknown) version, unregisters and registers again, except in
    // the job itself: unregistering would make launchd kill it, and its registration already starts
    // this version (the launch agent names the program inside the bundle), so the job only records
    // the version (one INFO line). Failures are logged and give false; the stored version then
    // stays as it was, so the next launch tries again.
    bool ensureRegistered();

    // The registration's status now (for the heartbeat and the menu). One service query.
    LoginService::Registration status();

    // Opens the desktop's startup-applications settings; never fails, logs nothing itself.
    void openLoginItemsSettings();

private:
    // Registers, and on success records version. reason is "new" or "version changed".
    bool performRegister(const QString &version, const QString &reason);

    LoginService &m_service;
    QString m_version;
    bool m_isJob;
};

}  // namespace fennimar
