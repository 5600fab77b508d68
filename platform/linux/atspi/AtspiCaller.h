#pragma once

#include "platform/Clock.h"
#include "platform/linux/atspi/AtspiTypes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

#include <optional>

namespace fennimar::atspi {

// Blocking D-Bus calls to one accessible application, each with an explicit timeout, counting its
// requests and remembering how the first one failed. A hung application (NoReply) makes every later
// call on the same caller fail at once, so one read never waits on a stopped browser twice.
class AtspiCaller {
public:
    enum class Failure {
        None,
        Hung,         // the application did not answer within the timeout
        Gone,         // the application or its connection no longer exists
        Unsupported,  // the object lacks the interface or method
        Other,
    };

    // service: the application's bus name (empty on a peer connection to the application itself).
    AtspiCaller(QDBusConnection connection, QString service, Millis timeout);

    // One request; the reply's arguments, or nothing on any failure (see failure()).
    std::optional<QList<QVariant>> call(const QString &path, const QString &interface, const QString &method,
                                        const QList<QVariant> &args = {});
    // The same, addressed to another service on the same connection (the bus daemon itself).
    std::optional<QList<QVariant>> callOn(const QString &service, const QString &path, const QString &interface,
                                          const QString &method, const QList<QVariant> &args = {});

    // Typed requests, one each: the answer, or nothing on any failure (failure() says which).
    std::optional<uint> role(const QString &path);
    std::optional<QList<uint>> states(const QString &path);
    std::optional<QList<ObjectRef>> children(const QString &path);
    // Collection.GetMatches in canonical order, descending into the whole subtree.
    std::optional<QList<ObjectRef>> matches(const QString &path, const MatchRule &rule, int count);
    // GetAttributes of the given interface (Accessible or Document).
    std::optional<QMap<QString, QString>> attributes(const QString &path, const QString &interface);
    std::optional<QString> name(const QString &path);  // the Accessible "Name" property
    std::optional<QString> text(const QString &path);  // the whole text of a Text object

    // The first failure of this caller's life (a hang overrides any other), its D-Bus error, and
    // the number of requests sent.
    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    int requests() const { return m_requests; }

    // What a D-Bus error name means for the reader.
    static Failure classify(const QString &errorName);

private:
    QDBusConnection m_connection;
    QString m_service;
    int m_timeoutMs;
    int m_requests = 0;
    Failure m_failure = Failure::None;
    QString m_failureText;
};

}  // namespace fennimar::atspi
