#include "platform/linux/inhibit/Inhibitor.h"

#include "core/SiteHost.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>

namespace fennimar {

namespace {

// The reasons measured or read in the players' sources to be said only while a video plays:
// Chromium and every browser built on it ("Video Wake Lock"), Firefox ("Playing video"), VLC
// ("Playing some media.", taken by its video window), Totem and its forks ("Playing a movie").
// Anything else is not a film: a game's "Playing a game" (SDL), a page's "Wake Lock API", a
// tool's inhibitor, music ("Playing audio"). Each of those is held for as long as the program
// runs, and the inhibitor also keeps the screen from locking, so counting it would count a child
// who walked away for hours.
bool saysVideo(const Inhibitor &inhibitor)
{
    static const QStringList kVideoReasons{QStringLiteral("video wake lock"), QStringLiteral("playing video"),
                                           QStringLiteral("playing some media."), QStringLiteral("playing a movie")};
    return inhibitor.keepsScreen && kVideoReasons.contains(inhibitor.reason.trimmed().toLower());
}

QString lastPart(QString name, QChar separator)
{
    return name.mid(name.lastIndexOf(separator) + 1);
}

// The names one app goes by: a desktop id ("chromium"), the last part of a reverse-DNS one
// ("org.mozilla.firefox"), a Snap's name ("firefox_firefox"), an executable's file name.
QStringList namesOf(const RunningApp &front, const QString &executable)
{
    const QString id = front.identifier.toLower();
    QStringList names{id, lastPart(id, QLatin1Char('.')), id.section(QLatin1Char('_'), 0, 0)};
    if (!executable.isEmpty())
        names << lastPart(executable.toLower(), QLatin1Char('/'));
    names.removeAll(QString());
    return names;
}

// By pid where the source knows the holder's process (the browser's main process, which also owns
// its windows); else by name: the holder's name or the file name of its path against the front
// app's names. A name that says nothing of the app ("mutter" on GNOME Wayland, a window id from
// xdg-screensaver) matches nothing, so such an inhibitor never counts.
bool heldBy(const Inhibitor &inhibitor, const RunningApp &front, const QStringList &names)
{
    if (inhibitor.pid > 0)
        return inhibitor.pid == front.pid;
    QString app = inhibitor.app.toLower();
    if (app.endsWith(QLatin1String(".desktop")))
        app.chop(8);
    return names.contains(app) || names.contains(lastPart(app, QLatin1Char('/')));
}

// By pid where both are known and the player's is its own (a browser's or player's main process owns
// its MPRIS name and its windows); else by the app part of its name against the front app's names.
bool playerOf(const MediaPlayer &player, const RunningApp &front, const QStringList &names)
{
    if (front.pid > 0 && player.pid > 0 && !player.proxied)
        return player.pid == front.pid;
    return names.contains(player.app.toLower());
}

}  // namespace

bool frontHoldsVideo(const std::vector<Inhibitor> &held, const RunningApp &front, const QString &frontExecutable)
{
    const QStringList names = namesOf(front, frontExecutable);
    return std::any_of(held.begin(), held.end(),
                       [&](const Inhibitor &i) { return saysVideo(i) && heldBy(i, front, names); });
}

bool playersDenyFilm(const std::vector<MediaPlayer> &players, const RunningApp &front, const QString &frontExecutable,
                     const QString &page)
{
    const QStringList names = namesOf(front, frontExecutable);
    const std::optional<QString> host = SiteHost::of(page);
    bool any = false;
    for (const MediaPlayer &player : players) {
        if (!playerOf(player, front, names))
            continue;
        any = true;
        const std::optional<QString> playing = player.playing ? SiteHost::of(player.url) : std::nullopt;
        if (player.playing && (!host || !playing || *playing == *host))
            return false;
    }
    return any;
}

QString flatpakOf(qint64 pid)
{
    const QSettings info(QStringLiteral("/proc/%1/root/.flatpak-info").arg(pid), QSettings::IniFormat);
    return info.value(QStringLiteral("Application/name")).toString();
}

}  // namespace fennimar
