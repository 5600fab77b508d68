#pragma once

#include "core/Clock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantList>

namespace fennimar {

// One D-Bus method call that waits at most timeout for its answer: QDBusConnectionInterface's own
// calls wait up to 25 s, too long for a start that must not hang on a stuck desktop shell. The
// answer is an error message on failure.
inline QDBusMessage callShell(QDBusConnection &bus, const QString &service, const QString &path,
                              const QString &interface, const QString &method, const QVariantList &args, Millis timeout)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, static_cast<int>(timeout.count()));
}

// The unique name of the connection that owns name, or empty.
inline QString ownerOf(QDBusConnection &bus, const QString &name, Millis timeout)
{
    const QDBusMessage reply =
        callShell(bus, QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"), {name}, timeout);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
}

}  // namespace fennimar
