#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <functional>

namespace fennimar::session {

// A desktop's inhibitor list or screen locker answers in well under a millisecond; a bus that takes
// longer is stuck, not slow.
constexpr int kCallTimeoutMs = 500;

// Sends `message` without starting its service and calls back on the main thread with the reply,
// or with an error message when the bus fails or the call is past its deadline. Nothing happens
// after `context` is gone.
void callAsync(QDBusConnection bus, QObject *context, QDBusMessage message,
               std::function<void(const QDBusMessage &)> onReply);

// Calls `onChange` whenever `service` gets or loses its owner.
void watchOwner(QDBusConnection bus, const QString &service, QObject *context, std::function<void()> onChange);

}  // namespace fennimar::session
