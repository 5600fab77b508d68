#include "platform/linux/wayland/WaylandSources.h"

#include <tuple>

namespace fennimar {

namespace {

const QString kForeignToplevel = QStringLiteral("zwlr_foreign_toplevel_manager_v1");
const QString kPlasmaWindows = QStringLiteral("org_kde_plasma_window_management");
const QString kExtIdle = QStringLiteral("ext_idle_notifier_v1");
const QString kKdeIdle = QStringLiteral("org_kde_kwin_idle");
const QString kSeat = QStringLiteral("wl_seat");
const QString kMutterIdle = QStringLiteral("org.gnome.Mutter.IdleMonitor");

QString compositorName(const WaylandOffer &offer)
{
    return offer.compositor.isEmpty() ? QStringLiteral("this Wayland compositor") : offer.compositor;
}

// The piece a known desktop lacks for this agent, in words a parent can act on.
QString missingPiece(const WaylandOffer &offer)
{
    if (offer.busNames.contains(QStringLiteral("org.gnome.Shell")))
        return QStringLiteral(
            "GNOME Shell shows the focused window only to a Shell extension, and none is running "
            "for this agent");
    if (offer.busNames.contains(QStringLiteral("org.kde.KWin")))
        return QStringLiteral(
            "KWin shows its window list only to installed apps it knows, and this agent is not one "
            "of them");
    return QStringLiteral(
               "%1 offers no way to see the focused window (neither sway's IPC nor wlr "
               "foreign-toplevel management)")
        .arg(compositorName(offer));
}

}  // namespace

SourceChoice chooseSources(const WaylandOffer &offer)
{
    SourceChoice choice;
    if (!offer.connected) {
        choice.problem = QStringLiteral("the Wayland display does not accept a connection");
        return choice;
    }
    if (offer.swayIpc)
        choice.front = FrontSource::SwayIpc;
    else
        choice.passedOver << QStringLiteral("sway IPC: $SWAYSOCK unset or not answering");
    if (choice.front == FrontSource::None) {
        if (offer.globals.contains(kForeignToplevel))
            choice.front = FrontSource::ForeignToplevel;
        else
            choice.passedOver << QStringLiteral("wlr foreign-toplevel: no %1 global").arg(kForeignToplevel);
    }
    if (choice.front == FrontSource::None && offer.busNames.contains(QStringLiteral("org.kde.KWin"))) {
        if (offer.globals.contains(kPlasmaWindows))
            choice.front = FrontSource::PlasmaWindows;
        else
            choice.passedOver << QStringLiteral(
                                     "plasma window management: no %1 global (KWin offers it only to "
                                     "programs installed with a desktop file that asks for it)")
                                     .arg(kPlasmaWindows);
    }
    // The desktop's own route, where it was tried: why it failed comes first in what the user reads.
    for (const auto &[route, name, source] :
         {std::tuple{&offer.kwinScript, "KWin script", FrontSource::KwinScript},
          std::tuple{&offer.gnomeExtension, "GNOME Shell extension", FrontSource::GnomeExtension}}) {
        if (choice.front != FrontSource::None || !*route)
            continue;
        if ((*route)->isEmpty()) {
            choice.front = source;
        } else {
            choice.passedOver << QStringLiteral("%1: %2").arg(QLatin1String(name), **route);
            choice.route = **route;
        }
    }
    if (choice.front == FrontSource::None) {
        if (offer.accessibilityBus) {
            choice.front = FrontSource::AtspiActiveFrame;
            choice.limit = QStringLiteral(
                               "only apps that support accessibility can be seen on %1 (not terminals such as "
                               "foot or xterm, games, Wine or Java apps)")
                               .arg(compositorName(offer));
            if (!choice.route.isEmpty())
                choice.limit = choice.route + QStringLiteral("; meanwhile ") + choice.limit;
        } else {
            choice.passedOver << QStringLiteral("AT-SPI: no org.a11y.Bus on the session bus");
            choice.problem = choice.route.isEmpty() ? missingPiece(offer) : choice.route;
        }
    }

    const bool seat = offer.globals.contains(kSeat);
    if (seat && offer.globals.contains(kExtIdle))
        choice.idle = IdleSource::ExtIdleNotify;
    else
        choice.passedOver << QStringLiteral("ext-idle-notify: no %1")
                                 .arg(seat ? kExtIdle + QStringLiteral(" global") : QStringLiteral("seat"));
    if (choice.idle == IdleSource::None) {
        if (seat && offer.globals.contains(kKdeIdle))
            choice.idle = IdleSource::KdeIdle;
        else
            choice.passedOver << QStringLiteral("KDE idle: no %1 global").arg(kKdeIdle);
    }
    if (choice.idle == IdleSource::None) {
        if (offer.busNames.contains(kMutterIdle))
            choice.idle = IdleSource::MutterIdleMonitor;
        else
            choice.passedOver << QStringLiteral("Mutter idle: no %1 on the session bus").arg(kMutterIdle);
    }
    if (choice.idle == IdleSource::None)
        choice.idleProblem = QStringLiteral(
                                 "%1 does not tell the time since the last input (neither ext-idle-notify, KDE "
                                 "idle nor GNOME's idle monitor), so no second can be counted")
                                 .arg(compositorName(offer));
    return choice;
}

bool offersWindowList(const WaylandOffer &offer)
{
    return offer.swayIpc || offer.globals.contains(kForeignToplevel) || offer.globals.contains(kPlasmaWindows);
}

QString SourceChoice::logLine() const
{
    QString line = QStringLiteral("Wayland sources · app in front: %1 · idle: %2")
                       .arg(frontSourceName(front), idleSourceName(idle));
    if (!passedOver.isEmpty())
        line += QStringLiteral(" · passed over: ") + passedOver.join(QStringLiteral("; "));
    if (!problem.isEmpty())
        line += QStringLiteral(" · no app is counted: ") + problem;
    if (!idleProblem.isEmpty())
        line += QStringLiteral(" · nothing is counted: ") + idleProblem;
    if (!limit.isEmpty())
        line += QStringLiteral(" · the accessibility bus is the only source left: ") + limit;
    return line;
}

QString frontSourceName(FrontSource source)
{
    switch (source) {
        case FrontSource::SwayIpc:
            return QStringLiteral("sway IPC");
        case FrontSource::ForeignToplevel:
            return QStringLiteral("wlr foreign-toplevel");
        case FrontSource::PlasmaWindows:
            return QStringLiteral("plasma window management");
        case FrontSource::KwinScript:
            return QStringLiteral("KWin script");
        case FrontSource::GnomeExtension:
            return QStringLiteral("GNOME Shell extension");
        case FrontSource::AtspiActiveFrame:
            return QStringLiteral("AT-SPI active window");
        case FrontSource::None:
            break;
    }
    return QStringLiteral("none");
}

QString idleSourceName(IdleSource source)
{
    switch (source) {
        case IdleSource::ExtIdleNotify:
            return QStringLiteral("ext-idle-notify");
        case IdleSource::KdeIdle:
            return QStringLiteral("KDE idle");
        case IdleSource::MutterIdleMonitor:
            return QStringLiteral("Mutter IdleMonitor");
        case IdleSource::None:
            break;
    }
    return QStringLiteral("unknown");
}

}  // namespace fennimar
