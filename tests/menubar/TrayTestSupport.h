#pragma once

#include "menubar/TrayMenu.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QStringList>

#include <functional>

namespace fennimar::test {

// Processes events until `done` holds or `limitMs` passes; returns whether it held.
inline bool waitFor(const std::function<bool()> &done, int limitMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(10'000);
    }
    return true;
}

// The visible texts of a built menu, "---" for separators.
inline QStringList menuTexts(const QMenu &menu)
{
    QStringList out;
    for (const QAction *a : menu.actions())
        out << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return out;
}

// The texts the menu should show for these readings ("&" doubled, as Qt menus need).
inline QStringList expectedTexts(const MenuReadings &readings)
{
    QStringList out;
    for (const MenuEntry &e : MenuBarController::menu(readings))
        out << (e.kind == MenuEntry::Kind::Separator ? QStringLiteral("---") : QString(e.shown).replace("&", "&&"));
    return out;
}

}  // namespace fennimar::test
