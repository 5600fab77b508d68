#include "platform/linux/inhibit/WatchingDesktop.h"

#include <QFileInfo>

#include <algorithm>

namespace fennimar {

WatchingDesktop::WatchingDesktop(std::unique_ptr<Desktop> desktop, QDBusConnection session, QDBusConnection monitor,
                                 std::unique_ptr<X11RawInput> rawInput)
    : m_desktop(std::move(desktop)),
      m_gnome(session),
      m_kde(session),
      m_calls(session, std::move(monitor)),
      m_rawInput(std::move(rawInput))
{
}

std::optional<double> WatchingDesktop::secondsSinceInput()
{
    const std::optional<double> idle = m_desktop->secondsSinceInput();
    const std::optional<double> raw = m_rawInput ? m_rawInput->secondsSinceInput() : std::nullopt;
    return idle && raw ? std::max(*idle, *raw) : idle;
}

bool WatchingDesktop::frontAppWatching(const RunningApp &front)
{
    // The desktop's own answer first (sway's per-window inhibitor).
    if (m_desktop->frontAppWatching(front))
        return true;
    if (m_gnome.inhibitors().empty() && m_kde.inhibitors().empty())
        return false;
    if (front.pid != m_exePid) {
        m_exePid = front.pid;
        m_executable =
            front.pid > 0 ? QFileInfo(QStringLiteral("/proc/%1/exe").arg(front.pid)).symLinkTarget() : QString();
    }
    // An inhibitor whose callers the bus monitor saw is matched by their pids, one copy each; the
    // others (taken before the agent started, or with no monitor) by name.
    std::vector<Inhibitor> held;
    for (const std::vector<Inhibitor> *listed : {&m_gnome.inhibitors(), &m_kde.inhibitors()}) {
        for (const Inhibitor &inhibitor : *listed) {
            const QSet<qint64> pids = m_calls.callers(inhibitor.app, inhibitor.reason);
            if (pids.isEmpty())
                held.push_back(inhibitor);
            for (const qint64 pid : pids) {
                held.push_back(inhibitor);
                held.back().pid = pid;
            }
        }
    }
    return frontHoldsVideo(held, front, m_executable);
}

}  // namespace fennimar
