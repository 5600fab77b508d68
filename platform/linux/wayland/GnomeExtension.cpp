#include "platform/linux/wayland/GnomeExtension.h"

#include "core/DurableFile.h"
#include "core/Log.h"
#include "platform/linux/wayland/ShellCalls.h"

#include <QCryptographicHash>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace fennimar {

const char *const GnomeExtension::uuid = "fennimar-agent@fennimar.app";

namespace {

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
const QString kExtensions = QStringLiteral("org.gnome.Shell.Extensions");
const QString kPath = QStringLiteral("/app/fennimar/Agent/FocusedWindow");
const QString kInterface = QStringLiteral("app.fennimar.Agent.FocusedWindow");
// What our extension reports of itself beside the SHA-256 of the code it runs (focused-window.js).
constexpr char kVersion[] = "3";
// The Shell's ExtensionState values this agent tells apart. From GNOME Shell 45 on the Shell loads and
// turns an extension on or off asynchronously: EnableExtension returns while the extension is still only
// loaded (6), then off (2) and turning on (8); a turning off passes through 7. Its info's "enabled" (45 and
// later) says whether it is on its way to on; the next ExtensionStateChanged says how it ended.
enum : int { kEnabled = 1, kError = 3, kOutOfDate = 4, kTurningOff = 7, kTurningOn = 8 };
// Someone who turns the extension off finds it on again after at most this long.
constexpr Millis kReenableEvery{60000};
// A Shell that did not answer (still starting, or busy) is asked again after this long.
constexpr Millis kAskAgainEvery{5000};

// The extension's files are a few kilobytes; anything larger is not ours.
constexpr qint64 kExtensionFileAtMost = 256 * 1024;

// Empty when path is a directory of its own (created when missing), else why not: a link to a
// directory is refused.
QString ownDirectory(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
        if (errno != ENOENT || (::mkdir(name.constData(), 0755) != 0 && errno != EEXIST) ||
            ::lstat(name.constData(), &st) != 0)
            return QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is %2, not a directory").arg(path, fileTypeName(st.st_mode));
    return {};
}

// The extension's "(sssxs)": the Shell's app id ("<desktop id>.desktop", or "window:N" when the
// window matches no app), the WM_CLASS class and instance, the pid and the title.
std::optional<ShellWindow> windowFrom(const QVariant &value)
{
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    QString app, wmClass, wmInstance, title;
    qint64 pid = 0;
    argument.beginStructure();
    argument >> app >> wmClass >> wmInstance >> pid;
    if (!argument.atEnd())  // an older extension's "(sssx)", not believed once its version is asked
        argument >> title;
    argument.endStructure();
    if (app.isEmpty() && wmClass.isEmpty() && pid <= 0)
        return std::nullopt;
    if (app.startsWith(QLatin1String("window:")))
        app.clear();
    if (app.endsWith(QLatin1String(".desktop")))
        app.chop(8);
    return ShellWindow{app, wmClass, wmInstance, pid, title};
}

}  // namespace

// Receives the Shell's signals: QtDBus delivers them only to slots.
class GnomeExtension::Listener : public QObject {
    Q_OBJECT
public:
    explicit Listener(GnomeExtension &owner) : m_owner(owner) {}

public Q_SLOTS:
    void windowChanged(const QDBusMessage &message)
    {
        if (m_owner.m_state == State::Running && m_owner.m_verified)
            m_owner.m_front = windowFrom(message.arguments().value(0));
    }
    void extensionChanged(const QString &changed, const QVariantMap &info)
    {
        if (changed == QLatin1String(GnomeExtension::uuid))
            m_owner.takeState(info);
    }

private:
    GnomeExtension &m_owner;
};

GnomeExtension::GnomeExtension(Clock &clock, QDBusConnection bus, Millis timeout, QString dataHome)
    : m_clock(clock),
      m_bus(std::move(bus)),
      m_timeout(timeout),
      m_dataHome(dataHome.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                                    : std::move(dataHome)),
      m_listener(std::make_unique<Listener>(*this))
{
    m_bus.connect(kShell, kPath, kInterface, QStringLiteral("Changed"), m_listener.get(),
                  SLOT(windowChanged(QDBusMessage)));
    m_bus.connect(kShell, kShellPath, kExtensions, QStringLiteral("ExtensionStateChanged"), m_listener.get(),
                  SLOT(extensionChanged(QString, QVariantMap)));
    setUp();
}

GnomeExtension::~GnomeExtension() = default;

void GnomeExtension::setUp()
{
    m_askedAt = m_clock.monotonic();
    // The Shell owns its name before it serves its objects: its version comes first, and which form
    // of the extension to install depends on it.
    const QDBusMessage version = callShell(m_bus, kShell, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("Get"), {kShell, QStringLiteral("ShellVersion")}, m_timeout);
    if (version.type() != QDBusMessage::ReplyMessage)
        return takeState({{QStringLiteral("error"), version.errorMessage()}});
    const int major =
        version.arguments().value(0).value<QDBusVariant>().variant().toString().section('.', 0, 0).toInt();
    if (const QString failed = install(m_dataHome, major); !failed.isEmpty()) {
        m_state = State::Failed;
        m_problem = failed;
        return;
    }
    m_expectedHash = QCryptographicHash::hash(shipped(major, "extension.js"), QCryptographicHash::Sha256).toHex();
    const auto info = [&] {
        const QDBusMessage reply = callShell(m_bus, kShell, kShellPath, kExtensions, QStringLiteral("GetExtensionInfo"),
                                             {QString::fromLatin1(uuid)}, m_timeout);
        return reply.type() == QDBusMessage::ReplyMessage
                   ? qdbus_cast<QVariantMap>(reply.arguments().value(0).value<QDBusArgument>())
                   : QVariantMap{{QStringLiteral("error"), reply.errorMessage()}};
    };
    QVariantMap found = info();
    if (found.value(QStringLiteral("state")).toInt() != kEnabled && found.contains(QStringLiteral("state"))) {
        callShell(m_bus, kShell, kShellPath, kExtensions, QStringLiteral("EnableExtension"),
                  {QString::fromLatin1(uuid)}, m_timeout);
        found = info();
    }
    takeState(found);
}

void GnomeExtension::takeState(const QVariantMap &info)
{
    const State was = m_state;
    m_reenable.cancel();
    const int state = info.value(QStringLiteral("state"), -1).toInt();
    const QString error = info.value(QStringLiteral("error")).toString();
    m_front.reset();
    m_state = State::Failed;
    if (state == kEnabled) {
        m_state = State::Running;
        m_problem.clear();
        verify();
    } else if (state < 0 && error.isEmpty()) {
        // The Shell knows only the extensions it found at login.
        m_state = State::NeedsLogin;
        m_problem = QStringLiteral(
            "the agent's GNOME Shell extension was just installed and starts at the next login: log out and back in");
    } else if (state < 0) {
        m_state = State::Unanswered;
        m_problem = QStringLiteral("GNOME Shell does not answer: %1").arg(error);
    } else if (state == kError) {
        m_problem = QStringLiteral("GNOME Shell could not run the agent's extension: %1").arg(error);
    } else if (state == kOutOfDate) {
        m_problem = QStringLiteral("the agent's GNOME Shell extension does not support this version of GNOME Shell");
    } else if (state == kTurningOff || state == kTurningOn || info.value(QStringLiteral("enabled")).toBool()) {
        // Not turned off for good: taken as off, it was turned on again at once and the agent fell back
        // to the accessibility bus on GNOME Shell 48. Its signal, or the next ask, gives the outcome.
        m_state = State::Unanswered;
        m_problem = QStringLiteral("GNOME Shell is still turning the agent's extension on or off");
    } else {
        m_problem = QStringLiteral("the agent's GNOME Shell extension is turned off");
        // On a timer: the Shell says nothing more while it stays off, however soon it was turned off again.
        const Millis wait = m_reenabledAt ? *m_reenabledAt + kReenableEvery - m_clock.monotonic() : Millis{0};
        if (wait <= Millis{0})
            reenable();
        else
            m_reenable = m_clock.callAfter(wait, [this] { reenable(); });
    }
    if (was == State::Running && m_state != State::Running)
        Log::warn(m_problem);
}

void GnomeExtension::reenable()
{
    m_reenabledAt = m_clock.monotonic();
    Log::warn(m_problem + QStringLiteral(" · turning it on again"));
    m_bus.asyncCall(QDBusMessage::createMethodCall(kShell, kShellPath, kExtensions, QStringLiteral("EnableExtension"))
                        << QString::fromLatin1(uuid),
                    static_cast<int>(m_timeout.count()));
}

std::optional<ShellWindow> GnomeExtension::frontmost()
{
    if (m_state == State::Unanswered && !m_asking && m_clock.monotonic() - m_askedAt >= kAskAgainEvery)
        askState();
    return m_front;
}

void GnomeExtension::askState()
{
    // Asked without waiting: the Shell may still be stuck. Once it answers, it is set up in full.
    m_asking = true;
    m_askedAt = m_clock.monotonic();
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(kShell, kShellPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                       QStringLiteral("Get"))
        << kShell << QStringLiteral("ShellVersion");
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(ask, static_cast<int>(m_timeout.count())), m_listener.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_listener.get(), [this, watcher] {
        m_asking = false;
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            setUp();
        else
            takeState({{QStringLiteral("error"), reply.errorMessage()}});
    });
}

void GnomeExtension::verify()
{
    m_verified = false;
    const QDBusMessage ask = QDBusMessage::createMethodCall(kShell, kPath, kInterface, QStringLiteral("About"));
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(ask, static_cast<int>(m_timeout.count())), m_listener.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_listener.get(), [this, watcher] {
        watcher->deleteLater();
        if (m_state != State::Running)
            return;
        const QDBusMessage reply = watcher->reply();
        const QString version = reply.arguments().value(0).toString();
        if (reply.type() == QDBusMessage::ReplyMessage && version == QLatin1String(kVersion) &&
            reply.arguments().value(1).toByteArray() == m_expectedHash) {
            m_verified = true;
            return askWindow();
        }
        // The Shell runs the code it loaded at login; the files were set right at this start, but
        // only the next login loads them.
        m_state = State::Failed;
        m_front.reset();
        m_problem = QStringLiteral(
                        "the GNOME Shell extension running in this session is not this agent's own (%1): its files "
                        "were changed before this login, or the agent was updated; the agent's own runs from the "
                        "next login")
                        .arg(reply.type() == QDBusMessage::ReplyMessage
                                 ? QStringLiteral("it reports version %1 and other code").arg(version)
                                 : QStringLiteral("it does not say which it is"));
        m_replaced = m_problem;
        Log::warn(m_problem);
    });
}

void GnomeExtension::askWindow()
{
    const QDBusMessage ask = QDBusMessage::createMethodCall(kShell, kPath, kInterface, QStringLiteral("Get"));
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(ask, static_cast<int>(m_timeout.count())), m_listener.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_listener.get(), [this, watcher] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (m_state == State::Running && m_verified && reply.type() == QDBusMessage::ReplyMessage)
            m_front = windowFrom(reply.arguments().value(0));
    });
}

QByteArray GnomeExtension::shipped(int shellMajor, const char *name)
{
    QFile file(QStringLiteral(":/fennimar/shell/") + (shellMajor >= 45 ? QStringLiteral("esm/") : QString()) +
               QString::fromLatin1(uuid) + QLatin1Char('/') + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString GnomeExtension::install(const QString &dataHome, int shellMajor)
{
    const QString target = dataHome + QStringLiteral("/gnome-shell/extensions/") + QString::fromLatin1(uuid);
    const auto failed = [&](const QString &why) {
        return QStringLiteral("this agent could not install its GNOME Shell extension in %1: %2").arg(target, why);
    };
    // The data home itself may be a link (some users move it); below it every folder must be one of
    // its own, or our files would land wherever a link points.
    if (!QDir().mkpath(dataHome))
        return failed(QStringLiteral("cannot create %1").arg(dataHome));
    for (const QString &dir :
         {dataHome + QStringLiteral("/gnome-shell"), dataHome + QStringLiteral("/gnome-shell/extensions"), target}) {
        if (const QString why = ownDirectory(dir); !why.isEmpty())
            return failed(why);
    }
    for (const char *name : {"metadata.json", "extension.js"}) {
        const QString path = target + QLatin1Char('/') + QString::fromLatin1(name);
        const QByteArray content = shipped(shellMajor, name);
        if (content.isEmpty())
            return QStringLiteral("this agent was built without its GNOME Shell extension");
        // Read without following a link and without waiting on a FIFO or a device: whatever stands
        // there that is not a small file of ours is replaced.
        const FileRead current = readSmallFile(path, kExtensionFileAtMost, Links::Refuse);
        if (current.error.isEmpty() && !current.notFound && current.bytes == content)
            continue;
        if (!current.error.isEmpty())
            Log::warn(QStringLiteral("the agent's GNOME Shell extension: %1 · replacing it").arg(current.error));
        // Renamed over whatever is there (a link is replaced, not followed): the Shell may read it at any moment.
        if (const Status written = writeFileAtomically(path, content, Durability::AtomicOnly); !written)
            return failed(QStringLiteral("%1: %2").arg(path, written.error()));
    }
    return {};
}

}  // namespace fennimar

#include "GnomeExtension.moc"
