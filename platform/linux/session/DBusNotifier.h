#pragma once

#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <optional>

class QDBusPendingCallWatcher;

namespace fennimar {

// Notifications through org.freedesktop.Notifications on the session bus (GNOME Shell, KDE
// Plasma, dunst, mako, xfce4-notifyd…). One notification id per topic, passed as replaces_id so
// that a topic never has two notices on screen. A notice asked for while the previous one of its
// topic is still on its way waits for that one's id, and only the latest such notice is sent.
// The server's capabilities are asked once, before the first notice: a server that offers
// body-markup gets & < > escaped (a backend's text must never become a link or an image), and a
// server that does not answer within callTimeoutMs is treated as one that does.
class DBusNotifier : public QObject, public Notifier {
    Q_OBJECT
public:
    static constexpr int callTimeoutMs = 5000;

    explicit DBusNotifier(QDBusConnection bus);

    void show(const Notice &notice) override;
    void withdraw(const QString &topic) override;
    void setActionHandler(ActionHandler handler) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString &key);
    void notificationClosed(uint id, uint reason);

private:
    struct Topic {
        uint id = 0;  // 0: none on screen
        bool sending = false;
        std::optional<Notice> waiting;
        bool withdrawWaiting = false;
    };
    void askCapabilities();
    void send(const Notice &notice);
    void sent(const QString &topic, QDBusPendingCallWatcher *call);

    QDBusConnection m_bus;
    QHash<QString, Topic> m_topics;
    ActionHandler m_onAction;
    bool m_failureLogged = false;
    enum class Capabilities { Unasked, Asking, Known } m_capabilities = Capabilities::Unasked;
    bool m_bodyMarkup = true;  // until the server says otherwise: escaping is the safe mistake
};

}  // namespace fennimar
