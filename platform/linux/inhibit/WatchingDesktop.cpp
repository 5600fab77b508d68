#include "platform/linux/inhibit/WatchingDesktop.h"

#include "platform/linux/apps/DesktopEntry.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include <algorithm>
#include <iterator>

namespace fennimar {

namespace {

// How close to the last idle inhibitor going a drop of the idle time is taken for Mutter's reset.
constexpr double kReleaseReset = 3.0;

double toSeconds(Millis monotonic)
{
    return static_cast<double>(monotonic.count()) / 1000.0;
}

}  // namespace

WatchingDesktop::WatchingDesktop(Clock &clock, std::unique_ptr<Desktop> desktop, QDBusConnection session,
                                 QDBusConnection monitor, std::unique_ptr<X11RawInput> rawInput, QString hyprlandSocket)
    : m_clock(clock),
      m_desktop(std::move(desktop)),
      m_gnome(session),
      m_kde(session),
      m_calls(session, std::move(monitor)),
      m_players(clock, session),
      m_rawInput(std::move(rawInput)),
      m_inputAt(toSeconds(clock.monotonic())),
      m_hyprlandSocket(std::move(hyprlandSocket))
{
    QObject::connect(&m_gnome, &GnomeInhibitors::changed, &m_gnome, [this] { gnomeChanged(); });
}

// The system's events after which Mutter restarts its idle time without input (its backend's
// handlers): a resume (logind's PrepareForSleep(false)), and a change of UPower's LidIsClosed to
// false or of OnBattery (the lid opened, the power cable plugged or pulled).
class SystemResets : public QObject {
    Q_OBJECT
public:
    SystemResets(QDBusConnection system, std::function<void()> reset) : m_reset(std::move(reset))
    {
        system.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                       QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                       SLOT(prepareForSleep(bool)));
        system.connect(QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"),
                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), this,
                       SLOT(propertiesChanged(QString, QVariantMap)));
    }

private Q_SLOTS:
    void prepareForSleep(bool sleeping)
    {
        if (!sleeping)
            m_reset();
    }
    void propertiesChanged(const QString &, const QVariantMap &changed)
    {
        const QVariant lidClosed = changed.value(QStringLiteral("LidIsClosed"));
        if ((lidClosed.isValid() && !lidClosed.toBool()) || changed.contains(QStringLiteral("OnBattery")))
            m_reset();
    }

private:
    std::function<void()> m_reset;
};

void WatchingDesktop::watchSystemResets(QDBusConnection system)
{
    m_systemResets = std::make_unique<SystemResets>(std::move(system), [this] { idleReset(); });
}

void WatchingDesktop::idleReset()
{
    m_releasedAt = toSeconds(m_clock.monotonic());
    // The signal comes a moment after the change: a drop seen just before was this reset.
    if (m_releasedAt - m_drop.seenAt <= kReleaseReset)
        m_reset = m_drop;
}

void WatchingDesktop::gnomeChanged()
{
    const bool inhibited = std::any_of(m_gnome.inhibitors().begin(), m_gnome.inhibitors().end(),
                                       [](const Inhibitor &i) { return i.keepsScreen; });
    if (m_gnomeIdleInhibited && !inhibited)
        idleReset();
    m_gnomeIdleInhibited = inhibited;
}

double WatchingDesktop::withoutReleaseResets(double idle)
{
    const double now = toSeconds(m_clock.monotonic());
    // Until input, the count Mutter restarted at a reset is the time since that reset; less is input.
    if (m_reset && idle + kReleaseReset < now - m_reset->at)
        m_reset.reset();
    if (m_last && idle + 2.0 < m_last->idle + (now - m_last->seenAt)) {  // input, or a reset none caused
        const Reset drop{now - idle, m_last->answer + (now - m_last->seenAt) - idle, now};
        if (now - m_releasedAt <= kReleaseReset)
            m_reset = drop;
        else
            m_reset.reset(), m_drop = drop;
    }
    const double answer = m_reset ? m_reset->before + idle : idle;
    m_last = Last{idle, answer, now};
    return answer;
}

void WatchingDesktop::askHyprland()
{
    // Hyprland (0.46 and later) tells in its active window's JSON whether that window inhibits idle
    // now ("inhibitingIdle", a client's idle inhibitor while visible or the user's rule), with the
    // window's pid; it sees no D-Bus inhibitor and gives no reason, so music cannot be told from
    // video. One connection per request, closed by Hyprland after its answer; an answer still owed
    // a tick later is given up, so a stalled compositor reads as no inhibitor.
    if (m_hyprland)
        QObject::disconnect(m_hyprland.get(), nullptr, nullptr, nullptr);
    m_hyprland = std::make_unique<QLocalSocket>();
    m_hyprlandReply.clear();
    QLocalSocket *socket = m_hyprland.get();
    QObject::connect(socket, &QLocalSocket::connected, socket, [socket] { socket->write("j/activewindow"); });
    QObject::connect(socket, &QLocalSocket::readyRead, socket,
                     [this, socket] { m_hyprlandReply += socket->read(256 * 1024 - m_hyprlandReply.size()); });
    // Hyprland gone: no inhibitor. After an answer the peer's close comes before `disconnected`.
    QObject::connect(socket, &QLocalSocket::errorOccurred, socket, [this] { m_hyprlandInhibitor = 0; });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [this] {
        const QJsonObject window = QJsonDocument::fromJson(m_hyprlandReply).object();
        m_hyprlandInhibitor = window.value(QStringLiteral("inhibitingIdle")).toBool()
                                  ? window.value(QStringLiteral("pid")).toInteger()
                                  : 0;
    });
    socket->connectToServer(m_hyprlandSocket);
}

std::optional<double> WatchingDesktop::secondsSinceInput()
{
    const std::optional<double> idle = m_desktop->secondsSinceInput();
    const std::optional<double> raw = m_rawInput ? m_rawInput->secondsSinceInput() : std::nullopt;
    if (idle && raw)
        return std::max(*idle, *raw);
    return idle ? std::optional(withoutHiddenInput(withoutReleaseResets(*idle))) : idle;
}

bool WatchingDesktop::idleInhibited()
{
    const std::optional<bool> compositor = m_inhibition ? m_inhibition() : std::nullopt;
    if (!compositor)
        return false;
    if (*compositor)
        return true;
    // KWin lists no inhibitor; a D-Bus one keeps its idle notification quiet too.
    std::vector<Inhibitor> held = m_calls.held();
    held.insert(held.end(), m_kde.inhibitors().begin(), m_kde.inhibitors().end());
    held.insert(held.end(), m_gnome.inhibitors().begin(), m_gnome.inhibitors().end());
    return std::any_of(held.begin(), held.end(), [](const Inhibitor &i) { return i.keepsScreen; });
}

double WatchingDesktop::withoutHiddenInput(double idle)
{
    // KDE's idle protocol and ext-idle-notify version 1 say nothing while any window in view holds
    // an idle inhibitor, and restart their count when the last one goes: until input, their count
    // is the time since then, never shorter. So meanwhile the time since input is that since the
    // last input seen before, or since a window switch.
    const double now = toSeconds(m_clock.monotonic());
    m_hidden = idleInhibited();
    if (m_hidden)
        m_hiddenUntil = now;
    else if (m_hiddenUntil && idle + kReleaseReset < now - *m_hiddenUntil)
        m_hiddenUntil.reset();
    if (!m_hiddenUntil) {
        m_inputAt = now - idle;
        return idle;
    }
    return std::max(idle, now - m_inputAt);
}

std::optional<RunningApp> WatchingDesktop::frontmostApp()
{
    std::optional<RunningApp> front = m_desktop->frontmostApp();
    if (front && (!m_front || front->pid != m_front->pid || front->identifier != m_front->identifier)) {
        m_frontSince = m_clock.monotonic();
        if (m_hiddenUntil && m_front)
            m_inputAt = toSeconds(m_frontSince);
    }
    if (front)
        m_front = front;
    return front;
}

QString WatchingDesktop::samplingProblem()
{
    QStringList problems{m_desktop->samplingProblem()};
    if (m_hidden)
        problems << QStringLiteral(
            "the compositor takes a window that keeps the screen awake (a film or music) for input, so input "
            "cannot be seen while one is in view; until 3 hours after the last input seen the user counts as "
            "present");
    problems.removeAll(QString());
    return problems.join(QStringLiteral("; "));
}

bool WatchingDesktop::frontIsGame(const RunningApp &front)
{
    if (front.location != m_entryPath) {
        m_entryPath = front.location;
        QFile file(m_entryPath);
        m_game = !m_entryPath.isEmpty() && file.open(QIODevice::ReadOnly) &&
                 DesktopEntry::parse(file.read(256 * 1024))
                     .list(QStringLiteral("Categories"))
                     .contains(QStringLiteral("Game"));
    }
    return m_game;
}

const QString &WatchingDesktop::executableOf(const RunningApp &front)
{
    if (front.pid != m_exePid) {
        m_exePid = front.pid;
        m_executable =
            front.pid > 0 ? QFileInfo(QStringLiteral("/proc/%1/exe").arg(front.pid)).symLinkTarget() : QString();
    }
    return m_executable;
}

bool WatchingDesktop::frontAppWatching(const RunningApp &front)
{
    // A game keeps the screen awake for as long as it runs (SDL says "Playing a game"; sway and
    // Hyprland give no reason at all): a child who walks away from one is not watching a film.
    if (frontIsGame(front) || !frontHoldsInhibitor(front))
        return false;
    // Players keep their inhibitor while paused, and a browser keeps it for a film in any window
    // in view; the players are asked only now, on an away tick that a film alone would count. A
    // page read before this app came to the front may be another window's.
    const bool pageFresh = m_page && m_page->pid == front.pid && m_page->readAt >= m_frontSince;
    return !playersDenyFilm(m_players.players(), front, executableOf(front), pageFresh ? m_page->address : QString());
}

bool WatchingDesktop::frontHoldsInhibitor(const RunningApp &front)
{
    // The desktop's own answer first (sway's per-window inhibitor).
    if (m_desktop->frontAppWatching(front))
        return true;
    if (!m_hyprlandSocket.isEmpty()) {
        if (m_hyprland && m_hyprland->state() != QLocalSocket::UnconnectedState)
            m_hyprlandInhibitor = 0;
        askHyprland();
        if (front.pid > 0 && front.pid == m_hyprlandInhibitor)
            return true;
    }
    // The inhibitors whose calls the bus monitor saw, by their callers' pids (on every desktop,
    // listing one or not); the listed ones it did not see (taken before the agent started, or with
    // no monitor) by name.
    std::vector<Inhibitor> held = m_calls.held();
    for (const std::vector<Inhibitor> *listed : {&m_gnome.inhibitors(), &m_kde.inhibitors()}) {
        std::copy_if(listed->begin(), listed->end(), std::back_inserter(held),
                     [&](const Inhibitor &i) { return !m_calls.seen(i.app, i.reason); });
    }
    return !held.empty() && frontHoldsVideo(held, front, executableOf(front));
}

}  // namespace fennimar

#include "WatchingDesktop.moc"
