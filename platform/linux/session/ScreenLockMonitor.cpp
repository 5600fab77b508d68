#include "platform/linux/session/ScreenLockMonitor.h"

#include "core/Log.h"
#include "platform/linux/ProgramFile.h"
#include "platform/linux/session/BusCalls.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFileInfo>

#include <functional>

#include <unistd.h>

namespace fennimar {

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kGnome = QStringLiteral("org.gnome.ScreenSaver");
const QString kFreedesktop = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kLocker = QStringLiteral("screen lock");
const QString kOtherSession = QStringLiteral("other session");

// The programs that own a screen-saver name on the desktops families use: GNOME's Shell and its
// settings daemon's proxy (Cinnamon's fork of it too), KDE's session manager (X11) and compositor
// (Wayland), and the lockers of Xfce, MATE, Budgie, LightDM, UKUI and xscreensaver. A locker written
// in a scripting language runs as its interpreter and cannot be told from any other script, so it is
// not believed (and is reported): a desktop missing here shows as a problem until it is added.
const QStringList kDesktopPrograms = {
    QStringLiteral("gnome-shell"),
    QStringLiteral("gsd-screensaver-proxy"),
    QStringLiteral("ksmserver"),
    QStringLiteral("kwin_wayland"),
    QStringLiteral("xfce4-screensaver"),
    QStringLiteral("mate-screensaver"),
    QStringLiteral("budgie-screensaver"),
    QStringLiteral("gnome-screensaver"),
    QStringLiteral("csd-screensaver-proxy"),
    QStringLiteral("light-locker"),
    QStringLiteral("xscreensaver-systemd"),
    QStringLiteral("ukui-screensaver-dialog"),
};

// Errors and deadlines leave the last answer standing: a locker that does not answer is no news.
// The call never launches a locker the session did not start (it does not start services).
void callAsync(QDBusConnection bus, QObject *context, QDBusMessage message,
               std::function<void(const QDBusMessage &)> onReply)
{
    session::callAsync(std::move(bus), context, std::move(message),
                       [onReply = std::move(onReply)](const QDBusMessage &reply) {
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

// Nothing for an error: its first argument is the error's text, which is no answer (it made a session
// without a type look like an X11 one).
QVariant firstArgument(const QDBusMessage &reply)
{
    const QList<QVariant> args = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || args.isEmpty())
        return {};
    QVariant value = args.first();
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value;
}

// logind's references to its objects: (so) an id and a path, (uo) a uid and a path.
template <typename Id>
std::pair<Id, QString> reference(const QVariant &value)
{
    Id id{};
    QDBusObjectPath path;
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginStructure();
    argument >> id >> path;
    argument.endStructure();
    return {id, path.path() == QLatin1String("/") ? QString() : path.path()};
}

// The object path of the user's display session in a reply to Get(User, "Display"), or empty.
QString displaySessionPath(const QDBusMessage &reply)
{
    return reference<QString>(firstArgument(reply)).second;
}

QDBusMessage displayCall()
{
    return propertyGet(kLogind, QStringLiteral("/org/freedesktop/login1/user/self"),
                       QStringLiteral("org.freedesktop.login1.User"), QStringLiteral("Display"));
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

std::optional<QString> ScreenLockMonitor::sessionType(const QDBusConnection &systemBus)
{
    if (!systemBus.isConnected())
        return std::nullopt;
    QDBusConnection bus = systemBus;
    QDBusMessage display = displayCall();
    display.setAutoStartService(false);
    const QString path = displaySessionPath(bus.call(display, QDBus::Block, 500));
    if (path.isEmpty() || path == QLatin1String("/"))
        return std::nullopt;
    QDBusMessage type = propertyGet(kLogind, path, kSessionInterface, QStringLiteral("Type"));
    type.setAutoStartService(false);
    const QString answer = firstArgument(bus.call(type, QDBus::Block, 500)).toString();
    return answer.isEmpty() ? std::nullopt : std::optional(answer);
}

bool ScreenLockMonitor::isDesktopProgram(qint64 pid)
{
    // Owned by root: a copy or a script of the session's user can take the name but not the file.
    const QString executable = ProgramFile::runsRootFileAt(pid);
    return !executable.isEmpty() && kDesktopPrograms.contains(QFileInfo(executable).fileName());
}

ScreenLockMonitor::ScreenLockMonitor(QDBusConnection systemBus, QDBusConnection sessionBus, QString sessionId,
                                     std::shared_ptr<TamperEvidence> evidence, OwnerCheck trusted, QObject *parent)
    : QObject(parent),
      m_system(std::move(systemBus)),
      m_session(std::move(sessionBus)),
      m_sessionId(std::move(sessionId)),
      m_evidence(std::move(evidence)),
      m_trusted(std::move(trusted))
{
    m_gnome.service = kGnome;
    m_gnome.path = QStringLiteral("/org/gnome/ScreenSaver");
    m_freedesktop.service = kFreedesktop;
    m_freedesktop.path = QStringLiteral("/org/freedesktop/ScreenSaver");
    if (m_session.isConnected()) {
        m_session.connect(kGnome, m_gnome.path, kGnome, QStringLiteral("ActiveChanged"), this,
                          SLOT(onGnomeActiveChanged(bool)));
        m_session.connect(kFreedesktop, m_freedesktop.path, kFreedesktop, QStringLiteral("ActiveChanged"), this,
                          SLOT(onFreedesktopActiveChanged(bool)));
    }
    watchService(m_system, kLogind, this, [this](bool present) {
        if (present)
            return queryLogind();
        m_logindLocked = false;
        m_logindActive = true;
        changed();
    });
    watchService(m_session, kGnome, this, [this](bool present) { saverPresent(m_gnome, present); });
    watchService(m_session, kFreedesktop, this, [this](bool present) { saverPresent(m_freedesktop, present); });
    queryLogind();
    checkOwner(m_gnome);
    checkOwner(m_freedesktop);
}

bool ScreenLockMonitor::locked() const
{
    return !m_logindActive || (claimed() && !m_claimDisbelieved);
}

QString ScreenLockMonitor::problem() const
{
    QStringList problems;
    for (const Saver *saver : {&m_gnome, &m_freedesktop}) {
        if (!saver->untrusted.isEmpty())
            problems << saver->untrusted;
    }
    if (m_claimDisbelieved)
        problems << QStringLiteral("the screen is said to be locked while input keeps arriving");
    if (!m_otherSession.isEmpty())
        problems << m_otherSession;
    return problems.join(QStringLiteral("; "));
}

void ScreenLockMonitor::changed()
{
    if (!claimed()) {
        // The input seen under the claim stays: dropping the claim for a second must not wipe it.
        if (m_claimDisbelieved && m_evidence)
            m_evidence->clear(kLocker);
        m_claimDisbelieved = false;
    }
    const bool now = locked();
    if (now != m_lastReported) {
        m_lastReported = now;
        Q_EMIT lockedChanged(now);
    }
}

void ScreenLockMonitor::noteInput(Millis monotonic, std::optional<double> secondsSinceInput)
{
    // A switched-out session gets no input; only a claimed lock is put to the test.
    if (!m_logindActive || !claimed() || m_claimDisbelieved || !secondsSinceInput ||
        *secondsSinceInput >= kRecentInputSeconds)
        return;
    // One entry a second at most, whoever calls; a clock that went back restarts the record.
    if (!m_inputTicks.empty() && monotonic - m_inputTicks.back() < Millis(1000)) {
        if (monotonic >= m_inputTicks.back())
            return;
        m_inputTicks.clear();
    }
    m_inputTicks.push_back(monotonic);
    while (monotonic - m_inputTicks.front() >= kInputWindow)
        m_inputTicks.pop_front();
    if (m_inputTicks.size() < static_cast<size_t>(kInputWhileLockedLimit))
        return;
    m_claimDisbelieved = true;
    if (m_evidence)
        m_evidence->raise(kLocker, problem());
    else
        Log::warn(QStringLiteral("the screen is said to be locked while input keeps arriving · counting goes on"));
    changed();
}

void ScreenLockMonitor::setSaver(Saver &saver, bool isLocked)
{
    saver.locked = isLocked && saver.trusted;
    changed();
}

void ScreenLockMonitor::saverPresent(Saver &saver, bool present)
{
    // A new owner says nothing until its program is known.
    saver.trusted = false;
    setSaver(saver, false);
    if (present)
        return checkOwner(saver);
    if (!saver.untrusted.isEmpty() && m_evidence)
        m_evidence->clear(saver.service);
    saver.untrusted.clear();
}

void ScreenLockMonitor::checkOwner(Saver &saver)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    message << saver.service;
    callAsync(m_session, this, message, [this, &saver](const QDBusMessage &reply) {
        const uint pid = firstArgument(reply).toUInt();
        const QString exe = ProgramFile::linkOf(pid);
        saver.trusted = pid != 0 && m_trusted(pid);
        if (saver.trusted) {
            if (!saver.untrusted.isEmpty() && m_evidence)
                m_evidence->clear(saver.service);
            saver.untrusted.clear();
            callAsync(
                m_session, this,
                QDBusMessage::createMethodCall(saver.service, saver.path, saver.service, QStringLiteral("GetActive")),
                [this, &saver](const QDBusMessage &answer) { setSaver(saver, firstArgument(answer).toBool()); });
            return;
        }
        saver.untrusted = QStringLiteral(
                              "%1 is held by a program that is not the desktop's (%2, pid %3), "
                              "so its screen lock is not believed")
                              .arg(saver.service, exe.isEmpty() ? QStringLiteral("unknown") : exe)
                              .arg(pid);
        if (m_evidence)
            m_evidence->raise(saver.service, saver.untrusted);
        else
            Log::warn(saver.untrusted);
        setSaver(saver, false);
    });
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
    callAsync(m_system, this, displayCall(),
              [this](const QDBusMessage &reply) { watchLogindSession(displaySessionPath(reply)); });
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
    queryLogindSession();
}

void ScreenLockMonitor::queryLogindSession()
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(kLogind, m_sessionPath, kProperties, QStringLiteral("GetAll"));
    message << kSessionInterface;
    callAsync(m_system, this, message,
              [this](const QDBusMessage &reply) { takeLogind(qdbus_cast<QVariantMap>(firstArgument(reply))); });
}

void ScreenLockMonitor::takeLogind(const QVariantMap &properties)
{
    if (const auto it = properties.constFind(QStringLiteral("LockedHint")); it != properties.constEnd())
        m_logindLocked = it->toBool();
    if (const auto it = properties.constFind(QStringLiteral("Active")); it != properties.constEnd())
        m_logindActive = it->toBool();
    if (const auto it = properties.constFind(QStringLiteral("Seat")); it != properties.constEnd()) {
        const QString seat = reference<QString>(*it).second;
        if (seat != m_seatPath && !seat.isEmpty()) {
            if (!m_seatPath.isEmpty())
                m_system.disconnect(kLogind, m_seatPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                                    SLOT(onSeatProperties(QString, QVariantMap, QStringList)));
            m_system.connect(kLogind, seat, kProperties, QStringLiteral("PropertiesChanged"), this,
                             SLOT(onSeatProperties(QString, QVariantMap, QStringList)));
        }
        m_seatPath = seat;
    }
    checkSeat();
    changed();
}

void ScreenLockMonitor::checkSeat()
{
    // Our session switched out: by another user (nothing to count), or by this same user logged in
    // again on another console, where no copy of the agent counts (it defers to this one).
    const auto clear = [this] {
        if (m_evidence && !m_otherSession.isEmpty())
            m_evidence->clear(kOtherSession);
        m_otherSession.clear();
    };
    if (m_logindActive || m_seatPath.isEmpty())
        return clear();
    callAsync(m_system, this,
              propertyGet(kLogind, m_seatPath, QStringLiteral("org.freedesktop.login1.Seat"),
                          QStringLiteral("ActiveSession")),
              [this, clear](const QDBusMessage &seat) {
                  const QString front = reference<QString>(firstArgument(seat)).second;
                  if (m_logindActive || front.isEmpty() || front == m_sessionPath)
                      return clear();
                  callAsync(m_system, this, propertyGet(kLogind, front, kSessionInterface, QStringLiteral("User")),
                            [this, clear, front](const QDBusMessage &user) {
                                if (m_logindActive || reference<uint>(firstArgument(user)).first != ::getuid())
                                    return clear();
                                m_otherSession = QStringLiteral(
                                                     "another session of this user (%1) is in front, "
                                                     "where nothing is counted")
                                                     .arg(front.section(QLatin1Char('/'), -1));
                                if (m_evidence)
                                    m_evidence->raise(kOtherSession, m_otherSession);
                                else
                                    Log::warn(m_otherSession);
                            });
              });
}

void ScreenLockMonitor::onLogindProperties(const QString &interface, const QVariantMap &changedProperties,
                                           const QStringList &invalidated)
{
    if (interface != kSessionInterface)
        return;
    takeLogind(changedProperties);
    if (invalidated.contains(QStringLiteral("LockedHint")) || invalidated.contains(QStringLiteral("Active")))
        queryLogindSession();
}

void ScreenLockMonitor::onSeatProperties(const QString &interface, const QVariantMap &changedProperties,
                                         const QStringList &invalidated)
{
    if (interface == QLatin1String("org.freedesktop.login1.Seat") &&
        (changedProperties.contains(QStringLiteral("ActiveSession")) ||
         invalidated.contains(QStringLiteral("ActiveSession"))))
        checkSeat();
}

void ScreenLockMonitor::onGnomeActiveChanged(bool active)
{
    setSaver(m_gnome, active);
}

void ScreenLockMonitor::onFreedesktopActiveChanged(bool active)
{
    setSaver(m_freedesktop, active);
}

}  // namespace fennimar
