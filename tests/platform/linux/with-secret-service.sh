#!/usr/bin/env bash
# Runs a test binary on a private D-Bus session bus in a private home, never the user's own.
#   with-secret-service.sh keyring BINARY [ARGS...]  gnome-keyring's Secret Service, unlocked
#   with-secret-service.sh nobus BINARY [ARGS...]    no session bus at all
# Exit 77 (skipped; a failure under CI, scripts/test.sh) when a tool is missing.
set -u
mode=$1
binary=$2
shift 2

tools="dbus-run-session dbus-daemon" missing=""
[ "$mode" = keyring ] && tools+=" gnome-keyring-daemon Xvfb openbox xterm xdotool"
for tool in $tools; do
  command -v "$tool" >/dev/null || missing+="$tool "
done
if [ -n "$missing" ]; then
  echo "SKIPPED: the real secret store tests need ${missing}(scripts/install-deps.sh)" >&2
  exit 77
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp/home" XDG_DATA_HOME="$tmp/home/.local/share" XDG_CONFIG_HOME="$tmp/home/.config"
export XDG_STATE_HOME="$tmp/home/.local/state" XDG_CACHE_HOME="$tmp/home/.cache" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$HOME" "$XDG_RUNTIME_DIR"
# QtKeychain picks its backend from the desktop; with none named it uses the Secret Service. No
# display: nothing may pop up a prompt or autolaunch a bus.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL
export FENNIMAR_TEST_SECRET_SERVICE="$mode"

if [ "$mode" = keyring ]; then
  # The desktop session every real-peer script uses starts gnome-keyring's Secret Service, unlocked,
  # and stops it by pid when the tests end. No display for the tests.
  SESSION_HOME="$tmp/session" timeout 280 "$(dirname "$0")/../../../scripts/desktop-session.sh" env -u DISPLAY \
    "$binary" "$@"
else
  env -u DBUS_SESSION_BUS_ADDRESS "$binary" "$@"
fi
