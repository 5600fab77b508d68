#pragma once

#include "menubar/TrayMenu.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <functional>

namespace fennimar::test {

// Processes events until `done` holds or `limitMs` passes; returns whether it held.
inline bool waitFor(const std::function<bool()> &done, int limitMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

// The visible texts of a built menu, "---" for separators.
inline QStringList menuTexts(const QMenu &menu)
{
    QStringList out;
    for (const QAction *a : menu.actions())
        out << (a->isSeparator() ? QStringLiteral("---") : a->text());
    return out;
}

// Opens the menu, returns its texts and closes it.
inline QStringList openedTexts(TrayMenu &tray)
{
    tray.menu()->popup(QPoint(10, 10));
    waitFor([&] { return tray.menu()->isVisible(); });
    const QStringList texts = menuTexts(*tray.menu());
    tray.menu()->hide();
    return texts;
}

// The texts the menu should show for these readings ("&" doubled, as Qt menus need).
inline QStringList expectedTexts(const MenuReadings &readings)
{
    QStringList out;
    for (const MenuEntry &e : MenuBarController::menu(readings))
        out << (e.kind == MenuEntry::Kind::Separator ? QStringLiteral("---") : QString(e.shown).replace("&", "&&"));
    return out;
}

// Triggers the menu entry with this text (false: none) and presses `answer` in the question that follows.
inline bool choose(TrayMenu &tray, const QString &entry, std::optional<QString> answer = std::nullopt)
{
    openedTexts(tray);  // a menu entry triggers once the menu has been shown and closed, as a click does
    QAction *found = nullptr;
    for (QAction *a : tray.menu()->actions())
        found = a->text() == entry ? a : found;
    if (answer) {
        auto *poll = new QTimer(&tray);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, button = *answer, tries = 250]() mutable {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box && --tries > 0)
                return;
            poll->deleteLater();
            for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>{})
                if (b->text() == button)
                    b->click();
        });
        poll->start(20);
    }
    if (found)
        found->trigger();
    return found != nullptr;
}

}  // namespace fennimar::test
