#include "platform/linux/session/ScreenLockMonitor.h"

#include "core/Log.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <functional>

namespace fennimar {

namespace {

// A locker answers in well under a millisecond; a bus that takes longer is stuck, not slow.
constexpr int kCallTimeoutMs = 500;

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kGnome = QStringLiteral("org.gnome.ScreenSaver");
const QString kFreedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

void callAsync(QDBusConnection bus, QObject *context, QDBusMessage message,
               std::function<void(const QDBusMessage &)> onReply)
{
    if (!bus.isConnected())
        return;
    // A screen-lock query must never launch a locker the session did not start.
    message.setAutoStartService(false);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, kCallTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, onReply = std::move(onReply)] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            onReply(reply);
    });
}

QDBusMessage propertyGet(const QString &service, const QString &path, const QString &interface, const QString &name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
    message << interface << name;
    return message;
}

QVariant firstArgument(const QDBusMessage &reply)
{
    const QList<QVariant> args = reply.arguments();
    if (args.isEmpty())
        return {};
    QVariant value = args.first();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

void watchService(QDBusConnection bus, const QString &service, QObject *context, std::function<void(bool)> onChange)
{
    if (!bus.isConnected())
        return;
    auto *watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, context);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, context,
                     [onChange = std::move(onChange)](const QString &, const QString &, const QString &newOwner) {
                         onChange(!newOwner.isEmpty());
                     });
}

}  // namespace

ScreenLockMonitor::ScreenLockMonitor(QDBusConnection systemBus, QDBusConnection sessionBus, QString sessionId,
                                     QObject *parent)
    : QObject(parent),
      m_system(std::move(systemBus)),
      m_session(std::move(sessionBus)),
      m_sessionId(std::move(sessionId))
{
    const QString gnomePath = QStringLiteral("/org/gnome/ScreenSaver");
    const QString freedesktopPath = QStringLiteral("/org/freedesktop/ScreenSaver");
    if (m_session.isConnected()) {
        m_session.connect(kGnome, gnomePath, kGnome, QStringLiteral("ActiveChanged"), this,
                          SLOT(onGnomeActiveChanged(bool)));
        m_session.connect(kFreedesktop, freedesktopPath, kFreedesktop, QStringLiteral("ActiveChanged"), this,
                          SLOT(onFreedesktopActiveChanged(bool)));
    }
    watchService(m_system, kLogind, this, [this](bool present) {
        if (present)
            queryLogind();
        else
            set(m_logind, false);
    });
    watchService(m_session, kGnome, this, [this, gnomePath](bool present) {
        if (present)
            queryScreenSaver(kGnome, gnomePath, m_gnome);
        else
            set(m_gnome, false);
    });
    watchService(m_session, kFreedesktop, this, [this, freedesktopPath](bool present) {
        if (present)
            queryScreenSaver(kFreedesktop, freedesktopPath, m_freedesktop);
        else
            set(m_freedesktop, false);
    });
    queryLogind();
    queryScreenSaver(kGnome, gnomePath, m_gnome);
    queryScreenSaver(kFreedesktop, freedesktopPath, m_freedesktop);
}

void ScreenLockMonitor::set(Source &source, bool isLocked)
{
    source.locked = isLocked;
    const bool now = locked();
    if (now != m_lastReported) {
        m_lastReported = now;
        Q_EMIT lockedChanged(now);
    }
}

void ScreenLockMonitor::queryLogind()
{
    if (!m_sessionId.isEmpty()) {
        QDBusMessage message = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                              QStringLiteral("org.freedesktop.login1.Manager"),
                                                              QStringLiteral("GetSession"));
        message << m_sessionId;
        callAsync(m_system, this, message, [this](const QDBusMessage &reply) {
            watchLogindSession(firstArgument(reply).value<QDBusObjectPath>().path());
        });
        return;
    }
    // Started by the user's service manager, the agent is in no session of its own: the user's
    // display session is the one whose screen people see.
    callAsync(m_system, this,
              propertyGet(kLogind, QStringLiteral("/org/freedesktop/login1/user/self"),
                          QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display")),
              [this](const QDBusMessage &reply) {
                  const QVariant value = firstArgument(reply);
                  if (!value.canConvert<QDBusArgument>())
                      return;
                  QString id;
                  QDBusObjectPath path;
                  const QDBusArgument argument = value.value<QDBusArgument>();
                  argument.beginStructure();
                  argument >> id >> path;
                  argument.endStructure();
                  watchLogindSession(path.path());
              });
}

void ScreenLockMonitor::watchLogindSession(const QString &path)
{
    if (path.isEmpty() || path == QLatin1String("/"))
        return;
    if (path != m_sessionPath) {
        if (!m_sessionPath.isEmpty()) {
            m_system.disconnect(kLogind, m_sessionPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                                SLOT(onLogindProperties(QString, QVariantMap, QStringList)));
        }
        m_sessionPath = path;
        m_system.connect(kLogind, m_sessionPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                         SLOT(onLogindProperties(QString, QVariantMap, QStringList)));
    }
    queryLogindLockedHint();
}

void ScreenLockMonitor::queryLogindLockedHint()
{
    callAsync(m_system, this,
              propertyGet(kLogind, m_sessionPath, QStringLiteral("org.freedesktop.login1.Session"),
                          QStringLiteral("LockedHint")),
              [this](const QDBusMessage &reply) { set(m_logind, firstArgument(reply).toBool()); });
}

void ScreenLockMonitor::queryScreenSaver(const QString &service, const QString &path, Source &source)
{
    callAsync(m_session, this, QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive")),
              [this, &source](const QDBusMessage &reply) { set(source, firstArgument(reply).toBool()); });
}

void ScreenLockMonitor::onLogindProperties(const QString &interface, const QVariantMap &changed,
                                           const QStringList &invalidated)
{
    if (interface != QLatin1String("org.freedesktop.login1.Session"))
        return;
    const auto it = changed.constFind(QStringLiteral("LockedHint"));
    if (it != changed.constEnd())
        set(m_logind, it->toBool());
    else if (invalidated.contains(QStringLiteral("LockedHint")))
        queryLogindLockedHint();
}

void ScreenLockMonitor::onGnomeActiveChanged(bool active)
{
    set(m_gnome, active);
}

void ScreenLockMonitor::onFreedesktopActiveChanged(bool active)
{
    set(m_freedesktop, active);
}

}  // namespace fennimar
