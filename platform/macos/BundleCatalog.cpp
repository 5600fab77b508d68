#include "platform/macos/BundleCatalog.h"

#include "platform/macos/CFHelpers.h"

#include <QDir>
#include <QFileInfo>

namespace fennimar::macos {

BundleCatalog::BundleCatalog(QStringList roots) : m_roots(std::move(roots)) {}

QStringList BundleCatalog::defaultRoots()
{
    // The system's own apps (Messages, FaceTime, Chess; Terminal in Utilities) are apps a parent may
    // pick too; they come first, so that a copy installed under the same identifier wins.
    return {QStringLiteral("/System/Applications"), QStringLiteral("/System/Applications/Utilities"),
            QStringLiteral("/Applications"), QDir::homePath() + QStringLiteral("/Applications")};
}

std::optional<SeenApp> BundleCatalog::readBundle(const QString &path)
{
    const auto cfPath = toCFString(path);
    const auto url = CFPtr<CFURLRef>::adopt(
        CFURLCreateWithFileSystemPath(kCFAllocatorDefault, cfPath.get(), kCFURLPOSIXPathStyle, true));
    if (!url)
        return std::nullopt;
    const auto bundle = CFPtr<CFBundleRef>::adopt(CFBundleCreate(kCFAllocatorDefault, url.get()));
    if (!bundle)
        return std::nullopt;
    const QString identifier = toQString(CFBundleGetIdentifier(bundle.get()));
    if (identifier.isEmpty())
        return std::nullopt;
    const auto info = [&](const char *key) {
        return stringValue(CFBundleGetValueForInfoDictionaryKey(bundle.get(), toCFString(QLatin1String(key)).get()));
    };
    SeenApp app{identifier, {}, info("LSApplicationCategoryType")};
    if (auto display = info("CFBundleDisplayName"))
        app.name = *display;
    else if (auto name = info("CFBundleName"))
        app.name = *name;
    else
        app.name = QFileInfo(path).completeBaseName();
    return app;
}

std::vector<SeenApp> BundleCatalog::installedApps()
{
    std::vector<SeenApp> apps;
    for (const QString &root : m_roots) {
        const QDir dir(root);
        // Hidden entries count; a missing or unreadable root lists nothing.
        const QStringList names = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            if (!name.endsWith(QLatin1String(".app"), Qt::CaseSensitive) || name.size() <= 4)
                continue;
            if (auto app = readBundle(dir.filePath(name)))
                apps.push_back(std::move(*app));
        }
    }
    return apps;
}

std::optional<SeenApp> BundleCatalog::describe(const RunningApp &app)
{
    if (app.location.isEmpty())
        return std::nullopt;
    const QDateTime modified = QFileInfo(app.location + QStringLiteral("/Contents/Info.plist")).lastModified();
    auto it = m_byLocation.find(app.location);
    if (it == m_byLocation.end() || it->infoModified != modified)
        it = m_byLocation.insert(app.location, Cached{modified, readBundle(app.location)});
    return it->app;
}

}  // namespace fennimar::macos
