#pragma once

#include "menubar/MenuActions.h"
#include "menubar/MenuReadings.h"

#include <QString>

#include <functional>
#include <memory>

class QCoreApplication;

namespace fennimar {

class Clock;

// The tray icon on screen, as the composition root sees it. Main thread only.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;

    // Whether the icon is on screen: false until a tray host has appeared. Cheap.
    virtual bool iconShown() const = 0;

    // Sets the icon for the current readings. Called after every change of the agent; cheap (the
    // icons are rendered once and cached).
    virtual void refreshIcon() = 0;
};

// Everything of the agent that needs Qt Gui and Widgets: the application object that connects to
// the display, the tray icon with its menu, the clipboard. A headless agent never loads it, so that
// it maps neither library (they cost about 3.5 MB of private memory once loaded). On Linux it is a
// module of its own, loaded on demand (app/TrayLoader.h); where CMake links it into the executable
// the same interface is handed out directly. Main thread only; the module outlives everything it
// made, up to the end of the process.
class TrayModule {
public:
    using ReadingsSource = std::function<MenuReadings()>;

    virtual ~TrayModule() = default;

    // The widgets application, connected to the display. Called once, before any other Qt object
    // exists; `argc` and `argv` must outlive it (they are main's). Exits the process as Qt does
    // when the display cannot be opened.
    virtual std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) = 0;

    // The tray icon and its menu (TrayMenu's contract: shown when a tray host is present, else one
    // WARN line and a look for a host every 5 s on `clock`). Requires createApplication's
    // application. `readings` is called on every opening and icon refresh and must be cheap; the
    // clock must outlive the icon.
    virtual std::unique_ptr<TrayIcon> createTray(Clock &clock, ReadingsSource readings, MenuActions actions) = 0;

    // Puts `text` on the clipboard (the pair code). Requires createApplication's application;
    // without a clipboard service the text is silently not kept.
    virtual void copyToClipboard(const QString &text) = 0;
};

}  // namespace fennimar

// The module's one entry point, looked up by name when the module is loaded. Never fails; the
// object lives until the process ends.
extern "C" fennimar::TrayModule *fennimar_tray_module();
