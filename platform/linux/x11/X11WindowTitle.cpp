#include "platform/linux/x11/X11WindowTitle.h"

#include "platform/linux/x11/XcbReply.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace fennimar::atspi {

namespace {
// A local X server answers in microseconds; one that takes this long is grabbed by another client
// or hung, and the sampler's tick goes on without the title.
constexpr auto kDeadline = std::chrono::milliseconds(50);
}  // namespace

X11WindowTitle::X11WindowTitle(QByteArray display) : m_display(std::move(display)) {}

X11WindowTitle::~X11WindowTitle()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11WindowTitle::connect()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(m_display.isEmpty() ? nullptr : m_display.constData(), &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return false;
    }
    m_root = screens.data->root;
    const char *names[] = {"_NET_ACTIVE_WINDOW", "_NET_WM_NAME", "UTF8_STRING"};
    xcb_intern_atom_cookie_t cookies[3];
    for (int i = 0; i < 3; ++i)
        cookies[i] = xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    xcb_flush(connection);
    std::uint32_t *atoms[] = {&m_activeWindow, &m_wmName, &m_utf8};
    const auto deadline = xcb::SteadyClock::now() + kDeadline;
    bool late = false;
    for (int i = 0; i < 3; ++i) {
        const auto reply = xcb::awaitReply<xcb_intern_atom_reply_t>(connection, cookies[i].sequence, deadline, late);
        *atoms[i] = reply ? reply->atom : static_cast<std::uint32_t>(XCB_ATOM_NONE);
    }
    if (late) {
        // Tried again on the next call rather than kept with atoms missing.
        xcb_disconnect(connection);
        return false;
    }
    m_connection = connection;
    return true;
}

QByteArray X11WindowTitle::property(std::uint32_t window, std::uint32_t atom, std::uint32_t type,
                                    std::chrono::steady_clock::time_point deadline)
{
    const xcb_get_property_cookie_t cookie = xcb_get_property(m_connection, 0, window, atom, type, 0, 1024);
    xcb_flush(m_connection);
    bool late = false;
    const auto reply = xcb::awaitReply<xcb_get_property_reply_t>(m_connection, cookie.sequence, deadline, late);
    QByteArray value;
    if (reply && reply->type == type) {
        const int length = xcb_get_property_value_length(reply.get());
        value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())), length);
    }
    return value;
}

QString X11WindowTitle::activeTitle()
{
    if (!connect() || m_activeWindow == XCB_ATOM_NONE)
        return {};
    // One deadline for the whole answer, however many replies it takes.
    const auto deadline = xcb::SteadyClock::now() + kDeadline;
    const QByteArray active = property(m_root, m_activeWindow, XCB_ATOM_WINDOW, deadline);
    if (active.size() < static_cast<qsizetype>(sizeof(std::uint32_t)))
        return {};
    std::uint32_t window = 0;
    std::memcpy(&window, active.constData(), sizeof window);
    if (window == 0)
        return {};
    if (m_wmName != XCB_ATOM_NONE && m_utf8 != XCB_ATOM_NONE) {
        const QByteArray name = property(window, m_wmName, m_utf8, deadline);
        if (!name.isEmpty())
            return QString::fromUtf8(name);
    }
    return QString::fromLatin1(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, deadline));
}

}  // namespace fennimar::atspi
