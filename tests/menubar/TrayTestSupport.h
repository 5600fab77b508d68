#pragma once

#include "menubar/TrayMenu.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

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

// Answers the next modal question by pressing the button whose text is given (an empty text: the
// Escape key), within a bounded wait of 5 s.
inline void answerNextQuestion(QObject *owner, const QString &button)
{
    auto *poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, tries = 250]() mutable {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box && --tries > 0)
            return;
        poll->deleteLater();
        if (box && button.isEmpty())
            box->reject();
        for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>{})
            if (b->text() == button)
                b->click();
    });
    poll->start(20);
}

}  // namespace fennimar::test
