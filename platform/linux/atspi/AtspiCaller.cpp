#include "platform/linux/atspi/AtspiCaller.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>

#include <algorithm>

namespace fennimar::atspi {

AtspiCaller::AtspiCaller(QDBusConnection connection, QString service, Millis timeout)
    : m_connection(std::move(connection)), m_service(std::move(service)), m_timeoutMs(static_cast<int>(timeout.count()))
{
    registerTypes();
}

void AtspiCaller::setDeadline(const Clock &clock, Millis deadline)
{
    m_clock = &clock;
    m_deadline = deadline;
}

AtspiCaller::Failure AtspiCaller::classify(const QString &errorName)
{
    static const QStringList hung = {QStringLiteral("org.freedesktop.DBus.Error.NoReply"),
                                     QStringLiteral("org.freedesktop.DBus.Error.Timeout"),
                                     QStringLiteral("org.freedesktop.DBus.Error.TimedOut")};
    // An unknown object is not listed: objects come and go inside a live application all the time.
    static const QStringList gone = {QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
                                     QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
                                     QStringLiteral("org.freedesktop.DBus.Error.Disconnected")};
    static const QStringList unsupported = {QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                            QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface")};
    if (hung.contains(errorName))
        return Failure::Hung;
    if (gone.contains(errorName))
        return Failure::Gone;
    if (unsupported.contains(errorName))
        return Failure::Unsupported;
    return Failure::Other;
}

std::optional<QList<QVariant>> AtspiCaller::call(const QString &path, const QString &interface, const QString &method,
                                                 const QList<QVariant> &args)
{
    return callOn(m_service, path, interface, method, args);
}

std::optional<QList<QVariant>> AtspiCaller::callOn(const QString &service, const QString &path,
                                                   const QString &interface, const QString &method,
                                                   const QList<QVariant> &args)
{
    // After a timeout the application is treated as hung for the rest of this caller's life.
    if (stopped())
        return std::nullopt;
    int timeoutMs = m_timeoutMs;
    bool cut = false;
    if (m_clock) {
        const qint64 left = (m_deadline - m_clock->monotonic()).count();
        if (left <= 0) {
            m_failure = Failure::OutOfTime;
            m_failureText = QStringLiteral("the read's time budget is spent");
            return std::nullopt;
        }
        cut = left < timeoutMs;
        timeoutMs = static_cast<int>(std::min<qint64>(left, timeoutMs));
    }
    if (!m_connection.isConnected()) {
        m_failure = Failure::Gone;
        m_failureText = QStringLiteral("not connected");
        return std::nullopt;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    ++m_requests;
    const QDBusMessage reply = m_connection.call(message, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments();
    Failure failure = reply.type() == QDBusMessage::ErrorMessage ? classify(reply.errorName()) : Failure::Other;
    // A call cut short by the deadline says the read is out of time, not that the peer hung.
    if (failure == Failure::Hung && cut)
        failure = Failure::OutOfTime;
    // The first failure explains the read; a stop always wins because it changes what comes next.
    if (m_failure == Failure::None || failure == Failure::Hung || failure == Failure::OutOfTime) {
        m_failure = failure;
        m_failureText = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
    }
    return std::nullopt;
}

namespace {

template <typename T>
std::optional<T> first(const std::optional<QList<QVariant>> &reply)
{
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return qdbus_cast<T>(reply->first());
}

}  // namespace

std::optional<uint> AtspiCaller::role(const QString &path)
{
    return first<uint>(call(path, Accessible, QStringLiteral("GetRole")));
}

std::optional<QList<uint>> AtspiCaller::states(const QString &path)
{
    return first<QList<uint>>(call(path, Accessible, QStringLiteral("GetState")));
}

std::optional<QList<ObjectRef>> AtspiCaller::children(const QString &path)
{
    return first<QList<ObjectRef>>(call(path, Accessible, QStringLiteral("GetChildren")));
}

std::optional<QList<ObjectRef>> AtspiCaller::matches(const QString &path, const MatchRule &rule, int count)
{
    const QList<QVariant> args = {QVariant::fromValue(rule), QVariant::fromValue(SortCanonical), QVariant(count),
                                  QVariant(true)};
    return first<QList<ObjectRef>>(call(path, Collection, QStringLiteral("GetMatches"), args));
}

std::optional<QMap<QString, QString>> AtspiCaller::attributes(const QString &path, const QString &interface)
{
    return first<QMap<QString, QString>>(call(path, interface, QStringLiteral("GetAttributes")));
}

std::optional<QString> AtspiCaller::name(const QString &path)
{
    const QList<QVariant> args = {Accessible, QStringLiteral("Name")};
    const auto value =
        first<QDBusVariant>(call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"), args));
    if (!value)
        return std::nullopt;
    return value->variant().toString();
}

std::optional<QString> AtspiCaller::text(const QString &path, int maxChars)
{
    const QList<QVariant> args = {QVariant(0), QVariant(maxChars)};
    return first<QString>(call(path, Text, QStringLiteral("GetText"), args));
}

}  // namespace fennimar::atspi
