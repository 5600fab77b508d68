#pragma once

#include "core/Clock.h"
#include "platform/linux/wayland/ShellWindow.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

namespace fennimar {

// The app in front on GNOME: GNOME Shell shows the focused window on Wayland only to its own
// extensions, so this agent ships one (a few lines of JavaScript) that exports the focused window on
// the Shell's session-bus connection with a signal on every change. At construction it installs
// the extension for this user, asks the Shell to enable it and reads its state. The Shell finds a
// newly installed extension only at the next login; until then state() is NeedsLogin. When someone
// turns it off, it is turned on again at once, and again at most once a minute however soon it is turned off again. A
// Shell still starting is asked again until it answers. Its window reports are believed only once the running extension
// has said it runs our code (its version and the SHA-256 of the extension.js it loaded at login): a child can edit the
// files before the Shell loads them, and the agent's rewrite at start takes effect only at the next login. Until then a
// mismatch is a problem (state Failed). Main thread only.
class GnomeExtension {
public:
    // Unanswered: the Shell did not answer in time (it may still be starting), or is still turning the extension
    // on or off; asked again every few seconds.
    enum class State { Running, NeedsLogin, Unanswered, Failed };

    // dataHome: where extensions are installed (gnome-shell/extensions/<uuid> under it); empty:
    // $XDG_DATA_HOME or ~/.local/share. Each D-Bus call waits at most timeout.
    GnomeExtension(Clock &clock, QDBusConnection bus, Millis timeout, QString dataHome = {});
    ~GnomeExtension();
    GnomeExtension(const GnomeExtension &) = delete;
    GnomeExtension &operator=(const GnomeExtension &) = delete;

    State state() const { return m_state; }
    // Why the extension is not running, in words a parent can act on; empty while it runs.
    QString problem() const { return m_problem; }
    // Why the running extension is not this agent's own code, once it said so; empty otherwise.
    QString replaced() const { return m_replaced; }

    // The window the extension last reported in focus; nothing while no window has focus or the
    // extension is not running. Costs nothing: the answer arrives as a signal (while the Shell has
    // not answered, one asynchronous call every few seconds).
    std::optional<ShellWindow> frontmost();

    static const char *const uuid;
    // Writes the extension's files for GNOME Shell shellMajor (0: unknown) under dataHome, leaving
    // files that already match untouched (the Shell watches them). From 45 on the Shell loads
    // extensions only as ES modules, before 45 only as plain scripts. The folder lives in the user's
    // home, where anything may stand: a folder that is a link is refused; in a file's place a link,
    // a FIFO, a device or a large file is never opened or followed but replaced by an atomic rename.
    // Never blocks on what it finds. Empty on success, else why not (the sentence the menu shows).
    static QString install(const QString &dataHome, int shellMajor = 0);

private:
    class Listener;
    void takeState(const QVariantMap &info);
    // Installs the form of the extension for the Shell's version, enables it and reads its state;
    // each call waits at most the timeout.
    void setUp();
    void askWindow();
    // Asks the running extension which code it runs; takes its window once it is ours.
    void verify();
    void reenable();
    static QByteArray shipped(int shellMajor, const char *name);
    void askState();

    Clock &m_clock;
    QDBusConnection m_bus;
    Millis m_timeout;
    QString m_dataHome;
    std::unique_ptr<Listener> m_listener;
    State m_state = State::Failed;
    QString m_problem;
    std::optional<ShellWindow> m_front;
    std::optional<Millis> m_reenabledAt;
    TimerHandle m_reenable;  // turns it on again once a minute has passed since the last time
    Millis m_askedAt{0};
    bool m_asking = false;
    QByteArray m_expectedHash;  // hex SHA-256 of the extension.js this agent installs
    bool m_verified = false;    // the running extension said it runs exactly that
    QString m_replaced;
};

}  // namespace fennimar
