#!/bin/sh
# Runs the tray test against a real tray inside the private desktop session of
# scripts/desktop-session.sh (Xvfb, openbox, a session bus); the test starts the tray host itself.
# Exit 77 (skipped) when a tool is missing.
for tool in Xvfb openbox trayer xdotool xterm dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: the tray test needs $tool" >&2; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
SESSION_HOME=$work "$(dirname "$0")/../../scripts/desktop-session.sh" env QT_QPA_PLATFORM=xcb FENNIMAR_GUI_SESSION=1 \
    timeout 120 "$1" --gtest_filter='TrayGui*'
