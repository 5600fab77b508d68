#pragma once

#include "platform/AppCatalog.h"
#include "platform/linux/ProgramFile.h"
#include "platform/linux/apps/DesktopEntry.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
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
    bool system = true;  // from the system's folders, not the user's
};

// The desktop entries of the applications folders under the XDG data directories: the installed
// applications, and the index the frontmost window is mapped through. Main thread only.
//
// The scan follows the desktop-entry rules: data directories in priority order, the first file
// with a desktop-file id wins (a Hidden one removes the id), subdirectories turn into dashes,
// with one exception: the system's folders come before the user's, so that a file of the user's
// may add ids but never hide, rename or take over a system entry's id, class or program (the
// agent's user is the one it measures, and one file would otherwise make the browser unknown);
// Type must be Application, a missing TryExec program drops the entry, NoDisplay and
// OnlyShowIn/NotShowIn against the current desktops decide whether it is listed. The scan is
// cached and repeated only when a scanned folder's modification time changes (installing or
// removing a file changes it); an entry rewritten in place is picked up at the next such change.
class DesktopEntryCatalog : public AppCatalog {
public:
    struct Options {
        QStringList systemDirs;       // most important first; "applications" is appended
        QStringList currentDesktops;  // XDG_CURRENT_DESKTOP, split on ':'
        EntryLocale locale;
        QStringList userDirs = {};  // as systemDirs, read after every one of them
        // System: /usr/local/share, /usr/share, Flatpak's and Snap's system exports, then the
        // entries of $XDG_DATA_DIRS whose applications folder only root may change. User:
        // $XDG_DATA_HOME (default ~/.local/share) and the other $XDG_DATA_DIRS entries. Then
        // XDG_CURRENT_DESKTOP and LC_*.
        static Options fromEnvironment();
    };

    explicit DesktopEntryCatalog(Options options = Options::fromEnvironment());

    std::vector<SeenApp> installedApps() override;
    // Served from the last scan without looking at the folders: it runs on every sampler tick.
    std::optional<SeenApp> describe(const RunningApp &app) override;

    // Look-ups for mapping a window to its entry. Each checks the folders first (a few stat calls)
    // and rescans when they changed. Pointers stay valid until the next call into the catalog.
    // systemOnly: a user's entry never answers.
    const AppEntry *find(const QString &id, bool systemOnly = false);
    // StartupWMClass equal to wmClass, exactly, else case-insensitively.
    const AppEntry *findByStartupWMClass(const QString &wmClass, bool systemOnly = false);
    // Exec's or TryExec's program resolving (through PATH, symlinks followed) to this very file
    // (device and inode). shared, when given, tells whether other system entries name the same file.
    const AppEntry *findByExecutable(const ProgramFile &file, bool systemOnly = false, bool *shared = nullptr);

    // Counts full scans, so that tests and benchmarks can tell a cached answer from a rescan.
    int scanCount() const { return m_scans; }

private:
    void refreshIfChanged();
    void scan();
    void scanFile(const QString &path, const QString &id, bool system, QHash<QString, bool> &seen);
    const AppEntry *answer(const QHash<QString, int> &index, const QString &key, bool systemOnly) const;
    bool showInCurrentDesktop(const DesktopEntry &entry) const;
    void buildExecIndex();

    Options m_options;
    std::vector<AppEntry> m_entries;
    QHash<QString, int> m_byId;
    QHash<QString, int> m_byWMClass;
    QHash<QString, int> m_byWMClassFolded;
    QHash<std::pair<quint64, quint64>, int> m_byExec;  // device and inode -> first entry
    QSet<std::pair<quint64, quint64>> m_sharedExec;    // named by more than one entry
    bool m_execIndexBuilt = false;
    QHash<QString, QDateTime> m_folders;  // every scanned folder (and missing root) -> mtime
    bool m_scanned = false;
    int m_scans = 0;
};

}  // namespace fennimar
