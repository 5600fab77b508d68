#pragma once

#include "platform/Desktop.h"

#include <QString>

#include <optional>
#include <vector>

namespace fennimar {

// One installed or running application as the backend is told about it.
struct SeenApp {
    QString bundleId;                 // identifier (macOS bundle id / Linux desktop-file id)
    QString name;                     // display name
    std::optional<QString> category;  // e.g. "public.app-category.games"; absent when none or blank
    bool operator==(const SeenApp &) const = default;
};

// The platform's list of applications. Main thread only.
class AppCatalog {
public:
    virtual ~AppCatalog() = default;

    // Every application a user could start, in no particular order, duplicates possible. Costs a
    // directory scan (milliseconds; cached between calls where the platform can tell nothing
    // changed). Unreadable entries are skipped; never fails.
    virtual std::vector<SeenApp> installedApps() = 0;

    // The description of a running application (from its bundle or desktop entry), or nothing
    // when it has no identifier. Cheap (served from a cache).
    virtual std::optional<SeenApp> describe(const RunningApp &app) = 0;
};

}  // namespace fennimar
