#pragma once

#include "menubar/MenuActions.h"
#include "menubar/MenuBarController.h"
#include "menubar/TrayModule.h"
#include "core/Clock.h"

#include <QIcon>
#include <QObject>

#include <array>
#include <functional>
#include <memory>

class QMenu;
class QMessageBox;
class QSystemTrayIcon;

namespace fennimar {

// The tray icon and its menu, drawn with Qt Widgets from MenuBarController's entries. The menu is
// emptied and rebuilt from fresh readings each time it is about to open, and never changed while
// open. Main thread only.
class TrayMenu : public QObject, public TrayIcon {
    Q_OBJECT
public:
    using ReadingsSource = std::function<MenuReadings()>;

    // Creates the icon and the menu and shows the icon when a tray host is present. Without one it
    // logs one WARN line and looks for a host every 5 s on `clock`, showing the icon once one
    // appears. `readings` is called on every opening, on every icon refresh and when the code is
    // copied; it must be cheap. Requires a QApplication, which it keeps from quitting when its last
    // window (the unpair question) closes.
    TrayMenu(Clock &clock, ReadingsSource readings, MenuActions actions, QObject *parent = nullptr);
    ~TrayMenu() override;

    // TrayIcon's contract.
    void refreshIcon() override;
    bool iconShown() const override;

    // The menu and the icon, for the composition root and tests.
    QMenu *menu() const;
    QSystemTrayIcon *trayIcon() const;

    // The picture for an icon state; `darkPanel` selects the light-ink variant. The SVG is
    // rendered into sizes 16 to 64 px. An empty icon only if the resources are missing.
    static QIcon iconImage(MenuIcon icon, bool darkPanel);

    // The unpair question as a warning box: "Unpair" (added first, default) and "Keep Paired"
    // (escape). Exposed so that its texts and buttons can be checked without running it.
    static std::unique_ptr<QMessageBox> makeUnpairConfirmation();

private:
    void rebuild();
    void openBesideIcon();
    void run(MenuAction action);
    void copyCode();
    void confirmUnpair();
    void lookForTrayHost();

    Clock &m_clock;
    ReadingsSource m_readings;
    MenuActions m_actions;
    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon *m_tray = nullptr;  // child of this object
    TimerHandle m_hostPoll;
    std::array<QIcon, 6> m_icons;  // by MenuIcon and panel shade, rendered on first use
};

}  // namespace fennimar
