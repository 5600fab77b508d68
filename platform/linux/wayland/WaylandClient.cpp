#include "platform/linux/wayland/WaylandClient.h"

#include "core/Log.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "plasma-window-management-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QFile>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <map>

namespace fennimar {

namespace {

struct Advertised {
    uint32_t name = 0;
    uint32_t version = 0;
};

quintptr key(const void *handle)
{
    return reinterpret_cast<quintptr>(handle);
}

}  // namespace

struct WaylandClient::Globals {
    std::map<QString, Advertised> advertised;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    zwlr_foreign_toplevel_manager_v1 *toplevelManager = nullptr;
    std::map<quintptr, zwlr_foreign_toplevel_handle_v1 *> handles;
    org_kde_plasma_window_management *plasmaManager = nullptr;
    std::map<quintptr, org_kde_plasma_window *> plasmaWindows;
    ext_idle_notifier_v1 *extNotifier = nullptr;
    ext_idle_notification_v1 *extNotification = nullptr;
    org_kde_kwin_idle *kdeIdle = nullptr;
    org_kde_kwin_idle_timeout *kdeTimeout = nullptr;

    // Binds the advertised global at the lower of its version and the one this code was built for:
    // an event from a newer version would have no handler here.
    template <typename T>
    T *bind(const wl_interface &interface, uint32_t highest = UINT32_MAX)
    {
        const auto it = advertised.find(QString::fromLatin1(interface.name));
        if (it == advertised.end())
            return nullptr;
        const uint32_t version = std::min({it->second.version, static_cast<uint32_t>(interface.version), highest});
        return static_cast<T *>(wl_registry_bind(registry, it->second.name, &interface, version));
    }

    ~Globals()
    {
        for (const auto &[k, handle] : handles)
            zwlr_foreign_toplevel_handle_v1_destroy(handle);
        for (const auto &[k, window] : plasmaWindows)
            org_kde_plasma_window_destroy(window);
        if (plasmaManager)
            org_kde_plasma_window_management_destroy(plasmaManager);
        if (extNotification)
            ext_idle_notification_v1_destroy(extNotification);
        if (extNotifier)
            ext_idle_notifier_v1_destroy(extNotifier);
        if (kdeTimeout)
            org_kde_kwin_idle_timeout_release(kdeTimeout);
        if (kdeIdle)
            org_kde_kwin_idle_destroy(kdeIdle);
        if (toplevelManager)
            zwlr_foreign_toplevel_manager_v1_destroy(toplevelManager);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
    }
};

// The C listeners; each receives the client as its data.
struct WaylandListeners {
    static WaylandClient &of(void *data) { return *static_cast<WaylandClient *>(data); }

    static void global(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
    {
        of(data).m_globals->advertised[QString::fromLatin1(interface)] = Advertised{name, version};
        of(data).m_globalNames.insert(QString::fromLatin1(interface));
    }
    static void globalRemove(void *, wl_registry *, uint32_t) {}
    static constexpr wl_registry_listener registry{global, globalRemove};

    static void title(void *data, zwlr_foreign_toplevel_handle_v1 *h, const char *title)
    {
        of(data).m_toplevels.setTitle(key(h), QString::fromUtf8(title));
    }
    static void appId(void *data, zwlr_foreign_toplevel_handle_v1 *h, const char *appId)
    {
        of(data).m_toplevels.setAppId(key(h), QString::fromUtf8(appId));
    }
    static void output(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
    static void state(void *data, zwlr_foreign_toplevel_handle_v1 *h, wl_array *states)
    {
        bool activated = false;
        const auto *entries = static_cast<const uint32_t *>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
            activated = activated || entries[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        of(data).m_toplevels.setActivated(key(h), activated);
    }
    static void done(void *data, zwlr_foreign_toplevel_handle_v1 *h) { of(data).m_toplevels.done(key(h)); }
    static void closed(void *data, zwlr_foreign_toplevel_handle_v1 *h)
    {
        WaylandClient &client = of(data);
        client.m_toplevels.closed(key(h));
        client.m_globals->handles.erase(key(h));
        zwlr_foreign_toplevel_handle_v1_destroy(h);
    }
    static constexpr zwlr_foreign_toplevel_handle_v1_listener handle{title, appId, output, output, state, done, closed};

    static void toplevel(void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *h)
    {
        WaylandClient &client = of(data);
        client.m_globals->handles[key(h)] = h;
        client.m_toplevels.created(key(h));
        zwlr_foreign_toplevel_handle_v1_add_listener(h, &handle, data);
    }
    static void finished(void *data, zwlr_foreign_toplevel_manager_v1 *manager)
    {
        Log::warn(QStringLiteral("the compositor stopped sending its window list · no app in front"));
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        of(data).m_globals->toplevelManager = nullptr;
        of(data).m_toplevelsFinished = true;
    }
    static constexpr zwlr_foreign_toplevel_manager_v1_listener manager{toplevel, finished};

    // KDE's plasma window management: no "done" event, each event is whole in itself, and the
    // batch ends at the end of the dispatch as for foreign-toplevel.
    using Window = org_kde_plasma_window;
    static void plasmaAppId(void *data, Window *w, const char *appId)
    {
        of(data).m_toplevels.setAppId(key(w), QString::fromUtf8(appId));
        of(data).m_toplevels.done(key(w));
    }
    static void plasmaState(void *data, Window *w, uint32_t flags)
    {
        of(data).m_toplevels.setActivated(key(w), (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0);
        of(data).m_toplevels.done(key(w));
    }
    static void plasmaPid(void *data, Window *w, uint32_t pid)
    {
        of(data).m_toplevels.setPid(key(w), pid);
        of(data).m_toplevels.done(key(w));
    }
    static void plasmaUnmapped(void *data, Window *w)
    {
        WaylandClient &client = of(data);
        client.m_toplevels.closed(key(w));
        client.m_globals->plasmaWindows.erase(key(w));
        org_kde_plasma_window_destroy(w);
    }
    static void text(void *, Window *, const char *) {}
    static void plain(void *, Window *) {}
    // Each listener is value-initialised and then given a handler for every event up to the version we bind
    // (12): a newer plasma-wayland-protocols adds members for later events (Debian 13's has client_geometry
    // and stacking_order_changed_2), which KWin never sends to a client bound below their version.
    static constexpr org_kde_plasma_window_listener plasmaWindow = [] {
        org_kde_plasma_window_listener l{};
        l.title_changed = text;
        l.app_id_changed = plasmaAppId;
        l.state_changed = plasmaState;
        l.virtual_desktop_changed = [](void *, Window *, int32_t) {};
        l.themed_icon_name_changed = text;
        l.unmapped = plasmaUnmapped;
        l.initial_state = plain;
        l.parent_window = [](void *, Window *, Window *) {};
        l.geometry = [](void *, Window *, int32_t, int32_t, uint32_t, uint32_t) {};
        l.icon_changed = plain;
        l.pid_changed = plasmaPid;
        l.virtual_desktop_entered = text;
        l.virtual_desktop_left = text;
        l.application_menu = [](void *, Window *, const char *, const char *) {};
        l.activity_entered = text;
        l.activity_left = text;
        l.resource_name_changed = text;
        return l;
    }();
    static void plasmaWindowCreated(void *data, org_kde_plasma_window_management *manager, uint32_t id)
    {
        WaylandClient &client = of(data);
        Window *w = org_kde_plasma_window_management_get_window(manager, id);
        client.m_globals->plasmaWindows[key(w)] = w;
        client.m_toplevels.created(key(w));
        org_kde_plasma_window_add_listener(w, &plasmaWindow, data);
    }
    static constexpr org_kde_plasma_window_management_listener plasmaManager = [] {
        org_kde_plasma_window_management_listener l{};
        l.show_desktop_changed = [](void *, org_kde_plasma_window_management *, uint32_t) {};
        l.window = plasmaWindowCreated;
        l.stacking_order_changed = [](void *, org_kde_plasma_window_management *, wl_array *) {};
        l.stacking_order_uuid_changed = [](void *, org_kde_plasma_window_management *, const char *) {};
        // Bound below version 13, the compositor names new windows by id only.
        l.window_with_uuid = [](void *, org_kde_plasma_window_management *, uint32_t, const char *) {};
        return l;
    }();

    static void extIdled(void *data, ext_idle_notification_v1 *) { idled(data); }
    static void extResumed(void *data, ext_idle_notification_v1 *) { resumed(data); }
    static constexpr ext_idle_notification_v1_listener extIdle{extIdled, extResumed};
    static void kdeIdled(void *data, org_kde_kwin_idle_timeout *) { idled(data); }
    static void kdeResumed(void *data, org_kde_kwin_idle_timeout *) { resumed(data); }
    static constexpr org_kde_kwin_idle_timeout_listener kdeIdle{kdeIdled, kdeResumed};

    static void idled(void *data)
    {
        WaylandClient &client = of(data);
        if (client.m_idle)
            client.m_idle->idled(client.m_clock.monotonic());
    }
    static void resumed(void *data)
    {
        if (of(data).m_idle)
            of(data).m_idle->resumed();
    }
};

WaylandClient::WaylandClient(Clock &clock, const QByteArray &display, Millis timeout)
    : m_clock(clock), m_globals(std::make_unique<Globals>())
{
    m_display = wl_display_connect(display.isEmpty() ? nullptr : display.constData());
    if (!m_display)
        return;
    m_globals->registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_globals->registry, &WaylandListeners::registry, this);
    if (!roundtrip(timeout)) {
        markLost("did not list its globals in time");
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { pump(); });
}

WaylandClient::~WaylandClient()
{
    m_notifier.reset();
    m_globals.reset();
    if (m_display)
        wl_display_disconnect(m_display);
}

QString WaylandClient::compositorName() const
{
    if (!m_display)
        return {};
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(wl_display_get_fd(m_display), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.pid <= 0)
        return {};
    QFile comm(QStringLiteral("/proc/%1/comm").arg(peer.pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

bool WaylandClient::startToplevels(Millis timeout)
{
    if (!connected())
        return false;
    m_globals->toplevelManager =
        m_globals->bind<zwlr_foreign_toplevel_manager_v1>(zwlr_foreign_toplevel_manager_v1_interface);
    if (m_globals->toplevelManager) {
        zwlr_foreign_toplevel_manager_v1_add_listener(m_globals->toplevelManager, &WaylandListeners::manager, this);
    } else {
        m_globals->plasmaManager =
            m_globals->bind<org_kde_plasma_window_management>(org_kde_plasma_window_management_interface, 12);
        if (!m_globals->plasmaManager)
            return false;
        org_kde_plasma_window_management_add_listener(m_globals->plasmaManager, &WaylandListeners::plasmaManager, this);
    }
    // Two round trips: the first brings the handles, the second their first state.
    const bool answered = roundtrip(timeout) && roundtrip(timeout);
    m_toplevels.commit(m_clock.monotonic());
    return answered;
}

bool WaylandClient::startIdle(IdleSource source, Millis idleTimeout)
{
    if (!connected())
        return false;
    if (!m_globals->seat)
        m_globals->seat = m_globals->bind<wl_seat>(wl_seat_interface);
    if (!m_globals->seat)
        return false;
    const auto ms = static_cast<uint32_t>(idleTimeout.count());
    if (source == IdleSource::ExtIdleNotify) {
        m_globals->extNotifier = m_globals->bind<ext_idle_notifier_v1>(ext_idle_notifier_v1_interface);
        if (!m_globals->extNotifier)
            return false;
        // Version 2 (wayland-protocols 1.36) adds a notification of input alone; the plain one
        // honours idle inhibitors, so any window in view holding one kept the user present.
        m_idleInputOnly = wl_proxy_get_version(reinterpret_cast<wl_proxy *>(m_globals->extNotifier)) >= 2;
        m_globals->extNotification =
            m_idleInputOnly
                ? ext_idle_notifier_v1_get_input_idle_notification(m_globals->extNotifier, ms, m_globals->seat)
                : ext_idle_notifier_v1_get_idle_notification(m_globals->extNotifier, ms, m_globals->seat);
        ext_idle_notification_v1_add_listener(m_globals->extNotification, &WaylandListeners::extIdle, this);
    } else if (source == IdleSource::KdeIdle) {
        m_globals->kdeIdle = m_globals->bind<org_kde_kwin_idle>(org_kde_kwin_idle_interface);
        if (!m_globals->kdeIdle)
            return false;
        m_globals->kdeTimeout = org_kde_kwin_idle_get_idle_timeout(m_globals->kdeIdle, m_globals->seat, ms);
        org_kde_kwin_idle_timeout_add_listener(m_globals->kdeTimeout, &WaylandListeners::kdeIdle, this);
    } else {
        return false;
    }
    m_idle.emplace(idleTimeout);
    wl_display_flush(m_display);
    return true;
}

std::optional<double> WaylandClient::idleSeconds() const
{
    if (!m_idle || m_lost)
        return std::nullopt;
    return m_idle->seconds(m_clock.monotonic());
}

void WaylandClient::pump()
{
    if (!connected())
        return;
    readAndDispatch(false, Millis{0});
    m_toplevels.commit(m_clock.monotonic());
}

void WaylandClient::readAndDispatch(bool block, Millis timeout)
{
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return markLost("broke the connection");
    }
    wl_display_flush(m_display);
    pollfd fd{wl_display_get_fd(m_display), POLLIN, 0};
    if (::poll(&fd, 1, block ? static_cast<int>(timeout.count()) : 0) > 0) {
        if (wl_display_read_events(m_display) < 0)
            return markLost("closed the connection");
    } else {
        wl_display_cancel_read(m_display);
    }
    if (wl_display_dispatch_pending(m_display) < 0 || wl_display_get_error(m_display) != 0)
        markLost("broke the connection");
}

bool WaylandClient::roundtrip(Millis timeout)
{
    bool done = false;
    static constexpr wl_callback_listener listener{
        [](void *data, wl_callback *, uint32_t) { *static_cast<bool *>(data) = true; }};
    wl_callback *callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &listener, &done);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done && !m_lost) {
        const auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        readAndDispatch(true, left);
    }
    wl_callback_destroy(callback);
    return done;
}

void WaylandClient::markLost(const char *why)
{
    if (!m_lost)
        Log::warn(QStringLiteral("the Wayland compositor %1 · no app in front and idle time unknown until it is "
                                 "reached again")
                      .arg(QLatin1String(why)));
    m_lost = true;
    m_notifier.reset();
}

}  // namespace fennimar
