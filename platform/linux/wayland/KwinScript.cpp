#include "platform/linux/wayland/KwinScript.h"

#include "core/Log.h"
#include "platform/linux/wayland/ShellCalls.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVirtualObject>
#include <QDBusMetaType>
#include <QFile>
#include <QRandomGenerator>

namespace fennimar {

namespace {

const QString kKwin = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("org.kde.kwin.Scripting");
const QString kPath = QStringLiteral("/app/fennimar/Agent/KWinFront");
const QString kInterface = QStringLiteral("app.fennimar.Agent.KWinFront");
// A script unloaded by another client is found and loaded again within this time.
constexpr Millis kRecheckEvery{60000};

}  // namespace

// Takes the script's calls; a virtual object, so that the caller can be checked before anything is read.
class KwinScript::Receiver : public QDBusVirtualObject {
public:
    explicit Receiver(KwinScript &owner) : m_owner(owner) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != kInterface || message.member() != QLatin1String("Activated"))
            return false;
        const QVariantList args = message.arguments();
        if (message.service() != m_owner.m_kwin) {
            connection.send(
                message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("only KWin reports here")));
            return true;
        }
        // Any script running in KWin calls from KWin's connection: only ours knows this load's token.
        if (args.size() != 7 || args[4].toString() != m_owner.m_token) {
            m_owner.distrust(QStringLiteral("a KWin script that is not this agent's reports windows to it"));
            connection.send(
                message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("not this agent's script")));
            return true;
        }
        connection.send(message.createReply());
        // KWin has read the script once it reports: the token leaves the disk.
        QFile::remove(m_owner.m_dir.filePath(QStringLiteral("kwin-front.js")));
        ShellWindow window{args[0].toString(), args[1].toString(), args[2].toString(), args[3].toString().toLongLong(),
                           args[6].toString()};
        if (window.appId.isEmpty() && window.wmClass.isEmpty() && window.pid <= 0) {
            ++m_owner.m_reports;
            m_owner.m_front.reset();
        } else {
            m_owner.confirm(window, args[5].toString());
        }
        return true;
    }

private:
    KwinScript &m_owner;
};

KwinScript::KwinScript(Clock &clock, QDBusConnection bus, Millis timeout)
    : m_clock(clock), m_bus(std::move(bus)), m_timeout(timeout), m_receiver(std::make_unique<Receiver>(*this))
{
    if (!m_bus.registerVirtualObject(kPath, m_receiver.get()))
        m_error = QStringLiteral("this agent could not take KWin's reports on the session bus");
    else
        load();
    m_checkedAt = m_clock.monotonic();
}

KwinScript::~KwinScript()
{
    // Unloaded without waiting: KWin would otherwise go on calling a connection that is gone.
    m_bus.send(
        QDBusMessage::createMethodCall(kKwin, QStringLiteral("/Scripting"), kScripting, QStringLiteral("unloadScript"))
        << m_plugin);
    m_bus.unregisterObject(kPath);
}

bool KwinScript::load()
{
    m_front.reset();
    m_kwin = ownerOf(m_bus, kKwin, m_timeout);
    if (m_kwin.isEmpty()) {
        m_error = QStringLiteral("KWin does not answer on the session bus");
        return false;
    }
    m_token = randomHex(16);
    QFile source(QStringLiteral(":/fennimar/shell/kwin-front.js"));
    QFile script(m_dir.filePath(QStringLiteral("kwin-front.js")));
    // KWin reads the script with its own rights; it holds nothing secret.
    if (!m_dir.isValid() || !source.open(QIODevice::ReadOnly) || !script.open(QIODevice::WriteOnly) ||
        script.write(source.readAll()
                         .replace("@SERVICE@", m_bus.baseService().toUtf8())
                         .replace("@TOKEN@", m_token.toLatin1())) < 0 ||
        !script.setPermissions(script.permissions() | QFile::ReadOther) ||
        !QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeOther)) {
        m_error = QStringLiteral("this agent could not write its KWin script in %1").arg(m_dir.path());
        return false;
    }
    script.close();
    const QString scripting = QStringLiteral("/Scripting");
    if (!m_plugin.isEmpty())
        callShell(m_bus, kKwin, scripting, kScripting, QStringLiteral("unloadScript"), {m_plugin}, m_timeout);
    // A name of its own for each load: a fixed one could be unloaded by anyone and taken over by
    // their own script, which KWin would then report as ours when asked.
    m_plugin = QStringLiteral("fennimar-front-") + randomHex(8);
    const QDBusMessage loaded = callShell(m_bus, kKwin, scripting, kScripting, QStringLiteral("loadScript"),
                                          {script.fileName(), m_plugin}, m_timeout);
    const int id = loaded.arguments().value(0, -1).toInt();
    if (loaded.type() != QDBusMessage::ReplyMessage || id < 0) {
        m_error = QStringLiteral("KWin refused this agent's window script: %1")
                      .arg(loaded.errorMessage().isEmpty() ? QStringLiteral("loadScript answered %1").arg(id)
                                                           : loaded.errorMessage());
        return false;
    }
    // KWin 6 puts a script's object under /Scripting, KWin 5 at the root.
    QDBusMessage ran;
    for (const QString &path : {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)}) {
        ran =
            callShell(m_bus, kKwin, path, QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run"), {}, m_timeout);
        if (ran.type() == QDBusMessage::ReplyMessage)
            break;
    }
    if (ran.type() != QDBusMessage::ReplyMessage) {
        m_error =
            QStringLiteral("KWin loaded this agent's window script but did not run it: %1").arg(ran.errorMessage());
        return false;
    }
    m_error.clear();
    return true;
}

std::optional<ShellWindow> KwinScript::frontmost()
{
    if (m_clock.monotonic() - m_checkedAt >= kRecheckEvery)
        recheck();
    return m_front;
}

void KwinScript::recheck()
{
    if (m_checking)
        return;
    m_checking = true;
    m_checkedAt = m_clock.monotonic();
    QDBusMessage ask = QDBusMessage::createMethodCall(kKwin, QStringLiteral("/Scripting"), kScripting,
                                                      QStringLiteral("isScriptLoaded"))
                       << m_plugin;
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(ask, static_cast<int>(m_timeout.count())), m_receiver.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_receiver.get(), [this, watcher] {
        m_checking = false;
        watcher->deleteLater();
        const QDBusPendingReply<bool> reply = *watcher;
        if (reply.isValid() && reply.value() && m_error.isEmpty())
            return;
        if (!reply.isValid()) {
            m_front.reset();
            m_error = QStringLiteral("KWin does not answer on the session bus: %1").arg(reply.error().message());
            return;
        }
        Log::warn(QStringLiteral("KWin has lost this agent's window script or stopped answering · loading it again"));
        if (!load())
            Log::warn(m_error);
    });
}

void KwinScript::distrust(const QString &why)
{
    if (m_foreign.isEmpty())
        Log::warn(why + QStringLiteral(" · its reports are refused"));
    m_foreign = why + QStringLiteral(
                          ": someone replaced or imitates this agent's window script, so the app in front "
                          "may be misreported");
}

void KwinScript::confirm(const ShellWindow &window, const QString &id)
{
    const quint64 report = ++m_reports;
    if (id.isEmpty()) {
        m_front = window;
        return;
    }
    // KWin's own description of the window, not the script's: a report that KWin contradicts is
    // not believed.
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(kKwin, QStringLiteral("/KWin"), kKwin, QStringLiteral("getWindowInfo")) << id;
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(ask, static_cast<int>(m_timeout.count())), m_receiver.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_receiver.get(), [this, watcher, window, report] {
        watcher->deleteLater();
        if (report != m_reports)
            return;  // a later report came meanwhile
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            // No answer of KWin's own to check against (a KWin without getWindowInfo, or a busy one):
            // the report came with the token, from KWin's connection.
            m_front = window;
            return;
        }
        const QVariantMap info = qdbus_cast<QVariantMap>(reply.arguments().value(0));
        for (const auto &[key, reported] :
             {std::pair{"resourceClass", &window.wmClass}, std::pair{"resourceName", &window.wmInstance},
              std::pair{"desktopFile", &window.appId}}) {
            if (info.contains(QLatin1String(key)) && info.value(QLatin1String(key)).toString() != *reported) {
                m_front.reset();
                return distrust(QStringLiteral("KWin's window script reported %1 \"%2\" where KWin says \"%3\"")
                                    .arg(QLatin1String(key), *reported, info.value(QLatin1String(key)).toString()));
            }
        }
        m_front = info.isEmpty() ? std::nullopt : std::optional<ShellWindow>(window);
    });
}

QString KwinScript::randomHex(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return QString::fromLatin1(random.toHex());
}

}  // namespace fennimar
