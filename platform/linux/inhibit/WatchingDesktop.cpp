#include "platform/linux/inhibit/WatchingDesktop.h"

#include <QFileInfo>

#include <algorithm>

namespace fennimar {

WatchingDesktop::WatchingDesktop(std::unique_ptr<Desktop> desktop, QDBusConnection session,
                                 std::unique_ptr<X11RawInput> rawInput)
    : m_desktop(std::move(desktop)), m_gnome(session), m_kde(session), m_rawInput(std::move(rawInput))
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
    return frontHoldsVideo(m_gnome.inhibitors(), front, m_executable) ||
           frontHoldsVideo(m_kde.inhibitors(), front, m_executable);
}

}  // namespace fennimar
