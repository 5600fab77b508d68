#!/usr/bin/env bash
# The real agent against the reference backend in a private X11 session with an xterm in front, in a
# zone far from UTC: paired through the backend, it reports, counts the xterm, flushes on SIGTERM a
# ledger that holds what it logged under the local date; restarted, it restores the pairing and
# reports.
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"
if [ -z "$inside" ]; then
  [ -e /usr/share/applications/debian-xterm.desktop ] || { echo "SKIPPED: no debian-xterm.desktop" >&2; exit 77; }
  [ -e /usr/share/zoneinfo/Pacific/Kiritimati ] && export TZ=Pacific/Kiritimati
  outside 150
fi
xterm_in_front() {
  xdotool search --name "Fennimar session" windowactivate >/dev/null 2>&1
  [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Fennimar session" ]
}
wait_for 15 "the xterm in front" xterm_in_front
admin set-apps --child Robin linux:debian-xterm >/dev/null || fail "set-apps"
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
pair
seen() { admin devices 2>/dev/null | tr -d ' \n' | grep -qF "\"last_heartbeat\":{"; }
wait_for 20 "a heartbeat on the backend" seen
wait_for 20 "a usage report" in_log "usage reported · today="
xdotool mousemove_relative 1 1  # input: a slow start may be a minute idle
sleep 4  # counting the xterm
stop "$pid"
counted=$(flushed) today=$(date +%F) ledger=$XDG_DATA_HOME/Fennimar/ledger.json
offset=$(date +%z | awk '{ s = substr($1, 1, 1) == "-" ? -1 : 1; print s * (substr($1, 2, 2) * 60 + substr($1, 4, 2)) }')
((counted > 0)) || fail "nothing counted with the xterm in front"
# The next start restores the pairing from the secret store and reports at once what the ledger holds.
admin set-apps --child Robin web:example.com >/dev/null || fail "set-apps"  # nothing more is counted
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
reported() { grep -A1000 "restored pairing · child=" "$log" | grep -q "usage reported · today="; }
wait_for 20 "the restored pairing's report" reported
stop "$pid"
python3 - "$ledger" "$today" "$counted" "$offset" <<'EOF_PY' || fail "the ledger is not what was logged"
import json, sys
day = json.load(open(sys.argv[1]))[sys.argv[2]]  # the local date's, with the local zone's offset
print("ledger", day, "logged", sys.argv[3])
sys.exit(sum(day["buckets"]) != int(sys.argv[3]) or day["tzOffsetMinutes"] != int(sys.argv[4]))
EOF_PY
echo "end-to-end: paired $device, counted ${counted}s, the ledger holds them under the local date"
