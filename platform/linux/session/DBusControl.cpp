#include "platform/linux/session/DBusControl.h"

#include "core/Log.h"
#include "platform/PlatformTraits.h"
#include "platform/PlatformPaths.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace fennimar {

QString DBusControl::serviceName()
{
    return QString::fromLatin1(platform::AgentBundleID);
}

QString DBusControl::objectPath()
{
    return QLatin1Char('/') + serviceName().replace(QLatin1Char('.'), QLatin1Char('/'));
}

QString DBusControl::failedError()
{
    return serviceName() + QStringLiteral(".Error.Failed");
}

namespace {
QString methodName(ControlCommand command)
{
    switch (command) {
        case ControlCommand::Pair:
            return QStringLiteral("Pair");
        case ControlCommand::CancelPairing:
            return QStringLiteral("CancelPairing");
        case ControlCommand::Unpair:
            return QStringLiteral("Unpair");
        case ControlCommand::Status:
            break;
    }
    return QStringLiteral("Status");
}
}  // namespace

DBusControlServer::DBusControlServer(QDBusConnection bus) : m_bus(std::move(bus)) {}

DBusControlServer::~DBusControlServer()
{
    if (m_registered) {
        m_bus.unregisterObject(DBusControl::objectPath());
        m_bus.unregisterService(DBusControl::serviceName());
    }
}

ControlServer::Claim DBusControlServer::listen(Handler handler)
{
    m_handler = std::move(handler);
    if (!m_bus.isConnected()) {
        Log::warn(QStringLiteral("control · no session bus · fennimar-agent --status will not reach this agent · ") +
                  m_bus.lastError().message());
        return Claim::Unavailable;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(DBusControl::serviceName(), QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        Log::warn(
            QStringLiteral("control · cannot claim %1 · %2").arg(DBusControl::serviceName(), reply.error().message()));
        return Claim::Unavailable;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return Claim::Taken;
    m_registered = true;
    if (!m_bus.registerObject(DBusControl::objectPath(), this, QDBusConnection::ExportScriptableSlots)) {
        Log::warn(QStringLiteral("control · cannot publish %1 · %2")
                      .arg(DBusControl::objectPath(), m_bus.lastError().message()));
        return Claim::Owned;  // the name still keeps a second copy out
    }
    return Claim::Owned;
}

namespace {
// The pid of the name's owner from the bus daemon; 0 when it has none or does not answer in time.
qint64 ownerPid(const QDBusConnection &bus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    call << DBusControl::serviceName();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 1000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().constFirst().toLongLong()
               : 0;
}
}  // namespace

qint64 DBusControlServer::holderPid() const
{
    return m_bus.isConnected() ? ownerPid(m_bus) : 0;
}

QString DBusControlServer::answer(ControlCommand command)
{
    if (!calledFromDBus() || !m_handler)
        return {};
    setDelayedReply(true);
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    m_handler(command, [call, bus](const Result<QString> &text) mutable {
        bus.send(text ? call.createReply(*text) : call.createErrorReply(DBusControl::failedError(), text.error()));
    });
    return {};
}

QString DBusControlServer::Status()
{
    return answer(ControlCommand::Status);
}

QString DBusControlServer::Pair()
{
    return answer(ControlCommand::Pair);
}

QString DBusControlServer::CancelPairing()
{
    return answer(ControlCommand::CancelPairing);
}

QString DBusControlServer::Unpair()
{
    return answer(ControlCommand::Unpair);
}

DBusControlClient::DBusControlClient(QDBusConnection bus) : m_bus(std::move(bus)) {}

Result<QString> DBusControlClient::send(ControlCommand command, Millis limit)
{
    if (!m_bus.isConnected())
        return Result<QString>::failure(QStringLiteral("Cannot reach the session bus: ") + m_bus.lastError().message());
    QDBusMessage call = QDBusMessage::createMethodCall(DBusControl::serviceName(), DBusControl::objectPath(),
                                                       DBusControl::serviceName(), methodName(command));
    // Without an owner the bus would try to start the service by activation; there is none.
    call.setAutoStartService(false);
    // Any program of the session can own the name first; its answer would pass for the agent's.
    const qint64 owner = ownerPid(m_bus);
    const std::optional<QString> program = platform::executableOf(owner);
    if (owner != 0 && program && !platform::runsOurProgram(owner)) {
        return Result<QString>::failure(QStringLiteral("%1 is held by pid %2 (%3), which is not Fennimar's agent; "
                                                       "its answer is not shown.")
                                            .arg(DBusControl::serviceName())
                                            .arg(owner)
                                            .arg(program->isEmpty() ? QStringLiteral("an unknown program") : *program));
    }
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, static_cast<int>(limit.count()));
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        return reply.arguments().constFirst().toString();
    if (reply.errorName() == DBusControl::failedError())
        return Result<QString>::failure(reply.errorMessage());
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return Result<QString>::failure(QStringLiteral("Fennimar is not running for this user."));
    }
    return Result<QString>::failure(QStringLiteral("The running Fennimar did not answer: ") + reply.errorMessage());
}

}  // namespace fennimar
