#!/usr/bin/env bash
# Runs a test binary on a private D-Bus session bus in a private home, never the user's own.
#   with-secret-service.sh keyring BINARY [ARGS...]  gnome-keyring's Secret Service, unlocked
#   with-secret-service.sh bare BINARY [ARGS...]     a bus without any services
#   with-secret-service.sh nobus BINARY [ARGS...]    no session bus at all
# When a tool is missing the binary still runs, told so through FENNIMAR_SECRET_SERVICE_MISSING,
# and skips its tests loudly.
set -u
mode=$1
binary=$2
shift 2

missing=""
for tool in dbus-run-session dbus-daemon; do
  command -v "$tool" >/dev/null || missing+="$tool "
done
if [ "$mode" = keyring ]; then
  command -v gnome-keyring-daemon >/dev/null || missing+="gnome-keyring-daemon "
fi
if [ -n "$missing" ]; then
  FENNIMAR_SECRET_SERVICE_MISSING="$missing" exec "$binary" "$@"
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
export FENNIMAR_TEST_SECRET_SERVICE="$mode" FENNIMAR_TEST_KEYRING_PASSWORD="test-keyring-$$"

if [ "$mode" = keyring ]; then
  # The daemon runs in the foreground of this session so that it is stopped by pid, never by name,
  # when the tests end. The login keyring is created with this password on first unlock.
  inner='printf %s "$FENNIMAR_TEST_KEYRING_PASSWORD" |
      gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
    daemon=$!
    for _ in $(seq 100); do
      dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true && break
      sleep 0.1
    done
    "$0" "$@"
    status=$?
    kill "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
    exit $status'
  timeout 280 dbus-run-session -- bash -c "$inner" "$binary" "$@"
elif [ "$mode" = nobus ]; then
  env -u DBUS_SESSION_BUS_ADDRESS "$binary" "$@"
else
  cat >"$tmp/bare.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$tmp</listen>
  <policy context="default"><allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy>
</busconfig>
CONF
  timeout 280 dbus-run-session --config-file="$tmp/bare.conf" -- "$binary" "$@"
fi
