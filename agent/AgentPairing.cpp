// The pairing flow of the agent: ask for a pair code, show it, poll every 2 s until a parent claims
// it, it expires, or the user cancels.
#include "agent/Agent.h"

#include "core/Log.h"
#include "backend/ISO8601DateFormatter.h"
#include "core/Sleep.h"

namespace fennimar {

namespace {
const QString expiredText = QStringLiteral("That code expired. Ask for a new one.");
const QString noSessionText = QStringLiteral("Paired, but no child session was issued. Tell the developer.");
const QString fallbackChildName = QStringLiteral("this child");
}  // namespace

Status Agent::beginPairing()
{
    if (Status accepted = acceptAction("pair"); !accepted)
        return accepted;
    QString refusal;
    if (const auto *paired = std::get_if<AgentStates::Paired>(&m_state))
        refusal =
            QStringLiteral("This computer is already paired with %1. Unpair it first.").arg(paired->identity.childName);
    else if (std::holds_alternative<AgentStates::Pairing>(m_state))
        refusal = QStringLiteral("A pair code is already being shown. Cancel it first.");
    else if (const auto *failed = std::get_if<AgentStates::Failed>(&m_state); failed && failed->unpairing)
        refusal = QStringLiteral("This computer is still paired: its pairing could not be removed. Unpair it first.");
    if (!refusal.isEmpty()) {
        Log::info(QStringLiteral("pair refused · ") + refusal);
        return Status::failure(refusal);
    }
    if (m_pairingTask)
        m_pairingTask->cancel();
    m_pairingTask = CancelToken();
    pairingTask(*m_pairingTask);
    return Status();
}

QCoro::Task<void> Agent::pairingTask(CancelToken token)
{
    const std::weak_ptr<bool> alive = m_alive;
    co_await pairingSteps(token);
    // Ended on its own (claimed, expired, failed): its token says so, and a cancel finds nothing
    // left to cancel.
    if (!alive.expired())
        token.cancel();
}

QCoro::Task<void> Agent::pairingSteps(CancelToken token)
{
    const std::weak_ptr<bool> alive = m_alive;
    const BackendClient client = m_client;
    const auto ticket = co_await client.requestPairing(*m_system, token);
    // A task that was cancelled ends silently whatever its request answered: whoever cancelled it
    // has set the state already, and a newer pairing may be showing its own code.
    if (alive.expired() || token.isCancelled())
        co_return;
    if (!ticket) {
        const QString why = ticket.error().description();
        Log::error(QStringLiteral("pairing failed · ") + why);
        setState(AgentStates::Failed{why});
        co_return;
    }
    Log::info(QStringLiteral("pair code %1 · expires %2").arg(ticket.value().pairCode, ticket.value().expiresAt));
    const auto parsed = ISO8601DateFormatter::fennimar().date(ticket.value().expiresAt);
    const QDateTime expiry = parsed ? *parsed : m_clock.now().addMSecs(fallbackCodeLifetime.count());
    setState(AgentStates::Pairing{ticket.value().pairCode, expiry});

    const Status polled = co_await pollUntilClaimed(ticket.value(), expiry, token);
    if (alive.expired() || token.isCancelled())
        co_return;
    if (!polled) {
        Log::error(QStringLiteral("pairing failed · ") + polled.error());
        setState(AgentStates::Failed{polled.error()});
    }
}

QCoro::Task<Status> Agent::pollUntilClaimed(PairingTicket ticket, QDateTime expiry, CancelToken token)
{
    const std::weak_ptr<bool> alive = m_alive;
    const BackendClient client = m_client;
    const Keychain keychain = m_keychain;
    while (!token.isCancelled()) {
        // The code is never polled after it expired: this test precedes every request.
        if (m_clock.now() >= expiry) {
            setState(AgentStates::Failed{expiredText});
            co_return Status();
        }
        const auto status = co_await client.setupStatus(ticket.token, token);
        if (alive.expired() || token.isCancelled())
            co_return Status();
        if (!status)
            co_return Status::failure(status.error().description());
        const SetupStatus &s = status.value();
        if (s.expired) {
            setState(AgentStates::Failed{expiredText});
            co_return Status();
        }
        if (s.claimed) {
            if (!s.childSessionToken || !s.childId) {
                setState(AgentStates::Failed{noSessionText});
                co_return Status();
            }
            PairedIdentity identity;
            identity.deviceId = s.deviceId ? *s.deviceId : ticket.deviceId;
            identity.childId = *s.childId;
            if (s.child && s.child->name)
                identity.childName = *s.child->name;
            else
                identity.childName = s.deviceName ? *s.deviceName : fallbackChildName;
            identity.sessionToken = *s.childSessionToken;
            identity.pairedAt = m_clock.now();
            // Cancel and unpair wait for the save (they are refused meanwhile): the store and the
            // state then agree.
            m_storeBusy = "saving the pairing";
            const Status saved = co_await keychain.save(identity);
            if (alive.expired())
                co_return Status();
            m_storeBusy = nullptr;
            if (token.isCancelled())
                co_return Status();
            if (!saved)
                co_return saved;
            Log::info(QStringLiteral("PAIRED · child=%1 (%2)").arg(identity.childId, identity.childName));
            enterPaired(identity);
            co_return Status();
        }
        const bool slept = co_await sleepFor(m_clock, pollInterval, token);
        if (!slept)
            co_return Status();  // cancelled during the pause: silent
    }
    co_return Status();
}

Status Agent::cancelPairing()
{
    if (Status accepted = acceptAction("cancel"); !accepted)
        return accepted;
    // A pairing begins only while no identity is stored (unpaired, or failed at pairing), so
    // cancelling it leaves an unpaired computer, and a paired computer is never touched.
    if (!m_pairingTask || m_pairingTask->isCancelled())
        return Status();
    m_pairingTask->cancel();
    m_pairingTask.reset();
    Log::info(QStringLiteral("pairing cancelled"));
    if (!std::holds_alternative<AgentStates::Paired>(m_state)) {
        setState(AgentStates::Unpaired{});
        // "Pair this computer" is offered only on a store that can be read: a keyring locked
        // meanwhile could not keep a new pairing, so it is shown as waited for.
        m_restoreTask = CancelToken();
        restore(false, *m_restoreTask);
    }
    return Status();
}

}  // namespace fennimar
