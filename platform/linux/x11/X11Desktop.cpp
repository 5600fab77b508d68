#include "platform/linux/x11/X11Desktop.h"

#include "platform/linux/x11/XcbReply.h"

#include "core/Log.h"
#include "platform/linux/apps/AppResolver.h"
#include "platform/linux/apps/DesktopEntryCatalog.h"
#include "platform/linux/session/ScreenLockMonitor.h"

#include <QStringList>
#include <QSysInfo>

#include <xcb/res.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace fennimar {

namespace {

using xcb::SteadyClock;

// A local X server answers a batch in tens of microseconds; one that takes this long is hung, and
// the sampler's tick must go on without it.
constexpr auto kReplyDeadline = std::chrono::milliseconds(50);
// An unmapped window may still be setting its class or pid; it is looked at again this often.
constexpr Millis kRetryUnmapped{5000};
// A window manager sets the focus and the active-window property one after the other; a
// disagreement this long is no race but someone rewriting the property.
constexpr Millis kDisagreementLimit{5000};
// Windows between the focused one and its client window (a toolkit's focus proxy, a frame).
constexpr int kMaxWindowDepth = 8;
const QString kActiveWindowSource = QStringLiteral("active window");
constexpr std::array<Millis, X11Desktop::kMaxReconnects> kReconnectDelays = {
    Millis{1000}, Millis{2000}, Millis{4000}, Millis{8000}, Millis{16000}, Millis{32000}, Millis{60000}, Millis{60000}};

using xcb::awaitReply;
template <typename T>
using XReply = xcb::Reply<T>;

QByteArray propertyBytes(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
}

quint32 propertyCardinal(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4)
        return 0;
    return *static_cast<const quint32 *>(xcb_get_property_value(reply));
}

QString displayName(const QByteArray &display)
{
    return QString::fromLocal8Bit(display.isEmpty() ? qgetenv("DISPLAY") : display);
}

}  // namespace

struct X11Desktop::Connection {
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t activeWindow = XCB_ATOM_NONE, wmPid = XCB_ATOM_NONE, gtkAppId = XCB_ATOM_NONE,
               kdeDesktopFile = XCB_ATOM_NONE, wmState = XCB_ATOM_NONE;
    bool hasRes = false, hasScreenSaver = false;
    bool timedOut = false;

    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }

    static std::unique_ptr<Connection> open(const QByteArray &display);
    SteadyClock::time_point deadline() const { return SteadyClock::now() + kReplyDeadline; }
};

std::unique_ptr<X11Desktop::Connection> X11Desktop::Connection::open(const QByteArray &display)
{
    auto conn = std::make_unique<Connection>();
    int screenNumber = 0;
    conn->c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (xcb_connection_has_error(conn->c))
        return nullptr;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(conn->c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem <= 0)
        return nullptr;
    conn->root = screens.data->root;

    xcb_prefetch_extension_data(conn->c, &xcb_res_id);
    xcb_prefetch_extension_data(conn->c, &xcb_screensaver_id);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(conn->c, conn->root, XCB_CW_EVENT_MASK, &mask);
    const std::array<const char *, 5> names = {"_NET_ACTIVE_WINDOW", "_NET_WM_PID", "_GTK_APPLICATION_ID",
                                               "_KDE_NET_WM_DESKTOP_FILE", "WM_STATE"};
    std::array<xcb_intern_atom_cookie_t, 5> cookies{};
    for (size_t i = 0; i < names.size(); ++i)
        cookies[i] = xcb_intern_atom(conn->c, 0, static_cast<uint16_t>(strlen(names[i])), names[i]);
    // Replies arrive in order: once this one is in, the extension answers are too, so reading
    // them below cannot block.
    const xcb_get_input_focus_cookie_t sync = xcb_get_input_focus(conn->c);
    xcb_flush(conn->c);
    const auto deadline = conn->deadline();
    std::array<xcb_atom_t *, 5> atoms = {&conn->activeWindow, &conn->wmPid, &conn->gtkAppId, &conn->kdeDesktopFile,
                                         &conn->wmState};
    for (size_t i = 0; i < names.size(); ++i) {
        const auto reply = awaitReply<xcb_intern_atom_reply_t>(conn->c, cookies[i].sequence, deadline, conn->timedOut);
        if (!reply)
            return nullptr;
        *atoms[i] = reply->atom;
    }
    if (!awaitReply<xcb_get_input_focus_reply_t>(conn->c, sync.sequence, deadline, conn->timedOut))
        return nullptr;
    const xcb_query_extension_reply_t *res = xcb_get_extension_data(conn->c, &xcb_res_id);
    const xcb_query_extension_reply_t *saver = xcb_get_extension_data(conn->c, &xcb_screensaver_id);
    conn->hasRes = res && res->present;
    conn->hasScreenSaver = saver && saver->present;
    return conn;
}

X11Desktop::X11Desktop(Clock &clock, DesktopEntryCatalog &catalog, std::unique_ptr<ScreenLockMonitor> lock,
                       QByteArray display, std::shared_ptr<TamperEvidence> evidence)
    : m_clock(clock),
      m_catalog(catalog),
      m_lock(std::move(lock)),
      m_display(std::move(display)),
      m_evidence(std::move(evidence))
{
    // An explicit display is used even without $DISPLAY (Xwayland's, given by the Wayland desktop).
    if (m_display.isEmpty() && qEnvironmentVariable("DISPLAY").isEmpty()) {
        m_unsupported = true;
        m_unsupportedReason = QStringLiteral("no display to watch (DISPLAY is not set)");
        Log::warn(QStringLiteral("no display to watch · DISPLAY is not set · no app is counted"));
        return;
    }
    m_conn = Connection::open(m_display);
    if (!m_conn) {
        Log::warn(QStringLiteral("cannot open the X display · %1 · no frontmost app until it opens")
                      .arg(displayName(m_display)));
        m_reconnectFailures = 1;
        m_nextReconnect = m_clock.monotonic() + kReconnectDelays[0];
    }
}

X11Desktop::~X11Desktop() = default;

bool X11Desktop::ensureConnected()
{
    if (m_conn)
        return true;
    if (m_unsupported || m_reconnectFailures >= kMaxReconnects || m_clock.monotonic() < m_nextReconnect)
        return false;
    m_conn = Connection::open(m_display);
    if (m_conn) {
        Log::info(QStringLiteral("X display connected again · %1").arg(displayName(m_display)));
        m_reconnectFailures = 0;
        m_activeStale = true;
        m_activeWindow = 0;
        m_activeApp.reset();
        return true;
    }
    ++m_reconnectFailures;
    if (m_reconnectFailures >= kMaxReconnects) {
        Log::warn(QStringLiteral("X display still unreachable after %1 attempts · %2 · giving up until restart")
                      .arg(m_reconnectFailures)
                      .arg(displayName(m_display)));
        return false;
    }
    m_nextReconnect = m_clock.monotonic() + kReconnectDelays[static_cast<size_t>(m_reconnectFailures)];
    return false;
}

void X11Desktop::connectionLost()
{
    Log::warn(QStringLiteral("lost the X display connection · %1 · no frontmost app until it is back")
                  .arg(displayName(m_display)));
    m_conn.reset();
    m_activeApp.reset();
    m_activeWindow = 0;
    m_reconnectFailures = 0;
    m_nextReconnect = m_clock.monotonic() + kReconnectDelays[0];
}

std::optional<RunningApp> X11Desktop::frontmostApp()
{
    if (!ensureConnected())
        return std::nullopt;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_conn->c)) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto *notify = reinterpret_cast<xcb_property_notify_event_t *>(event);
            if (notify->window == m_conn->root && notify->atom == m_conn->activeWindow)
                m_activeStale = true;
        }
        std::free(event);
    }
    if (xcb_connection_has_error(m_conn->c)) {
        connectionLost();
        return std::nullopt;
    }
    if (!m_activeStale) {
        // A focus moved without the property (set to PointerRoot, or to a window the window manager
        // did not follow) sends us no event: one round trip a tick asks where it is.
        const auto cookie = xcb_get_input_focus(m_conn->c);
        xcb_flush(m_conn->c);
        const auto focus =
            awaitReply<xcb_get_input_focus_reply_t>(m_conn->c, cookie.sequence, m_conn->deadline(), m_conn->timedOut);
        m_activeStale = focus && focus->focus != m_focusWindow;
    }
    if (m_activeStale) {
        refreshActiveWindow();
    } else if (m_activeApp && m_activeApp->identifier.isEmpty() && m_clock.monotonic() >= m_retryUnmappedAt) {
        m_activeApp = describeWindow(m_activeWindow);
    }
    if (m_conn && m_conn->timedOut) {
        // A hung server: answer nothing now and ask again on the next tick.
        m_conn->timedOut = false;
        m_activeStale = true;
        if (!m_warnedUnresponsive)
            Log::warn(QStringLiteral("the X server did not answer in time · %1 · no frontmost app meanwhile")
                          .arg(displayName(m_display)));
        m_warnedUnresponsive = true;
        return std::nullopt;
    }
    return m_activeApp;
}

void X11Desktop::refreshActiveWindow()
{
    xcb_connection_t *c = m_conn->c;
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, m_conn->root, m_conn->activeWindow, XCB_ATOM_WINDOW, 0, 1);
    const xcb_get_input_focus_cookie_t focusCookie = xcb_get_input_focus(c);
    xcb_flush(c);
    const auto deadline = m_conn->deadline();
    const auto reply = awaitReply<xcb_get_property_reply_t>(c, cookie.sequence, deadline, m_conn->timedOut);
    const auto focus = awaitReply<xcb_get_input_focus_reply_t>(c, focusCookie.sequence, deadline, m_conn->timedOut);
    m_focusWindow = focus ? focus->focus : quint32{XCB_WINDOW_NONE};
    const quint32 focused = clientWindowOf(m_focusWindow);
    if (xcb_connection_has_error(c)) {
        connectionLost();
        return;
    }
    if (m_conn->timedOut)
        return;
    m_activeStale = false;
    // Any client may rewrite the root window's property; the keyboard focus only the window manager
    // and the focused application move. When the two name different client windows, the focus
    // decides, and both are read again on every tick until they agree. A focus on no client window
    // (None, or a window no window manager manages) while the property names one is a disagreement
    // too, though the named window is counted then.
    const quint32 named = propertyCardinal(reply.get());
    const quint32 window = focused != 0 ? focused : named;
    noteDisagreement(named, focused);
    // Under PointerRoot the keys follow the pointer, which moves without an event to us.
    if (m_focusWindow == XCB_INPUT_FOCUS_POINTER_ROOT || m_focusWindow == m_conn->root)
        m_activeStale = true;
    if (window == m_activeWindow && m_activeApp)
        return;
    m_activeWindow = window;
    m_activeApp = describeWindow(window);
}

quint32 X11Desktop::clientWindowOf(quint32 window)
{
    // The client window is the focused one or its nearest ancestor with WM_STATE, or the one child
    // with WM_STATE of a window manager's frame the focus is on; nothing (0) when none is found,
    // and then the property alone is taken. Under PointerRoot or the root, the keys go to the window
    // under the pointer: down from the root through the child under it to the first with WM_STATE.
    xcb_connection_t *c = m_conn->c;
    const auto deadline = m_conn->deadline();
    bool &late = m_conn->timedOut;
    const auto hasState = [&](xcb_window_t w) {
        const auto cookie = xcb_get_property(c, 0, w, m_conn->wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 0);
        xcb_flush(c);
        const auto reply = awaitReply<xcb_get_property_reply_t>(c, cookie.sequence, deadline, late);
        return reply && reply->type != XCB_ATOM_NONE;
    };
    if (window == XCB_INPUT_FOCUS_POINTER_ROOT || window == m_conn->root) {
        window = m_conn->root;
        for (int depth = 0; depth < kMaxWindowDepth; ++depth) {
            const auto cookie = xcb_query_pointer(c, window);
            xcb_flush(c);
            const auto pointer = awaitReply<xcb_query_pointer_reply_t>(c, cookie.sequence, deadline, late);
            if (!pointer || pointer->child == XCB_WINDOW_NONE)
                return 0;
            if (hasState(window = pointer->child))
                return window;
        }
        return 0;
    }
    for (int depth = 0; depth < kMaxWindowDepth && window > XCB_INPUT_FOCUS_POINTER_ROOT && window != m_conn->root;
         ++depth) {
        if (hasState(window))
            return window;
        const auto cookie = xcb_query_tree(c, window);
        xcb_flush(c);
        const auto tree = awaitReply<xcb_query_tree_reply_t>(c, cookie.sequence, deadline, late);
        if (!tree)
            return 0;
        if (tree->parent != m_conn->root) {
            window = tree->parent;
            continue;
        }
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()) && i < kMaxWindowDepth; ++i) {
            if (hasState(children[i]))
                return children[i];
        }
        return 0;
    }
    return 0;
}

void X11Desktop::noteDisagreement(quint32 named, quint32 focused)
{
    if (named == focused) {
        if (m_disagreeSince && !m_windowProblem.isEmpty() && m_evidence)
            m_evidence->clear(kActiveWindowSource);
        m_disagreeSince.reset();
        m_windowProblem.clear();
        return;
    }
    m_activeStale = true;
    const Millis now = m_clock.monotonic();
    if (!m_disagreeSince)
        m_disagreeSince = now;
    if (now - *m_disagreeSince < kDisagreementLimit || !m_windowProblem.isEmpty())
        return;
    m_windowProblem = focused != 0 ? QStringLiteral(
                                         "the active window the desktop names (0x%1) is not the one "
                                         "with the keyboard (0x%2), so the one with the keyboard is counted")
                                         .arg(named, 0, 16)
                                         .arg(focused, 0, 16)
                                   : QStringLiteral(
                                         "the active window the desktop names (0x%1) does not have the "
                                         "keyboard, which is on no application's window")
                                         .arg(named, 0, 16);
    if (m_evidence)
        m_evidence->raise(kActiveWindowSource, m_windowProblem);
    else
        Log::warn(m_windowProblem);
}

std::optional<RunningApp> X11Desktop::describeWindow(quint32 window)
{
    if (window == XCB_WINDOW_NONE || !m_conn)
        return std::nullopt;
    xcb_connection_t *c = m_conn->c;
    const auto get = [&](xcb_atom_t atom, uint32_t words) {
        return xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, words);
    };
    const auto pidCookie = get(m_conn->wmPid, 1);
    const auto classCookie = get(XCB_ATOM_WM_CLASS, 256);
    const auto gtkCookie = get(m_conn->gtkAppId, 256);
    const auto kdeCookie = get(m_conn->kdeDesktopFile, 256);
    const auto machineCookie = get(XCB_ATOM_WM_CLIENT_MACHINE, 64);
    xcb_res_query_client_ids_cookie_t resCookie{};
    if (m_conn->hasRes) {
        xcb_res_client_id_spec_t clientId{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
        resCookie = xcb_res_query_client_ids(c, 1, &clientId);
    }
    xcb_flush(c);

    const auto deadline = m_conn->deadline();
    bool &late = m_conn->timedOut;
    const auto pidReply = awaitReply<xcb_get_property_reply_t>(c, pidCookie.sequence, deadline, late);
    const auto classReply = awaitReply<xcb_get_property_reply_t>(c, classCookie.sequence, deadline, late);
    const auto gtkReply = awaitReply<xcb_get_property_reply_t>(c, gtkCookie.sequence, deadline, late);
    const auto kdeReply = awaitReply<xcb_get_property_reply_t>(c, kdeCookie.sequence, deadline, late);
    const auto machineReply = awaitReply<xcb_get_property_reply_t>(c, machineCookie.sequence, deadline, late);

    WindowFacts facts;
    if (m_conn->hasRes) {
        const auto res = awaitReply<xcb_res_query_client_ids_reply_t>(c, resCookie.sequence, deadline, late);
        if (res) {
            for (auto it = xcb_res_query_client_ids_ids_iterator(res.get()); it.rem > 0;
                 xcb_res_client_id_value_next(&it)) {
                [[maybe_unused]] const auto &[client, length] = *it.data;
                if ((client.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) &&
                    xcb_res_client_id_value_value_length(it.data) >= 1)
                    facts.pid = xcb_res_client_id_value_value(it.data)[0];
            }
        }
    }
    if (late)
        return std::nullopt;
    if (facts.pid == 0) {
        // A client's own pid claim is only meaningful when it runs on this machine.
        const QByteArray machine = propertyBytes(machineReply.get());
        const QByteArray here = QSysInfo::machineHostName().toUtf8();
        if (machine.isEmpty() || machine == here)
            facts.pid = propertyCardinal(pidReply.get());
    }
    const QList<QByteArray> wmClass = propertyBytes(classReply.get()).split('\0');
    facts.wmInstance = wmClass.size() > 0 ? QString::fromUtf8(wmClass[0]) : QString();
    facts.wmClass = wmClass.size() > 1 ? QString::fromUtf8(wmClass[1]) : QString();
    facts.gtkApplicationId = QString::fromUtf8(propertyBytes(gtkReply.get()));
    facts.kdeDesktopFile = QString::fromUtf8(propertyBytes(kdeReply.get()));
    facts.readProcess();

    RunningApp app = AppResolver::resolve(facts, m_catalog);
    if (app.identifier.isEmpty())
        m_retryUnmappedAt = m_clock.monotonic() + kRetryUnmapped;
    return app;
}

std::optional<double> X11Desktop::secondsSinceInput()
{
    if (!ensureConnected())
        return std::nullopt;
    return queryIdle();
}

std::optional<double> X11Desktop::queryIdle()
{
    if (!m_conn->hasScreenSaver)
        return std::nullopt;
    xcb_connection_t *c = m_conn->c;
    const auto cookie = xcb_screensaver_query_info(c, m_conn->root);
    xcb_flush(c);
    bool late = false;
    const auto reply = awaitReply<xcb_screensaver_query_info_reply_t>(c, cookie.sequence, m_conn->deadline(), late);
    if (xcb_connection_has_error(c)) {
        connectionLost();
        return std::nullopt;
    }
    if (!reply)
        return std::nullopt;
    return reply->ms_since_user_input / 1000.0;
}

QString X11Desktop::samplingProblem()
{
    if (m_unsupported)
        return m_unsupportedReason;
    if (!m_conn) {
        if (m_reconnectFailures >= kMaxReconnects)
            return QStringLiteral("the display connection was lost and could not be opened again");
        return QStringLiteral("no display connection");
    }
    QStringList problems{m_windowProblem};
    // Without it every tick's time since input is unknown, taken as away: nothing would ever count.
    if (!m_conn->hasScreenSaver)
        problems << QStringLiteral(
            "the X server offers no idle time (no MIT-SCREEN-SAVER extension), so nothing is counted");
    if (m_lock)
        problems << m_lock->problem();
    problems.removeAll(QString());
    return problems.join(QStringLiteral("; "));
}

bool X11Desktop::screenLocked()
{
    if (!m_lock)
        return false;
    // A lock claimed while someone keeps typing is put to the test; the idle query costs microseconds.
    // A counter reset that no device caused (a player's) is not typing.
    if (m_lock->locked() && m_conn) {
        std::optional<double> idle = queryIdle();
        const std::optional<double> raw = m_rawInput ? m_rawInput() : std::nullopt;
        if (idle && raw)
            idle = std::max(*idle, *raw);
        m_lock->noteInput(m_clock.monotonic(), idle);
    }
    return m_lock->locked();
}

}  // namespace fennimar
