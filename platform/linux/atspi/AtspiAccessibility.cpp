#include "platform/linux/atspi/AtspiAccessibility.h"

#include "core/Log.h"
#include "platform/linux/x11/X11WindowTitle.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>

namespace fennimar {

using atspi::AtspiCaller;

namespace {

const QString BusService = QStringLiteral("org.a11y.Bus");
const QString BusPath = QStringLiteral("/org/a11y/bus");
const QString StatusInterface = QStringLiteral("org.a11y.Status");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

AddressOutcome noAddress()
{
    return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noAddressFound));
}

// A browser registers within a few seconds of starting; one missing for longer started before
// accessibility was on.
constexpr Millis unregisteredWarnAfter{10000};

// Turning accessibility on makes the launcher write the desktop settings; it is a user's click, not
// a sampler tick, so it may wait longer than a read's calls.
constexpr Millis requestTimeout{1000};

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("fennimar-atspi-%1").arg(counter.fetch_add(1));
}

}  // namespace

namespace atspi {

// Receives the session bus's word that the accessibility switch or its launcher changed. QtDBus
// delivers signals to slots only, hence a QObject of its own.
class TrustListener : public QObject {
    Q_OBJECT
public:
    explicit TrustListener(std::function<void()> onChange) : m_onChange(std::move(onChange)) {}
public Q_SLOTS:
    void changed() { m_onChange(); }

private:
    std::function<void()> m_onChange;
};

}  // namespace atspi

AtspiAccessibility::AtspiAccessibility(Clock &clock, QDBusConnection sessionBus,
                                       std::function<QString()> activeWindowTitle)
    : AtspiAccessibility(clock, std::move(sessionBus), std::move(activeWindowTitle), Options{})
{
}

AtspiAccessibility::AtspiAccessibility(Clock &clock, QDBusConnection sessionBus,
                                       std::function<QString()> activeWindowTitle, Options options)
    : m_clock(clock),
      m_session(std::move(sessionBus)),
      m_activeWindowTitle(std::move(activeWindowTitle)),
      m_options(options),
      m_connectionName(uniqueConnectionName())
{
    atspi::registerTypes();
    followTrustChanges();
}

std::unique_ptr<AtspiAccessibility> AtspiAccessibility::forSession(Clock &clock, std::function<QString()> frontTitle)
{
    std::function<QString()> title = std::move(frontTitle);
    if (!title && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        auto x11 = std::make_shared<atspi::X11WindowTitle>();
        title = [x11] { return x11->activeTitle(); };
    }
    return std::make_unique<AtspiAccessibility>(clock, QDBusConnection::sessionBus(), std::move(title));
}

AtspiAccessibility::~AtspiAccessibility()
{
    for (const auto &[pid, app] : m_apps) {
        if (!app.peerName.isEmpty())
            QDBusConnection::disconnectFromPeer(app.peerName);
    }
    if (m_busConnected)
        QDBusConnection::disconnectFromBus(m_connectionName);
    if (m_followingTrust)
        m_session.disconnect(BusService, BusPath, PropertiesInterface, QStringLiteral("PropertiesChanged"),
                             m_trustListener.get(), SLOT(changed()));
}

void AtspiAccessibility::followTrustChanges()
{
    // The launcher announces every change of its switches with PropertiesChanged, and a launcher
    // that starts, stops or restarts changes the owner of its name; either makes the remembered
    // answer unknown. Following both lets isTrusted() answer from memory instead of asking the
    // session bus every few seconds.
    m_trustListener = std::make_unique<atspi::TrustListener>([this] { m_trusted.reset(); });
    auto *owner =
        new QDBusServiceWatcher(BusService, m_session, QDBusServiceWatcher::WatchForOwnerChange, m_trustListener.get());
    QObject::connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, m_trustListener.get(),
                     &atspi::TrustListener::changed);
    m_followingTrust = m_session.connect(BusService, BusPath, PropertiesInterface, QStringLiteral("PropertiesChanged"),
                                         m_trustListener.get(), SLOT(changed()));
}

bool AtspiAccessibility::isTrusted()
{
    const Millis now = m_clock.monotonic();
    const Millis freshFor = m_followingTrust ? m_options.trustFreshWhileFollowed : m_options.trustFreshFor;
    if (m_trusted && now - m_trustedAt < freshFor)
        return *m_trusted;
    QDBusMessage message =
        QDBusMessage::createMethodCall(BusService, BusPath, PropertiesInterface, QStringLiteral("GetAll"));
    message.setArguments({StatusInterface});
    const QDBusMessage reply = m_session.call(message, QDBus::Block, static_cast<int>(m_options.callTimeout.count()));
    bool enabled = false;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto properties = qdbus_cast<QVariantMap>(reply.arguments().first());
        enabled = properties.value(QStringLiteral("IsEnabled")).toBool() ||
                  properties.value(QStringLiteral("ScreenReaderEnabled")).toBool();
    }
    m_trusted = enabled && accessibilityBus().has_value();
    m_trustedAt = now;
    return *m_trusted;
}

void AtspiAccessibility::requestTrust()
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(BusService, BusPath, PropertiesInterface, QStringLiteral("Set"));
    message.setArguments({StatusInterface, QStringLiteral("IsEnabled"), QVariant::fromValue(QDBusVariant(true))});
    const QDBusMessage reply = m_session.call(message, QDBus::Block, static_cast<int>(requestTimeout.count()));
    m_trusted.reset();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        Log::warn(QStringLiteral("accessibility · could not turn on the desktop's accessibility support · ") +
                  reply.errorMessage());
        return;
    }
    Log::info(
        QStringLiteral("accessibility · turned on the desktop's accessibility support · it stays on in this "
                       "user's desktop settings for every application; browsers started before now must be "
                       "restarted before their addresses can be read"));
}

bool AtspiAccessibility::openSettings()
{
    struct Panel {
        const char *program;
        const char *argument;
    };
    static constexpr Panel panels[] = {
        {"gnome-control-center", "universal-access"},
        {"systemsettings", "kcm_access"},
        {"systemsettings5", "kcm_access"},
    };
    for (const Panel &panel : panels) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(panel.program));
        if (!path.isEmpty())
            return QProcess::startDetached(path, {QString::fromLatin1(panel.argument)});
    }
    return false;
}

std::optional<QDBusConnection> AtspiAccessibility::accessibilityBus()
{
    if (m_busConnected) {
        QDBusConnection bus(m_connectionName);
        if (bus.isConnected())
            return bus;
        // The bus went away (its launcher restarted): everything learnt on it is stale.
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_busConnected = false;
        for (const auto &[pid, app] : m_apps) {
            if (!app.peerName.isEmpty())
                QDBusConnection::disconnectFromPeer(app.peerName);
        }
        m_apps.clear();
        m_pidByBusName.clear();
    }
    const QDBusMessage message =
        QDBusMessage::createMethodCall(BusService, BusPath, BusService, QStringLiteral("GetAddress"));
    const QDBusMessage reply = m_session.call(message, QDBus::Block, static_cast<int>(m_options.callTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QString address = reply.arguments().first().toString();
    if (address.isEmpty())
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::connectToBus(address, m_connectionName);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(m_connectionName);
        return std::nullopt;
    }
    m_busConnected = true;
    return bus;
}

AtspiAccessibility::App *AtspiAccessibility::findApp(qint64 pid, AtspiCaller &registry)
{
    if (const auto known = m_apps.find(pid); known != m_apps.end())
        return &known->second;
    const auto apps = registry.children(atspi::RootPath);
    if (!apps)
        return nullptr;
    std::map<QString, qint64> present;
    for (const atspi::ObjectRef &ref : *apps) {
        if (ref.service.isEmpty())
            continue;
        if (const auto known = m_pidByBusName.find(ref.service); known != m_pidByBusName.end()) {
            present.insert(*known);
            continue;
        }
        const auto reply = registry.callOn(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"), {ref.service});
        if (reply && !reply->isEmpty())
            present[ref.service] = reply->first().toLongLong();
        if (registry.stopped())
            break;
    }
    m_pidByBusName = std::move(present);
    // Browsers that quit since: their sockets and window memories go with them.
    for (auto it = m_apps.begin(); it != m_apps.end();) {
        if (m_pidByBusName.count(it->second.busName) || registry.failure() != AtspiCaller::Failure::None) {
            ++it;
            continue;
        }
        if (!it->second.peerName.isEmpty())
            QDBusConnection::disconnectFromPeer(it->second.peerName);
        it = m_apps.erase(it);
    }
    for (const auto &[name, owner] : m_pidByBusName) {
        if (owner == pid) {
            App &app = m_apps[pid];
            app.busName = name;
            return &app;
        }
    }
    return nullptr;
}

void AtspiAccessibility::wake(App &app, AtspiCaller &caller)
{
    // Chromium builds its tree and keeps its ACTIVE states right only once someone asks for the
    // application's own bus address and its attributes.
    const auto address = caller.call(atspi::RootPath, atspi::Application, QStringLiteral("GetApplicationBusAddress"));
    caller.attributes(atspi::RootPath, atspi::Accessible);
    if (caller.stopped())
        return;
    app.woken = true;
    const QString socket = address && !address->isEmpty() ? address->first().toString() : QString();
    if (!m_options.useApplicationSocket || socket.isEmpty())
        return;
    const QString name = m_connectionName + QStringLiteral("-app-") + app.busName;
    const QDBusConnection peer = QDBusConnection::connectToPeer(socket, name);
    if (peer.isConnected())
        app.peerName = name;
    else
        QDBusConnection::disconnectFromPeer(name);
}

void AtspiAccessibility::dropSocket(qint64 pid, App &app)
{
    QDBusConnection::disconnectFromPeer(app.peerName);
    app.peerName.clear();
    Log::info(QStringLiteral("accessibility · browser %1 closed its own socket to us · read through the bus").arg(pid));
}

void AtspiAccessibility::forget(qint64 pid)
{
    const auto found = m_apps.find(pid);
    if (found == m_apps.end())
        return;
    if (!found->second.peerName.isEmpty())
        QDBusConnection::disconnectFromPeer(found->second.peerName);
    m_pidByBusName.erase(found->second.busName);
    m_apps.erase(found);
}

void AtspiAccessibility::backOff(qint64 pid, App &app, const QString &why)
{
    const bool first = app.backoff == Millis(0);
    app.backoff = first ? m_options.firstBackoff : std::min(app.backoff * 2, m_options.maxBackoff);
    app.quietUntil = m_clock.monotonic() + app.backoff;
    if (first) {
        Log::warn(QStringLiteral("accessibility · browser %1 %2 · reads paused for %3 s")
                      .arg(pid)
                      .arg(why)
                      .arg(static_cast<double>(app.backoff.count()) / 1000.0));
    }
}

AddressOutcome AtspiAccessibility::readAddress(qint64 pid)
{
    m_lastRequests = 0;
    if (!isTrusted())
        return AddressOutcome::noPermission();
    const auto bus = accessibilityBus();
    if (!bus)
        return AddressOutcome::noPermission();
    const Millis now = m_clock.monotonic();
    if (const auto known = m_apps.find(pid); known != m_apps.end() && now < known->second.quietUntil)
        return noAddress();

    const Millis deadline = now + m_options.readBudget;
    AtspiCaller registry(*bus, QStringLiteral("org.a11y.atspi.Registry"), m_options.callTimeout);
    registry.setDeadline(m_clock, deadline);
    App *app = findApp(pid, registry);
    m_lastRequests += registry.requests();
    if (!app) {
        const Millis since = m_unregisteredSince.try_emplace(pid, now).first->second;
        if (registry.failure() == AtspiCaller::Failure::None && now - since >= unregisteredWarnAfter &&
            m_warnedUnregistered.insert(pid).second) {
            Log::warn(QStringLiteral("accessibility · browser %1 is not on the accessibility bus · it was probably "
                                     "started before accessibility was turned on and must be restarted")
                          .arg(pid));
        }
        return noAddress();
    }

    m_unregisteredSince.erase(pid);
    // The browser's own socket may take the connection and then refuse it (it admits only its own
    // user; a sandbox may do the same): from then on it is read through the bus, which reaches it.
    if (!app->peerName.isEmpty() && !QDBusConnection(app->peerName).isConnected())
        dropSocket(pid, *app);
    const bool direct = !app->peerName.isEmpty();
    AtspiCaller caller(direct ? QDBusConnection(app->peerName) : *bus, direct ? QString() : app->busName,
                       m_options.callTimeout);
    caller.setDeadline(m_clock, deadline);
    const bool waking = !app->woken;
    if (waking)
        wake(*app, caller);
    AddressOutcome outcome = noAddress();
    if (caller.failure() == AtspiCaller::Failure::None) {
        atspi::AtspiAddressReader reader(caller, app->memory, now, m_activeWindowTitle, m_options.limits);
        outcome = reader.read();
    }
    m_lastRequests += caller.requests();

    switch (caller.failure()) {
        case AtspiCaller::Failure::Hung:
            backOff(pid, *app, QStringLiteral("is not answering (%1)").arg(caller.failureText()));
            return noAddress();
        case AtspiCaller::Failure::OutOfTime:
            // The read that wakes an application pays once for what later reads do not (Chromium
            // builds its tree): running out then is not held against the browser.
            if (waking)
                return noAddress();
            backOff(pid, *app,
                    QStringLiteral("could not be read within %1 ms (a slow browser or a very large page)")
                        .arg(m_options.readBudget.count()));
            // The walk says when it was the size of the page; otherwise the browser was too slow.
            return outcome.text == QLatin1String(AddressOutcome::pageTooLarge) ? outcome : noAddress();
        case AtspiCaller::Failure::Gone:
            if (direct)
                dropSocket(pid, *app);  // a browser that quit leaves the bus too, and is forgotten there
            else
                forget(pid);  // found again, with a fresh connection, on the next read
            return noAddress();
        default:
            if (app->backoff != Millis(0))
                Log::info(QStringLiteral("accessibility · browser %1 is answering again").arg(pid));
            app->backoff = Millis(0);
            return outcome;
    }
}

}  // namespace fennimar

#include "AtspiAccessibility.moc"
