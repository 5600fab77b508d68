#include "inventory/AppInventory.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace fennimar::AppInventory {

namespace {

// Scalar values, so that characters outside the Basic Multilingual Plane sort after U+E000-U+FFFF
// as they do by code point (UTF-16 code units would put them before).
QList<uint> sortKey(const QString &name)
{
    return name.normalized(QString::NormalizationForm_C).toUcs4();
}

SeenApp withTrimmedCategory(SeenApp app)
{
    app.category = category(app.category);
    return app;
}

}  // namespace

std::optional<QString> category(const std::optional<QString> &declared)
{
    if (!declared)
        return std::nullopt;
    QString trimmed = declared->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

std::optional<SeenApp> describe(const Entry &entry)
{
    if (entry.identifier.isEmpty())
        return std::nullopt;
    QString name;
    if (entry.displayName)
        name = *entry.displayName;
    else if (entry.bundleName)
        name = *entry.bundleName;
    else
        name = QFileInfo(entry.fileName).completeBaseName();
    return SeenApp{entry.identifier, name, category(entry.category)};
}

std::optional<SeenApp> describe(AppCatalog &catalog, const RunningApp &app)
{
    if (app.identifier.isEmpty())
        return std::nullopt;
    const std::optional<SeenApp> installed = catalog.describe(app);
    return SeenApp{app.identifier, app.displayName.isEmpty() ? app.identifier : app.displayName,
                   installed ? category(installed->category) : std::nullopt};
}

bool nameOrder(const QString &a, const QString &b)
{
    return sortKey(a) < sortKey(b);
}

std::vector<SeenApp> installedApps(AppCatalog &catalog)
{
    std::vector<SeenApp> apps;
    QHash<QString, std::size_t> slot;
    for (SeenApp &app : catalog.installedApps()) {
        if (app.bundleId.isEmpty())
            continue;
        const auto it = slot.constFind(app.bundleId);
        if (it != slot.constEnd()) {
            apps[*it] = withTrimmedCategory(std::move(app));
        } else {
            slot.insert(app.bundleId, apps.size());
            apps.push_back(withTrimmedCategory(std::move(app)));
        }
    }
    // Keys are computed once per app rather than once per comparison.
    std::vector<std::pair<QList<uint>, std::size_t>> keys;
    keys.reserve(apps.size());
    for (std::size_t i = 0; i < apps.size(); ++i)
        keys.emplace_back(sortKey(apps[i].name), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
    std::vector<SeenApp> sorted;
    sorted.reserve(apps.size());
    for (const auto &key : keys)
        sorted.push_back(std::move(apps[key.second]));
    return sorted;
}

}  // namespace fennimar::AppInventory
