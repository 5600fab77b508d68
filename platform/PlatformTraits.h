#pragma once

#include <QSet>
#include <QString>

namespace fennimar::platform {

// What sets this platform apart, answered once here so that the floors above never test which
// platform they run on: the agent's identifier, its browsers, whether it has a display and tray.

// The agent's reverse-DNS identifier: the secret store's service name for the paired identity and
// the name of the start-at-login registration (systemd unit, autostart entry, launch agent).
inline constexpr const char *AgentBundleID = "app.fennimar.Agent";

// The prefix of this platform's apps in package ids: "mac:" on macOS, "linux:" on Linux.
QString appPrefix();

// The identifiers of the web browsers whose page, not the app, decides what counts.
const QSet<QString> &browserIds();

// Whether this process can show a tray icon. Linux: DISPLAY or WAYLAND_DISPLAY names a display (an
// empty variable names none; a start from a console or before the session is up has none). macOS:
// always, because the launch agent runs only in a login session's window server (Aqua).
bool hasDisplay();

// Whether the tray icon is a menu-bar status item (macOS): the system then opens the icon's menu on
// every click by itself, and draws the icon as a template image tinted to suit the menu bar.
bool trayIsStatusItem();

// "linux" / "macos": the value of the heartbeat's "os" and of the build identity's platform.
QString osName();

}  // namespace fennimar::platform
