#include "platform/linux/x11/X11RawInput.h"

#include "core/Log.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace fennimar {

X11RawInput::X11RawInput(Clock &clock, const QByteArray &display) : m_clock(clock), m_last(clock.monotonic())
{
    int screenNumber = 0;
    m_connection = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(m_connection, &xcb_input_id);
    auto *version =
        xcb_input_xi_query_version_reply(m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr);
    const bool raw = extension && extension->present && version &&
                     (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 2));
    std::free(version);
    if (!raw) {
        Log::info(QStringLiteral("no XInput 2.2 on this display \u00b7 a reset of the idle counter counts as input"));
        return;
    }
    m_opcode = extension->major_opcode;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    m_working = true;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    select(true);
}

X11RawInput::~X11RawInput()
{
    m_resume.cancel();
    delete m_notifier;
    if (m_connection)
        xcb_disconnect(m_connection);
}

std::optional<double> X11RawInput::secondsSinceInput() const
{
    if (!m_working)
        return std::nullopt;
    return static_cast<double>((m_clock.monotonic() - m_last).count()) / 1000.0;
}

void X11RawInput::select(bool on)
{
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL, 1}, 0};
    if (on)
        mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                    XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_BEGIN;
    xcb_input_xi_select_events(m_connection, m_root, 1, &mask.head);
    xcb_flush(m_connection);
}

void X11RawInput::drain()
{
    bool input = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        if ((event->response_type & 0x7f) == XCB_GE_GENERIC &&
            reinterpret_cast<xcb_ge_generic_event_t *>(event)->extension == m_opcode)
            input = true;
        std::free(event);
    }
    if (xcb_connection_has_error(m_connection)) {
        Log::warn(
            QStringLiteral("lost the X connection for raw input \u00b7 the idle counter alone says when input was"));
        m_working = false;
        m_notifier->setEnabled(false);
        return;
    }
    if (!input || m_paused)
        return;
    m_last = m_clock.monotonic();
    m_paused = true;
    select(false);
    m_resume = m_clock.callAfter(Millis(1000), [this] {
        m_paused = false;
        select(true);
    });
}

}  // namespace fennimar
