#!/usr/bin/env bash
# The real agent on a headless sway: paired with the reference backend, it counts the monitored app
# (foot) while it is in front and not another app (weston-flower, which no desktop entry names).
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"
if [ -z "$inside" ]; then
  [ -e /usr/share/applications/foot.desktop ] || { echo "SKIPPED: no foot.desktop to count foot by" >&2; exit 77; }
  outside 100 sway swaymsg foot weston-flower setpriv
fi
# sway and its clients run as an unprivileged user (sway refuses root) in a runtime dir of their own.
run=$work/sway-run other=org.freedesktop.weston.flower as_user=()
mkdir -p "$run" && chmod 700 "$run" && printf 'xwayland disable\n' >"$run/sway.conf"
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody:nogroup "$run" && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
user() { "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$run" XDG_RUNTIME_DIR="$run" "$@"; }
user WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$run/sway.conf" >"$work/sway.out" 2>&1 &
trap "kill $! 2>/dev/null" EXIT
sway_ready() { ls "$run"/sway-ipc.*.sock >/dev/null 2>&1 && ls "$run" | grep -qE '^wayland-[0-9]+$'; }
wait_for 10 "sway's sockets" sway_ready
SWAYSOCK=$(ls "$run"/sway-ipc.*.sock)
export SWAYSOCK WAYLAND_DISPLAY=$run/$(ls "$run" | grep -E '^wayland-[0-9]+$' | head -n 1)
mapped() { swaymsg -t get_tree | grep -qF "\"app_id\": \"$1\""; }
user WAYLAND_DISPLAY="$WAYLAND_DISPLAY" foot sleep 600 >/dev/null 2>&1 &
wait_for 10 "foot mapped" mapped foot
user WAYLAND_DISPLAY="$WAYLAND_DISPLAY" weston-flower >/dev/null 2>&1 &
wait_for 10 "weston-flower mapped" mapped "$other"
admin set-apps --child Robin linux:foot >/dev/null || fail "set-apps"
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
pair
in_log "Wayland sources · app in front: sway IPC" || fail "the agent did not choose sway's IPC"
wait_for 20 "the monitored list" in_log "usage reported · today="
sleep 3  # the other app in front
swaymsg '[app_id=foot] focus' >/dev/null && sleep 3 && swaymsg "[app_id=$other] focus" >/dev/null || fail "focus"
sleep 3
stop "$pid"
counted=$(flushed)
# About 3 s of foot; the other app's 3 s and more would take it to 6 or beyond.
((counted >= 2 && counted <= 4)) || fail "counted ${counted}s for about 3 s of foot in front"
echo "wayland end-to-end: counted ${counted}s of foot on sway, nothing of the other app"
