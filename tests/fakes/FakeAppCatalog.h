#pragma once

#include "platform/AppCatalog.h"

#include <QHash>

#include <vector>

namespace fennimar::test {

// A catalog with a scripted installed list and descriptions keyed by identifier.
class FakeAppCatalog : public AppCatalog {
public:
    std::vector<SeenApp> installed;
    QHash<QString, SeenApp> described;
    int scans = 0;
    int describeCalls = 0;

    std::vector<SeenApp> installedApps() override
    {
        ++scans;
        return installed;
    }
    std::optional<SeenApp> describe(const RunningApp &app) override
    {
        ++describeCalls;
        const auto it = described.constFind(app.identifier);
        if (it == described.constEnd())
            return std::nullopt;
        return *it;
    }
};

}  // namespace fennimar::test
