#include "menubar/NoticeBoard.h"

#include "core/Log.h"
#include "menubar/MenuBarController.h"
#include "menubar/MenuTexts.h"

namespace fennimar {

namespace {
const QString pairingTopic = QStringLiteral("pairing");
const QString loginTopic = QStringLiteral("login-item");
const QString websitesTopic = QStringLiteral("website-counting");
// Most urgent first: one notice per refresh, so a claim's "Paired with" is not buried under the
// fix-it notices that may follow it.
const QString topicsByUrgency[] = {pairingTopic, loginTopic, websitesTopic};

Notice fixIt(const QString &topic, const MenuEntry &entry, const QString &actionKey, const QString &actionLabel)
{
    Notice n;
    n.topic = topic;
    n.summary = entry.title;
    n.body = entry.toolTip;
    n.actions = {{actionKey, actionLabel}};
    return n;
}
}  // namespace

NoticeBoard::NoticeBoard(Notifier &notifier, ReadingsSource readings, std::function<bool()> trayShown,
                         std::function<void(const QString &)> copy, MenuActions actions)
    : m_notifier(notifier),
      m_readings(std::move(readings)),
      m_trayShown(std::move(trayShown)),
      m_copy(std::move(copy)),
      m_actions(std::move(actions))
{
    m_notifier.setActionHandler([this](const QString &topic, const QString &key) { act(topic, key); });
}

void NoticeBoard::wantedNow(const MenuReadings &r, QHash<QString, Wanted> &out)
{
    const bool wasPairing = std::exchange(m_wasPairing, std::holds_alternative<AgentStates::Pairing>(r.state));
    // Texts from outside (a code, a child's name) have their control characters escaped, as in the
    // menu: none may draw a line of its own.
    if (const auto *pairing = std::get_if<AgentStates::Pairing>(&r.state)) {
        Notice n{pairingTopic,
                 QStringLiteral("Enter this code in the Fennimar app"),
                 Log::escapeControls(pairing->code) + QStringLiteral("\nExpires ") +
                     MenuTexts::relativeTime(pairing->expiresAt, r.now) + QStringLiteral("."),
                 true,
                 {{QStringLiteral("copy"), QStringLiteral("Copy code")}}};
        out.insert(pairingTopic, {QStringLiteral("code ") + pairing->code, n});
        m_code = pairing->code;
    } else if (const auto *failed = std::get_if<AgentStates::Failed>(&r.state)) {
        // A fixed sentence: the reason may be a server's text, which the log and --status keep.
        Notice n = failed->unpairing
                       ? Notice{pairingTopic,
                                QStringLiteral("Unpairing failed"),
                                QStringLiteral("Fennimar could not remove its stored pairing: this computer is still "
                                               "paired.\nTo see why: fennimar-agent --status\nTo try again: "
                                               "fennimar-agent --unpair"),
                                false,
                                {{QStringLiteral("unpair"), QStringLiteral("Unpair")}}}
                       : Notice{pairingTopic,
                                QStringLiteral("Pairing failed"),
                                QStringLiteral("Fennimar could not pair this computer.\nTo see why: fennimar-agent "
                                               "--status\nTo try again: fennimar-agent --pair"),
                                false,
                                {{QStringLiteral("pair"), QStringLiteral("Try again")}}};
        out.insert(pairingTopic, {QStringLiteral("failed ") + failed->message, n});
    } else if (const auto *paired = std::get_if<AgentStates::Paired>(&r.state)) {
        // Only a claim seen by this agent is news; a pairing restored at login is not.
        if (wasPairing)
            m_pairedWith = paired->identity.childName;
        if (!m_pairedWith.isEmpty()) {
            const QString name = Log::escapeControls(m_pairedWith);
            Notice n{pairingTopic,
                     QStringLiteral("Paired with ") + name,
                     QStringLiteral("Fennimar is counting for ") + name + QStringLiteral(" on this computer."),
                     false,
                     {}};
            out.insert(pairingTopic, {QStringLiteral("paired ") + m_pairedWith, n});
        }
        if (auto login = MenuBarController::loginItemLine(r))
            out.insert(loginTopic,
                       {login->title, fixIt(loginTopic, *login, QStringLiteral("fix"), QStringLiteral("Fix"))});
        if (auto permission = MenuBarController::permissionLine(r);
            permission && permission->kind == MenuEntry::Kind::Action)
            out.insert(websitesTopic, {permission->title, fixIt(websitesTopic, *permission, QStringLiteral("turn-on"),
                                                                QStringLiteral("Turn on"))});
    }
    if (!std::holds_alternative<AgentStates::Paired>(r.state))
        m_pairedWith.clear();
}

void NoticeBoard::refresh()
{
    if (m_trayShown && m_trayShown())
        return;
    QHash<QString, Wanted> wanted;
    wantedNow(m_readings(), wanted);
    bool sent = false;
    for (const QString &topic : topicsByUrgency) {
        const auto want = wanted.constFind(topic);
        const auto shown = m_onScreen.constFind(topic);
        if (want == wanted.cend()) {
            if (shown != m_onScreen.cend()) {
                m_notifier.withdraw(topic);
                m_onScreen.remove(topic);
            }
            continue;
        }
        if (sent || (shown != m_onScreen.cend() && *shown == want->key))
            continue;
        Notice notice = want->notice;
        notice.summary = Log::escapeControls(notice.summary);  // one line, whatever it holds
        m_notifier.show(notice);
        m_onScreen.insert(topic, want->key);
        sent = true;
    }
}

void NoticeBoard::act(const QString &topic, const QString &key)
{
    Q_UNUSED(topic);
    const auto run = [](const std::function<void()> &f) {
        if (f)
            f();
    };
    if (key == QStringLiteral("copy") && m_copy)
        m_copy(m_code);
    else if (key == QStringLiteral("pair"))
        run(m_actions.pair);
    else if (key == QStringLiteral("unpair"))  // the user chose to unpair before it failed
        run(m_actions.unpair);
    else if (key == QStringLiteral("fix"))
        run(m_actions.fixLoginItem);
    else if (key == QStringLiteral("turn-on"))
        run(m_actions.turnOnWebsiteCounting);
}

}  // namespace fennimar
