#pragma once

#include "platform/linux/wayland/ToplevelTracker.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLocalSocket;

namespace fennimar {

// The focused window as sway's tree describes it.
struct SwayView {
    QString appId;                // Wayland app_id; empty for an Xwayland window
    QString wmClass, wmInstance;  // an Xwayland window's WM_CLASS
    QString title;
    qint64 pid = 0;
    bool inhibitingIdle = false;  // "inhibit_idle": an idle inhibitor of this window is in effect now
    bool operator==(const SwayView &) const = default;
};

// sway's IPC socket ($SWAYSOCK): subscribes to window and workspace events and, after each one,
// asks for the tree (about 150 us) and keeps its focused window. A tick reads that answer from
// memory. With no focused window (an empty workspace, swaylock running) there is nothing in front.
// The socket is read on the main loop; pump() also reads what is waiting without blocking, for
// callers that do not run the loop. Main thread only.
class SwayIpc {
public:
    // Connects to socketPath, waiting at most timeout. connected() tells whether that worked.
    SwayIpc(const QString &socketPath, Millis timeout);
    ~SwayIpc();
    SwayIpc(const SwayIpc &) = delete;
    SwayIpc &operator=(const SwayIpc &) = delete;

    bool connected() const;
    // Reads and handles whatever the socket holds, without waiting.
    void pump();
    // The focused window after the last tree received; nothing before the first one arrives, with
    // no focused window, or after the connection was lost.
    const std::optional<SwayView> &focused() const { return m_focused; }
    bool lost() const { return m_lost; }
    // Whether some window of the last tree holds an idle inhibitor in effect ("inhibit_idle": a
    // client's while the window is visible, or the user's rule), focused or not.
    bool inhibiting() const { return m_inhibiting; }
    // Asks for a fresh tree unless one is on its way: an idle inhibitor that starts or ends raises
    // no event.
    void askTree();

    // The focused window of a GET_TREE reply: the node with "focused" true, when it is a window.
    static std::optional<SwayView> focusedView(const QJsonObject &tree);

private:
    void send(quint32 type, const QByteArray &payload);
    void readMessages();

    std::unique_ptr<QLocalSocket> m_socket;
    QByteArray m_buffer;
    std::optional<SwayView> m_focused;
    bool m_treePending = false;
    bool m_lost = false;
    bool m_inhibiting = false;
};

}  // namespace fennimar
