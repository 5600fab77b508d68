#!/usr/bin/env bash
# The real agent on a headless sway: paired with the reference backend, it counts the monitored app
# (foot) and the monitored site (127.0.0.1, the backend's own page) in Firefox on Wayland, each for its
# own time in front, and neither another app (weston-flower, which no desktop entry names, and which
# the menu shows as nothing counted) nor Firefox on another site (other.test, told it is loopback).
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"
launcher=/usr/libexec/at-spi-bus-launcher
if [ -z "$inside" ]; then
  [ -e /usr/share/applications/foot.desktop ] || { echo "SKIPPED: no foot.desktop to count foot by" >&2; exit 77; }
  [ -x $launcher ] || { echo "SKIPPED: needs $launcher (scripts/install-deps.sh)" >&2; exit 77; }
  SESSION_BUS_CONFIG=$(cd "$(dirname "$0")" && pwd)/session-bus-with-nobody.conf
  export SESSION_BUS_CONFIG
  outside 170 sway swaymsg foot weston-flower setpriv firefox-esr wtype python3
fi
# sway and its clients run as an unprivileged user (sway refuses root) in a runtime dir of their own.
run=$work/sway-run other=org.freedesktop.weston.flower as_user=() started=() held=0
mkdir -p "$run/profile" && chmod 700 "$run" && printf 'xwayland disable\n' >"$run/sway.conf"
printf 'user_pref("%s", %s);\n' network.dns.localDomains '"other.test"' dom.security.https_first false \
  browser.aboutwelcome.enabled false datareporting.policy.dataSubmissionEnabled false >"$run/profile/user.js"
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$run" && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
# user COMMAND... &: runs COMMAND as that user; $! is its pid.
user() { exec "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$run" XDG_RUNTIME_DIR="$run" "$@"; }
trap 'kill "${started[@]}" 2>/dev/null' EXIT
# The accessibility bus is the session user's, as on a desktop (it lets root in too), and on.
user DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" $launcher --launch-immediately --a11y=1 >/dev/null 2>&1 &
started+=($!)
user WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$run/sway.conf" >"$work/sway.out" 2>&1 &
started+=($!)
sway_ready() { ls "$run"/sway-ipc.*.sock >/dev/null 2>&1 && ls "$run" | grep -qE '^wayland-[0-9]+$'; }
wait_for 10 "sway's sockets" sway_ready
SWAYSOCK=$(ls "$run"/sway-ipc.*.sock)
export SWAYSOCK WAYLAND_DISPLAY=$run/$(ls "$run" | grep -E '^wayland-[0-9]+$' | head -n 1)
a11y_ready() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
  string:org.a11y.Bus | grep -q true; }
wait_for 10 "the accessibility bus" a11y_ready
on_sway() { user WAYLAND_DISPLAY="$WAYLAND_DISPLAY" DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" "$@"; }
# A keyboard on the seat: accessibility's active window follows keyboard focus.
on_sway wtype -s 3600000 a &
started+=($!)
on_sway MOZ_ENABLE_WAYLAND=1 MOZ_CRASHREPORTER_DISABLE=1 firefox-esr --no-remote --profile "$run/profile" \
  "http://other.test:${url##*:}/" "$url/?token=$(cat "$work/admin-token")" >"$work/firefox.out" 2>&1 &
started+=($!)
mapped() { swaymsg -t get_tree | grep -qF "\"app_id\": \"$1\""; }
on_sway foot sleep 600 >/dev/null 2>&1 &
wait_for 10 "foot mapped" mapped foot
on_sway weston-flower >/dev/null 2>&1 &
wait_for 10 "weston-flower mapped" mapped "$other"
# firefox_titled TITLE: Firefox is focused and sway says the window in front has that title.
firefox_titled() { swaymsg '[app_id=firefox-esr] focus' && swaymsg "[con_id=__focused__ title=\"^$1\"] nop"; } >/dev/null 2>&1
status_says() { [[ $("$agent" --status 2>&1) == *"$1"* ]]; }
admin set-apps --child Robin linux:foot web:127.0.0.1 >/dev/null || fail "set-apps"
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
pair
in_log "Wayland sources · app in front: sway IPC" || fail "the agent did not choose sway's IPC"
wait_for 20 "the monitored list" in_log "usage reported · today="
in_firefox() { swaymsg '[app_id=firefox-esr] focus' >/dev/null 2>&1 && status_says "$1"; }
wait_for 60 "Firefox in front on other.test, read by the agent" in_firefox "other.test — not on the list"
sleep 3
# hold SUBJECT NAME: 3 s in front once the status counts it, then the app nobody names, shown as counting
# nothing (not as the app before); the seconds the log says SUBJECT was counted go to held.
hold() {
  wait_for 15 "$1 counted" status_says "Counting $2 now"  # a slow browser's reads may pause a moment
  local from=$SECONDS n
  sleep 3 && swaymsg "[app_id=$other] focus" >/dev/null || fail "focus"
  wait_for 10 "the app nobody names shown as counting nothing" status_says "Nothing being counted right now"
  wait_for 5 "$1's stretch in the log" in_log "counted $1 · "
  n=$(grep -o "counted $1 · [0-9]*s" "$log" | awk '{n += $NF} END {print n + 0}')
  ((n >= 2 && n <= SECONDS - from + 2)) || fail "counted ${n}s of $1 for 3 to $((SECONDS - from)) s in front"
  held=$((held + n))
}
swaymsg '[app_id=foot] focus' >/dev/null && hold foot Foot || fail "focus"
sleep 3 && swaymsg '[app_id=firefox-esr] focus' >/dev/null && (on_sway wtype -M ctrl -k Page_Down -m ctrl) || fail "the next tab"
wait_for 10 "Firefox on 127.0.0.1 in front" firefox_titled "Fennimar: what was counted"
hold 127.0.0.1 127.0.0.1
stop "$pid"
# other.test's or the other app's 3 s would take the day past what foot and 127.0.0.1 were counted.
(($(flushed) == held)) || fail "the day holds $(flushed)s, not the ${held}s of foot and 127.0.0.1"
echo "wayland end-to-end: counted ${held}s of foot and 127.0.0.1 on sway, each in front, nothing of the other app or site"
