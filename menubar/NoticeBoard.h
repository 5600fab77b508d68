#pragma once

#include "menubar/MenuReadings.h"
#include "menubar/MenuActions.h"
#include "platform/Notifier.h"

#include <QHash>
#include <QString>

#include <functional>

namespace fennimar {

// What the menu would tell the user, as notifications, for a desktop where no tray icon shows it:
// the pair code, "Paired with <child>" after a claim, a failed pairing or unpairing (a fixed sentence: the reason may
// be a server's text), and the two problems the user must fix (website counting needs the permission; the login item
// will not start). One notification per topic (pairing, login item, website counting), replaced as the state moves on;
// at most one notification per refresh and none while the tray icon is on screen. Main thread only.
class NoticeBoard {
public:
    using ReadingsSource = std::function<MenuReadings()>;

    // `trayShown` answers whether the tray icon is on screen now; `copy` puts a text on the
    // clipboard (the pair code's "Copy code" button); `actions` run the other buttons. The
    // notifier must outlive the board.
    NoticeBoard(Notifier &notifier, ReadingsSource readings, std::function<bool()> trayShown,
                std::function<void(const QString &)> copy, MenuActions actions);

    // Called after every change of the agent. Reads the state (only while no tray icon is shown),
    // sends the most urgent notice that differs from what is on screen, and withdraws notices
    // whose reason has gone. Cheap when nothing changed.
    void refresh();

private:
    struct Wanted {
        QString key;  // equal keys: the same notice, not sent again
        Notice notice;
    };
    void wantedNow(const MenuReadings &r, QHash<QString, Wanted> &out);
    void act(const QString &topic, const QString &key);

    Notifier &m_notifier;
    ReadingsSource m_readings;
    std::function<bool()> m_trayShown;
    std::function<void(const QString &)> m_copy;
    MenuActions m_actions;
    QHash<QString, QString> m_onScreen;  // topic -> key of the notice sent last
    bool m_wasPairing = false;           // the last refresh saw the pairing state
    QString m_pairedWith;                // child named by the "Paired with" notice, while paired
    QString m_code;                      // the pair code on screen, for its copy button
};

}  // namespace fennimar
