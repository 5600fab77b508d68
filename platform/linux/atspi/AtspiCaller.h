#pragma once

#include "core/Clock.h"
#include "platform/linux/atspi/AtspiTypes.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

#include <optional>

namespace fennimar::atspi {

// Blocking D-Bus calls to one accessible application, each with an explicit timeout, counting its
// requests and remembering how the first one failed. A hung application (NoReply) makes every later
// call on the same caller fail at once, so one read never waits on a stopped browser twice. With a
// deadline, no call outlives it: each waits at most the time left, and once none is left every
// call fails at once (OutOfTime), so a whole read costs at most its budget however many calls it
// would have made.
class AtspiCaller {
public:
    enum class Failure {
        None,
        Hung,         // the application did not answer within the timeout
        Gone,         // the application or its connection no longer exists
        Unsupported,  // the object lacks the interface or method
        Other,
        OutOfTime,  // the deadline passed: the read's budget is spent
    };

    // service: the application's bus name (empty on a peer connection to the application itself).
    AtspiCaller(QDBusConnection connection, QString service, Millis timeout);

    // Ends every call by deadline on clock's monotonic time; clock must outlive the caller.
    void setDeadline(const Clock &clock, Millis deadline);

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
    // The first maxChars characters of a Text object (an address bar needs no more; a page's
    // text field may hold megabytes).
    std::optional<QString> text(const QString &path, int maxChars);

    // The first failure of this caller's life (a hang overrides any other), its D-Bus error, and
    // the number of requests sent.
    Failure failure() const { return m_failure; }
    QString failureText() const { return m_failureText; }
    int requests() const { return m_requests; }
    // Whether calls now fail at once: the application hung or the deadline passed.
    bool stopped() const { return m_failure == Failure::Hung || m_failure == Failure::OutOfTime; }

    // What a D-Bus error name means for the reader.
    static Failure classify(const QString &errorName);

private:
    QDBusConnection m_connection;
    QString m_service;
    int m_timeoutMs;
    const Clock *m_clock = nullptr;
    Millis m_deadline{0};
    int m_requests = 0;
    Failure m_failure = Failure::None;
    QString m_failureText;
};

}  // namespace fennimar::atspi
