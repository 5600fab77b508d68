#pragma once

#include "platform/LoginService.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <optional>

namespace fennimar {

// Start at login as a systemd user unit when the user's service manager answers on the session
// bus (it restarts the agent if it quits), otherwise as an XDG autostart entry (started by the
// desktop at login, not restarted). Both are named after the agent's reverse-DNS identifier
// ("app.fennimar.Agent.service", "app.fennimar.Agent.desktop") and start the running executable.
// Every bus call is bounded by a short timeout and never starts a service. Main thread only.
//
// Status: the unit enabled / the entry present and on -> Enabled; the unit disabled or masked /
// the entry Hidden or X-GNOME-Autostart-enabled=false -> RequiresApproval (the user turned it
// off); no unit / no entry -> NotRegistered; a definition whose program is missing or that has
// no Exec -> NotFound.
class LinuxLoginService : public LoginService {
public:
    struct Options {
        QString configHome;           // $XDG_CONFIG_HOME (default ~/.config)
        QStringList configDirs;       // $XDG_CONFIG_DIRS (default /etc/xdg), for system-wide entries
        QString executable;           // what the registration starts: this process's executable
        QStringList currentDesktops;  // XDG_CURRENT_DESKTOP, to pick the settings program
        static Options fromEnvironment();
    };

    explicit LinuxLoginService(QDBusConnection sessionBus, Options options = Options::fromEnvironment());

    Status status() override;
    fennimar::Status registerService() override;
    fennimar::Status unregisterService() override;
    void openSettings() override;

    // Whether the registration is a systemd user unit (asked once, then remembered).
    bool usesSystemd();
    QString unitPath() const;
    QString autostartPath() const;

    // The file contents written for an executable; public so that their quoting can be checked.
    static QByteArray unitFile(const QString &executable);
    static QByteArray autostartEntry(const QString &executable, bool hidden = false);

private:
    QString unitName() const;
    Status autostartStatus();
    Status systemdStatus();
    std::optional<QString> callSystemd(const QString &method, const QVariantList &args,
                                       QVariantList *results = nullptr);

    QDBusConnection m_session;
    Options m_options;
    std::optional<bool> m_systemd;
};

}  // namespace fennimar
