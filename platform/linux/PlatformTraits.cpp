#include "platform/PlatformTraits.h"

namespace fennimar::platform {

QString appPrefix()
{
    return QStringLiteral("linux:");
}

const QSet<QString> &browserIds()
{
    // Desktop-file ids as Debian and the vendors' own .deb repositories, Flathub and the Snap Store
    // package each browser (a Snap's id is "<snap>_<app>", as AppResolver reads it from the cgroup).
    // An id listed here is judged by its page address; one that cannot be read shows as such in the
    // menu instead of being counted as an app.
    static const QSet<QString> ids = {
        // Chromium and the browsers built on it
        QStringLiteral("chromium"),
        QStringLiteral("chromium-browser"),
        QStringLiteral("org.chromium.Chromium"),
        QStringLiteral("chromium_chromium"),
        QStringLiteral("ungoogled-chromium"),
        QStringLiteral("io.github.ungoogled_software.ungoogled_chromium"),
        QStringLiteral("google-chrome"),
        QStringLiteral("google-chrome-beta"),
        QStringLiteral("google-chrome-unstable"),
        QStringLiteral("com.google.Chrome"),
        QStringLiteral("microsoft-edge"),
        QStringLiteral("microsoft-edge-beta"),
        QStringLiteral("com.microsoft.Edge"),
        QStringLiteral("brave-browser"),
        QStringLiteral("com.brave.Browser"),
        QStringLiteral("brave_brave"),
        QStringLiteral("vivaldi-stable"),
        QStringLiteral("com.vivaldi.Vivaldi"),
        QStringLiteral("vivaldi_vivaldi-stable"),
        QStringLiteral("opera"),
        QStringLiteral("com.opera.Opera"),
        QStringLiteral("opera_opera"),
        QStringLiteral("thorium-browser"),
        // Firefox and the browsers built on it
        QStringLiteral("firefox"),
        QStringLiteral("firefox-esr"),
        QStringLiteral("firefox-developer-edition"),
        QStringLiteral("org.mozilla.firefox"),
        QStringLiteral("firefox_firefox"),
        QStringLiteral("librewolf"),
        QStringLiteral("io.gitlab.librewolf-community"),
        QStringLiteral("floorp"),
        QStringLiteral("one.ablaze.floorp"),
        QStringLiteral("zen"),
        QStringLiteral("app.zen_browser.zen"),
        QStringLiteral("mullvad-browser"),
        QStringLiteral("net.mullvad.MullvadBrowser"),
        QStringLiteral("waterfox"),
        QStringLiteral("net.waterfox.waterfox"),
        // torbrowser-launcher's entry (Debian) and the one the Tor Project's own archive registers
        QStringLiteral("torbrowser"),
        QStringLiteral("start-tor-browser"),
        QStringLiteral("com.github.micahflee.torbrowser-launcher"),
        // GNOME Web
        QStringLiteral("org.gnome.Epiphany"),
        QStringLiteral("epiphany"),
        // KDE's browsers on Qt WebEngine, read from their address field: the ids their windows give on
        // Plasma, Wayland and Flathub, and Debian's menu entry for Konqueror, which names it elsewhere
        QStringLiteral("org.kde.falkon"),
        QStringLiteral("org.kde.konqueror"),
        QStringLiteral("konqbrowser"),
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
