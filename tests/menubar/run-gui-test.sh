#!/bin/sh
# Runs the tray tests against a real tray, inside the private desktop session every real-peer script
# uses (scripts/desktop-session.sh: Xvfb, openbox, a session bus). The test itself starts the tray
# host (trayer), so that the icon's wait for a host is exercised too.
# Usage: run-gui-test.sh <test binary> [<test filter>, TrayGui* by default]
# Exit 77 (skipped) when a tool is missing.
set -u
binary=$1
here=$(cd "$(dirname "$0")" && pwd)

for tool in Xvfb openbox trayer xdotool xterm dbus-run-session gnome-keyring-daemon; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: the tray test needs $tool (scripts/install-deps.sh installs it)" >&2
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
SESSION_HOME=$work "$here/../../scripts/desktop-session.sh" env QT_QPA_PLATFORM=xcb FENNIMAR_GUI_SESSION=1 \
    timeout 120 "$binary" --gtest_filter="${2:-TrayGui*}"
