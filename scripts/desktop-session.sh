#!/usr/bin/env bash
# Runs a command inside a private desktop session: its own D-Bus session bus with gnome-keyring's
# Secret Service (unlocked), an Xvfb display with the openbox window manager, and an xterm in front.
# The session's home is $SESSION_HOME (created if missing); nothing touches the user's own home.
# $SESSION_BUS_CONFIG, when set, is the session bus's configuration file instead of the standard one.
#   SESSION_HOME=/tmp/x scripts/desktop-session.sh COMMAND [ARGS...]
set -euo pipefail

: "${SESSION_HOME:?set SESSION_HOME to the directory the session may use as its home}"
mkdir -p "$SESSION_HOME"
SESSION_HOME=$(cd "$SESSION_HOME" && pwd)
export HOME="$SESSION_HOME/home" XDG_DATA_HOME="$SESSION_HOME/home/.local/share"
export XDG_CONFIG_HOME="$SESSION_HOME/home/.config" XDG_STATE_HOME="$SESSION_HOME/home/.local/state"
export XDG_CACHE_HOME="$SESSION_HOME/home/.cache" XDG_RUNTIME_DIR="$SESSION_HOME/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION WAYLAND_DISPLAY GNOME_KEYRING_CONTROL
export XDG_SESSION_TYPE=x11
export SESSION_KEYRING_PASSWORD="session-$$"

inner='
set -u
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

printf %s "$SESSION_KEYRING_PASSWORD" | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
pids+=($!)

Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$XDG_RUNTIME_DIR/display" >/dev/null 2>&1 &
pids+=($!)
display=""
for _ in $(seq 300); do
  display=$(tr -dc 0-9 <"$XDG_RUNTIME_DIR/display" 2>/dev/null || true)
  [ -n "$display" ] && break
  sleep 0.1
done
if [ -z "$display" ]; then echo "desktop-session: Xvfb did not start" >&2; exit 1; fi
export DISPLAY=":$display"

openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
  sleep 0.1
done
# The font is named, so xterm never hunts for core bitmap fonts a minimal machine may lack. A cold
# first start (font and fontconfig caches empty) takes seconds: wait for the window to be mapped,
# then activate it until the window manager says it is active.
xterm -fa "DejaVu Sans Mono" -fs 10 -title "Fennimar session" >/dev/null 2>&1 &
pids+=($!)
window=""
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name "Fennimar session" 2>/dev/null | head -n1)
  [ -n "$window" ] && break
  sleep 0.2
done
for _ in $(seq 30); do
  [ -z "$window" ] && break
  xdotool windowactivate "$window" >/dev/null 2>&1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ] && break
  sleep 1
done

"$@"
'
exec dbus-run-session ${SESSION_BUS_CONFIG:+--config-file="$SESSION_BUS_CONFIG"} -- bash -c "$inner" desktop-session "$@"
