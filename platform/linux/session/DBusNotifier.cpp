#include "platform/linux/session/DBusNotifier.h"

#include "core/Log.h"
#include "platform/PlatformTraits.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace fennimar {

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

DBusNotifier::DBusNotifier(QDBusConnection bus) : m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this, SLOT(actionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

void DBusNotifier::show(const Notice &notice)
{
    Topic &topic = m_topics[notice.topic];
    topic.withdrawWaiting = false;
    if (topic.sending || m_capabilities != Capabilities::Known) {
        topic.waiting = notice;
        askCapabilities();
        return;
    }
    send(notice);
}

void DBusNotifier::askCapabilities()
{
    if (m_capabilities != Capabilities::Unasked)
        return;
    m_capabilities = Capabilities::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        m_bodyMarkup = reply.isError() || reply.value().contains(QStringLiteral("body-markup"));
        m_capabilities = Capabilities::Known;
        for (auto it = m_topics.begin(); it != m_topics.end(); ++it) {
            if (it->waiting && !it->sending)
                send(*std::exchange(it->waiting, std::nullopt));
        }
    });
}

void DBusNotifier::send(const Notice &notice)
{
    Topic &topic = m_topics[notice.topic];
    QStringList actions;
    for (const auto &[key, label] : notice.actions)
        actions << key << label;
    QVariantMap hints;
    // Urgency 2 (critical) keeps the pair code on GNOME's screen until it is dismissed.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(notice.persistent ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(platform::AgentBundleID));
    // Texts reach here already free of control characters but for the body's line feeds.
    const QString body = m_bodyMarkup ? QString(notice.body)
                                            .replace(QLatin1Char('&'), QStringLiteral("&amp;"))
                                            .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
                                            .replace(QLatin1Char('>'), QStringLiteral("&gt;"))
                                      : notice.body;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Fennimar") << topic.id << QString() << notice.summary << body << actions << hints
         << (notice.persistent ? 0 : -1);
    topic.sending = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, name = notice.topic](QDBusPendingCallWatcher *w) { sent(name, w); });
}

void DBusNotifier::sent(const QString &name, QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    Topic &topic = m_topics[name];
    topic.sending = false;
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        if (!m_failureLogged)
            Log::warn(QStringLiteral("notifications · cannot show one · ") + reply.error().message());
        m_failureLogged = true;
    } else {
        topic.id = reply.value();
    }
    if (topic.waiting) {
        const Notice next = *std::exchange(topic.waiting, std::nullopt);
        send(next);
    } else if (topic.withdrawWaiting) {
        withdraw(name);
    }
}

void DBusNotifier::withdraw(const QString &name)
{
    const auto it = m_topics.find(name);
    if (it == m_topics.end())
        return;
    it->waiting.reset();
    if (it->sending) {
        it->withdrawWaiting = true;
        return;
    }
    it->withdrawWaiting = false;
    if (it->id == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("CloseNotification"));
    call << it->id;
    it->id = 0;
    m_bus.asyncCall(call, callTimeoutMs);
}

void DBusNotifier::setActionHandler(ActionHandler handler)
{
    m_onAction = std::move(handler);
}

void DBusNotifier::actionInvoked(uint id, const QString &key)
{
    for (auto it = m_topics.cbegin(); it != m_topics.cend(); ++it) {
        if (it->id == id && id != 0 && m_onAction) {
            m_onAction(it.key(), key);
            return;
        }
    }
}

void DBusNotifier::notificationClosed(uint id, uint reason)
{
    Q_UNUSED(reason);
    // A closed notice cannot be replaced any more: the topic's next one is a new notification.
    for (Topic &topic : m_topics) {
        if (topic.id == id)
            topic.id = 0;
    }
}

}  // namespace fennimar
