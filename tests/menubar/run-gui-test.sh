#!/bin/sh
# Runs the tray tests against a real tray: a private Xvfb display, openbox and a session bus. The
# test itself starts the tray host (trayer), so that the icon's wait for a host is exercised too.
# Usage: run-gui-test.sh <test binary> <artifact directory> [<test filter>, TrayGui* by default]
# Exit 77 (skipped) when a tool is missing.
set -u
binary=$1
artifacts=$2

for tool in Xvfb openbox trayer xdotool dbus-run-session; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: the tray test needs $tool (scripts/install-deps.sh installs it)" >&2
        exit 77
    fi
done

if [ "${FENNIMAR_IN_SESSION_BUS:-}" != 1 ]; then
    FENNIMAR_IN_SESSION_BUS=1 exec dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# -displayfd picks a free display number, so parallel runs never collide.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ]; then
        echo "Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 0.5

export QT_QPA_PLATFORM=xcb FENNIMAR_GUI_SESSION=1 FENNIMAR_ARTIFACT_DIR="$artifacts"
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_DATA_HOME="$work/data"
timeout 120 "$binary" --gtest_filter="${3:-TrayGui*}"
