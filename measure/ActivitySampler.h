#pragma once

#include "measure/BrowserURLResolver.h"
#include "core/Clock.h"
#include "platform/Desktop.h"

#include <QDateTime>
#include <QString>

#include <deque>
#include <optional>

namespace fennimar {

class Accessibility;
class AppCatalog;
class DayLedger;
class Desktop;
class MonitoredApps;
class SeenAppsReporter;
class TamperEvidence;

// The agent's measuring clock: once a second it decides whether the last second was screen time (the
// screen unlocked; input within the last minute, or the frontmost app holding a video inhibitor with
// no input for less than three hours; and the frontmost app, or a browser's page, on the monitored
// list) and credits the day ledger. Main thread only; every tick is synchronous.
class ActivitySampler {
public:
    // The outcome of the latest tick that decided something.
    struct Verdict {
        enum class Kind {
            Counting,             // subject: the app's identifier, or the site's host
            NotMonitored,         // subject: the identifier, or the host (the browser's identifier when none)
            BrowserNoPermission,  // subject: the browser's identifier
            BrowserUnreadable,    // subject: the browser's identifier; reason: why
            Idle,                 // locked, idle, after a gap, or no app that can be named in front; nothing credited
        };
        Kind kind = Kind::Idle;
        QString subject;
        QString reason;

        static Verdict counting(QString s) { return {Kind::Counting, std::move(s), {}}; }
        static Verdict notMonitored(QString s) { return {Kind::NotMonitored, std::move(s), {}}; }
        static Verdict browserNoPermission(QString s) { return {Kind::BrowserNoPermission, std::move(s), {}}; }
        static Verdict browserUnreadable(QString s, QString r)
        {
            return {Kind::BrowserUnreadable, std::move(s), std::move(r)};
        }
        static Verdict idle() { return {}; }
        bool operator==(const Verdict &) const = default;
    };

    static constexpr Millis tickInterval{1000};
    static constexpr double gapThresholdSeconds = 4.0;
    static constexpr double creditCapSeconds = 2.0;
    static constexpr double firstTickCreditSeconds = 1.0;
    static constexpr double idleThresholdSeconds = 60.0;
    // A film ends: past this without input, an inhibitor no longer keeps the user present (autoplay
    // at night must not run up the day) until the next input.
    static constexpr double watchingBoundSeconds = 3 * 3600.0;
    // Stopping the agent's process now and then (SIGSTOP and SIGCONT, a frozen unit) makes each gap
    // credit nothing while the heartbeat between stops looks healthy. A gap that the monotonic clock
    // saw as well as the boot clock is such a stall (a suspend stops the monotonic clock); a loaded
    // machine may stall the agent now and then, so only more than this many in the last hour are
    // tamper evidence.
    static constexpr int stallsPerHourTolerated = 5;
    // A browser in front whose page cannot be read counts none of its sites. A moment of that is a
    // page loading or a window opening; this many seconds of it, with the user present and a site
    // on the list, is a browser that hides its pages (its accessibility turned off, one we cannot
    // read), and is told to the parent instead of counting nothing silently.
    static constexpr qint64 unreadablePageTolerated = 120;

    // Everything given must outlive the sampler. The sampler does nothing until start().
    ActivitySampler(Clock &clock, DayLedger &ledger, const MonitoredApps &monitored, Desktop &desktop,
                    Accessibility &accessibility, AppCatalog &catalog);
    ActivitySampler(const ActivitySampler &) = delete;
    ActivitySampler &operator=(const ActivitySampler &) = delete;

    // Receives the frontmost app on every active tick; null detaches. Must outlive the sampler or
    // be detached first.
    void setSeenApps(SeenAppsReporter *reporter) { m_seenApps = reporter; }
    // Receives the evidence of repeated stalls (source "agent stopped"); null detaches. Must outlive
    // the sampler or be detached first.
    void setTamperEvidence(TamperEvidence *tamper) { m_tamper = tamper; }

    // Starts ticking every second (a running sampler restarts, and its elapsed time is measured
    // from now) and logs "sampler started · tick=1s idle=60s".
    void start();
    // Stops ticking (no tick runs afterwards) and logs the stretch being counted, as a change of
    // verdict does ("counted <app or site> · <seconds>s"). Destroying the sampler stops the ticks too.
    void stop()
    {
        m_timer.cancel();
        endStretch();
    }
    bool isRunning() const { return m_timer.isActive(); }

    const Verdict &verdict() const { return m_verdict; }
    // The browser in front whose page has stayed unreadable for more than unreadablePageTolerated
    // seconds of presence (away, locked or nothing in front pauses the count; a read page, another
    // app in front or a list without sites ends it), or empty. Cheap.
    QString unreadableBrowser() const { return m_unreadableTold ? m_unreadable : QString(); }

private:
    void tick();
    void decide(const QDateTime &now, Millis monotonic);
    // Notes a stall since the last tick, forgets those over an hour old, raises or clears the evidence.
    void countStalls(Millis monotonic, Millis sinceBoot);
    // Whether there was input within the idle threshold. The time since input grows by at most a
    // second a second and only input makes it smaller, so a reading of i seconds proves the user
    // active until i plus the time since reaches the threshold: the desktop is asked again only
    // then, and on every tick while the user is away. The verdicts are those of asking every tick,
    // without a round trip to the display server on most ticks.
    bool userActive();
    // Whether the user, away from the input devices, watches a video in the frontmost app, or may
    // be typing where input cannot be seen.
    bool watching(const std::optional<RunningApp> &front);
    // Makes `verdict` the current one with `credited` more seconds. The end of a stretch of one
    // counting verdict is logged with the seconds it credited, so the log tells what was counted.
    void setVerdict(Verdict verdict, qint64 credited = 0);
    void endStretch();
    void judgeBrowser(const QString &browserId, qint64 pid, qint64 seconds, const QDateTime &now);
    // Adds seconds to the unreadable page of browserId (empty: the page was read, or no browser is
    // in front), and logs when that crosses the tolerated time and when it ends after it did.
    void noteUnreadable(const QString &browserId, qint64 seconds, const QString &reason = {});

    TimerHandle m_timer;
    std::optional<QDateTime> m_lastTick;
    Millis m_lastMonotonic{0};
    Millis m_lastBoot{0};
    std::deque<Millis> m_stalls;  // the boot clock at the end of each stall within the last hour
    TamperEvidence *m_tamper = nullptr;
    std::optional<double> m_idleBound;  // the most the time since input can be now, when known
    std::optional<double> m_awayFor;    // the time since input the latest reading gave, when it said away
    DayLedger &m_ledger;
    const MonitoredApps &m_monitored;
    SeenAppsReporter *m_seenApps = nullptr;
    BrowserURLResolver m_browserURL;
    Verdict m_verdict;
    QString m_unreadable;        // the browser whose page is unreadable; empty: none
    qint64 m_unreadableFor = 0;  // seconds of presence it has been
    bool m_unreadableTold = false;
    qint64 m_stretchSeconds = 0;  // credited since m_verdict became the current one
    Clock &m_clock;
    Desktop &m_desktop;
    Accessibility &m_accessibility;
    AppCatalog &m_catalog;
};

}  // namespace fennimar
