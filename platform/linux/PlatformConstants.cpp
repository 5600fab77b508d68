#include "platform/PlatformConstants.h"

namespace fennimar::platform {

QString appPrefix()
{
    return QStringLiteral("linux:");
}

const QSet<QString> &browserIds()
{
    // Desktop-file ids of the same browsers as Debian, Flatpak and their vendors package them.
    static const QSet<QString> ids = {
        QStringLiteral("chromium"),
        QStringLiteral("chromium-browser"),
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("google-chrome"),
        QStringLiteral("google-chrome-beta"),
        QStringLiteral("google-chrome-unstable"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("firefox"),
        QStringLiteral("firefox-esr"),
        QStringLiteral("firefox-developer-edition"),
        QStringLiteral("org.mozilla.firefox"),
        QStringLiteral("microsoft-edge"),
        QStringLiteral("microsoft-edge-beta"),
        QStringLiteral("com.microsoft.Edge"),
        QStringLiteral("brave-browser"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("vivaldi-stable"),
        QStringLiteral("com.vivaldi.Vivaldi"),
        QStringLiteral("opera"),
        QStringLiteral("com.opera.Opera"),
    };
    return ids;
}

bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool trayIsStatusItem()
{
    return false;
}

QString osName()
{
    return QStringLiteral("linux");
}

}  // namespace fennimar::platform
