#include "platform/linux/apps/AppResolver.h"

#include "core/DurableFile.h"
#include "platform/PlatformTraits.h"
#include "platform/linux/apps/DesktopEntry.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace fennimar {

namespace {

RunningApp fromEntry(const AppEntry &entry, qint64 pid)
{
    return RunningApp{entry.id, pid, entry.name, entry.path};
}

// An id that names a desktop file: "org.kde.dolphin.desktop", "/usr/share/applications/x.desktop".
QString desktopIdFromName(QString name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0)
        name = name.mid(slash + 1);
    if (name.endsWith(QLatin1String(".desktop")))
        name.chop(8);
    return name;
}

}  // namespace

void WindowFacts::readProcess(const QString &procRoot)
{
    if (pid <= 0)
        return;
    const QString dir = procRoot + QLatin1Char('/') + QString::number(pid);
    program = ProgramFile::at(dir + QStringLiteral("/exe"));
    executable = QFileInfo(dir + QStringLiteral("/exe")).symLinkTarget();
    // A replaced binary (an upgrade while it runs) reads "/usr/bin/foo (deleted)".
    if (executable.endsWith(QLatin1String(" (deleted)")))
        executable.chop(10);
    if (!executable.isEmpty()) {
        const QString canonical = QFileInfo(executable).canonicalFilePath();
        if (!canonical.isEmpty())
            executable = canonical;
    }
    cgroup = QString::fromUtf8(readSmallFile(dir + QStringLiteral("/cgroup"), 64 * 1024).bytes);
    // Whatever window is in front names the process, so its root is anyone's to fill: the file is
    // looked at only for a Flatpak sandbox whose scope name does not already carry the id.
    if (AppResolver::flatpakIdFromCgroup(cgroup).isEmpty() && cgroup.contains(QLatin1String("flatpak-"))) {
        const FileRead info = readSmallFile(dir + QStringLiteral("/root/.flatpak-info"), 64 * 1024);
        if (info.error.isEmpty() && !info.notFound) {
            // The file has the desktop-entry syntax but its own group name.
            QByteArray bytes = info.bytes;
            bytes.replace("[Application]", "[Desktop Entry]");
            flatpakId = DesktopEntry::parse(bytes).value(QStringLiteral("name")).value_or(QString());
        }
    }
}

QString AppResolver::flatpakIdFromCgroup(const QString &cgroup)
{
    static const QRegularExpression pattern(QStringLiteral("app-flatpak-([A-Za-z0-9_.-]+?)-[0-9]+\\.scope"));
    const QRegularExpressionMatch match = pattern.match(cgroup);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString AppResolver::snapIdFromCgroup(const QString &cgroup)
{
    // "snap.<snap>.<app>-<uuid>.scope" (newer snapd) or "snap.<snap>.<app>.<uuid>.scope".
    static const QRegularExpression pattern(
        QStringLiteral("snap\\.([a-z0-9-]+)\\.([A-Za-z0-9-]+?)[.-][0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-"
                       "9a-f]{12}\\.scope"));
    const QRegularExpressionMatch match = pattern.match(cgroup);
    return match.hasMatch() ? match.captured(1) + QLatin1Char('_') + match.captured(2) : QString();
}

bool AppResolver::isInterpreter(const QString &executable)
{
    const QString name = QFileInfo(executable).fileName();
    static const QRegularExpression pattern(
        QStringLiteral("^(python|pypy|perl|ruby|node|nodejs|java|lua|luajit|php|electron|gjs|mono|dotnet|wish|"
                       "tclsh|sh|bash|dash|zsh|ksh|mksh|fish|csh|tcsh|env|bwrap|flatpak-spawn|qemu-[a-z0-9_]+|wine|"
                       "wine(64)?-preloader)"
                       "[0-9.]*$"));
    return pattern.match(name).hasMatch();
}

RunningApp AppResolver::resolve(const WindowFacts &facts, DesktopEntryCatalog &catalog)
{
    const qint64 pid = facts.pid;
    // The path names an interpreter only when it is the file that runs (or one an upgrade removed):
    // the browser mounted over python's path in a user namespace is still the browser.
    const bool interpreter = isInterpreter(facts.executable) &&
                             (facts.program.removed || facts.program.sameFile(ProgramFile::at(facts.executable)));
    const bool systemOnly = facts.program.owner == 0 && !interpreter;
    QString flatpak = flatpakIdFromCgroup(facts.cgroup);
    if (flatpak.isEmpty())
        flatpak = facts.flatpakId;
    // A sandboxed app's own id is authoritative even when its exported entry is not visible here.
    for (const QString &sandboxId : {flatpak, snapIdFromCgroup(facts.cgroup)}) {
        if (sandboxId.isEmpty())
            continue;
        if (const AppEntry *entry = catalog.find(sandboxId))
            return fromEntry(*entry, pid);
        return RunningApp{sandboxId, pid, facts.wmClass, QString()};
    }
    // A browser is known by its program, whatever class it is started under (--class names another
    // installed app): its page, not the app, decides what counts.
    bool shared = true;
    if (const AppEntry *entry = catalog.findByExecutable(facts.program, true, &shared);
        systemOnly && entry && !shared && platform::browserIds().contains(entry->id))
        return fromEntry(*entry, pid);
    // Every rule over the system's entries first: the user's answer only what none of them does.
    for (const bool system : {true, false}) {
        if (!system && systemOnly)
            break;
        for (const QString &declared : {facts.gtkApplicationId, desktopIdFromName(facts.kdeDesktopFile)}) {
            if (const AppEntry *entry = declared.isEmpty() ? nullptr : catalog.find(declared, system))
                return fromEntry(*entry, pid);
        }
        for (const QString &wmName : {facts.wmClass, facts.wmInstance}) {
            if (const AppEntry *entry = catalog.findByStartupWMClass(wmName, system))
                return fromEntry(*entry, pid);
        }
        for (const QString &id : {facts.wmInstance, facts.wmClass.toLower()}) {
            if (const AppEntry *entry = id.isEmpty() ? nullptr : catalog.find(id, system))
                return fromEntry(*entry, pid);
        }
        if (const AppEntry *entry = interpreter ? nullptr : catalog.findByExecutable(facts.program, system))
            return fromEntry(*entry, pid);
    }
    return RunningApp{QString(), pid, facts.wmClass.isEmpty() ? facts.wmInstance : facts.wmClass, QString()};
}

}  // namespace fennimar
