# The KWin day (KWin 5.27's virtual backend, headless), sourced by day.sh. Run as
#   SESSION_HOME=DIR bash kwin.sh --session COMMAND...
# it starts the session first, as sway.sh does: a private session bus with gnome-keyring's Secret
# Service, kwin_wayland --virtual and GTK's widget factory in front (the monitored app: foot dies of a
# floating point exception on KWin's virtual output). KWin's installed binary carries a file
# capability that a container refuses, so a copy runs; under root the whole session runs as nobody.
# Input is a Shift key press through KWin's fake-input protocol (fake_input.py): KWin has no
# virtual-keyboard protocol, so wtype does not work there. KWin offers that privileged protocol only
# to a program whose desktop entry asks for it, so the session's data home has one for python3 (the
# permission checks stay on: without them every client, the agent too, would see Plasma's window list
# and the agent would not use its KWin script as in a real session). The session bus's own messages
# go to SESSION_HOME/session.err.
if [ "${1:-}" = "--session" ]; then
    . "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 SESSION_KEYRING_PASSWORD="session-$$"
    cp /usr/bin/kwin_wayland "$SESSION_HOME/kwin_wayland"
    mkdir -p "$XDG_DATA_HOME/applications"
    printf '[Desktop Entry]\nType=Application\nName=bench input\nNoDisplay=true\nExec=%s\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n' \
        "$(readlink -f /usr/bin/python3)" >"$XDG_DATA_HOME/applications/fennimar-bench-input.desktop"
    kbuildsycoca5 >/dev/null 2>&1 || true
    inner='
set -u
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT
printf %s "$SESSION_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
pids+=($!)
"$SESSION_HOME/kwin_wayland" --virtual --width 1280 --height 800 \
  --socket wayland-bench >"$HOME/kwin.out" 2>&1 &
pids+=($!)
export WAYLAND_DISPLAY=wayland-bench
for _ in $(seq 200); do
  [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] && dbus-send --session --print-reply --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.kde.KWin 2>/dev/null | grep -q true &&
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
  sleep 0.1
done
if [ ! -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ]; then echo "KWin did not start: $(tail -n 5 "$HOME/kwin.out")" >&2; exit 1; fi
GDK_BACKEND=wayland gtk3-widget-factory >/dev/null 2>&1 &
pids+=($!)
echo $! >"$XDG_RUNTIME_DIR/monitored.pid"
"$@" 2>&3
'
    exec 3>&2
    exec dbus-run-session -- bash -c "$inner" kwin-session "$@" 2>"$SESSION_HOME/session.err"
fi

terminal_app=linux:gtk3-widget-factory
input() { /usr/bin/python3 "$here/fake_input.py" || echo "KWin's fake input failed" >&2; }
kwin_script=0
# Brings the window whose pid or caption is VALUE to the front with a KWin script (KWin 5.27 has no
# D-Bus call for it, and focuses a new window by itself only when it maps).
focus() {  # pid|caption VALUE
    local file name id
    kwin_script=$((kwin_script + 1))
    name=bench-focus-$kwin_script file=$XDG_RUNTIME_DIR/bench-focus-$kwin_script.js
    # KWin 5 and 6 (Plasma 6 renamed clientList and activeClient to windowList and activeWindow).
    printf 'const all = workspace.windowList ? workspace.windowList() : workspace.clientList();
all.forEach(c => { if (c.%s === %s) { if (workspace.windowList) workspace.activeWindow = c; else workspace.activeClient = c; } });\n' \
        "$1" "$([ "$1" = pid ] && echo "$2" || printf '"%s"' "$2")" >"$file"
    for _ in $(seq 50); do
        id=$(dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript \
            "string:$file" "string:$name" 2>/dev/null | awk '/int32/ {print $2}')
        if [ -n "$id" ] && [ "$id" -ge 0 ]; then
            # start runs the scripts loaded and not yet running: the one object path of both KWins.
            dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.start >/dev/null 2>&1
            sleep 0.5
            dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.unloadScript \
                "string:$name" >/dev/null 2>&1 || true
            return 0
        fi
        sleep 0.2
    done
    echo "KWin did not run the script that brings $1 $2 to the front" >&2
    return 1
}
terminal() { focus pid "$(cat "$XDG_RUNTIME_DIR/monitored.pid")"; }
other=""
unmonitored() {  # an installed app that is not on the list
    GDK_BACKEND=wayland gtk3-demo >/dev/null 2>&1 &
    other=$!
    children+=("$other")
    sleep 3
    focus pid "$other"
}
close_unmonitored() { kill "$other" 2>/dev/null || true; }
in_browser() {  # PAGE: Chromium on Wayland in front, its page loaded
    open_browser chromium "$1" --ozone-platform=wayland
    sleep 5
    focus pid "$browser" || echo "Chromium did not come to the front" >&2
    sleep 5  # the page loads and the video plays
}
chromium_site() { in_browser index.html; }
chromium_video() { in_browser video.html; }
chromium_music() { in_browser music.html; }

run_day() {
    segment "typing in a monitored app" counts "$seconds" "$seconds" terminal input nothing
    segment "offline all along, typing" counts "$seconds" "$seconds" offline_terminal input online
    segment "network up 10 s after the start, typing" counts "$seconds" "$seconds" late_terminal input online
    segment "a monitored site in Chromium" counts "$seconds" "$seconds" chromium_site input close_browser
    segment "a video in Chromium, no input" counts "$seconds" "$seconds" chromium_video nothing close_browser
    segment "music only in Chromium, no input" "does not count" 0 "$seconds" chromium_music nothing close_browser
    not_measured "the same site in Firefox" counts "not run on KWin (time): read over the accessibility bus"
    not_measured "a game's inhibitor, away" "does not count" "not staged: SDL's inhibitor goes to Plasma's ScreenSaver service, not run here"
    segment "an unmonitored app" "does not count" 0 "$away" unmonitored input close_unmonitored
    segment "away, no input" "does not count" 0 "$away" terminal nothing nothing
    not_measured "a player resetting the idle counter" "does not count" "no X idle counter on Wayland"
    local same="not run on KWin (time): logind's state and the clock's jump, the same code as on X11"
    not_measured "locked, no input" "does not count" "$same"
    not_measured "another session active, typing" "does not count" "$same"
    not_measured "asleep (agent stopped), typing" "does not count" "$same"
}
