#pragma once

#include "platform/Desktop.h"
#include "platform/linux/inhibit/GnomeInhibitors.h"
#include "platform/linux/inhibit/KdeInhibitions.h"

#include <QDBusConnection>

#include <memory>

namespace fennimar {

// A Linux desktop that also tells whether the front app holds a video inhibitor, from the lists
// GNOME's session manager and KDE's power daemon keep (each is empty where its service does not
// run). Everything else is the wrapped desktop's answer. Main thread only.
class WatchingDesktop final : public Desktop {
public:
    WatchingDesktop(std::unique_ptr<Desktop> desktop, QDBusConnection session);

    std::optional<RunningApp> frontmostApp() override { return m_desktop->frontmostApp(); }
    std::optional<double> secondsSinceInput() override { return m_desktop->secondsSinceInput(); }
    bool screenLocked() override { return m_desktop->screenLocked(); }
    QString samplingProblem() override { return m_desktop->samplingProblem(); }
    // The cached lists against the front app (by pid where known, else by name; see Inhibitor.h),
    // and the front process's executable, read once per process: a readlink, no bus call.
    bool frontAppWatching(const RunningApp &front) override;

private:
    std::unique_ptr<Desktop> m_desktop;
    GnomeInhibitors m_gnome;
    KdeInhibitions m_kde;
    qint64 m_exePid = 0;
    QString m_executable;  // of m_exePid
};

}  // namespace fennimar
