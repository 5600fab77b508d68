#include "platform/linux/apps/DesktopEntryCatalog.h"

#include "core/DurableFile.h"
#include "platform/linux/apps/AppCategories.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimeZone>

namespace fennimar {

namespace {

// Desktop entries are a few kilobytes; a larger file is not one we should hold in memory.
constexpr qint64 kMaxEntryBytes = 512 * 1024;

QStringList xdgList(const char *variable, const QString &fallback)
{
    QStringList dirs;
    for (const QString &dir : qEnvironmentVariable(variable, fallback).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid by the base-directory rules and would depend on our cwd.
        if (QDir::isAbsolutePath(dir))
            dirs << QDir::cleanPath(dir);
    }
    return dirs;
}

// The absolute path a program name stands for, symlinks resolved; empty when there is none.
QString resolveProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    const QString found = QDir::isAbsolutePath(program) ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        return {};
    const QFileInfo info(found);
    if (!info.isFile() || !info.isExecutable())
        return {};
    return info.canonicalFilePath();
}

// A folder only root can change: a session's XDG_DATA_DIRS may name it among the system's.
bool rootsOnly(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.ownerId() == 0 &&
           !(info.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

QDateTime folderTime(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() ? info.lastModified().toUTC() : QDateTime();
}

}  // namespace

DesktopEntryCatalog::Options DesktopEntryCatalog::Options::fromEnvironment()
{
    Options options;
    // The environment is the measured user's to set: XDG_DATA_DIRS=/nowhere must not empty the
    // catalogue, so the system's folders are named here.
    options.systemDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share"),
                          QStringLiteral("/var/lib/flatpak/exports/share"), QStringLiteral("/var/lib/snapd/desktop")};
    QStringList home = xdgList("XDG_DATA_HOME", QString());
    options.userDirs = home.isEmpty() ? QStringList{QDir::homePath() + QStringLiteral("/.local/share")} : home;
    for (const QString &dir : xdgList("XDG_DATA_DIRS", QString())) {
        if (!options.systemDirs.contains(dir))
            (rootsOnly(dir + QStringLiteral("/applications")) ? options.systemDirs : options.userDirs) << dir;
    }
    options.userDirs.removeDuplicates();
    options.currentDesktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    options.locale = EntryLocale::fromEnvironment();
    return options;
}

DesktopEntryCatalog::DesktopEntryCatalog(Options options) : m_options(std::move(options)) {}

std::vector<SeenApp> DesktopEntryCatalog::installedApps()
{
    refreshIfChanged();
    std::vector<SeenApp> apps;
    apps.reserve(m_entries.size());
    for (const AppEntry &entry : m_entries) {
        if (entry.listed)
            apps.push_back(SeenApp{entry.id, entry.name, entry.category});
    }
    return apps;
}

std::optional<SeenApp> DesktopEntryCatalog::describe(const RunningApp &app)
{
    if (app.identifier.isEmpty())
        return std::nullopt;
    // Called on every tick: served from the last scan, which mapping the window has just checked.
    if (!m_scanned)
        scan();
    const auto it = m_byId.constFind(app.identifier);
    if (it != m_byId.constEnd()) {
        const AppEntry &entry = m_entries[static_cast<size_t>(*it)];
        return SeenApp{entry.id, entry.name, entry.category};
    }
    return SeenApp{app.identifier, app.displayName.isEmpty() ? app.identifier : app.displayName, std::nullopt};
}

const AppEntry *DesktopEntryCatalog::answer(const QHash<QString, int> &index, const QString &key, bool systemOnly) const
{
    // System entries are indexed first, so a user's entry holds only a key no system entry has.
    const auto it = index.constFind(key);
    if (it == index.constEnd())
        return nullptr;
    const AppEntry &entry = m_entries[static_cast<size_t>(*it)];
    return systemOnly && !entry.system ? nullptr : &entry;
}

const AppEntry *DesktopEntryCatalog::find(const QString &id, bool systemOnly)
{
    refreshIfChanged();
    return answer(m_byId, id, systemOnly);
}

const AppEntry *DesktopEntryCatalog::findByStartupWMClass(const QString &wmClass, bool systemOnly)
{
    refreshIfChanged();
    if (wmClass.isEmpty())
        return nullptr;
    if (const AppEntry *exact = answer(m_byWMClass, wmClass, systemOnly))
        return exact;
    return answer(m_byWMClassFolded, wmClass.toCaseFolded(), systemOnly);
}

const AppEntry *DesktopEntryCatalog::findByExecutable(const ProgramFile &file, bool systemOnly, bool *shared)
{
    refreshIfChanged();
    if (!file.exists())
        return nullptr;
    if (!m_execIndexBuilt)
        buildExecIndex();
    const std::pair key{file.device, file.inode};
    const auto it = m_byExec.constFind(key);
    if (it == m_byExec.constEnd())
        return nullptr;
    if (shared)
        *shared = m_sharedExec.contains(key);
    const AppEntry &entry = m_entries[static_cast<size_t>(*it)];
    return systemOnly && !entry.system ? nullptr : &entry;
}

void DesktopEntryCatalog::refreshIfChanged()
{
    if (m_scanned) {
        bool changed = false;
        for (auto it = m_folders.constBegin(); it != m_folders.constEnd() && !changed; ++it)
            changed = folderTime(it.key()) != it.value();
        if (!changed)
            return;
    }
    scan();
}

void DesktopEntryCatalog::scan()
{
    ++m_scans;
    m_scanned = true;
    m_entries.clear();
    m_byId.clear();
    m_byWMClass.clear();
    m_byWMClassFolded.clear();
    m_byExec.clear();
    m_sharedExec.clear();
    m_execIndexBuilt = false;
    m_folders.clear();

    // Ids already decided by a more important directory, whether they gave an entry or hid one.
    QHash<QString, bool> seen;
    const qsizetype systemCount = m_options.systemDirs.size();
    const QStringList dataDirs = m_options.systemDirs + m_options.userDirs;
    for (qsizetype i = 0; i < dataDirs.size(); ++i) {
        const QString &dataDir = dataDirs[i];
        const QString root = dataDir + QStringLiteral("/applications");
        m_folders.insert(root, folderTime(root));
        if (!QFileInfo(root).isDir())
            continue;
        QDirIterator it(root, QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info = it.fileInfo();
            if (info.isDir()) {
                m_folders.insert(path, folderTime(path));
                continue;
            }
            if (!path.endsWith(QLatin1String(".desktop")))
                continue;
            QString id = path.mid(root.size() + 1);
            id.chop(8);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!seen.contains(id))
                scanFile(path, id, i < systemCount, seen);
        }
    }
}

void DesktopEntryCatalog::scanFile(const QString &path, const QString &id, bool system, QHash<QString, bool> &seen)
{
    const FileRead read = readSmallFile(path, kMaxEntryBytes, Links::Follow);
    if (!read.error.isEmpty() || read.notFound)
        return;  // unreadable: a less important copy may still serve
    const DesktopEntry entry = DesktopEntry::parse(read.bytes);
    if (entry.isEmpty())
        return;
    seen.insert(id, true);
    if (entry.boolean(QStringLiteral("Hidden")) || entry.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return;
    const QString tryExec = entry.value(QStringLiteral("TryExec")).value_or(QString());
    if (!tryExec.isEmpty() && resolveProgram(tryExec).isEmpty())
        return;
    const std::optional<QString> name = entry.localized(QStringLiteral("Name"), m_options.locale);
    if (!name || name->trimmed().isEmpty())
        return;

    AppEntry app;
    app.id = id;
    app.path = path;
    app.name = *name;
    app.category = appCategoryFor(entry.list(QStringLiteral("Categories")));
    app.startupWMClass = entry.value(QStringLiteral("StartupWMClass")).value_or(QString());
    const QStringList exec = splitExec(entry.value(QStringLiteral("Exec")).value_or(QString()));
    app.execProgram = exec.isEmpty() ? QString() : exec.first();
    app.tryExec = tryExec;
    app.listed = !entry.boolean(QStringLiteral("NoDisplay")) && showInCurrentDesktop(entry);
    app.system = system;

    const int index = static_cast<int>(m_entries.size());
    m_entries.push_back(std::move(app));
    const AppEntry &stored = m_entries.back();
    m_byId.insert(stored.id, index);
    if (!stored.startupWMClass.isEmpty()) {
        // The first entry in priority order keeps a class that several entries claim.
        if (!m_byWMClass.contains(stored.startupWMClass))
            m_byWMClass.insert(stored.startupWMClass, index);
        const QString folded = stored.startupWMClass.toCaseFolded();
        if (!m_byWMClassFolded.contains(folded))
            m_byWMClassFolded.insert(folded, index);
    }
}

bool DesktopEntryCatalog::showInCurrentDesktop(const DesktopEntry &entry) const
{
    const QStringList only = entry.list(QStringLiteral("OnlyShowIn"));
    const QStringList notIn = entry.list(QStringLiteral("NotShowIn"));
    for (const QString &desktop : m_options.currentDesktops) {
        if (notIn.contains(desktop))
            return false;
    }
    if (only.isEmpty())
        return true;
    for (const QString &desktop : m_options.currentDesktops) {
        if (only.contains(desktop))
            return true;
    }
    return false;
}

void DesktopEntryCatalog::buildExecIndex()
{
    // Resolving every Exec through PATH costs a few stat calls per entry, so it waits until a
    // window first needs it and then lasts until the next rescan.
    m_execIndexBuilt = true;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        for (const QString &program : {m_entries[i].execProgram, m_entries[i].tryExec}) {
            const ProgramFile file = ProgramFile::at(resolveProgram(program));
            const std::pair key{file.device, file.inode};
            if (!file.exists())
                continue;
            if (!m_byExec.contains(key))
                m_byExec.insert(key, static_cast<int>(i));
            else if (m_byExec.value(key) != static_cast<int>(i) && m_entries[i].system)
                m_sharedExec.insert(key);  // a user's entry may not make a system program ambiguous
        }
    }
}

}  // namespace fennimar
