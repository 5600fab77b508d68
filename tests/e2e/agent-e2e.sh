#!/usr/bin/env bash
# The real agent against the reference backend in a private X11 session with an xterm in front: paired
# through the backend, it reports, counts the xterm, flushes on SIGTERM a ledger that holds what it
# logged under the computer's date (UTC+14 in /etc/localtime, in a mount namespace of its own, while TZ
# names a zone 19 hours behind, as a child's environment.d could); restarted, it restores the pairing.
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"
if [ -z "$inside" ]; then
  [ -e /usr/share/applications/debian-xterm.desktop ] || { echo "SKIPPED: no debian-xterm.desktop" >&2; exit 77; }
  [ -e /usr/share/zoneinfo/Pacific/Kiritimati ] || { echo "SKIPPED: no tzdata" >&2; exit 77; }
  { ((EUID == 0)) && unshare -m true || unshare -Urm true; } 2>/dev/null ||
    { echo "SKIPPED: no mount namespace here (neither root nor unprivileged user namespaces)" >&2; exit 77; }
  outside 150
fi
xterm_in_front() {
  xdotool search --name "Fennimar session" windowactivate >/dev/null 2>&1
  [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Fennimar session" ]
}
wait_for 15 "the xterm in front" xterm_in_front
far_agent() {  # in the background: unshare and sh exec the agent, so that its pid is the agent's
  local ns=-m inner=() bind='mount --bind /usr/share/zoneinfo/Pacific/Kiritimati /etc/localtime && exec "$@"'
  ((EUID == 0)) || ns=-Urm inner=(unshare -U "--map-user=$(id -u)" "--map-group=$(id -g)")
  TZ=Etc/GMT+5 exec unshare $ns sh -c "$bind" sh "${inner[@]}" "$agent" --headless
}
admin set-apps --child Robin linux:debian-xterm >/dev/null || fail "set-apps"
far_agent >>"$work/agent.out" 2>&1 &
pid=$!
pair
seen() { admin devices 2>/dev/null | tr -d ' \n' | grep -qF "\"last_heartbeat\":{"; }
wait_for 20 "a heartbeat on the backend" seen
wait_for 20 "a usage report" in_log "usage reported · today="
xdotool mousemove_relative 1 1  # input: a slow start may be a minute idle
sleep 4  # counting the xterm
stop "$pid"
counted=$(flushed) today=$(TZ=Pacific/Kiritimati date +%F) ledger=$XDG_DATA_HOME/Fennimar/ledger.json
((counted > 0)) || fail "nothing counted with the xterm in front"
# The next start restores the pairing from the secret store and reports at once what the ledger holds.
admin set-apps --child Robin web:example.com >/dev/null || fail "set-apps"  # nothing more is counted
far_agent >>"$work/agent.out" 2>&1 &
pid=$!
reported() { grep -A1000 "restored pairing · child=" "$log" | grep -q "usage reported · today="; }
wait_for 20 "the restored pairing's report" reported
stop "$pid"
python3 - "$ledger" "$today" "$counted" <<'EOF_PY' || fail "the ledger is not what was logged"
import json, sys
day = json.load(open(sys.argv[1])).get(sys.argv[2], {})  # the computer's date, with its offset (UTC+14)
print("ledger", day, "logged", sys.argv[3])
sys.exit(sum(day.get("buckets", [])) != int(sys.argv[3]) or day.get("tzOffsetMinutes") != 840)
EOF_PY
echo "end-to-end: paired $device, counted ${counted}s, the ledger holds them under the computer's date"
