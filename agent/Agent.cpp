#include "agent/Agent.h"

#include "core/Log.h"
#include "core/Sleep.h"

namespace fennimar {

Agent::Agent(Clock &clock, Platform &platform, QUrl backendURL, QString supportDirectory, BackendClient::Limits limits)
    : m_clock(clock),
      m_platform(platform),
      m_backendURL(std::move(backendURL)),
      m_listPath(supportDirectory + QStringLiteral("/monitored-list.json")),
      m_ledger(std::make_shared<DayLedger>(supportDirectory + QStringLiteral("/ledger.json"), clock)),
      m_system(std::make_shared<SystemInfo>(*platform.device)),
      m_keychain(*platform.secrets, *platform.device),
      m_permission(*platform.accessibility, clock),
      m_client(BackendClient::create(m_backendURL, clock, limits))
{
    if (!m_ledger->shrunkSinceSaved().isEmpty())
        m_platform.tamper->note(m_ledger->shrunkSinceSaved());
    m_platform.secrets->watchChanges([this] {
        if (m_storeWake)
            m_storeWake->cancel();
    });
}

Agent::~Agent()
{
    // Tasks hold the agent weakly: they see it gone when they next wake and end.
    m_alive.reset();
    m_platform.secrets->watchChanges({});
    m_platform.tamper->onUndeliveredChanged = nullptr;
    if (m_sampler)
        m_sampler->stop();
    for (auto *task : {&m_heartbeatTask, &m_pairingTask, &m_measurementTask, &m_restoreTask}) {
        if (*task)
            (*task)->cancel();
    }
}

void Agent::keepEvidenceIn(RunMarker &record)
{
    TamperEvidence &tamper = *m_platform.tamper;
    // What an earlier run raised and no acknowledged heartbeat carried is evidence again.
    for (const QString &evidence : record.undelivered())
        tamper.note(evidence);
    tamper.onUndeliveredChanged = [&tamper, &record] { record.keep(tamper.undelivered()); };
    record.keep(tamper.undelivered());
}

void Agent::setState(AgentState state)
{
    m_state = std::move(state);
    ++m_stateSerial;
    changed();
}

void Agent::changed()
{
    if (onChange)
        onChange();
}

void Agent::start()
{
    Log::info(QStringLiteral("agent starting · backend=%1 · device_type=%2 · user=%3")
                  .arg(m_backendURL.toString(), m_system->pairingDeviceType(), m_platform.device->userName()));
    // Whatever the state, counted seconds reach the disk at least once a minute, so a crash or a
    // power cut loses at most a minute of counting.
    m_saveTimer = m_clock.callEvery(saveInterval, [this] {
        if (m_ledger->hasUnsavedChanges())
            m_ledger->save();
    });
    restoreOrPair();
}

QCoro::Task<void> Agent::restoreOrPair()
{
    m_restoreTask = CancelToken();
    return restore(true, *m_restoreTask);
}

QCoro::Task<void> Agent::restore(bool pairIfNone, CancelToken token)
{
    const std::weak_ptr<bool> alive = m_alive;
    const Keychain keychain = m_keychain;
    Millis retry = storeRetryFirst;
    bool waited = false;
    bool confirming = false;  // "nothing stored" said once after a wait, to be said again once settled
    m_storeBusy = "reading the stored pairing";
    Keychain::Loaded loaded;
    for (;;) {
        // A change of the store while it is read or waited for ends the pause at once.
        CancelToken wake;
        m_storeWake = wake;
        const int linked = token.onCancel([wake]() mutable { wake.cancel(); });
        loaded = co_await keychain.loadChecked();
        if (alive.expired() || token.isCancelled())
            co_return;
        Millis pause = retry;
        if (loaded.readable()) {
            // A store that has just come back (a new owner that has not yet unlocked or loaded the
            // keyring) may say "nothing stored" for a moment: asking for a new code on that would
            // make a second device of a paired computer.
            if (loaded.identity || !waited || confirming) {
                token.removeListener(linked);
                break;
            }
            confirming = true;
            pause = storeSettle;
        } else {
            confirming = false;
            retry = std::min(retry * 2, storeRetryMax);
        }
        // A locked keyring says nothing about a pairing: asking for a new code now would create a
        // second device for a computer that is paired.
        if (!waited) {
            Log::warn(
                QStringLiteral("cannot read the stored identity · %1 · waiting for the secret store").arg(loaded.why));
            // Named as what it is: a store that answers with an error is running.
            if (loaded.unreadable == SecretStore::ReadError::Locked)
                m_waitingFor = QStringLiteral("Waiting for the keyring to be unlocked");
            else if (loaded.unreadable == SecretStore::ReadError::Unavailable)
                m_waitingFor = QStringLiteral("Waiting for the keyring to start (no secret store is running)");
            else
                m_waitingFor = QStringLiteral("Waiting for the keyring, which fails: ") + loaded.why;
            waited = true;
            changed();
        }
        const bool slept = co_await sleepFor(m_clock, pause, wake);
        token.removeListener(linked);
        if (alive.expired() || token.isCancelled())
            co_return;
        if (!slept)
            confirming = false;  // the store changed: "nothing stored" must be said again after it
    }
    m_storeWake.reset();
    m_storeBusy = nullptr;
    if (waited) {
        Log::info(QStringLiteral("secret store readable again · continuing"));
        m_waitingFor.reset();
    }
    if (loaded.identity) {
        Log::info(QStringLiteral("restored pairing · child=") + loaded.identity->childId);
        enterPaired(*loaded.identity);
    } else if (pairIfNone) {
        Log::info(QStringLiteral("no stored pairing · requesting a pair code"));
        setState(AgentStates::Unpaired{});
        beginPairing();
    } else {
        setState(AgentStates::Unpaired{});
    }
}

Status Agent::acceptAction(const char *action)
{
    if (!m_storeBusy)
        return Status();
    Log::info(QStringLiteral("%1 ignored · %2 is in progress").arg(QLatin1String(action), QLatin1String(m_storeBusy)));
    return Status::failure(
        QStringLiteral("Fennimar is busy %1; try again in a moment.").arg(QLatin1String(m_storeBusy)));
}

void Agent::enterPaired(const PairedIdentity &identity)
{
    setState(AgentStates::Paired{identity});
    startHeartbeat(identity.deviceId);
    startMeasuring(identity);
}

void Agent::startHeartbeat(const QString &deviceId)
{
    if (m_heartbeatTask)
        m_heartbeatTask->cancel();
    m_heartbeatTask = CancelToken();
    m_beatLoggedAt.reset();
    heartbeatLoop(deviceId, *m_heartbeatTask);
}

QCoro::Task<void> Agent::heartbeatLoop(QString deviceId, CancelToken token)
{
    const std::weak_ptr<bool> alive = m_alive;
    // The frame's own copies: a request may finish after the agent is gone.
    const BackendClient client = m_client;
    const std::shared_ptr<SystemInfo> system = m_system;
    while (!token.isCancelled()) {
        BackendClient::HealthChecks checks;
        checks.accessibilityGranted = m_permission.isTrusted();
        checks.loginItemEnabled = m_platform.login->status() == LoginService::Registration::Enabled;
        checks.foregroundSampling = m_platform.desktop->samplingProblem().isEmpty();
        // Evidence counts until a heartbeat carried it: a failed beat leaves it for the next one.
        const quint64 evidence = m_platform.tamper->seenCount();
        checks.noTamperEvidence = evidence == m_tamperDelivered && m_platform.tamper->standing().isEmpty();
        checks.monitoredListCurrent = !m_monitored || !m_monitored->isStale();
        checks.browserPagesReadable = !m_sampler || m_sampler->unreadableBrowser().isEmpty();
        const auto beat = co_await client.heartbeat(deviceId, checks, *system, token);
        // A beat that finishes after its loop was stopped (unpair) records nothing.
        if (alive.expired() || token.isCancelled())
            co_return;
        // Good beats are told when something changed (the first, a recovery) and once an hour: a
        // line every 15 s filled the child's disk for nothing. The device id, which is all a
        // forged heartbeat needs, is never written.
        const Millis monotonic = m_clock.monotonic();
        const bool hourPassed = !m_beatLoggedAt || monotonic - *m_beatLoggedAt >= std::chrono::hours(1);
        ++m_beatsUnlogged;
        const auto logged = [&] {
            m_beatLoggedAt = monotonic;
            m_beatsUnlogged = 0;
        };
        if (beat) {
            m_tamperDelivered = evidence;
            m_platform.tamper->delivered(evidence);
            m_lastBeat = m_clock.now();
            if (m_lastBeatError) {
                Log::info(QStringLiteral("heartbeat recovered"));
                logged();
                // The backend answers again: a list this run has not fetched yet is asked now, not at
                // its next retry (up to 5 min away).
                if (m_monitored && !m_monitored->fetchedThisRun() && m_measurementTask)
                    m_monitored->refresh(*m_measurementTask);
            } else if (!m_beatLoggedAt) {
                Log::info(QStringLiteral("heartbeat ok"));
                logged();
            } else if (hourPassed) {
                Log::info(QStringLiteral("heartbeats going through · %1 since the last line").arg(m_beatsUnlogged));
                logged();
            }
            m_lastBeatError.reset();
        } else {
            const QString why = beat.error().description();
            Log::warn(QStringLiteral("heartbeat failed · ") + why);  // every attempt: a fault, and rotation bounds it
            logged();
            m_lastBeatError = why;
        }
        changed();
        const bool slept = co_await sleepFor(m_clock, heartbeatInterval, token);
        if (alive.expired() || !slept)
            co_return;
    }
}

void Agent::startMeasuring(const PairedIdentity &identity)
{
    if (m_measurementTask)
        m_measurementTask->cancel();
    if (m_sampler)
        m_sampler->stop();
    auto monitored =
        std::make_shared<MonitoredApps>(m_client, identity.sessionToken, identity.deviceId, m_clock, m_listPath);
    auto sampler = std::make_unique<ActivitySampler>(m_clock, *m_ledger, *monitored, *m_platform.desktop,
                                                     *m_platform.accessibility, *m_platform.apps);
    auto reporter = std::make_shared<UsageReporter>(m_client, *m_ledger, identity, m_clock, *m_system);
    auto seenApps = std::make_shared<SeenAppsReporter>(m_client, identity, *m_platform.apps, m_clock);
    sampler->setSeenApps(seenApps.get());
    sampler->setTamperEvidence(m_platform.tamper.get());
    // The old sampler goes before the objects it points at.
    m_sampler = std::move(sampler);
    m_monitored = monitored;
    m_reporter = reporter;
    m_seenApps = seenApps;
    m_sampler->start();

    m_permissionWatcher.cancel();
    const std::weak_ptr<bool> alive = m_alive;
    m_permissionWatcher = m_permission.startWatching([this, alive](bool trusted) {
        if (!trusted)
            Log::warn(QStringLiteral("website counting stopped — Accessibility permission was turned off"));
        if (!alive.expired())
            changed();
    });

    m_measurementTask = CancelToken();
    measurementLoop(m_ledger, m_system, monitored, seenApps, reporter, *m_measurementTask);
}

QCoro::Task<void> Agent::measurementLoop(std::shared_ptr<DayLedger> ledger, std::shared_ptr<SystemInfo> system,
                                         std::shared_ptr<MonitoredApps> monitored,
                                         std::shared_ptr<SeenAppsReporter> seenApps,
                                         std::shared_ptr<UsageReporter> reporter, CancelToken token)
{
    Q_UNUSED(ledger);  // kept alive for the reporter
    Q_UNUSED(system);
    const std::weak_ptr<bool> alive = m_alive;
    // Every request carries the task's token: once measuring stops (unpair) nothing in flight
    // comes back to mark the ledger or the seen apps.
    co_await monitored->refresh(token);
    if (alive.expired() || token.isCancelled())
        co_return;
    // A run that starts before its network asks again soon, not only at the regular cadence.
    if (!monitored->fetchedThisRun())
        monitored->retryUntilFetched(token);
    seenApps->seedFromInstalledApps();
    double sinceRefresh = 0;  // nominal seconds, not measured time
    while (!token.isCancelled()) {
        co_await reporter->report(token);
        if (alive.expired() || token.isCancelled())
            co_return;
        co_await seenApps->flush(token);
        if (alive.expired() || token.isCancelled())
            co_return;
        changed();
        // The regular cadence counts from the first good fetch; until then the retries ask.
        if (monitored->fetchedThisRun())
            sinceRefresh += std::chrono::duration<double>(reportInterval).count();
        if (sinceRefresh >= refreshEverySeconds) {
            co_await monitored->refresh(token);
            sinceRefresh = 0;
            if (alive.expired() || token.isCancelled())
                co_return;
        }
        const bool slept = co_await sleepFor(m_clock, reportInterval, token);
        if (alive.expired() || !slept)
            co_return;
    }
}

void Agent::flush()
{
    m_ledger->save();
    Log::info(QStringLiteral("ledger flushed · today=%1s").arg(m_ledger->today(m_clock.now()).total()));
}

void Agent::stopMeasuring()
{
    if (m_sampler)
        m_sampler->stop();
    if (m_measurementTask)
        m_measurementTask->cancel();
    m_permissionWatcher.cancel();
}

Status Agent::unpair()
{
    if (Status accepted = acceptAction("unpair"); !accepted)
        return accepted;
    Log::info(QStringLiteral("unpairing · clearing stored identity"));
    stopMeasuring();
    flush();
    if (m_heartbeatTask)
        m_heartbeatTask->cancel();
    if (m_pairingTask)
        m_pairingTask->cancel();
    m_lastBeat.reset();
    m_lastBeatError.reset();
    m_storeBusy = "removing the stored pairing";
    setState(AgentStates::Unpaired{});
    clearIdentity();
    return Status();
}

QCoro::Task<void> Agent::clearIdentity()
{
    const std::weak_ptr<bool> alive = m_alive;
    const Keychain keychain = m_keychain;
    const Status cleared = co_await keychain.clear();
    if (alive.expired())
        co_return;
    m_storeBusy = nullptr;
    if (!cleared) {
        // Saying "unpaired" now would be untrue: the next start would restore the pairing.
        Log::error(QStringLiteral("unpair failed · ") + cleared.error());
        setState(AgentStates::Failed{
            QStringLiteral("Could not remove the stored pairing: %1. It comes back at the next start.")
                .arg(cleared.error()),
            true});
    } else {
        Log::info(QStringLiteral("unpaired · stored identity removed"));
        MonitoredApps::forget(m_listPath);
        setState(AgentStates::Unpaired{});  // the outcome, for whoever waits for it
    }
}

}  // namespace fennimar
