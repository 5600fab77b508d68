#pragma once

#include "core/Clock.h"
#include "core/Result.h"
#include "tools/refbackend/PairingStore.h"
#include "tools/refbackend/ReportStore.h"

#include <QJsonObject>

namespace fennimar::refbackend {

// What the server knows, arranged for people: the JSON of GET /admin/overview, which the page at
// "/" renders, so a test of the route tests what the page shows.
//   {"generated_at", "devices" (claimed ones): [{"device_id", "device_type", "device_name", "paired",
//     "child": {"id", "name"} | null,
//     "last_heartbeat": {"received_at", "age_seconds", "beats", "checks", "platform_info",
//                        "app_build"} | null,
//     "monitored": [{"package_id", "is_blocked"}], "apps_seen": [{"bundle_id", "app_name",
//     "category"?, "first_seen", "last_seen"}],
//     "days": [{"date", "total_seconds", "buckets" (24), "tz_offset_minutes", "confirmed",
//               "received_at"}] newest first,
//     "alerts": [{"id", "what", "first_at", "last_at", "times"}] not yet dismissed, oldest first,
//     "no_usage_hours"?: whole hours without a usage report while the device beat within the last
//       10 minutes and said it sees the app in front}]}
//   "pending_setups": [{"device_id", "device_type", "device_name", "asked_at"}] oldest first: devices
//     that asked for a pair code still open, not yet claimed (expired ones are purged first)
// "checks" is the heartbeat's own object, whatever checks the agent sent.
class Overview {
public:
    Overview(PairingStore &pairings, ReportStore &reports, Clock &clock)
        : m_pairings(pairings), m_reports(reports), m_clock(clock)
    {
    }

    // A few queries per device on the caller's thread, after purging expired setups; a database
    // failure comes back as the error.
    Result<QJsonObject> build();

private:
    PairingStore &m_pairings;
    ReportStore &m_reports;
    Clock &m_clock;
};

}  // namespace fennimar::refbackend
