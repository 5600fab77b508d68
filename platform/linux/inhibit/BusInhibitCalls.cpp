#include "platform/linux/inhibit/BusInhibitCalls.h"

#include "core/Log.h"
#include "platform/linux/session/BusCalls.h"

#include <QDBusMessage>
#include <QFileInfo>

#include <algorithm>

namespace fennimar {

namespace {

const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPower = QStringLiteral("org.freedesktop.PowerManagement");
const QString kGnome = QStringLiteral("org.gnome.SessionManager");

}  // namespace

// Takes every message the monitor receives and answers none: a monitor that sent anything (Qt's
// automatic "no such object" error) would be dropped by the bus.
class MonitoredCall : public QDBusVirtualObject {
public:
    explicit MonitoredCall(BusInhibitCalls &calls) : m_calls(calls) {}
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return true;
        // org.freedesktop.PowerManagement's methods are on its ".Inhibit" interface.
        const QString service = message.interface().startsWith(kPower) ? kPower : message.interface();
        const QVariantList args = message.arguments();
        if (message.member() == QLatin1String("Inhibit")) {
            // ScreenSaver / PowerManagement: (app, reason); GNOME: (app, toplevel, reason, flags),
            // where flag 8 inhibits idle. PowerManagement's inhibitors keep the computer awake only.
            const bool gnome = service == kGnome;
            const bool screen = gnome ? (args.value(3).toUInt() & 8) != 0 : service == kScreenSaver;
            m_calls.inhibited(message.service(), service,
                              {args.value(0).toString(), args.value(gnome ? 2 : 1).toString(), screen, 0});
        } else {
            m_calls.uninhibited(message.service(), service);
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
    for (const QString &interface : {kScreenSaver, kPower, kPower + QStringLiteral(".Inhibit"), kGnome}) {
        for (const char *member : {"Inhibit", "UnInhibit", "Uninhibit"})
            rules << QStringLiteral("type='method_call',interface='%1',member='%2'")
                         .arg(interface, QLatin1String(member));
    }
    auto become = QDBusMessage::createMethodCall(kBus, kBusPath, QStringLiteral("org.freedesktop.DBus.Monitoring"),
                                                 QStringLiteral("BecomeMonitor"));
    become << rules << 0u;
    session::callAsync(m_monitor, this, become, [](const QDBusMessage &reply) {
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

std::vector<Inhibitor> BusInhibitCalls::held() const
{
    std::vector<Inhibitor> held;
    for (const Holder &holder : m_holders) {
        // After a partial release, what remains is known only where all its inhibitors say the same.
        const bool alike = std::all_of(holder.taken.begin(), holder.taken.end(),
                                       [&](const Inhibitor &i) { return i == holder.taken.front(); });
        if (holder.pid <= 0 || (holder.released > 0 && !alike))
            continue;
        for (Inhibitor inhibitor : holder.taken) {
            if (!holder.byName)
                inhibitor.pid = holder.pid;
            else if (!holder.flatpak.isEmpty())
                inhibitor.app = holder.flatpak;
            held.push_back(std::move(inhibitor));
        }
    }
    return held;
}

bool BusInhibitCalls::seen(const QString &app, const QString &reason) const
{
    return std::any_of(m_holders.begin(), m_holders.end(), [&](const Holder &holder) {
        return std::any_of(holder.taken.begin(), holder.taken.end(),
                           [&](const Inhibitor &i) { return i.app == app && i.reason == reason; });
    });
}

void BusInhibitCalls::inhibited(const QString &caller, const QString &service, Inhibitor inhibitor)
{
    const auto known = std::find_if(m_holders.begin(), m_holders.end(),
                                    [&](const Holder &h) { return h.caller == caller && h.service == service; });
    if (known != m_holders.end()) {
        known->taken.push_back(std::move(inhibitor));
        return;
    }
    m_holders.push_back({caller, service, 0, {}, false, {std::move(inhibitor)}, 0});
    const auto isThis = [caller, service](const Holder &h) { return h.caller == caller && h.service == service; };
    auto ask = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("GetConnectionUnixProcessID"));
    ask << caller;
    session::callAsync(m_bus, this, ask, [this, isThis](const QDBusMessage &reply) {
        const qint64 pid = reply.arguments().value(0).toLongLong();
        if (reply.type() != QDBusMessage::ReplyMessage || pid <= 0)
            return forget(isThis);  // gone already
        const auto holder = std::find_if(m_holders.begin(), m_holders.end(), isThis);
        if (holder == m_holders.end())
            return;
        // A portal calls for a sandboxed app and names it by its app id.
        const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        holder->pid = pid;
        holder->flatpak = flatpakOf(pid);
        holder->byName = !holder->flatpak.isEmpty() || exe.contains(QLatin1String("xdg-desktop-portal"));
    });
    // A call to a name nobody owns failed: nothing is inhibited (Firefox tries one service after
    // another until one answers).
    auto owner = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, QStringLiteral("NameHasOwner"));
    owner << service;
    session::callAsync(m_bus, this, owner, [this, isThis](const QDBusMessage &reply) {
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().value(0).toBool())
            forget(isThis);
    });
}

void BusInhibitCalls::uninhibited(const QString &caller, const QString &service)
{
    forget([&](Holder &h) {
        return h.caller == caller && h.service == service && ++h.released >= qsizetype(h.taken.size());
    });
}

void BusInhibitCalls::forget(const std::function<bool(Holder &)> &gone)
{
    m_holders.erase(std::remove_if(m_holders.begin(), m_holders.end(), gone), m_holders.end());
}

void BusInhibitCalls::onOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner)
{
    // A caller leaving the bus, or a service leaving or replaced: its inhibitors end with it.
    if (oldOwner.isEmpty() || (name.startsWith(QLatin1Char(':')) && !newOwner.isEmpty()))
        return;
    forget([&](const Holder &h) { return h.caller == name || h.service == name; });
}

}  // namespace fennimar
