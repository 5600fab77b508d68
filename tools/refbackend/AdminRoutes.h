#pragma once

#include "core/Clock.h"
#include "tools/refbackend/FaultPlan.h"
#include "tools/refbackend/Overview.h"
#include "tools/refbackend/PairingStore.h"
#include "tools/refbackend/Reply.h"
#include "tools/refbackend/ReportStore.h"
#include "tools/refbackend/Request.h"

namespace fennimar::refbackend {

// The routes under /admin/ that stand in for the parent's app and let tests steer the server:
//   POST   /admin/claim        {"code", "child", "device_name"?}
//   POST   /admin/apps         {"child", "apps": [{"package_id", "is_blocked"}]}
//   GET    /admin/devices
//   GET    /admin/overview     (what the page at "/" shows, see Overview.h)
//   DELETE /admin/devices/<id>
//   GET    /admin/faults, POST /admin/faults {fault}, DELETE /admin/faults
//   POST   /admin/dismiss      {"alert": id}   (the parent has seen it)
// The server lets only requests that pass its AdminGate reach them, and the page at "/".
class AdminRoutes {
public:
    AdminRoutes(PairingStore &pairings, ReportStore &reports, FaultPlan &faults, Clock &clock)
        : m_pairings(pairings),
          m_reports(reports),
          m_faults(faults),
          m_clock(clock),
          m_overview(pairings, reports, clock)
    {
    }

    // Answers any request whose first path segment is "admin": JSON in and out, 400 for a bad
    // body, 404/409/410 for a code that is unknown, already claimed or expired, 404 and 405 for
    // unknown routes and methods, 500 when the database fails. Synchronous; never throws.
    Reply handle(const Request &request);

    // The page at "/" (GET): the overview as HTML, never cached, no script allowed, not to
    // be framed by other pages.
    Reply page(const Request &request);

private:
    Reply claim(const Request &request);
    Reply setApps(const Request &request);
    Reply devices();
    Reply removeDevice(const QString &deviceId);
    Reply faults(const Request &request);
    Reply dismiss(const Request &request);

    PairingStore &m_pairings;
    ReportStore &m_reports;
    FaultPlan &m_faults;
    Clock &m_clock;
    Overview m_overview;
};

}  // namespace fennimar::refbackend
