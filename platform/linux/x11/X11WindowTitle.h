#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>

struct xcb_connection_t;

namespace fennimar::atspi {

// The title of the X11 session's active window (_NET_ACTIVE_WINDOW's _NET_WM_NAME, else WM_NAME).
// A browser's frame carries the same text as its name, which identifies the focused frame when the
// browser's own ACTIVE state lags behind the window manager. Connects on first use; two round trips
// to the local X server per call, all of them together waited for at most 50 ms (a server grabbed
// by another client answers nothing until the grab ends). Main thread only.
class X11WindowTitle {
public:
    explicit X11WindowTitle(QByteArray display = {});  // empty: $DISPLAY
    ~X11WindowTitle();
    X11WindowTitle(const X11WindowTitle &) = delete;
    X11WindowTitle &operator=(const X11WindowTitle &) = delete;

    // The active window's title; empty when there is no display, no active window or no title.
    QString activeTitle();

private:
    bool connect();
    QByteArray property(std::uint32_t window, std::uint32_t atom, std::uint32_t type,
                        std::chrono::steady_clock::time_point deadline);

    QByteArray m_display;
    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_activeWindow = 0;
    std::uint32_t m_wmName = 0;
    std::uint32_t m_utf8 = 0;
};

}  // namespace fennimar::atspi
