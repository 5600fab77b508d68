#include "platform/linux/wayland/WaylandDesktop.h"

#include "core/Log.h"
#include "platform/linux/apps/AppResolver.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/x11/X11Desktop.h"
#include "platform/linux/atspi/AtspiActiveFrame.h"
#include "platform/linux/wayland/GnomeExtension.h"
#include "platform/linux/wayland/KwinScript.h"
#include "platform/linux/wayland/SocketPeers.h"
#include "platform/linux/wayland/SwayIpc.h"
#include "platform/linux/wayland/WaylandClient.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

#include <algorithm>

namespace fennimar {

namespace {

// An answer of Mutter's this old is not extended any more: the shell stopped answering.
constexpr Millis kMutterAnswerFresh{5000};
constexpr int kMutterCallTimeoutMs = 1000;
// Mutter's idle time is asked this often whatever the sampler does: the sampler asks only when its
// own bound runs out (a minute after the last input it saw), and an answer it finds then must be
// fresh, or an active second is judged on an unknown idle time and lost.
constexpr Millis kMutterAskEvery{2000};
// A compositor that did not answer is looked for again after 10 s, then twice as long each time up to 5 min.
constexpr Millis kRetryAtMost{300000};
// A window whose app_id names no connected program is looked for again after this long.
constexpr Millis kPeerMissKept{60000};

const QStringList kBusNames = {QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("org.gnome.Shell"),
                               QStringLiteral("org.kde.KWin")};

}  // namespace

struct WaylandDesktop::Window {
    QString appId, wmClass, wmInstance;
    qint64 pid = 0;
    bool operator==(const Window &) const = default;
};

bool WaylandDesktop::isWaylandSession()
{
    return !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty() ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

WaylandDesktop::WaylandDesktop(Clock &clock, DesktopEntryCatalog &catalog, std::unique_ptr<ScreenLockMonitor> lock,
                               QDBusConnection sessionBus, Options options)
    : m_clock(clock),
      m_catalog(catalog),
      m_lock(std::move(lock)),
      m_bus(std::move(sessionBus)),
      m_options(std::move(options)),
      m_context(std::make_unique<QObject>())
{
    start();
}

void WaylandDesktop::start()
{
    const Options &options = m_options;
    Clock &clock = m_clock;
    m_kwin.reset();
    m_gnome.reset();
    m_atspi.reset();
    m_sway.reset();
    m_wayland.reset();
    m_lastWindow.reset();
    m_lastApp.reset();
    m_retryAt = m_clock.monotonic() + m_retryDelay;
    WaylandOffer offer;
    m_wayland = std::make_unique<WaylandClient>(clock, options.display, options.connectTimeout);
    offer.connected = m_wayland->connected();
    offer.globals = m_wayland->globals();
    const QString swaySocket = options.swaySocket.isEmpty() ? qEnvironmentVariable("SWAYSOCK") : options.swaySocket;
    if (!swaySocket.isEmpty()) {
        m_sway = std::make_unique<SwayIpc>(swaySocket, options.connectTimeout);
        offer.swayIpc = m_sway->connected();
    }
    if (m_bus.isConnected()) {
        for (const QString &name : kBusNames) {
            if (m_bus.interface()->isServiceRegistered(name))
                offer.busNames.insert(name);
        }
        // The accessibility bus's launcher is usually started on demand.
        const QString a11y = QStringLiteral("org.a11y.Bus");
        offer.accessibilityBus = m_bus.interface()->isServiceRegistered(a11y) ||
                                 m_bus.interface()->activatableServiceNames().value().contains(a11y);
    }
    // A desktop's own route costs a script or an extension inside its shell: only where needed.
    const bool windowList = offersWindowList(offer);
    if (!windowList && offer.busNames.contains(QStringLiteral("org.kde.KWin"))) {
        m_kwin = std::make_unique<KwinScript>(clock, m_bus, options.connectTimeout);
        offer.kwinScript = m_kwin->error();
    }
    if (!windowList && (!m_kwin || !m_kwin->loaded()) && offer.busNames.contains(QStringLiteral("org.gnome.Shell"))) {
        m_gnome = std::make_unique<GnomeExtension>(clock, m_bus, options.connectTimeout, options.dataHome);
        // A Shell still starting is asked again: its extension stays the source meanwhile.
        offer.gnomeExtension = m_gnome->state() == GnomeExtension::State::Unanswered ? QString() : m_gnome->problem();
    }
    m_socketPath =
        options.display.isEmpty() ? qEnvironmentVariable("WAYLAND_DISPLAY") : QString::fromLocal8Bit(options.display);
    if (m_socketPath.isEmpty())
        m_socketPath = QStringLiteral("wayland-0");
    if (!m_socketPath.startsWith(QLatin1Char('/')))
        m_socketPath = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + m_socketPath;
    m_compositor = m_wayland->compositorName();
    offer.compositor = m_compositor;
    m_choice = chooseSources(offer);
    if (m_choice.front != FrontSource::SwayIpc)
        m_sway.reset();
    if (m_choice.front != FrontSource::KwinScript)
        m_kwin.reset();
    if (m_choice.front != FrontSource::GnomeExtension)
        m_gnome.reset();
    if (m_choice.front == FrontSource::AtspiActiveFrame)
        m_atspi = std::make_unique<atspi::AtspiActiveFrame>(clock, m_bus, atspi::AtspiActiveFrame::Options{});
    // Beside sway's IPC the window list still says whether anything has focus at all: a screen
    // locker takes the focus without a window event on the IPC socket.
    m_toplevelGate = m_choice.front == FrontSource::SwayIpc &&
                     offer.globals.contains(QStringLiteral("zwlr_foreign_toplevel_manager_v1"));
    if ((m_choice.front == FrontSource::ForeignToplevel || m_choice.front == FrontSource::PlasmaWindows ||
         m_toplevelGate) &&
        !m_wayland->startToplevels(options.connectTimeout))
        Log::warn(QStringLiteral("the compositor did not send its window list in time · it may still come"));
    if (m_choice.idle == IdleSource::ExtIdleNotify || m_choice.idle == IdleSource::KdeIdle)
        m_wayland->startIdle(m_choice.idle, options.idleTimeout);
    m_mutterAsking.cancel();
    if (m_choice.idle == IdleSource::MutterIdleMonitor) {
        askMutterIdle();
        m_mutterAsking = m_clock.callEvery(kMutterAskEvery, [this] { askMutterIdle(); });
    }
    const QString who = m_compositor.isEmpty() ? QStringLiteral("unknown compositor") : m_compositor;
    // Looked at again and again while something better may come: said once per change.
    const QString line = m_choice.logLine() +
                         (m_wayland->idleIsInputOnly() ? QStringLiteral(" (input only)") : QString()) +
                         QStringLiteral(" · ") + who;
    if (line == m_loggedChoice)
        return;
    m_loggedChoice = line;
    if (m_choice.problem.isEmpty() && m_choice.limit.isEmpty() && m_choice.idleProblem.isEmpty())
        Log::info(line);
    else
        Log::warn(line);
}

WaylandDesktop::~WaylandDesktop() = default;

std::optional<RunningApp> WaylandDesktop::frontmostApp()
{
    // A compositor that did not answer at start (busy at login) or that went away, or a session
    // where nothing showed the window in front or the idle time, or only the accessibility bus did
    // (KWin or GNOME Shell still starting), is looked at again, less and less often.
    const bool nothing = !m_wayland->connected() || m_choice.front == FrontSource::None ||
                         (m_choice.front == FrontSource::SwayIpc && !m_sway->connected());
    const bool fallback = m_choice.front == FrontSource::AtspiActiveFrame || m_choice.idle == IdleSource::None;
    if ((nothing || fallback) && m_clock.monotonic() >= m_retryAt) {
        m_retryDelay = std::min(m_retryDelay * 2, kRetryAtMost);
        m_retryAt = m_clock.monotonic() + m_retryDelay;
        if (nothing || betterOffered())
            start();
    }
    std::optional<Window> window;
    m_frontTitle.clear();
    if (m_choice.front == FrontSource::SwayIpc) {
        m_sway->pump();
        if (m_toplevelGate)
            m_wayland->pump();
        const bool anyFocus = !m_toplevelGate || m_wayland->toplevels().front(m_clock.monotonic()).has_value();
        if (const auto &view = m_sway->focused(); view && anyFocus) {
            window = Window{view->appId, view->wmClass, view->wmInstance, view->pid};
            m_frontTitle = view->title;
        }
    } else if (m_choice.front == FrontSource::ForeignToplevel || m_choice.front == FrontSource::PlasmaWindows) {
        m_wayland->pump();
        const ToplevelTracker &toplevels = m_wayland->toplevels();
        if (toplevels.ambiguous() && !m_warnedAmbiguous) {
            m_warnedAmbiguous = true;
            Log::warn(
                QStringLiteral("%1 marks several windows as active at once · nothing counts as in front meanwhile")
                    .arg(m_compositor));
        }
        if (const auto front = toplevels.front(m_clock.monotonic())) {
            window = Window{front->appId, front->appId, QString(), front->pid};
            m_frontTitle = front->title;
        }
    } else if (m_choice.front == FrontSource::KwinScript || m_choice.front == FrontSource::GnomeExtension) {
        if (const auto front = m_kwin ? m_kwin->frontmost() : m_gnome->frontmost()) {
            window = Window{front->appId, front->wmClass, front->wmInstance, front->pid};
            m_frontTitle = front->title;
        }
    } else if (m_choice.front == FrontSource::AtspiActiveFrame) {
        if (const auto front = m_atspi->front())
            window = Window{QString(), QString(), QString(), front->pid};
    }
    if (!window) {
        m_lastWindow.reset();
        m_lastApp.reset();
        return std::nullopt;
    }
    if (!m_lastWindow || !(*m_lastWindow == *window)) {
        m_lastWindow = std::make_unique<Window>(*window);
        m_lastApp = resolve(*window);
    }
    // An X window in a window list without pids: Xwayland's active window has the pid, and is
    // believed only when it names the same app (it may lag behind the window list for a moment).
    if (m_choice.front == FrontSource::ForeignToplevel && m_lastApp && m_lastApp->pid <= 0 &&
        !m_lastApp->identifier.isEmpty()) {
        if (auto x = xwaylandFront(); x && x->identifier == m_lastApp->identifier)
            return x;
    }
    return m_lastApp;
}

bool WaylandDesktop::betterOffered()
{
    const bool named = m_bus.isConnected();
    if (m_choice.idle == IdleSource::None && named &&
        m_bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Mutter.IdleMonitor")))
        return true;
    if (m_choice.front != FrontSource::AtspiActiveFrame)
        return false;
    // Tried beside the sources in use, which a restart would interrupt (the accessibility bus's
    // answer, the idle notification's clock): only a source that works now is worth one.
    const QString swaySocket = m_options.swaySocket.isEmpty() ? qEnvironmentVariable("SWAYSOCK") : m_options.swaySocket;
    if (!swaySocket.isEmpty() && SwayIpc(swaySocket, m_options.connectTimeout).connected())
        return true;
    if (named && m_bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin")))
        return KwinScript(m_clock, m_bus, m_options.connectTimeout).loaded();
    if (named && m_bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Shell")))
        return GnomeExtension(m_clock, m_bus, m_options.connectTimeout, m_options.dataHome).state() ==
               GnomeExtension::State::Running;
    return false;
}

std::optional<RunningApp> WaylandDesktop::xwaylandFront()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (!m_xwayland && !display.isEmpty())
        m_xwayland = std::make_unique<X11Desktop>(m_clock, m_catalog, nullptr, display);
    return m_xwayland ? m_xwayland->frontmostApp() : std::nullopt;
}

std::optional<RunningApp> WaylandDesktop::resolve(const Window &window)
{
    WindowFacts facts;
    facts.pid = window.pid;
    // A Wayland app_id is the app's own claim of its desktop id, and also what StartupWMClass names.
    facts.gtkApplicationId = window.appId;
    facts.wmClass = window.wmClass.isEmpty() ? window.appId : window.wmClass;
    facts.wmInstance = window.wmInstance;
    if (facts.pid <= 0 && m_choice.front == FrontSource::ForeignToplevel)
        facts.pid = peerPid(window.appId);
    if (facts.pid > 0)
        facts.readProcess();
    return AppResolver::resolve(facts, m_catalog);
}

qint64 WaylandDesktop::peerPid(const QString &appId)
{
    if (appId.isEmpty())
        return 0;
    // A look costs milliseconds: a pid is kept while its process lives, a miss for a while.
    const Millis now = m_clock.monotonic();
    const auto known = m_peerPids.find(appId);
    if (known != m_peerPids.end()) {
        const auto [pid, at] = known->second;
        if (pid > 0 ? QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)) : now - at < kPeerMissKept)
            return pid;
    }
    const qint64 pid = SocketPeers::pidFor(appId, SocketPeers::connectedTo(m_socketPath, appId));
    m_peerPids[appId] = {pid, now};
    return pid;
}

std::optional<double> WaylandDesktop::secondsSinceInput()
{
    switch (m_choice.idle) {
        case IdleSource::ExtIdleNotify:
        case IdleSource::KdeIdle:
            m_wayland->pump();
            return m_wayland->idleSeconds();
        case IdleSource::MutterIdleMonitor: {
            askMutterIdle();
            const Millis age = m_clock.monotonic() - m_mutterAnsweredAt;
            if (!m_mutterIdleSeconds || age > kMutterAnswerFresh)
                return std::nullopt;
            return *m_mutterIdleSeconds + static_cast<double>(age.count()) / 1000.0;
        }
        case IdleSource::None:
            break;
    }
    return std::nullopt;
}

void WaylandDesktop::askMutterIdle()
{
    if (m_mutterPending)
        return;
    m_mutterPending = true;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    // Parented to the context, so that a reply arriving after this object is gone goes nowhere.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kMutterCallTimeoutMs), m_context.get());
    const Millis askedAt = m_clock.monotonic();
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context.get(),
                     [this, watcher, askedAt](QDBusPendingCallWatcher *) {
                         m_mutterPending = false;
                         const QDBusPendingReply<quint64> reply = *watcher;
                         if (reply.isValid()) {
                             m_mutterIdleSeconds = static_cast<double>(reply.value()) / 1000.0;
                             m_mutterAnsweredAt = askedAt;
                         }
                         watcher->deleteLater();
                     });
}

QString WaylandDesktop::replacedSource() const
{
    return m_kwin ? m_kwin->replaced() : m_gnome ? m_gnome->replaced() : QString();
}

bool WaylandDesktop::screenLocked()
{
    if (!m_lock)
        return false;
    // A lock claimed while someone keeps typing is put to the test, as on X11.
    if (m_lock->locked())
        m_lock->noteInput(m_clock.monotonic(), secondsSinceInput());
    return m_lock->locked();
}

QString WaylandDesktop::samplingProblem()
{
    // A script or extension of ours replaced by someone else's is evidence for the parent too.
    if (m_options.tamper) {
        const QString replaced = replacedSource();
        if (replaced.isEmpty())
            m_options.tamper->clear(QStringLiteral("desktop script"));
        else
            m_options.tamper->raise(QStringLiteral("desktop script"), replaced);
    }
    if (!m_choice.problem.isEmpty())
        return m_choice.problem;
    // Without idle time nothing counts at all, which matters more than which apps can be seen.
    QStringList problems{m_choice.idleProblem, frontProblem(), m_lock ? m_lock->problem() : QString()};
    problems.removeAll(QString());
    return problems.join(QStringLiteral("; "));
}

QString WaylandDesktop::frontProblem()
{
    const QString compositor = m_compositor.isEmpty() ? QStringLiteral("this Wayland compositor") : m_compositor;
    if (m_choice.front == FrontSource::AtspiActiveFrame) {
        const QString route = m_choice.route.isEmpty() ? QString() : m_choice.route + QStringLiteral("; meanwhile ");
        switch (m_atspi->status()) {
            case atspi::AtspiActiveFrame::Status::Unreachable:
                return route + QStringLiteral(
                                   "the accessibility bus does not answer, and it is the only way to see the app "
                                   "in front on %1")
                                   .arg(compositor);
            case atspi::AtspiActiveFrame::Status::Disabled:
                return route +
                       QStringLiteral("the desktop's accessibility support is off, so most apps cannot be seen on %1")
                           .arg(compositor);
            default:
                return m_choice.limit;
        }
    }
    if (m_choice.front == FrontSource::KwinScript)
        return m_kwin->problem();
    if (m_choice.front == FrontSource::GnomeExtension)
        return m_gnome->problem();
    const bool lost = m_choice.front == FrontSource::SwayIpc ? !m_sway->connected()
                                                             : m_wayland->lost() || m_wayland->toplevelsFinished();
    if (lost)
        return QStringLiteral("the connection to %1 was lost")
            .arg(m_compositor.isEmpty() ? QStringLiteral("the Wayland compositor") : m_compositor);
    return {};
}

std::optional<bool> WaylandDesktop::idleInhibition()
{
    if ((m_choice.idle != IdleSource::ExtIdleNotify && m_choice.idle != IdleSource::KdeIdle) ||
        m_wayland->idleIsInputOnly())
        return std::nullopt;
    if (!m_sway)
        return false;
    m_sway->askTree();
    return m_sway->inhibiting();
}

bool WaylandDesktop::frontAppWatching(const RunningApp &front)
{
    if (!m_sway)
        return false;
    m_sway->askTree();
    const std::optional<SwayView> &view = m_sway->focused();
    return view && view->inhibitingIdle && view->pid == front.pid;
}

}  // namespace fennimar
