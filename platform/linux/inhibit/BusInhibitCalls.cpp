#include "platform/linux/inhibit/BusInhibitCalls.h"

#include "core/Log.h"
#include "platform/linux/inhibit/BusCalls.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>

namespace fennimar {

namespace {

const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");

QString key(const QString &app, const QString &reason)
{
    return app + QLatin1Char('\n') + reason;
}

}  // namespace

// Takes every message the monitor receives and answers none: a monitor that sent anything (Qt's
// automatic "no such object" error) would be dropped by the bus.
class MonitoredCall : public QDBusVirtualObject {
public:
    explicit MonitoredCall(BusInhibitCalls &calls) : m_calls(calls) {}
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QVariantList args = message.arguments();
        if (message.type() == QDBusMessage::MethodCallMessage && message.member() == QLatin1String("Inhibit")) {
            // ScreenSaver / PowerManagement: (app, reason); GNOME: (app, toplevel, reason, flags).
            const QString reason = args.value(args.size() == 4 ? 2 : 1).toString();
            m_calls.seen(message.service(), args.value(0).toString(), reason);
        }
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

private:
    BusInhibitCalls &m_calls;
};

BusInhibitCalls::BusInhibitCalls(QDBusConnection session, QDBusConnection monitor, QObject *parent)
    : QObject(parent), m_bus(std::move(session)), m_monitor(std::move(monitor))
{
    if (!m_bus.isConnected() || !m_monitor.isConnected())
        return;
    m_bus.connect(kBus, kBusPath, kBus, QStringLiteral("NameOwnerChanged"), this,
                  SLOT(onOwnerChanged(QString, QString, QString)));
    m_catcher = std::make_unique<MonitoredCall>(*this);
    m_monitor.registerVirtualObject(QStringLiteral("/"), m_catcher.get(), QDBusConnection::SubPath);
    QStringList rules;
    for (const char *interface : {"org.freedesktop.ScreenSaver", "org.freedesktop.PowerManagement",
                                  "org.freedesktop.PowerManagement.Inhibit", "org.gnome.SessionManager"})
        rules << QStringLiteral("type='method_call',interface='%1',member='Inhibit'").arg(QLatin1String(interface));
    auto become = QDBusMessage::createMethodCall(kBus, kBusPath, QStringLiteral("org.freedesktop.DBus.Monitoring"),
                                                 QStringLiteral("BecomeMonitor"));
    become << rules << 0u;
    inhibit::callAsync(m_monitor, this, become, [](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            Log::info(QStringLiteral("cannot watch the session bus for inhibitors (%1) \u00b7 they are matched by name")
                          .arg(reply.errorName()));
    });
}

BusInhibitCalls::~BusInhibitCalls()
{
    if (m_catcher)
        m_monitor.unregisterObject(QStringLiteral("/"));
}

QSet<qint64> BusInhibitCalls::callers(const QString &app, const QString &reason) const
{
    QSet<qint64> pids;
    for (const qint64 pid : m_calls.value(key(app, reason)))
        pids.insert(pid);
    pids.remove(0);
    return pids;
}

void BusInhibitCalls::seen(const QString &sender, const QString &app, const QString &reason)
{
    auto ask = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("GetConnectionUnixProcessID"));
    ask << sender;
    inhibit::callAsync(m_bus, this, ask, [this, sender, app, reason](const QDBusMessage &reply) {
        if (reply.type() != QDBusMessage::ReplyMessage)
            return;  // gone already
        m_calls[key(app, reason)][sender] = reply.arguments().value(0).toLongLong();
        Q_EMIT changed();
    });
}

void BusInhibitCalls::onOwnerChanged(const QString &name, const QString &, const QString &newOwner)
{
    if (!newOwner.isEmpty() || !name.startsWith(QLatin1Char(':')))
        return;
    for (auto it = m_calls.begin(); it != m_calls.end();)
        it = it->remove(name) && it->isEmpty() ? m_calls.erase(it) : std::next(it);
}

}  // namespace fennimar
