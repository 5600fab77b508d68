#include "menubar/MenuWiring.h"

#include "agent/Agent.h"
#include "services/LoginItem.h"
#include "platform/Platform.h"

namespace fennimar {

MenuWiring::MenuWiring(Agent &agent, Platform &platform, LoginItem &loginItem, Clock &clock)
    : m_agent(agent), m_platform(platform), m_loginItem(loginItem), m_clock(clock)
{
}

MenuVerdict MenuWiring::toMenuVerdict(const ActivitySampler::Verdict &verdict)
{
    using Kind = ActivitySampler::Verdict::Kind;
    switch (verdict.kind) {
        case Kind::Counting:
            return MenuVerdict::counting(verdict.subject);
        case Kind::NotMonitored:
            return MenuVerdict::notMonitored(verdict.subject);
        case Kind::BrowserNoPermission:
            return MenuVerdict::browserNoPermission(verdict.subject);
        case Kind::BrowserUnreadable:
            return MenuVerdict::browserUnreadable(verdict.subject, verdict.reason);
        case Kind::Idle:
            break;
    }
    return MenuVerdict::idle();
}

MenuReadings MenuWiring::readings()
{
    MenuReadings r;
    r.now = m_clock.now();
    r.state = m_agent.state();
    r.lastBeat = m_agent.lastBeat();
    r.lastBeatError = m_agent.lastBeatError();
    r.todaySeconds = m_agent.ledger().today(r.now).total();
    if (const ActivitySampler *sampler = m_agent.sampler())
        r.verdict = toMenuVerdict(sampler->verdict()), r.unreadableBrowser = sampler->unreadableBrowser();
    if (const MonitoredApps *monitored = m_agent.monitored())
        r.monitored =
            MonitoredReading{monitored->bundleIds().size(), monitored->domains().size(), monitored->lastError()};
    if (const UsageReporter *reporter = m_agent.reporter(); reporter && reporter->lastError())
        r.reportFailure = FailureReading{*reporter->lastError(), reporter->failingSince().value_or(r.now)};
    if (const UsageReporter *reporter = m_agent.reporter()) {
        for (const QString &day : reporter->refusedDays())
            r.refusedDays << day;
        r.refusedDays.sort();
    }
    if (const SeenAppsReporter *apps = m_agent.seenApps(); apps && apps->lastError())
        r.appsFailure = FailureReading{*apps->lastError(), apps->failingSince().value_or(r.now)};
    if (const MonitoredApps *monitored = m_agent.monitored(); monitored && monitored->lastError())
        r.listFailure = FailureReading{*monitored->lastError(), monitored->failingSince().value_or(r.now)};
    if (const MonitoredApps *monitored = m_agent.monitored())
        r.listFetched = monitored->lastFetch(), r.listStale = monitored->isStale();
    r.samplingProblem = m_platform.desktop->samplingProblem();
    r.tamper = m_platform.tamper->standing();
    r.waitingFor = m_agent.waitingFor();
    r.accessibilityTrusted = m_agent.accessibilityTrusted();
    r.loginItem = m_loginItem.status();

    const Millis at = m_clock.monotonic();
    if (!m_namesReadAt || at - *m_namesReadAt >= namesLifetime) {
        m_computerName = m_platform.device->computerName();
        m_userName = m_platform.device->userName();
        m_namesReadAt = at;
    }
    r.computerName = m_computerName;
    r.userName = m_userName;

    AppCatalog *catalog = m_platform.apps.get();
    r.appName = [catalog](const QString &appId) -> std::optional<QString> {
        RunningApp app;
        app.identifier = appId;
        const std::optional<SeenApp> found = catalog->describe(app);
        if (!found)
            return std::nullopt;
        return found->name;
    };
    return r;
}

void MenuWiring::turnOnWebsiteCounting()
{
    // Where the system shows no prompt of its own, the user turns the permission on in the
    // desktop's settings.
    if (m_agent.permission().request())
        m_platform.accessibility->openSettings();
}

MenuActions MenuWiring::actions(std::function<void()> quit)
{
    MenuActions a;
    a.pair = [this] { m_agent.beginPairing(); };
    a.cancelPairing = [this] { m_agent.cancelPairing(); };
    a.unpair = [this] { m_agent.unpair(); };
    a.quit = std::move(quit);
    a.turnOnWebsiteCounting = [this] { turnOnWebsiteCounting(); };
    a.fixLoginItem = [this] { m_loginItem.openLoginItemsSettings(); };
    return a;
}

}  // namespace fennimar
