#include "platform/linux/atspi/AtspiActiveFrame.h"

#include "platform/linux/atspi/AtspiTypes.h"

#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <atomic>

namespace fennimar::atspi {

namespace {

const QString DBusService = QStringLiteral("org.freedesktop.DBus");
const QString RegistryService = QStringLiteral("org.a11y.atspi.Registry");
const QString WindowEvents = QStringLiteral("org.a11y.atspi.Event.Window");

QString uniqueConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("fennimar-atspi-front-%1").arg(counter.fetch_add(1));
}

template <typename T>
std::optional<T> firstArgument(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return qdbus_cast<T>(reply.arguments().first());
}

}  // namespace

AtspiActiveFrame::AtspiActiveFrame(Clock &clock, QDBusConnection sessionBus, Options options)
    : m_clock(clock),
      m_session(std::move(sessionBus)),
      m_options(options),
      m_connectionName(uniqueConnectionName()),
      m_context(std::make_unique<QObject>())
{
    registerTypes();
    m_confirm.setSingleShot(true);
    m_confirm.setInterval(static_cast<int>(m_options.confirmAfter.count()));
    connect(&m_confirm, &QTimer::timeout, this, &AtspiActiveFrame::refresh);
    m_status = Status::Unreachable;
    if (!m_session.isConnected())
        return;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                       QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const auto address =
        firstArgument<QString>(m_session.call(call, QDBus::Block, static_cast<int>(m_options.callTimeout.count())));
    if (!address || address->isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::connectToBus(*address, m_connectionName);
    m_connected = bus.isConnected();
    if (!m_connected)
        return;
    m_status = Status::Unknown;
    for (const QString &event : {QStringLiteral("Activate"), QStringLiteral("Deactivate")})
        bus.connect(QString(), QString(), WindowEvents, event, this, SLOT(windowEvent(QDBusMessage)));
    // Applications send only the events someone registered for with the registry.
    for (const QString &event : {QStringLiteral("window:activate"), QStringLiteral("window:deactivate")})
        send(
            bus, RegistryService, QStringLiteral("/org/a11y/atspi/registry"), RegistryService,
            QStringLiteral("RegisterEvent"), {event}, [](const QDBusMessage &) {}, false);
    refresh();
}

AtspiActiveFrame::~AtspiActiveFrame()
{
    m_context.reset();
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_connectionName);
}

std::optional<AtspiActiveFrame::Front> AtspiActiveFrame::front()
{
    if (!m_connected)
        return std::nullopt;
    if (!polling() && (!m_polledOnce || m_clock.monotonic() - m_roundStartedAt >= m_options.refreshEvery))
        refresh();
    if (!m_current)
        return std::nullopt;
    const auto pid = m_pids.find(*m_current);
    if (pid == m_pids.end() || pid->second <= 0)
        return std::nullopt;
    return Front{*m_current, pid->second};
}

void AtspiActiveFrame::windowEvent(const QDBusMessage &message)
{
    const QString sender = message.service();
    if (sender.isEmpty())
        return;
    // An activation names the new app at once. A deactivation only asks for a poll: the app may
    // have closed a dialog and have its main window active again, and another app's activation
    // may arrive before or after it.
    if (message.member() == QLatin1String("Activate")) {
        ++m_eventSeq;
        m_current = sender;
        if (!m_pids.count(sender))
            askPid(sender, false);
    }
    m_confirm.start();
}

void AtspiActiveFrame::send(QDBusConnection connection, const QString &service, const QString &path,
                            const QString &interface, const QString &method, const QList<QVariant> &args,
                            Handler handler, bool partOfRound)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(args);
    if (partOfRound) {
        ++m_roundPending;
        ++m_roundRequests;
    }
    auto *watcher = new QDBusPendingCallWatcher(
        connection.asyncCall(call, static_cast<int>(m_options.callTimeout.count())), m_context.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context.get(),
                     [this, watcher, handler = std::move(handler), partOfRound](QDBusPendingCallWatcher *) {
                         watcher->deleteLater();
                         handler(watcher->reply());
                         if (partOfRound && --m_roundPending == 0)
                             finishRound();
                     });
}

void AtspiActiveFrame::askPid(const QString &busName, bool partOfRound)
{
    send(
        QDBusConnection(m_connectionName), DBusService, QStringLiteral("/org/freedesktop/DBus"), DBusService,
        QStringLiteral("GetConnectionUnixProcessID"), {busName},
        [this, busName](const QDBusMessage &reply) {
            if (const auto pid = firstArgument<uint>(reply))
                m_pids[busName] = *pid;
        },
        partOfRound);
}

void AtspiActiveFrame::refresh()
{
    if (!m_connected)
        return;
    if (polling()) {
        m_again = true;
        return;
    }
    m_roundStartedAt = m_clock.monotonic();
    m_polledOnce = true;
    m_roundEventSeq = m_eventSeq;
    m_registryAnswered = false;
    m_roundApps.clear();
    m_roundActive.clear();
    m_roundRequests = 0;
    const QDBusConnection bus(m_connectionName);
    send(m_session, QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
         QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
         {QStringLiteral("org.a11y.Status")}, [this](const QDBusMessage &reply) {
             const auto status = firstArgument<QVariantMap>(reply).value_or(QVariantMap());
             m_enabled = status.value(QStringLiteral("IsEnabled")).toBool() ||
                         status.value(QStringLiteral("ScreenReaderEnabled")).toBool();
         });
    send(bus, RegistryService, RootPath, Accessible, QStringLiteral("GetChildren"), {},
         [this, bus](const QDBusMessage &reply) {
             const auto apps = firstArgument<QList<ObjectRef>>(reply);
             m_registryAnswered = apps.has_value();
             if (!apps)
                 return;
             for (const ObjectRef &app : apps->mid(0, m_options.maxApps)) {
                 // The registry lists itself first.
                 if (app.service.isEmpty() || app.isNull() || app.service == reply.service())
                     continue;
                 m_roundApps.insert(app.service);
                 if (!m_pids.count(app.service))
                     askPid(app.service, true);
                 if (!m_woken.contains(app.service)) {
                     // Chromium keeps its windows' ACTIVE state right only once someone asked for
                     // its own bus address and its attributes.
                     m_woken.insert(app.service);
                     send(
                         bus, app.service, RootPath, Application, QStringLiteral("GetApplicationBusAddress"), {},
                         [](const QDBusMessage &) {}, false);
                     send(
                         bus, app.service, RootPath, Accessible, QStringLiteral("GetAttributes"), {},
                         [](const QDBusMessage &) {}, false);
                 }
                 askWindows(app.service, app.path.path());
             }
         });
}

void AtspiActiveFrame::askWindows(const QString &busName, const QString &path)
{
    const QDBusConnection bus(m_connectionName);
    send(bus, busName, path, Accessible, QStringLiteral("GetChildren"), {},
         [this, bus, busName](const QDBusMessage &reply) {
             const auto windows = firstArgument<QList<ObjectRef>>(reply).value_or(QList<ObjectRef>());
             for (const ObjectRef &window : windows.mid(0, m_options.maxWindows)) {
                 if (window.isNull())
                     continue;
                 send(bus, window.service.isEmpty() ? busName : window.service, window.path.path(), Accessible,
                      QStringLiteral("GetState"), {}, [this, busName](const QDBusMessage &state) {
                          const auto states = firstArgument<QList<uint>>(state);
                          if (states && hasState(*states, State::Active) && !hasState(*states, State::Defunct))
                              m_roundActive.insert(busName);
                      });
             }
         });
}

void AtspiActiveFrame::finishRound()
{
    m_lastRoundRequests = m_roundRequests;
    if (!m_registryAnswered) {
        m_status = Status::Unreachable;
        m_current.reset();
    } else {
        m_status = m_enabled ? Status::Working : Status::Disabled;
        // Applications that left the bus: a new one may reuse nothing of theirs.
        for (auto it = m_pids.begin(); it != m_pids.end();)
            it = m_roundApps.contains(it->first) || it->first == m_current ? std::next(it) : m_pids.erase(it);
        m_woken.intersect(m_roundApps);
        // An event during the round is newer than what the round saw: the poll that the event
        // scheduled confirms it.
        if (m_eventSeq != m_roundEventSeq) {
        } else if (m_roundActive.size() == 1) {
            m_current = *m_roundActive.begin();
        } else if (!(m_current && m_roundActive.contains(*m_current))) {
            // None active, or several with none of them the last one activated: nobody for sure.
            m_current.reset();
        }
    }
    if (m_again) {
        m_again = false;
        refresh();
    }
}

}  // namespace fennimar::atspi
