#include "measure/ActivitySampler.h"

#include "core/Log.h"
#include "inventory/AppInventory.h"
#include "inventory/SeenAppsReporter.h"
#include "measure/DayLedger.h"
#include "measure/MonitoredApps.h"
#include "platform/Accessibility.h"
#include "platform/AppCatalog.h"
#include "platform/Desktop.h"
#include "platform/PlatformTraits.h"
#include "platform/TamperEvidence.h"

#include <algorithm>
#include <cmath>

namespace fennimar {

ActivitySampler::ActivitySampler(Clock &clock, DayLedger &ledger, const MonitoredApps &monitored, Desktop &desktop,
                                 Accessibility &accessibility, AppCatalog &catalog)
    : m_ledger(ledger),
      m_monitored(monitored),
      m_clock(clock),
      m_desktop(desktop),
      m_accessibility(accessibility),
      m_catalog(catalog)
{
}

void ActivitySampler::start()
{
    m_timer.cancel();
    m_lastTick = m_clock.now();
    m_lastMonotonic = m_clock.monotonic();
    m_lastBoot = m_clock.sinceBoot();
    m_idleBound.reset();
    // The handle is the sampler's member: destroying the sampler cancels the timer, so a firing can
    // never reach a released sampler.
    m_timer = m_clock.callEvery(tickInterval, [this] { tick(); });
    Log::info(QStringLiteral("sampler started \u00b7 tick=%1s idle=%2s")
                  .arg(tickInterval.count() / 1000)
                  .arg(static_cast<int>(idleThresholdSeconds)));
}

void ActivitySampler::tick()
{
    const QDateTime now = m_clock.now();
    const Millis monotonic = m_clock.monotonic();
    const Millis sinceBoot = m_clock.sinceBoot();
    countStalls(monotonic, sinceBoot);
    decide(now, monotonic);
    m_lastTick = now;
    m_lastMonotonic = monotonic;
    m_lastBoot = sinceBoot;
}

void ActivitySampler::countStalls(Millis monotonic, Millis sinceBoot)
{
    const Millis gap = Millis(static_cast<qint64>(gapThresholdSeconds * 1000));
    if (monotonic - m_lastMonotonic > gap && sinceBoot - m_lastBoot > gap)
        m_stalls.push_back(sinceBoot);
    while (!m_stalls.empty() && sinceBoot - m_stalls.front() > std::chrono::hours(1))
        m_stalls.pop_front();
    if (!m_tamper)
        return;
    if (m_stalls.size() <= std::size_t(stallsPerHourTolerated)) {
        m_tamper->clear(QStringLiteral("agent stopped"));
        return;
    }
    // A reason that stays the same while the stalls go on: one log line, evidence until they stop.
    m_tamper->raise(QStringLiteral("agent stopped"),
                    QStringLiteral("the agent was stopped more than %1 times within an hour while the computer "
                                   "was awake, counting nothing meanwhile")
                        .arg(stallsPerHourTolerated));
}

bool ActivitySampler::userActive()
{
    if (m_idleBound && *m_idleBound < idleThresholdSeconds)
        return true;
    // An unknown time since input is taken as away for this tick and proves nothing for later ones.
    const std::optional<double> idle = m_desktop.secondsSinceInput();
    m_awayFor.reset();
    if (!idle || std::isnan(*idle) || *idle >= idleThresholdSeconds) {
        if (idle && !std::isnan(*idle))
            m_awayFor = *idle;
        m_idleBound.reset();
        return false;
    }
    m_idleBound = *idle;
    return true;
}

bool ActivitySampler::watching(const std::optional<RunningApp> &front)
{
    // An unknown time since input cannot be bounded, so it stays away.
    if (!m_awayFor || *m_awayFor >= watchingBoundSeconds || !front || front->identifier.isEmpty())
        return false;
    // Input that cannot be seen is bounded as a film is: typing beside music must count, and a
    // film beside an app left in front must not count for ever.
    return m_desktop.inputHidden() || m_desktop.frontAppWatching(*front);
}

void ActivitySampler::decide(const QDateTime &now, Millis monotonic)
{
    double credit = firstTickCreditSeconds;
    if (m_lastTick) {
        const double elapsed = static_cast<double>(m_lastTick->msecsTo(now)) / 1000.0;
        if (elapsed > gapThresholdSeconds) {
            Log::info(QStringLiteral("gap of %1s \u2014 machine slept or agent stalled; crediting nothing")
                          .arg(static_cast<qint64>(std::trunc(elapsed))));
            m_idleBound.reset();  // a suspend, which the monotonic clock may not count
            setVerdict(Verdict::idle());
            return;
        }
        credit = std::min(elapsed, creditCapSeconds);
        // The time since input grows by at most the time passed, by whichever clock says more; a
        // wall clock set back makes it unknown.
        const double passed = static_cast<double>((monotonic - m_lastMonotonic).count()) / 1000.0;
        if (m_idleBound && elapsed >= 0)
            *m_idleBound += std::max(elapsed, passed);
        else
            m_idleBound.reset();
    }

    // A locked or switched-out session never counts, whatever plays in it.
    if (m_desktop.screenLocked()) {
        setVerdict(Verdict::idle());
        return;
    }
    const bool active = userActive();
    const std::optional<RunningApp> front = m_desktop.frontmostApp();
    if (!active && !watching(front)) {
        setVerdict(Verdict::idle());
        return;
    }

    // An app the desktop cannot name (a Linux app no desktop entry names) or none at all: nothing
    // counts, and the menu must not go on naming the app that was in front before.
    if (!front || front->identifier.isEmpty()) {
        setVerdict(Verdict::idle());
        return;
    }
    const QString &id = front->identifier;

    if (m_seenApps) {
        if (const std::optional<SeenApp> seen = AppInventory::describe(m_catalog, *front))
            m_seenApps->note(*seen);
    }

    // Halves away from zero; a negative credit (the wall clock set back) stays negative and adds nothing.
    const auto seconds = static_cast<qint64>(std::llround(credit));

    if (platform::browserIds().contains(id)) {
        judgeBrowser(id, front->pid, seconds, now);
        return;
    }
    noteUnreadable({}, 0);
    if (m_monitored.bundleIds().contains(platform::appPrefix() + id)) {
        setVerdict(Verdict::counting(id), seconds);
        m_ledger.add(seconds, now);
    } else {
        setVerdict(Verdict::notMonitored(id));
    }
}

void ActivitySampler::setVerdict(Verdict verdict, qint64 credited)
{
    if (verdict != m_verdict) {
        endStretch();
        m_verdict = std::move(verdict);
    }
    m_stretchSeconds += std::max<qint64>(credited, 0);
}

void ActivitySampler::endStretch()
{
    if (m_verdict.kind == Verdict::Kind::Counting && m_stretchSeconds > 0)
        Log::info(QStringLiteral("counted %1 \u00b7 %2s").arg(m_verdict.subject).arg(m_stretchSeconds));
    m_stretchSeconds = 0;
}

void ActivitySampler::judgeBrowser(const QString &browserId, qint64 pid, qint64 seconds, const QDateTime &now)
{
    const AddressOutcome outcome = m_accessibility.readAddress(pid);
    const BrowserURLResolver::Decision decision = m_browserURL.resolve(browserId, outcome);
    switch (decision.kind) {
        case BrowserURLResolver::Decision::Kind::Url: {
            noteUnreadable({}, 0);
            const QString label = MonitoredApps::host(decision.text).value_or(browserId);
            if (m_monitored.isMonitored(decision.text)) {
                setVerdict(Verdict::counting(label), seconds);
                m_ledger.add(seconds, now);
            } else {
                setVerdict(Verdict::notMonitored(label));
            }
            break;
        }
        case BrowserURLResolver::Decision::Kind::Unreadable:
            setVerdict(Verdict::browserUnreadable(browserId, decision.text));
            noteUnreadable(browserId, seconds, decision.text);
            break;
        case BrowserURLResolver::Decision::Kind::NoPermission:
            // Told already: the permission has a check and a menu line of its own.
            noteUnreadable({}, 0);
            setVerdict(Verdict::browserNoPermission(browserId));
            break;
    }
}

void ActivitySampler::noteUnreadable(const QString &browserId, qint64 seconds, const QString &reason)
{
    // Without a site on the list an unreadable page loses nothing.
    const QString browser = m_monitored.domains().isEmpty() ? QString() : browserId;
    if (browser != m_unreadable) {
        if (m_unreadableTold)
            Log::info(QStringLiteral("page of %1 no longer unreadable in front").arg(m_unreadable));
        m_unreadable = browser;
        m_unreadableFor = 0;
        m_unreadableTold = false;
    }
    if (browser.isEmpty())
        return;
    m_unreadableFor += std::max<qint64>(seconds, 0);
    if (m_unreadableFor > unreadablePageTolerated && !m_unreadableTold) {
        m_unreadableTold = true;
        Log::warn(QStringLiteral("page of %1 unreadable for over %2 s in front (%3) · its sites count nothing until "
                                 "a page is read: is its accessibility support off?")
                      .arg(browser)
                      .arg(unreadablePageTolerated)
                      .arg(reason));
    }
}

}  // namespace fennimar
