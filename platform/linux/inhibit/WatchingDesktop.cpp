#include "platform/linux/inhibit/WatchingDesktop.h"

#include <QFileInfo>

namespace fennimar {

WatchingDesktop::WatchingDesktop(std::unique_ptr<Desktop> desktop, QDBusConnection session)
    : m_desktop(std::move(desktop)), m_gnome(session), m_kde(session)
{
}

bool WatchingDesktop::frontAppWatching(const RunningApp &front)
{
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
