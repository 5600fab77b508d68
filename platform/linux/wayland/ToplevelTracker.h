#pragma once

#include "core/Clock.h"

#include <QString>

#include <map>
#include <optional>

namespace fennimar {

// One window as a compositor's window list describes it.
struct Toplevel {
    QString appId;  // the Wayland app_id, or the X11 class of an Xwayland window
    QString title;
    qint64 pid = 0;  // 0: wlr foreign-toplevel does not carry it (KDE's window management does)
    bool activated = false;
    bool operator==(const Toplevel &) const = default;
};

// The focused window, followed from a compositor's window-list events (wlr foreign-toplevel
// management, KDE plasma window management). A window's changes stay pending until its "done"
// event; the front is recomputed only at commit(), called once after each dispatched batch, because
// compositors send the old window's deactivation and the new one's activation in one batch and
// reading between them would show nobody in front. "activated" counts as focus only while exactly
// one window has it: some compositors mark one window per workspace or output, and then nobody can
// tell which of them has the keyboard. An empty front survives a short grace before it is believed,
// since a window being mapped can momentarily leave nothing activated. Pure; main thread.
class ToplevelTracker {
public:
    static constexpr Millis kEmptyGrace{150};

    void created(quintptr handle);
    void setAppId(quintptr handle, const QString &appId);
    void setTitle(quintptr handle, const QString &title);
    void setActivated(quintptr handle, bool activated);
    void setPid(quintptr handle, qint64 pid);
    void done(quintptr handle);
    void closed(quintptr handle);

    // Ends one dispatched batch at monotonic time now. Returns true when the front changed.
    bool commit(Millis now);

    // The window in front at monotonic time now, or nothing (no window, none or several activated).
    std::optional<Toplevel> front(Millis now) const;
    // Whether the last commit saw more than one activated window.
    bool ambiguous() const { return m_ambiguous; }
    size_t size() const { return m_current.size(); }

private:
    std::map<quintptr, Toplevel> m_current;
    std::map<quintptr, Toplevel> m_pending;
    std::optional<Toplevel> m_front;
    std::optional<Toplevel> m_previous;  // the front before it became empty, kept through the grace
    Millis m_emptySince{0};
    bool m_ambiguous = false;
};

}  // namespace fennimar
