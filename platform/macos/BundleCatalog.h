#pragma once

#include "platform/AppCatalog.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

namespace fennimar::macos {

// Application bundles: the ".app" folders directly inside "/System/Applications", its "Utilities",
// "/Applications" and "~/Applications" (not their subfolders), read through CFBundle, whose Info.plist values come
// localized. Main thread only.
class BundleCatalog final : public AppCatalog {
public:
    // roots: the folders scanned, in order (a later root's bundle wins over an earlier one's).
    explicit BundleCatalog(QStringList roots = defaultRoots());
    static QStringList defaultRoots();

    // Every bundle in the roots (hidden entries included, suffix ".app" exactly, case kept): one
    // directory listing per root and one Info.plist read per bundle. A root that cannot be listed
    // and a bundle without an identifier are skipped.
    std::vector<SeenApp> installedApps() override;
    // The running app's bundle at its location, read once and served from memory until the
    // bundle's Info.plist changes (one stat per call). Nothing without a location or a readable
    // bundle with an identifier.
    std::optional<SeenApp> describe(const RunningApp &app) override;

    // The record of the bundle at path: the identifier; "CFBundleDisplayName", else "CFBundleName"
    // when a string (used as is, even empty), else the folder name without its extension;
    // "LSApplicationCategoryType" when a string, untrimmed. Nothing when the folder is not a bundle
    // or declares no identifier.
    static std::optional<SeenApp> readBundle(const QString &path);

private:
    struct Cached {
        QDateTime infoModified;
        std::optional<SeenApp> app;
    };
    QStringList m_roots;
    QHash<QString, Cached> m_byLocation;
};

}  // namespace fennimar::macos
