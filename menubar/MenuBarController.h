#pragma once

#include "menubar/MenuEntry.h"
#include "menubar/MenuReadings.h"

#include <QString>

#include <optional>
#include <vector>

namespace fennimar {

// The tray menu as a function of what the agent reads at the moment the menu opens. Pure: no
// toolkit, no clock, no platform; the renderer (TrayMenu) turns the entries into a real menu.
class MenuBarController {
public:
    // Every entry of the menu, in order: the state's own entries, then a separator and "Quit
    // Fennimar". Cheap (microseconds; one app-name lookup for the activity line). Never fails:
    // every missing reading has its own text.
    static std::vector<MenuEntry> menu(const MenuReadings &readings);

    // The tray icon for the state and the last heartbeat's outcome.
    static MenuIcon icon(const MenuReadings &readings);

    // The single lines of the paired menu; empty optionals mean the line is left out.
    static QString activityLine(const MenuReadings &readings);
    static QString monitoredLine(const MenuReadings &readings);
    static std::optional<MenuEntry> permissionLine(const MenuReadings &readings);
    static std::optional<MenuEntry> loginItemLine(const MenuReadings &readings);
    static QString beatLine(const MenuReadings &readings);

    // How the activity line names an app or site: the platform's app prefix is dropped, and an
    // installed app's display name (without ".app") replaces its identifier.
    static QString displayName(const QString &subject, const MenuReadings &readings);

    // The unpair confirmation's texts.
    static QString unpairQuestion();
    static QString unpairExplanation();
};

}  // namespace fennimar
