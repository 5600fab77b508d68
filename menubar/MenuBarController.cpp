#include "menubar/MenuBarController.h"

#include "core/Log.h"
#include "menubar/MenuTexts.h"
#include "platform/PlatformTraits.h"

namespace fennimar {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

// Plural "s" after a count, as the menu's English needs it.
QString counted(qsizetype count, const char *noun)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(noun) +
           (count == 1 ? QString() : QStringLiteral("s"));
}

QString failureLine(const QString &what, const FailureReading &failure, const MenuReadings &r)
{
    return what + failure.error + QStringLiteral(" (failing since ") + MenuTexts::relativeTime(failure.since, r.now) +
           QLatin1Char(')');
}

void addPairing(std::vector<MenuEntry> &out, const AgentStates::Pairing &pairing, const MenuReadings &r)
{
    out.push_back(MenuEntry::label(QStringLiteral("Enter this code in the Fennimar app")));
    out.push_back(MenuEntry::code(pairing.code, QStringLiteral("   ") + MenuTexts::spaced(pairing.code),
                                  QStringLiteral("Click to copy")));
    out.push_back(MenuEntry::dimmed(QStringLiteral("Expires ") + MenuTexts::relativeTime(pairing.expiresAt, r.now) +
                                    QStringLiteral(" · click the code to copy")));
    out.push_back(MenuEntry::separator());
    out.push_back(MenuEntry::command(QStringLiteral("Cancel"), MenuAction::Cancel));
}

void addPaired(std::vector<MenuEntry> &out, const AgentStates::Paired &paired, const MenuReadings &r)
{
    out.push_back(MenuEntry::label(QStringLiteral("Counting for ") + paired.identity.childName));
    out.push_back(
        MenuEntry::dimmed(QStringLiteral("Today: ") + MenuTexts::minutes(r.todaySeconds) + QStringLiteral(" counted")));
    out.push_back(MenuEntry::dimmed(MenuBarController::activityLine(r)));
    if (!r.samplingProblem.isEmpty())
        out.push_back(MenuEntry::dimmed(QStringLiteral("Cannot see which app is in front: ") + r.samplingProblem));
    if (!r.unreadableBrowser.isEmpty())
        out.push_back(MenuEntry::dimmed(QStringLiteral("Can't read pages in ") +
                                        MenuBarController::displayName(r.unreadableBrowser, r) +
                                        QStringLiteral(" — its sites count nothing (accessibility off?)")));
    // What the line above says already (a fake lock, a replaced script) is not said twice; what it
    // cannot say (another program holding the agent's name) is said here.
    QStringList tamper = r.tamper.split(QStringLiteral("; "), Qt::SkipEmptyParts);
    tamper.removeIf([&](const QString &reason) { return r.samplingProblem.contains(reason); });
    if (!tamper.isEmpty())
        out.push_back(MenuEntry::dimmed(QStringLiteral("Something tries to fool the count: ") +
                                        tamper.join(QStringLiteral("; "))));
    out.push_back(MenuEntry::separator());
    out.push_back(MenuEntry::dimmed(MenuBarController::monitoredLine(r)));
    if (auto permission = MenuBarController::permissionLine(r))
        out.push_back(std::move(*permission));
    if (auto login = MenuBarController::loginItemLine(r))
        out.push_back(std::move(*login));
    out.push_back(MenuEntry::separator());
    out.push_back(MenuEntry::dimmed(MenuBarController::beatLine(r)));
    if (r.reportFailure)
        out.push_back(MenuEntry::dimmed(failureLine(QStringLiteral("Usage not sent — "), *r.reportFailure, r)));
    if (r.appsFailure)
        out.push_back(MenuEntry::dimmed(failureLine(QStringLiteral("Apps not sent — "), *r.appsFailure, r)));
    if (!r.refusedDays.isEmpty())
        out.push_back(MenuEntry::dimmed(QStringLiteral("Usage of ") + r.refusedDays.join(QStringLiteral(", ")) +
                                        QStringLiteral(" refused by Fennimar — kept on this computer")));
    // With no apps known the monitored line already says why the list did not load.
    if (r.listFailure && !(r.monitored && r.monitored->lastError && r.monitored->appCount == 0)) {
        const bool old = r.listStale && r.listFetched;
        out.push_back(MenuEntry::dimmed(failureLine(old ? QStringLiteral("Using the app list from ") +
                                                              MenuTexts::relativeTime(*r.listFetched, r.now) +
                                                              QStringLiteral(" — not updated: ")
                                                        : QStringLiteral("App list not updated — "),
                                                    *r.listFailure, r)));
    }
    const QString computer = r.computerName.isEmpty() ? QStringLiteral("PC") : r.computerName;
    out.push_back(MenuEntry::dimmed(QStringLiteral("This computer: ") + computer + QStringLiteral(" (") + r.userName +
                                    QLatin1Char(')')));
    out.push_back(MenuEntry::separator());
    out.push_back(MenuEntry::command(QStringLiteral("Unpair this computer…"), MenuAction::Unpair));
}

}  // namespace

std::vector<MenuEntry> MenuBarController::menu(const MenuReadings &r)
{
    std::vector<MenuEntry> out;
    std::visit(
        Overloaded{
            [&](const AgentStates::Pairing &pairing) { addPairing(out, pairing, r); },
            [&](const AgentStates::Paired &paired) { addPaired(out, paired, r); },
            [&](const AgentStates::Failed &failed) {
                out.push_back(MenuEntry::label(QStringLiteral("Something went wrong")));
                out.push_back(MenuEntry::dimmed(failed.message));
                out.push_back(MenuEntry::separator());
                // Still paired after a failed unpair: a new pairing would make a second device.
                out.push_back(failed.unpairing
                                  ? MenuEntry::command(QStringLiteral("Unpair this computer…"), MenuAction::Unpair)
                                  : MenuEntry::command(QStringLiteral("Try again"), MenuAction::Pair));
            },
            [&](const AgentStates::Unpaired &) {
                // Pairing now would make a second device of a computer that may be paired.
                if (r.waitingFor) {
                    out.push_back(MenuEntry::label(*r.waitingFor));
                    out.push_back(
                        MenuEntry::dimmed(QStringLiteral("Fennimar goes on by itself once it can read its pairing.")));
                    return;
                }
                out.push_back(MenuEntry::label(QStringLiteral("Fennimar isn't set up yet")));
                out.push_back(MenuEntry::separator());
                out.push_back(MenuEntry::command(QStringLiteral("Pair this computer…"), MenuAction::Pair));
            },
        },
        r.state);
    out.push_back(MenuEntry::separator());
    out.push_back(MenuEntry::command(QStringLiteral("Quit Fennimar"), MenuAction::Quit));
    // Error texts come from outside (a backend's body): a line feed in one must not draw a line
    // of its own.
    for (MenuEntry &e : out) {
        e.title = Log::escapeControls(e.title);
        e.shown = Log::escapeControls(e.shown);
    }
    return out;
}

MenuIcon MenuBarController::icon(const MenuReadings &r)
{
    return std::visit(Overloaded{
                          [](const AgentStates::Pairing &) { return MenuIcon::Outline; },
                          [](const AgentStates::Unpaired &) { return MenuIcon::Outline; },
                          // Checking in is not enough: reports that do not arrive, or a desktop that cannot be
                          // watched, mean nothing reaches the parent.
                          [&](const AgentStates::Paired &) {
                              const bool trouble = r.lastBeatError || r.reportFailure || r.appsFailure ||
                                                   !r.refusedDays.isEmpty() || !r.samplingProblem.isEmpty() ||
                                                   !r.tamper.isEmpty() || r.listStale || !r.unreadableBrowser.isEmpty();
                              return trouble ? MenuIcon::Alert : MenuIcon::Filled;
                          },
                          [](const AgentStates::Failed &) { return MenuIcon::Alert; },
                      },
                      r.state);
}

QString MenuBarController::displayName(const QString &subject, const MenuReadings &r)
{
    const QString prefix = platform::appPrefix();
    const QString id = subject.startsWith(prefix) ? subject.mid(prefix.size()) : subject;
    if (!r.appName)
        return id;
    const std::optional<QString> found = r.appName(id);
    if (!found)
        return id;
    QString name = *found;
    name.remove(QStringLiteral(".app"), Qt::CaseSensitive);
    // An app whose whole name was ".app" would leave the line without a subject.
    return name.isEmpty() ? id : name;
}

QString MenuBarController::activityLine(const MenuReadings &r)
{
    if (!r.verdict)
        return QStringLiteral("Starting up…");
    const MenuVerdict &v = *r.verdict;
    switch (v.kind) {
        case MenuVerdict::Kind::Counting:
            return QStringLiteral("Counting ") + displayName(v.subject, r) + QStringLiteral(" now");
        case MenuVerdict::Kind::NotMonitored:
            return displayName(v.subject, r) + QStringLiteral(" — not on the list, free");
        case MenuVerdict::Kind::BrowserNoPermission:
            return displayName(v.subject, r) + QStringLiteral(" — websites need permission");
        case MenuVerdict::Kind::BrowserUnreadable:
            return displayName(v.subject, r) + QStringLiteral(" — can't read the page, free");
        case MenuVerdict::Kind::Idle:
            break;
    }
    return QStringLiteral("Nothing being counted right now");
}

QString MenuBarController::monitoredLine(const MenuReadings &r)
{
    if (!r.monitored)
        return QStringLiteral("Loading your app list…");
    const MonitoredReading &m = *r.monitored;
    if (!m.lastError && m.appCount == 0 && m.domainCount == 0)
        return QStringLiteral("No apps picked yet — nothing is being counted.");
    if (m.lastError && m.appCount == 0)
        return QStringLiteral("Couldn't load the app list — ") + *m.lastError;
    return counted(m.appCount, "app") + QStringLiteral(" being counted");
}

std::optional<MenuEntry> MenuBarController::permissionLine(const MenuReadings &r)
{
    if (!r.monitored || r.monitored->domainCount == 0)
        return std::nullopt;
    if (r.accessibilityTrusted)
        return MenuEntry::dimmed(QStringLiteral("Websites: counting ") + counted(r.monitored->domainCount, "site"));
    return MenuEntry::command(QStringLiteral("Turn on website counting…"), MenuAction::RequestAccessibility,
                              QStringLiteral("Fennimar needs %1 to see which site is open.")
                                  .arg(platform::osName() == QLatin1String("macos")
                                           ? QStringLiteral("macOS Accessibility permission")
                                           : QStringLiteral("the desktop's accessibility permission")));
}

std::optional<MenuEntry> MenuBarController::loginItemLine(const MenuReadings &r)
{
    if (r.loginItem == LoginService::Registration::Enabled)
        return std::nullopt;
    return MenuEntry::command(QStringLiteral("Won't restart on its own — fix…"), MenuAction::OpenLoginItems,
                              QStringLiteral("Fennimar needs permission to start at login. Without it, monitoring "
                                             "stops the next time this computer restarts."));
}

QString MenuBarController::beatLine(const MenuReadings &r)
{
    if (r.lastBeatError)
        return QStringLiteral("Can't reach Fennimar — ") + *r.lastBeatError;
    if (!r.lastBeat)
        return QStringLiteral("Connecting…");
    return QStringLiteral("Last check-in ") + MenuTexts::relativeTime(*r.lastBeat, r.now);
}

QString MenuBarController::unpairQuestion()
{
    return QStringLiteral("Unpair this computer?");
}

QString MenuBarController::unpairExplanation()
{
    return QStringLiteral(
        "Fennimar will stop reporting from this computer. You can pair it again later with a new code.");
}

}  // namespace fennimar
