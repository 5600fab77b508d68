#include "platform/linux/session/BusCalls.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

namespace fennimar::session {

void callAsync(QDBusConnection bus, QObject *context, QDBusMessage message,
               std::function<void(const QDBusMessage &)> onReply)
{
    if (!bus.isConnected())
        return;
    // Asking who inhibits must never start a session manager or a power daemon.
    message.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, onReply = std::move(onReply)] {
        watcher->deleteLater();
        onReply(watcher->reply());
    });
}

void watchOwner(QDBusConnection bus, const QString &service, QObject *context, std::function<void()> onChange)
{
    if (!bus.isConnected())
        return;
    auto *watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, context);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, context,
                     [onChange = std::move(onChange)] { onChange(); });
}

}  // namespace fennimar::session
