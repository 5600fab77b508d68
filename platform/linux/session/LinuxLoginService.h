#pragma once

#include "platform/LoginService.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QDBusPendingCallWatcher;

namespace fennimar {

// Start at login as a systemd user unit where the session really starts graphical-session.target
// (the target is active now, or the desktop is one that starts it: GNOME, KDE Plasma), otherwise as
// an XDG autostart entry (started by the desktop at login, not restarted). Xfce, MATE, Cinnamon,
// LXQt and plain window managers run a user manager but never start that target, so a unit there
// would be enabled and never run. Switching writes the chosen registration and removes the other,
// so two never coexist. Both are named after the agent's reverse-DNS identifier
// ("app.fennimar.Agent.service", "app.fennimar.Agent.desktop"). Where a package installed the unit
// for this same executable (/usr/lib/systemd/user), that unit is enabled; otherwise the agent
// writes its own into ~/.config/systemd/user. Every bus call is bounded by a short timeout and
// never starts a service. The unit's status is waited for once (at start-up, at most 3 s); after
// that status() answers at once from the manager's last answer and asks again in the background,
// so a change made with systemctl shows by the call after the answer arrives. Main thread only.
//
// The registration this session uses reads: the unit enabled / the entry present and on ->
// Enabled; the unit disabled or masked / the entry Hidden or X-GNOME-Autostart-enabled=false ->
// RequiresApproval (the user turned it off); no unit / no entry -> NotRegistered; a definition
// whose program is not this agent or that has no Exec, or a unit with a drop-in that changes its
// command or environment (TZ, XDG_SESSION_TYPE, XDG_DATA_DIRS are the measured user's to set, and
// the agent must not be started into a world of the user's making) -> NotFound.
class LinuxLoginService : public LoginService {
public:
    struct Options {
        QString configHome;                // $XDG_CONFIG_HOME (default ~/.config)
        QStringList configDirs;            // $XDG_CONFIG_DIRS (default /etc/xdg), for system-wide entries
        QString executable;                // what the registration starts: this process's executable
        QStringList currentDesktops;       // XDG_CURRENT_DESKTOP: the settings program, whether the unit runs
        QStringList packagedUnitDirs;      // where packages install user units (/usr/lib/systemd/user)
        QStringList runtimeUnitDirs = {};  // beside them, drop-ins of this boot (/run/user/<uid>/systemd/user)
        static Options fromEnvironment();
    };

    explicit LinuxLoginService(QDBusConnection sessionBus, Options options = Options::fromEnvironment());
    ~LinuxLoginService() override;
    LinuxLoginService(const LinuxLoginService &) = delete;
    LinuxLoginService &operator=(const LinuxLoginService &) = delete;

    Registration status() override;
    Status registerService() override;
    Status unregisterService() override;
    void openSettings() override;

    // Whether the registration is a systemd user unit (asked once, then remembered): a user manager
    // answers and this session starts graphical-session.target. At most two bus calls of 200 ms.
    bool usesSystemd();
    QString unitPath() const;
    QString autostartPath() const;

private:
    QString unitName() const;
    bool managerAnswers();
    bool sessionStartsGraphicalTarget();
    // The unit a package installed for this very executable, or empty.
    QString packagedUnit() const;
    bool isAgent(const QString &program) const;
    bool dropInChangesUnit() const;
    Registration autostartStatus();
    QDBusMessage unitFileStateCall() const;
    Registration unitStatusFrom(const QDBusMessage &reply) const;
    void refreshUnitStatus();
    void forgetUnitStatus();
    Status writeFile(const QString &path, const QByteArray &bytes);
    Status removeAutostart();
    Status removeUnit();
    std::optional<QString> callSystemd(const QString &method, const QVariantList &args,
                                       QVariantList *results = nullptr);

    QDBusConnection m_session;
    Options m_options;
    std::optional<bool> m_manager;
    std::optional<bool> m_systemd;
    std::optional<Registration> m_unitStatus;            // the user manager's last answer
    std::unique_ptr<QDBusPendingCallWatcher> m_refresh;  // the latest background question
    bool m_refreshing = false;                           // its answer is still on its way
};

}  // namespace fennimar
