#pragma once

#include "core/Result.h"
#include "tools/refbackend/Reply.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace fennimar::refbackend {

// A misbehaviour to show on the next requests of one route. Every kind but "delay" answers in
// place of the route, so the request is not acted on; "delay" lets the route act and holds its
// answer back.
struct Fault {
    enum class Kind { Status, Delay, Malformed, Oversized, Drop, Redirect };
    QString route;  // a route name (see FaultPlan::routeNames) or "any"
    Kind kind = Kind::Status;
    int remaining = 1;
    int status = 500;      // Status: the code; Redirect: 301, 302, 303, 307 or 308
    QByteArray body;       // Status: the body, sent as given
    int delayMs = 0;       // Delay
    qint64 sizeBytes = 0;  // Oversized: length of the body
    QByteArray location;   // Redirect: the Location header

    // Reads {"route", "kind", "count", "status", "body", "delay_ms", "size", "location"}; refuses
    // unknown routes and kinds and values out of range.
    static Result<Fault> fromJson(const QJsonObject &o);
    QJsonObject toJson() const;

    // The answer that stands in for the route's (Delay: normal is the route's own answer).
    Reply apply(Reply normal, const QByteArray &path) const;
};

// Faults waiting for their requests, first come first served per route. In memory only: a
// restart of the server forgets them.
class FaultPlan {
public:
    static const QStringList &routeNames();

    void add(Fault fault) { m_faults.append(std::move(fault)); }
    void clear() { m_faults.clear(); }
    QJsonArray toJson() const;

    // Uses up one request of the first fault for route (or for "any"), if there is one.
    std::optional<Fault> take(const QString &route);

private:
    QList<Fault> m_faults;
};

}  // namespace fennimar::refbackend
