#include "platform/PlatformTraits.h"

namespace fennimar::platform {

QString appPrefix()
{
    return QStringLiteral("mac:");
}

const QSet<QString> &browserIds()
{
    // Bundle identifiers, compared exactly (case-sensitive).
    static const QSet<QString> ids = {
        QStringLiteral("com.apple.Safari"),
        QStringLiteral("com.apple.SafariTechnologyPreview"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("com.google.Chrome.beta"),
        QStringLiteral("com.google.Chrome.canary"),
        QStringLiteral("org.mozilla.firefox"),
        QStringLiteral("org.mozilla.firefoxdeveloperedition"),
        QStringLiteral("com.microsoft.edgemac"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("company.thebrowser.Browser"),
        QStringLiteral("com.operasoftware.Opera"),
        QStringLiteral("com.vivaldi.Vivaldi"),
        QStringLiteral("org.chromium.Chromium"),
    };
    return ids;
}

bool hasDisplay()
{
    return true;
}

bool trayIsStatusItem()
{
    return true;
}

QString osName()
{
    return QStringLiteral("macos");
}

}  // namespace fennimar::platform
