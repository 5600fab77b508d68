# The GNOME Shell day (GNOME Shell 43 or 48, headless, no Xwayland), sourced by day.sh. Run as
#   SESSION_HOME=DIR bash gnome.sh --session COMMAND...
# it starts the session first, as sway.sh does: a private session bus with gnome-keyring's Secret
# Service and gnome-shell --headless (with an empty private system bus of its own, as the tests give
# it); under root the whole session runs as nobody. The agent installs its Shell extension when it
# is paired, and a Shell loads a new extension only at the next login, so the day begins by starting
# the Shell again (its windows go with it) and then opens GTK's widget factory, the monitored app.
# The headless Shell focuses no window by itself and Mutter has no virtual-keyboard protocol (wtype
# does not work), so the bench's own extension (bench-input@fennimar.app) brings a window to the
# front and presses Shift through a Clutter virtual keyboard, the device Mutter's remote desktop
# uses, whose keys reset Mutter's idle monitor as the user's do.
# The session bus's own messages go to SESSION_HOME/session.err.
if [ "${1:-}" = "--session" ]; then
    . "$(dirname "${BASH_SOURCE[0]}")/wayland-session.sh"
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME SESSION_KEYRING_PASSWORD="session-$$"
    bench=$XDG_DATA_HOME/gnome-shell/extensions/bench-input@fennimar.app
    mkdir -p "$bench"
    # The legacy form for Shell 44 and older, an ES module for 45 and newer, around the same body.
    if [ "$(gnome-shell --version | grep -o '[0-9][0-9]*' | head -n 1)" -ge 45 ]; then
        versions='"45", "46", "47", "48", "49"'
        head="import Clutter from 'gi://Clutter'; import Gio from 'gi://Gio'; import GLib from 'gi://GLib';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';"
        tail='export default class BenchInput extends Extension { enable() { enableBench(); } disable() { disableBench(); } }'
    else
        versions='"40", "41", "42", "43", "44"'
        head='const { Clutter, Gio, GLib } = imports.gi;'
        tail='function init() { return { enable: enableBench, disable: disableBench }; }'
    fi
    printf '{"uuid": "bench-input@fennimar.app", "name": "bench input", "description": "the accuracy bench'"'"'s focus and keys", "shell-version": [%s]}\n' \
        "$versions" >"$bench/metadata.json"
    {
        echo "$head"
        cat <<'JS'
const api = `<node><interface name="app.fennimar.Bench">
  <method name="Focus"><arg type="x" direction="in"/><arg type="b" direction="out"/></method>
  <method name="Front"><arg type="x" direction="out"/></method>
  <method name="Press"/>
</interface></node>`;
let exported = null, keyboard = null;
function enableBench() {
    keyboard = Clutter.get_default_backend().get_default_seat()
        .create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
    exported = Gio.DBusExportedObject.wrapJSObject(api, {
        Focus(pid) {
            const windows = global.get_window_actors().map(a => a.meta_window).filter(w => w.get_pid() === pid);
            windows.forEach(w => w.activate(global.get_current_time()));
            return windows.length > 0;
        },
        Front() {
            const w = global.display.focus_window;
            return w ? w.get_pid() : 0;
        },
        Press() {
            const now = GLib.get_monotonic_time();
            keyboard.notify_keyval(now, Clutter.KEY_Shift_L, Clutter.KeyState.PRESSED);
            keyboard.notify_keyval(now + 1000, Clutter.KEY_Shift_L, Clutter.KeyState.RELEASED);
        },
    });
    exported.export(Gio.DBus.session, '/app/fennimar/Bench');
}
function disableBench() {
    exported.unexport();
    exported = null;
    keyboard = null;
}
JS
        echo "$tail"
    } >"$bench/extension.js"
    inner='
set -u
pids=()
cleanup() {
  for p in "${pids[@]}" $(cat "$XDG_RUNTIME_DIR/shell.pid" 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
printf %s "$SESSION_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
pids+=($!)
printf "<busconfig><type>session</type><listen>unix:dir=%s</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/></policy></busconfig>" \
  "$XDG_RUNTIME_DIR" >"$XDG_RUNTIME_DIR/shell-system.conf"
dbus-daemon --config-file="$XDG_RUNTIME_DIR/shell-system.conf" --nofork --print-address=1 >"$XDG_RUNTIME_DIR/shell-system.address" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$XDG_RUNTIME_DIR/shell-system.address" ] && break; sleep 0.1; done
export WAYLAND_DISPLAY=wayland-bench
source "$BENCH_GNOME_SH"
start_shell || exit 1
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
  sleep 0.1
done
"$@" 2>&3
'
    export BENCH_GNOME_SH="${BASH_SOURCE[0]}"
    exec 3>&2
    exec dbus-run-session -- bash -c "$inner" gnome-session "$@" 2>"$SESSION_HOME/session.err"
fi

# A login: GNOME Shell started (again), answering on the session bus, the bench's extension on.
shell_call() {  # METHOD [ARGS...]: the Shell's extensions interface
    local method=$1
    shift
    timeout 20 gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method "org.gnome.Shell.Extensions.$method" "$@" 2>/dev/null
}
bench_call() {  # METHOD [ARGS...]: the bench's extension
    local method=$1
    shift
    timeout 10 gdbus call --session --dest org.gnome.Shell --object-path /app/fennimar/Bench \
        --method "app.fennimar.Bench.$method" "$@" 2>/dev/null
}
start_shell() {
    local old
    old=$(cat "$XDG_RUNTIME_DIR/shell.pid" 2>/dev/null || true)
    if [ -n "$old" ]; then
        kill "$old" 2>/dev/null || true
        for _ in $(seq 100); do kill -0 "$old" 2>/dev/null || break; sleep 0.1; done
    fi
    # A Shell stopped within a minute of its start leaves this behind, and the next one would take it
    # for a crash at login and start without extensions.
    rm -f "$XDG_RUNTIME_DIR/gnome-shell-disable-extensions"
    env DBUS_SYSTEM_BUS_ADDRESS="$(head -n 1 "$XDG_RUNTIME_DIR/shell-system.address")" gnome-shell --headless \
        --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display wayland-bench >>"$HOME/gnome-shell.out" 2>&1 &
    echo $! >"$XDG_RUNTIME_DIR/shell.pid"
    [ -z "${children+set}" ] || children+=($!)  # in the day, stopped with its windows
    for _ in $(seq 300); do
        shell_call ListExtensions >/dev/null && shell_call EnableExtension bench-input@fennimar.app >/dev/null &&
            bench_call Front >/dev/null && return 0
        sleep 0.1
    done
    echo "GNOME Shell did not start, or without the bench's extension: $(tail -n 5 "$HOME/gnome-shell.out")" >&2
    return 1
}

terminal_app=linux:gtk3-widget-factory
input() { bench_call Press >/dev/null || echo "the bench's key press failed" >&2; }
focus() {  # PID: its window in front, as the Shell says
    for _ in $(seq 100); do
        bench_call Focus "$1" >/dev/null
        [ "$(bench_call Front | sed "s/^(int64 //; s/,)$//")" = "$1" ] && return 0
        sleep 0.2
    done
    echo "GNOME Shell did not bring $1 to the front" >&2
    return 1
}
monitored=""
terminal() { focus "$monitored"; }
other=""
unmonitored() {  # an installed app that is not on the list
    GDK_BACKEND=wayland gtk3-demo >/dev/null 2>&1 &
    other=$!
    children+=("$other")
    focus "$other"
}
close_unmonitored() { kill "$other" 2>/dev/null || true; }
in_browser() {  # PAGE: Chromium on Wayland in front, its page loaded
    open_browser chromium "$1" --ozone-platform=wayland
    focus "$browser" || echo "Chromium did not come to the front" >&2
    sleep 5  # the page loads and its accessibility tree is built
}
chromium_site() { in_browser index.html; }
chromium_video() { in_browser video.html; }
chromium_music() { in_browser music.html; }

run_day() {
    # The next login, which loads the extension the agent installed when it was paired.
    start_shell
    GDK_BACKEND=wayland gtk3-widget-factory >"$HOME/monitored.out" 2>&1 &
    monitored=$!
    children+=("$monitored")
    segment "typing in a monitored app" counts "$seconds" "$seconds" terminal input nothing
    segment "offline all along, typing" counts "$seconds" "$seconds" offline_terminal input online
    segment "network up 10 s after the start, typing" counts "$seconds" "$seconds" late_terminal input online
    segment "a monitored site in Chromium" counts "$seconds" "$seconds" chromium_site input close_browser
    not_measured "the same site in Firefox" counts "not run on GNOME Shell (time): read over the accessibility bus"
    segment "a video in Chromium, no input" counts "$seconds" "$seconds" chromium_video nothing close_browser
    segment "music only in Chromium, no input" "does not count" 0 "$seconds" chromium_music nothing close_browser
    not_measured "a game's inhibitor, away" "does not count" "not staged: SDL's call goes to gsd's ScreenSaver proxy, not run here"
    segment "an unmonitored app" "does not count" 0 "$away" unmonitored input close_unmonitored
    segment "away, no input" "does not count" 0 "$away" terminal nothing nothing
    not_measured "a player resetting the idle counter" "does not count" "no X idle counter on Wayland"
    local same="not run on GNOME Shell (time): logind's state and the clock's jump, the same code as on X11"
    not_measured "locked, no input" "does not count" "$same"
    not_measured "another session active, typing" "does not count" "$same"
    not_measured "asleep (agent stopped), typing" "does not count" "$same"
}
