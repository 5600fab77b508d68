#pragma once

#include "platform/Accessibility.h"
#include "core/Clock.h"
#include "platform/linux/atspi/AtspiAddressReader.h"

#include <QDBusConnection>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace fennimar {

namespace atspi {
class TrustListener;
}

// Accessibility on a Linux desktop through AT-SPI over D-Bus. The accessibility bus is found
// through the session bus (org.a11y.Bus); trust means that bus exists and the desktop's
// accessibility support (org.a11y.Status IsEnabled or ScreenReaderEnabled) is on, because only then
// do browsers publish their interface trees. Main thread only; every D-Bus call is blocking with an
// explicit timeout, so no method waits longer than a few hundred milliseconds.
class AtspiAccessibility final : public Accessibility {
public:
    struct Options {
        Millis callTimeout{200};                 // per request to a browser or to the desktop's services
        Millis readBudget{200};                  // for all the requests of one readAddress together
        Millis trustFreshFor{4000};              // isTrusted() asks D-Bus at most this often...
        Millis trustFreshWhileFollowed{300000};  // ...or this, while the launcher's signals are followed
        Millis firstBackoff{2000};               // a browser that did not answer is left alone this long...
        Millis maxBackoff{30000};                // ...doubling up to this while it keeps not answering
        bool useApplicationSocket = true;        // talk to each browser on its own socket when it offers one
        atspi::AtspiAddressReader::Limits limits{};
    };

    // sessionBus: where org.a11y.Bus lives. activeWindowTitle: the active X11 window's title, or
    // empty; used only when a browser's frames do not say which one is active (may be empty).
    AtspiAccessibility(Clock &clock, QDBusConnection sessionBus, std::function<QString()> activeWindowTitle = {});
    AtspiAccessibility(Clock &clock, QDBusConnection sessionBus, std::function<QString()> activeWindowTitle,
                       Options options);
    ~AtspiAccessibility() override;

    // The reader of this login session: the session bus, and frontTitle (a Wayland compositor's
    // title of the window in front) when given, else the X11 display's active-window title when
    // $DISPLAY names one.
    static std::unique_ptr<AtspiAccessibility> forSession(Clock &clock, std::function<QString()> frontTitle = {});
    AtspiAccessibility(const AtspiAccessibility &) = delete;
    AtspiAccessibility &operator=(const AtspiAccessibility &) = delete;

    // True when the accessibility bus exists and the desktop's accessibility support is on. Answers
    // from memory while the launcher's change signals are followed (a signal, delivered by the event
    // loop, makes it ask again; it asks anyway every trustFreshWhileFollowed), else one bounded
    // session-bus query at most every trustFreshFor; false on any failure.
    bool isTrusted() override;

    // Turns the desktop's accessibility support on (org.a11y.Status IsEnabled). The setting is kept
    // in the user's desktop settings, so it outlives this process and applies to every application
    // of the session. One session-bus call, bounded to 1 s. Logs what it did; a failure is logged,
    // never thrown.
    void requestTrust() override;

    // Url, Editing, Unreadable or NoPermission for the focused window of the browser with this
    // process id. About five requests to the browser in the usual case; a browser that does not
    // answer costs one timeout and is then skipped ("no address found") for a growing back-off.
    // The requests to the registry and the browser share one readBudget: a read that spends it
    // ends as "page too large to scan" when the walk was under way, else as "no address found",
    // and the browser gets the same back-off as one that does not answer (except on the read that
    // wakes the application, which pays once for what later reads do not).
    AddressOutcome readAddress(qint64 pid) override;

    // Starts the desktop's accessibility settings (GNOME's universal-access panel or KDE's
    // accessibility module) when one is installed; false when none is or it cannot be started.
    bool openSettings() override;

    // D-Bus requests made by the last readAddress (for benchmarks).
    int lastReadRequests() const { return m_lastRequests; }

private:
    struct App {
        QString busName;
        bool woken = false;
        QString peerName;  // the connection name of the application's own socket, when open
        atspi::WindowMemory memory;
        Millis backoff{0};
        Millis quietUntil{0};
    };

    std::optional<QDBusConnection> accessibilityBus();
    void followTrustChanges();
    App *findApp(qint64 pid, atspi::AtspiCaller &registry);
    void wake(App &app, atspi::AtspiCaller &caller);
    void forget(qint64 pid);
    // Closes the application's own socket for good; the app stays known and is read through the bus.
    void dropSocket(qint64 pid, App &app);
    void backOff(qint64 pid, App &app, const QString &why);

    Clock &m_clock;
    QDBusConnection m_session;
    std::function<QString()> m_activeWindowTitle;
    Options m_options;
    QString m_connectionName;
    bool m_busConnected = false;
    std::optional<bool> m_trusted;
    Millis m_trustedAt{0};
    std::unique_ptr<atspi::TrustListener> m_trustListener;
    bool m_followingTrust = false;
    std::map<QString, qint64> m_pidByBusName;
    std::map<qint64, App> m_apps;
    std::map<qint64, Millis> m_unregisteredSince;  // a browser still starting is not yet registered
    std::set<qint64> m_warnedUnregistered;
    int m_lastRequests = 0;
};

}  // namespace fennimar
