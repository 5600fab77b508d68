#include "platform/linux/LinuxLoginService.h"

#include "agent/Log.h"
#include "platform/DurableFile.h"
#include "platform/PlatformConstants.h"
#include "platform/linux/DesktopEntry.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace fennimar {

namespace {

// systemd answers in milliseconds; Reload can take a moment on a busy user manager.
constexpr int kQuickCallMs = 200;
constexpr int kManagerCallMs = 3000;
constexpr qint64 kMaxDefinitionBytes = 64 * 1024;

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");

bool programExists(const QString &program)
{
    if (program.isEmpty())
        return false;
    const QString path = QDir::isAbsolutePath(program) ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isExecutable();
}

// systemd's own quoting: C-style escapes inside double quotes; '%' starts a specifier and '$' an
// environment variable, so both are doubled.
QString systemdQuote(const QString &path)
{
    QString out = QStringLiteral("\"");
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        if (c == QLatin1Char('%') || c == QLatin1Char('$'))
            out += c;
        out += c;
    }
    return out + QLatin1Char('"');
}

// The desktop-entry Exec quoting, then the string-value escaping of the same format.
QString execQuote(const QString &path)
{
    QString quoted = QStringLiteral("\"");
    for (QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

QString unitExecProgram(const QByteArray &unit)
{
    for (const QByteArray &rawLine : unit.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("ExecStart="))
            continue;
        QString value = QString::fromUtf8(line.mid(10));
        // Prefixes such as "-" or "@" change how systemd runs the command, not which program.
        while (!value.isEmpty() && QStringLiteral("-@:+!").contains(value.front()))
            value.remove(0, 1);
        if (value.startsWith(QLatin1Char('"'))) {
            QString program;
            for (qsizetype i = 1; i < value.size() && value.at(i) != QLatin1Char('"'); ++i) {
                if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
                    ++i;
                program += value.at(i);
            }
            return program.replace(QStringLiteral("%%"), QStringLiteral("%"))
                .replace(QStringLiteral("$$"), QStringLiteral("$"));
        }
        return value.section(QLatin1Char(' '), 0, 0);
    }
    return {};
}

}  // namespace

LinuxLoginService::Options LinuxLoginService::Options::fromEnvironment()
{
    Options options;
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    options.configHome = QDir::isAbsolutePath(home) ? home : QDir::homePath() + QStringLiteral("/.config");
    for (const QString &dir : qEnvironmentVariable("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"))
                                  .split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            options.configDirs << dir;
    }
    options.executable = QCoreApplication::applicationFilePath();
    options.currentDesktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return options;
}

LinuxLoginService::LinuxLoginService(QDBusConnection sessionBus, Options options)
    : m_session(std::move(sessionBus)), m_options(std::move(options))
{
}

QString LinuxLoginService::unitName() const
{
    return QLatin1String(platform::AgentBundleID) + QStringLiteral(".service");
}

QString LinuxLoginService::unitPath() const
{
    return m_options.configHome + QStringLiteral("/systemd/user/") + unitName();
}

QString LinuxLoginService::autostartPath() const
{
    return m_options.configHome + QStringLiteral("/autostart/") + QLatin1String(platform::AgentBundleID) +
           QStringLiteral(".desktop");
}

QByteArray LinuxLoginService::unitFile(const QString &executable)
{
    return QStringLiteral(
               "[Unit]\n"
               "Description=Fennimar agent\n"
               "PartOf=graphical-session.target\n"
               "After=graphical-session.target\n"
               "\n"
               "[Service]\n"
               "ExecStart=%1\n"
               // on-failure would leave the agent stopped after a clean exit or SIGTERM.
               "Restart=always\n"
               "RestartSec=5\n"
               "\n"
               "[Install]\n"
               "WantedBy=graphical-session.target\n")
        .arg(systemdQuote(executable))
        .toUtf8();
}

QByteArray LinuxLoginService::autostartEntry(const QString &executable, bool hidden)
{
    QString text = QStringLiteral(
                       "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Fennimar\n"
                       "Exec=%1\n"
                       "NoDisplay=true\n"
                       "X-GNOME-Autostart-enabled=true\n")
                       .arg(execQuote(executable));
    if (hidden)
        text += QStringLiteral("Hidden=true\n");
    return text.toUtf8();
}

bool LinuxLoginService::usesSystemd()
{
    if (!m_systemd) {
        m_systemd = false;
        if (m_session.isConnected()) {
            QDBusMessage ask = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
            ask << kSystemd;
            const QDBusMessage reply = m_session.call(ask, QDBus::Block, kQuickCallMs);
            m_systemd = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                        reply.arguments().first().toBool();
        }
    }
    return *m_systemd;
}

std::optional<QString> LinuxLoginService::callSystemd(const QString &method, const QVariantList &args,
                                                      QVariantList *results)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, QStringLiteral("/org/freedesktop/systemd1"),
                                                       QStringLiteral("org.freedesktop.systemd1.Manager"), method);
    call.setArguments(args);
    call.setAutoStartService(false);
    const QDBusMessage reply = m_session.call(call, QDBus::Block, kManagerCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    if (results)
        *results = reply.arguments();
    return std::nullopt;
}

LoginService::Status LinuxLoginService::status()
{
    return usesSystemd() ? systemdStatus() : autostartStatus();
}

LoginService::Status LinuxLoginService::systemdStatus()
{
    QVariantList results;
    const auto failure = callSystemd(QStringLiteral("GetUnitFileState"), {unitName()}, &results);
    if (failure)
        return failure->startsWith(QLatin1String("org.freedesktop.systemd1.NoSuchUnit")) ? Status::NotRegistered
                                                                                         : Status::NotFound;
    const QString state = results.value(0).toString();
    if (state == QLatin1String("disabled") || state.startsWith(QLatin1String("masked")))
        return Status::RequiresApproval;
    if (state != QLatin1String("enabled") && state != QLatin1String("enabled-runtime"))
        return Status::NotFound;
    const FileRead unit = readSmallFile(unitPath(), kMaxDefinitionBytes);
    if (!unit.notFound && unit.error.isEmpty() && !programExists(unitExecProgram(unit.bytes)))
        return Status::NotFound;
    return Status::Enabled;
}

LoginService::Status LinuxLoginService::autostartStatus()
{
    // The user's own file overrides a system-wide one of the same name.
    QStringList candidates{autostartPath()};
    for (const QString &dir : m_options.configDirs)
        candidates << dir + QStringLiteral("/autostart/") + QFileInfo(autostartPath()).fileName();
    for (const QString &path : candidates) {
        const FileRead read = readSmallFile(path, kMaxDefinitionBytes);
        if (read.notFound)
            continue;
        if (!read.error.isEmpty())
            return Status::NotFound;
        const DesktopEntry entry = DesktopEntry::parse(read.bytes);
        if (entry.boolean(QStringLiteral("Hidden")) ||
            entry.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
            return Status::RequiresApproval;
        const QStringList exec = splitExec(entry.value(QStringLiteral("Exec")).value_or(QString()));
        const QString tryExec = entry.value(QStringLiteral("TryExec")).value_or(QString());
        if (exec.isEmpty() || !programExists(exec.first()) || (!tryExec.isEmpty() && !programExists(tryExec)))
            return Status::NotFound;
        return Status::Enabled;
    }
    return Status::NotRegistered;
}

fennimar::Status LinuxLoginService::registerService()
{
    if (m_options.executable.isEmpty())
        return fennimar::Status::failure(QStringLiteral("the agent's own executable path is unknown"));
    if (m_options.executable.contains(QLatin1Char('\n')))
        return fennimar::Status::failure(QStringLiteral("the agent's executable path contains a line break"));
    if (!usesSystemd()) {
        QDir().mkpath(QFileInfo(autostartPath()).path());
        const fennimar::Status written =
            writeFileAtomically(autostartPath(), autostartEntry(m_options.executable), Durability::Synced);
        if (!written)
            return fennimar::Status::failure(
                QStringLiteral("cannot write %1 · %2").arg(autostartPath(), written.error()));
        return {};
    }
    QDir().mkpath(QFileInfo(unitPath()).path());
    const fennimar::Status written =
        writeFileAtomically(unitPath(), unitFile(m_options.executable), Durability::Synced);
    if (!written)
        return fennimar::Status::failure(QStringLiteral("cannot write %1 · %2").arg(unitPath(), written.error()));
    // The manager must see the new file before it can enable it, and again to follow the new links.
    for (const auto &[method, args] : std::initializer_list<std::pair<QString, QVariantList>>{
             {QStringLiteral("Reload"), {}},
             {QStringLiteral("EnableUnitFiles"), {QStringList{unitName()}, false, true}},
             {QStringLiteral("Reload"), {}}}) {
        if (const auto failure = callSystemd(method, args))
            return fennimar::Status::failure(QStringLiteral("systemd %1 failed · %2").arg(method, *failure));
    }
    return {};
}

fennimar::Status LinuxLoginService::unregisterService()
{
    if (!usesSystemd()) {
        const QString name = QFileInfo(autostartPath()).fileName();
        bool systemWide = false;
        for (const QString &dir : m_options.configDirs)
            systemWide = systemWide || QFileInfo::exists(dir + QStringLiteral("/autostart/") + name);
        if (systemWide) {
            // A system-wide entry cannot be removed by the user; a hidden user copy turns it off.
            QDir().mkpath(QFileInfo(autostartPath()).path());
            const fennimar::Status written =
                writeFileAtomically(autostartPath(), autostartEntry(m_options.executable, true), Durability::Synced);
            if (!written)
                return fennimar::Status::failure(
                    QStringLiteral("cannot write %1 · %2").arg(autostartPath(), written.error()));
            return {};
        }
        QFile file(autostartPath());
        if (file.exists() && !file.remove())
            return fennimar::Status::failure(
                QStringLiteral("cannot remove %1 · %2").arg(autostartPath(), file.errorString()));
        return {};
    }
    if (const auto failure = callSystemd(QStringLiteral("DisableUnitFiles"), {QStringList{unitName()}, false});
        failure && !failure->startsWith(QLatin1String("org.freedesktop.systemd1.NoSuchUnit")))
        return fennimar::Status::failure(QStringLiteral("systemd DisableUnitFiles failed · %1").arg(*failure));
    QFile unit(unitPath());
    if (unit.exists() && !unit.remove())
        return fennimar::Status::failure(QStringLiteral("cannot remove %1 · %2").arg(unitPath(), unit.errorString()));
    if (const auto failure = callSystemd(QStringLiteral("Reload"), {}))
        return fennimar::Status::failure(QStringLiteral("systemd Reload failed · %1").arg(*failure));
    return {};
}

void LinuxLoginService::openSettings()
{
    if (usesSystemd()) {
        // The desktops' startup-application panels list autostart entries, not systemd units.
        Log::info(QStringLiteral("start at login is the systemd user unit %1 · turn it off with "
                                 "\"systemctl --user disable %2\"")
                      .arg(unitPath(), unitName()));
        return;
    }
    struct Panel {
        const char *desktop;
        const char *program;
        QStringList args;
    };
    const QList<Panel> panels = {
        {"GNOME", "gnome-session-properties", {}},
        {"KDE", "systemsettings", {QStringLiteral("kcm_autostart")}},
        {"XFCE", "xfce4-session-settings", {}},
        {"MATE", "mate-session-properties", {}},
        {"X-Cinnamon", "cinnamon-session-properties", {}},
        {"LXQt", "lxqt-config-session", {}},
    };
    // The current desktop's own panel first, then any panel that is installed.
    for (const bool ownDesktopOnly : {true, false}) {
        for (const Panel &panel : panels) {
            if (ownDesktopOnly && !m_options.currentDesktops.contains(QLatin1String(panel.desktop)))
                continue;
            const QString program = QStandardPaths::findExecutable(QLatin1String(panel.program));
            if (!program.isEmpty() && QProcess::startDetached(program, panel.args))
                return;
        }
    }
    Log::info(QStringLiteral("start at login is the autostart entry %1 · delete it or set Hidden=true to turn it off")
                  .arg(autostartPath()));
}

}  // namespace fennimar
