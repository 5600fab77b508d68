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

    std::vector<SeenApp> installedApps() override { return installed; }
    std::optional<SeenApp> describe(const RunningApp &app) override
    {
        const auto it = described.constFind(app.identifier);
        return it == described.constEnd() ? std::nullopt : std::optional(*it);
    }
};

}  // namespace fennimar::test
