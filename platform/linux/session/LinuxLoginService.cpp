#include "platform/linux/session/LinuxLoginService.h"

#include "core/Log.h"
#include "core/DurableFile.h"
#include "platform/PlatformTraits.h"
#include "platform/linux/apps/DesktopEntry.h"
#include "platform/linux/session/LoginDefinitions.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace fennimar {

using namespace LoginDefinitions;

namespace {

// systemd answers in milliseconds; Reload can take a moment on a busy user manager.
constexpr int kQuickCallMs = 200;
constexpr int kManagerCallMs = 3000;
constexpr qint64 kMaxDefinitionBytes = 64 * 1024;

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");

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
    // systemd's user unit search path below the user's own directory, as packages use it.
    options.packagedUnitDirs = {QStringLiteral("/etc/systemd/user"), QStringLiteral("/usr/local/lib/systemd/user"),
                                QStringLiteral("/usr/lib/systemd/user")};
    const QString runtime = QStringLiteral("/run/user/%1/systemd/").arg(::getuid());
    options.runtimeUnitDirs = {runtime + QStringLiteral("user"), runtime + QStringLiteral("user.control"),
                               QStringLiteral("/run/systemd/user")};
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

bool LinuxLoginService::managerAnswers()
{
    if (!m_manager) {
        m_manager = false;
        if (m_session.isConnected()) {
            QDBusMessage ask = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
            ask << kSystemd;
            const QDBusMessage reply = m_session.call(ask, QDBus::Block, kQuickCallMs);
            m_manager = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                        reply.arguments().first().toBool();
        }
    }
    return *m_manager;
}

bool LinuxLoginService::sessionStartsGraphicalTarget()
{
    // GNOME (gnome-session 3.34 on) and KDE Plasma (5.25 on) start their sessions through systemd;
    // a first start from a terminal may come before the target, so the desktop's name also counts.
    for (const QString &desktop : m_options.currentDesktops) {
        if (desktop == QLatin1String("GNOME") || desktop == QLatin1String("KDE"))
            return true;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(
        kSystemd, QStringLiteral("/org/freedesktop/systemd1/unit/graphical_2dsession_2etarget"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << QStringLiteral("org.freedesktop.systemd1.Unit") << QStringLiteral("ActiveState");
    ask.setAutoStartService(false);
    const QDBusMessage reply = m_session.call(ask, QDBus::Block, kQuickCallMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QString state = reply.arguments().first().value<QDBusVariant>().variant().toString();
    return state == QLatin1String("active") || state == QLatin1String("activating") ||
           state == QLatin1String("reloading");
}

bool LinuxLoginService::usesSystemd()
{
    if (!m_systemd)
        m_systemd = managerAnswers() && sessionStartsGraphicalTarget();
    return *m_systemd;
}

QString LinuxLoginService::packagedUnit() const
{
    for (const QString &dir : m_options.packagedUnitDirs) {
        const QString path = dir + QLatin1Char('/') + unitName();
        const FileRead read = readSmallFile(path, kMaxDefinitionBytes);
        if (read.error.isEmpty() && !read.notFound && sameProgram(unitExecProgram(read.bytes), m_options.executable))
            return path;
    }
    return {};
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

LinuxLoginService::~LinuxLoginService() = default;

LoginService::Registration LinuxLoginService::status()
{
    if (!usesSystemd())
        return autostartStatus();
    // The menu and the heartbeat ask often, on the main thread, and a busy user manager may take
    // seconds: only the first answer is waited for; later ones come from the last answer while the
    // next is asked for in the background.
    if (!m_unitStatus)
        m_unitStatus = unitStatusFrom(m_session.call(unitFileStateCall(), QDBus::Block, kManagerCallMs));
    else
        refreshUnitStatus();
    return *m_unitStatus;
}

QDBusMessage LinuxLoginService::unitFileStateCall() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(kSystemd, QStringLiteral("/org/freedesktop/systemd1"),
                                                       QStringLiteral("org.freedesktop.systemd1.Manager"),
                                                       QStringLiteral("GetUnitFileState"));
    call << unitName();
    call.setAutoStartService(false);
    return call;
}

void LinuxLoginService::refreshUnitStatus()
{
    if (m_refreshing)
        return;
    // The watcher of the previous answer is done with; it is replaced here rather than deleted in
    // its own signal.
    m_refresh = std::make_unique<QDBusPendingCallWatcher>(m_session.asyncCall(unitFileStateCall(), kManagerCallMs));
    m_refreshing = true;
    QObject::connect(m_refresh.get(), &QDBusPendingCallWatcher::finished, m_refresh.get(),
                     [this](QDBusPendingCallWatcher *w) {
                         m_unitStatus = unitStatusFrom(w->reply());
                         m_refreshing = false;
                     });
}

void LinuxLoginService::forgetUnitStatus()
{
    // An answer still on its way was asked before the change: it must not overwrite what follows.
    m_refresh.reset();
    m_refreshing = false;
    m_unitStatus.reset();
}

LoginService::Registration LinuxLoginService::unitStatusFrom(const QDBusMessage &reply) const
{
    if (reply.type() != QDBusMessage::ReplyMessage)
        return reply.errorName() == QLatin1String("org.freedesktop.systemd1.NoSuchUnit") ? Registration::NotRegistered
                                                                                         : Registration::NotFound;
    const QString state = reply.arguments().value(0).toString();
    // A packaged unit starts out disabled for every user: without a unit of our own, "disabled"
    // means not yet enabled here (a user turns the packaged one off for good by masking it).
    if (state == QLatin1String("disabled") && !QFileInfo::exists(unitPath()))
        return Registration::NotRegistered;
    if (state == QLatin1String("disabled") || state.startsWith(QLatin1String("masked")))
        return Registration::RequiresApproval;
    if (state != QLatin1String("enabled") && state != QLatin1String("enabled-runtime"))
        return Registration::NotFound;
    // The user's own unit hides a packaged one of the same name.
    QStringList definitions{unitPath()};
    for (const QString &dir : m_options.packagedUnitDirs)
        definitions << dir + QLatin1Char('/') + unitName();
    for (const QString &path : definitions) {
        const FileRead unit = readSmallFile(path, kMaxDefinitionBytes);
        if (unit.notFound)
            continue;
        if (unit.error.isEmpty() && !isAgent(unitExecProgram(unit.bytes)))
            return Registration::NotFound;
        break;
    }
    return dropInChangesUnit() ? Registration::NotFound : Registration::Enabled;
}

bool LinuxLoginService::isAgent(const QString &program) const
{
    return programExists(program) &&
           sameProgram(QDir::isAbsolutePath(program) ? program : QStandardPaths::findExecutable(program),
                       m_options.executable);
}

bool LinuxLoginService::dropInChangesUnit() const
{
    QStringList dirs{m_options.configHome + QStringLiteral("/systemd/user"),
                     m_options.configHome + QStringLiteral("/systemd/user.control")};
    dirs << m_options.runtimeUnitDirs << m_options.packagedUnitDirs;
    for (const QString &dir : dirs) {
        for (const QString &name : {unitName() + QStringLiteral(".d"), QStringLiteral("service.d")}) {
            const QDir folder(dir + QLatin1Char('/') + name);
            for (const QString &file : folder.entryList({QStringLiteral("*.conf")}, QDir::Files)) {
                const FileRead read = readSmallFile(folder.filePath(file), kMaxDefinitionBytes);
                if (!read.error.isEmpty())
                    return true;  // what cannot be read cannot be vouched for
                for (const QByteArray &line : read.bytes.split('\n')) {
                    const QByteArray key = line.left(line.indexOf('=')).trimmed();
                    if (line.contains('=') && (key.startsWith("Exec") || key.contains("Environment")))
                        return true;
                }
            }
        }
    }
    return false;
}

LoginService::Registration LinuxLoginService::autostartStatus()
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
            return Registration::NotFound;
        const DesktopEntry entry = DesktopEntry::parse(read.bytes);
        if (entry.boolean(QStringLiteral("Hidden")) ||
            entry.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false"))
            return Registration::RequiresApproval;
        const QStringList exec = splitExec(entry.value(QStringLiteral("Exec")).value_or(QString()));
        const QString tryExec = entry.value(QStringLiteral("TryExec")).value_or(QString());
        if (exec.isEmpty() || !isAgent(exec.first()) || (!tryExec.isEmpty() && !programExists(tryExec)))
            return Registration::NotFound;
        return Registration::Enabled;
    }
    return Registration::NotRegistered;
}

Status LinuxLoginService::writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    const Status written = writeFileAtomically(path, bytes, Durability::Synced);
    if (!written)
        return Status::failure(QStringLiteral("cannot write %1 · %2").arg(path, written.error()));
    return {};
}

Status LinuxLoginService::registerService()
{
    forgetUnitStatus();
    if (m_options.executable.isEmpty())
        return Status::failure(QStringLiteral("the agent's own executable path is unknown"));
    if (m_options.executable.contains(QLatin1Char('\n')))
        return Status::failure(QStringLiteral("the agent's executable path contains a line break"));
    if (!usesSystemd()) {
        if (Status removed = removeUnit(); !removed)
            return removed;
        return writeFile(autostartPath(), autostartEntry(m_options.executable));
    }
    if (Status removed = removeAutostart(); !removed)
        return removed;
    if (packagedUnit().isEmpty()) {
        if (Status written = writeFile(unitPath(), unitFile(m_options.executable)); !written)
            return written;
    } else if (QFile own(unitPath()); own.exists() && !own.remove()) {
        // A unit of ours in ~/.config would hide the packaged one.
        return Status::failure(QStringLiteral("cannot remove %1 · %2").arg(unitPath(), own.errorString()));
    }
    // The manager must see the new file before it can enable it, and again to follow the new links.
    for (const auto &[method, args] : std::initializer_list<std::pair<QString, QVariantList>>{
             {QStringLiteral("Reload"), {}},
             {QStringLiteral("EnableUnitFiles"), {QStringList{unitName()}, false, true}},
             {QStringLiteral("Reload"), {}}}) {
        if (const auto failure = callSystemd(method, args))
            return Status::failure(QStringLiteral("systemd %1 failed · %2").arg(method, *failure));
    }
    return {};
}

Status LinuxLoginService::unregisterService()
{
    forgetUnitStatus();
    const Status autostart = removeAutostart();
    const Status unit = removeUnit();
    return autostart ? unit : autostart;
}

Status LinuxLoginService::removeAutostart()
{
    const QString name = QFileInfo(autostartPath()).fileName();
    bool systemWide = false;
    for (const QString &dir : m_options.configDirs)
        systemWide = systemWide || QFileInfo::exists(dir + QStringLiteral("/autostart/") + name);
    // A system-wide entry cannot be removed by the user; a hidden user copy turns it off.
    if (systemWide)
        return writeFile(autostartPath(), autostartEntry(m_options.executable, true));
    QFile file(autostartPath());
    if (file.exists() && !file.remove())
        return Status::failure(QStringLiteral("cannot remove %1 · %2").arg(autostartPath(), file.errorString()));
    return {};
}

Status LinuxLoginService::removeUnit()
{
    QFile own(unitPath());
    const bool ownUnit = own.exists();
    // Only a manager that may know the unit is asked: a daemon reload is not free.
    if (managerAnswers() && (ownUnit || !packagedUnit().isEmpty())) {
        if (const auto failure = callSystemd(QStringLiteral("DisableUnitFiles"), {QStringList{unitName()}, false});
            failure && !failure->startsWith(QLatin1String("org.freedesktop.systemd1.NoSuchUnit")))
            return Status::failure(QStringLiteral("systemd DisableUnitFiles failed · %1").arg(*failure));
    }
    if (ownUnit && !own.remove())
        return Status::failure(QStringLiteral("cannot remove %1 · %2").arg(unitPath(), own.errorString()));
    if (ownUnit && managerAnswers()) {
        if (const auto failure = callSystemd(QStringLiteral("Reload"), {}))
            return Status::failure(QStringLiteral("systemd Reload failed · %1").arg(*failure));
    }
    return {};
}

void LinuxLoginService::openSettings()
{
    if (usesSystemd()) {
        // The desktops' startup-application panels list autostart entries, not systemd units.
        const QString packaged = packagedUnit();
        Log::info(QStringLiteral("start at login is the systemd user unit %1 · turn it off with "
                                 "\"systemctl --user %2 %3\"")
                      .arg(packaged.isEmpty() ? unitPath() : packaged,
                           packaged.isEmpty() ? QStringLiteral("disable") : QStringLiteral("mask"), unitName()));
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
