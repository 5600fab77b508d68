#pragma once

#include "core/Clock.h"
#include "tools/refbackend/PairingStore.h"
#include "tools/refbackend/Reply.h"
#include "tools/refbackend/ReportStore.h"
#include "tools/refbackend/Request.h"

#include <deque>
#include <map>
#include <optional>

namespace fennimar::refbackend {

// The six endpoints the agent talks to. Handlers are synchronous: each reads and writes the
// database and returns its answer before the next request is looked at, so answers on one
// connection leave in the order the requests came.
class ApiRoutes {
public:
    // Which endpoint a path names, whatever the method.
    struct Match {
        QString route;      // one of FaultPlan::routeNames()
        QByteArray method;  // the one method the endpoint accepts
        QString argument;   // the ticket token or device id in the path, if any
    };
    static std::optional<Match> match(const Request &request);

    ApiRoutes(PairingStore &pairings, ReportStore &reports, Clock &clock)
        : m_pairings(pairings), m_reports(reports), m_clock(clock)
    {
    }

    // New setups from one address within a minute: anyone may ask for a pair code, and each one
    // puts a device on the parent's page until its code expires.
    static constexpr int kSetupsPerMinute = 10;

    // Answers a request that match() recognised with the right method: 2xx with the endpoint's
    // JSON, 400 for a body of the wrong shape, 401 for a missing or unknown bearer token, 404
    // for an unknown ticket or device, 415 for a POST that is not JSON, 429 with Retry-After for
    // a setup past the rate, 500 when the database fails. Never throws.
    Reply handle(const Match &match, const Request &request);

private:
    Reply setupPending(const Request &request);
    Reply setupStatus(const QString &token);
    Reply deviceHeartbeat(const QString &deviceId, const Request &request);
    Reply usage(const Session &session, const Request &request);
    Reply installedApps(const Session &session);
    Reply appsSeen(const Session &session, const Request &request);

    PairingStore &m_pairings;
    ReportStore &m_reports;
    Clock &m_clock;
    std::map<QString, std::deque<Millis>> m_setupsByPeer;  // the last minute's, oldest first
};

}  // namespace fennimar::refbackend
