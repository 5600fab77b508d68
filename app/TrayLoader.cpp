// The tray as a module loaded on demand (the build's choice on Linux): a headless agent never maps
// Qt Gui and Widgets.
#include "app/TrayLoader.h"

#include "core/Log.h"
#include "platform/PlatformPaths.h"

#include <QLibrary>
#include <QStringList>

namespace fennimar {

TrayModule *loadTrayModule()
{
    // QLibrary adds the platform's suffix to the base name.
    const QString name = QStringLiteral("fennimar-tray");
    QStringList dirs;
    if (const QString beside = platform::executableDirectory(); !beside.isEmpty())
        dirs << beside;
    dirs << QStringLiteral(FENNIMAR_TRAY_MODULE_DIR);
    QStringList failures;
    for (const QString &dir : dirs) {
        QLibrary library(dir + QLatin1Char('/') + name);
        if (!library.load()) {
            failures << library.errorString();
            continue;
        }
        using Entry = TrayModule *(*)();
        if (const auto entry = reinterpret_cast<Entry>(library.resolve("fennimar_tray_module")))
            return entry();
        failures << library.errorString();
    }
    Log::warn(QStringLiteral("tray · module not loaded · running without the tray icon · %1")
                  .arg(failures.join(QStringLiteral(" · "))));
    return nullptr;
}

}  // namespace fennimar
