#pragma once

#include "platform/AppCatalog.h"
#include "platform/linux/apps/DesktopEntry.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace fennimar {

// One application desktop entry that survived the XDG rules.
struct AppEntry {
    QString id;    // desktop-file id without ".desktop" ("org.gnome.Calculator", "kde-konsole")
    QString path;  // the file it was read from
    QString name;  // localized Name
    std::optional<QString> category;
    QString startupWMClass;
    QString execProgram;  // the first word of Exec, as written
    QString tryExec;
    bool listed = true;  // offered to people: not NoDisplay, shown on this desktop
};

// The desktop entries of the applications folders under the XDG data directories: the installed
// applications, and the index the frontmost window is mapped through. Main thread only.
//
// The scan follows the desktop-entry rules: data directories in priority order, the first file
// with a desktop-file id wins (a Hidden one removes the id), subdirectories turn into dashes,
// Type must be Application, a missing TryExec program drops the entry, NoDisplay and
// OnlyShowIn/NotShowIn against the current desktops decide whether it is listed. The scan is
// cached and repeated only when a scanned folder's modification time changes (installing or
// removing a file changes it); an entry rewritten in place is picked up at the next such change.
class DesktopEntryCatalog : public AppCatalog {
public:
    struct Options {
        QStringList dataDirs;         // most important first; "applications" is appended
        QStringList currentDesktops;  // XDG_CURRENT_DESKTOP, split on ':'
        EntryLocale locale;
        // $XDG_DATA_HOME then $XDG_DATA_DIRS (with their defaults), XDG_CURRENT_DESKTOP, LC_*.
        static Options fromEnvironment();
    };

    explicit DesktopEntryCatalog(Options options = Options::fromEnvironment());

    std::vector<SeenApp> installedApps() override;
    // Served from the last scan without looking at the folders: it runs on every sampler tick.
    std::optional<SeenApp> describe(const RunningApp &app) override;

    // Look-ups for mapping a window to its entry. Each checks the folders first (a few stat calls)
    // and rescans when they changed. Pointers stay valid until the next call into the catalog.
    const AppEntry *find(const QString &id);
    // StartupWMClass equal to wmClass, exactly, else case-insensitively.
    const AppEntry *findByStartupWMClass(const QString &wmClass);
    // Exec's or TryExec's program resolving (through PATH, symlinks followed) to this file.
    const AppEntry *findByExecutable(const QString &canonicalPath);

    // Counts full scans, so that tests and benchmarks can tell a cached answer from a rescan.
    int scanCount() const { return m_scans; }

private:
    void refreshIfChanged();
    void scan();
    void scanFile(const QString &path, const QString &id, QHash<QString, bool> &seen);
    bool showInCurrentDesktop(const DesktopEntry &entry) const;
    void buildExecIndex();

    Options m_options;
    std::vector<AppEntry> m_entries;
    QHash<QString, int> m_byId;
    QHash<QString, int> m_byWMClass;
    QHash<QString, int> m_byWMClassFolded;
    QHash<QString, int> m_byExec;
    bool m_execIndexBuilt = false;
    QHash<QString, QDateTime> m_folders;  // every scanned folder (and missing root) -> mtime
    bool m_scanned = false;
    int m_scans = 0;
};

}  // namespace fennimar
