#!/usr/bin/env bash
# The real agent against the reference backend in a private X11 session with an xterm in front, in a
# zone far from UTC: paired through the backend, it reports, counts the xterm, flushes on SIGTERM a
# ledger that holds what it logged under the local date; restarted, it restores the pairing and
# reports, and the backend's page in a real browser shows the ledger's hours.
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
sleep 4  # counting the xterm
stop "$pid"
counted=$(flushed) today=$(date +%F) ledger=$XDG_DATA_HOME/Fennimar/ledger.json
offset=$(date +%z | awk '{ s = substr($1, 1, 1) == "-" ? -1 : 1; print s * (substr($1, 2, 2) * 60 + substr($1, 4, 2)) }')
((counted > 0)) || fail "nothing counted with the xterm in front"
# The next start restores the pairing from the secret store and reports at once what the ledger holds.
admin set-apps --child Robin web:example.com >/dev/null || fail "set-apps"  # nothing more is counted
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
reported() { grep -A1000 "restored pairing · device=$device" "$log" | grep -q "usage reported · today="; }
wait_for 20 "the restored pairing's report" reported
stop "$pid"
page=$work/page.html
command -v chromium >/dev/null || { page=-; echo "no chromium: the page is not checked (scripts/install-deps.sh)"; }
[ "$page" = - ] || timeout 40 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/chromium" \
  --dump-dom "$url/?token=$(cat "$work/admin-token")" >"$page" 2>/dev/null || fail "chromium"
python3 - "$page" "$ledger" "$today" "$counted" "$offset" <<'EOF_PY' || fail "the ledger or the page is not what was logged"
import json, re, sys
ledger, today, counted = json.load(open(sys.argv[2])), sys.argv[3], int(sys.argv[4])
hours = ledger[today]["buckets"]  # the local date's, with the local zone's offset
ok = sum(hours) == counted and ledger[today]["tzOffsetMinutes"] == int(sys.argv[5])
if not ok or sys.argv[1] == "-":
    sys.exit(print("ledger", ledger[today], "logged", counted) or not ok)
page = open(sys.argv[1]).read()
chart = re.search(r'<svg[^>]*>(?:(?!</svg>).)*?on ' + today + r' .*?</svg>', page, re.S)
bars = [int(s) for s in re.findall(r'data-hour="\d+" data-seconds="(\d+)"', chart.group(0))] if chart else []
print("page bars", bars, "ledger", hours, "logged", counted)
sys.exit(bars != hours)
EOF_PY
echo "end-to-end: paired $device, counted ${counted}s, the page shows the ledger's hours"
