#!/usr/bin/env bash
# The real agent against the real reference backend, in a private desktop session with an xterm in
# front: pairing through the backend's admin command, heartbeat and first usage report on the
# backend, counting, an orderly stop with the ledger flushed, the pairing restored by the next
# start, and the backend's page in a real browser showing the ledger's hours.
#   agent-e2e.sh REFBACKEND AGENT DESKTOP_SESSION WORKDIR
# Exit 77 (skipped) when the desktop tools are missing. Every wait is bounded.
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"

if [ "${1:-}" = "--inside" ]; then
  shift
  refbackend=$1 agent=$2 url=$3 work=$4
  log=$XDG_STATE_HOME/Fennimar/Fennimar.log
  ledger=$XDG_DATA_HOME/Fennimar/ledger.json
  # The session starts the window manager and the xterm side by side: the xterm must have the
  # focus, as the window manager reports it, before anything is counted.
  xterm_in_front() {
    xdotool search --name "Fennimar session" windowactivate >/dev/null 2>&1
    [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Fennimar session" ]
  }
  wait_for 15 "the xterm in front" xterm_in_front

  admin set-apps --child Robin linux:debian-xterm >/dev/null || fail "set-apps"
  "$agent" --headless >>"$work/agent1.out" 2>&1 &
  first=$!
  pair
  seen_by_backend() {
    admin devices >"$work/devices.json" 2>/dev/null || return 1
    local flat
    flat=$(tr -d ' \n' <"$work/devices.json")
    [[ $flat == *"\"$device\""* && $flat == *'"last_heartbeat":{'* && $flat == *'"usage":[{'* ]]
  }
  wait_for 20 "a heartbeat and a usage report on the backend" seen_by_backend
  in_log "heartbeat ok · device=$device" || fail "no heartbeat ok line"
  in_log "usage reported · today=" || fail "no usage reported line"

  sleep 4  # counting the xterm
  stop "$first"
  counted=$(flushed)
  ((counted > 0)) || fail "nothing counted with the xterm in front (today=${counted}s)"
  today=$(date +%F)
  record=$(grep -o "\"$today\":{[^}]*}" "$ledger") || fail "no record of $today in $(cat "$ledger")"
  stored=$(echo "$record" | sed 's/.*"buckets":\[\([0-9,]*\)\].*/\1/' | tr , '\n' | awk '{s += $1} END {print s + 0}')
  [ "$stored" -eq "$counted" ] || fail "ledger.json holds ${stored}s for today, the log said ${counted}s"
  # The agent runs in a zone 14 hours from UTC (see below): the day's key above is the local date,
  # and the record carries the zone's offset.
  offset=$(date +%z | awk '{ s = substr($1, 1, 1) == "-" ? -1 : 1; print s * (substr($1, 2, 2) * 60 + substr($1, 4, 2)) }')
  [[ $record == *"\"tzOffsetMinutes\":$offset"* ]] || fail "the record of $today has not the offset $offset: $record"

  # The next start finds the pairing in the secret store and reports at once what the ledger holds;
  # with the xterm no longer on the child's list nothing is added after that report.
  admin set-apps --child Robin web:example.com >/dev/null || fail "set-apps"
  "$agent" --headless >>"$work/agent2.out" 2>&1 &
  second=$!
  wait_for 20 "the pairing restored" in_log "restored pairing · device=$device"
  reported() { grep -A1000 "restored pairing" "$log" | grep -q "usage reported · today="; }
  wait_for 20 "the report of the restarted agent" reported

  # A real browser reads the backend's page: the bars of today's chart are the ledger's hours.
  if command -v chromium >/dev/null 2>&1; then
    page="$url/?token=$(cat "$work/admin-token")"
    timeout 40 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/chromium" --dump-dom "$page" \
      >"$work/page.html" 2>>"$work/chromium.err" || fail "chromium could not load $page"
    python3 - "$work/page.html" "$ledger" "$today" <<'EOF_PY' || fail "the page's bars are not the ledger's hours"
import json, re, sys
page, ledger, today = open(sys.argv[1]).read(), json.load(open(sys.argv[2])), sys.argv[3]
chart = re.search(r'<svg[^>]*>(?:(?!</svg>).)*?on ' + today + r' .*?</svg>', page, re.S)
bars = [int(s) for s in re.findall(r'data-hour="\d+" data-seconds="(\d+)"', chart.group(0))] if chart else []
hours = ledger[today]["buckets"]
print("page bars", bars, "ledger", hours)
sys.exit(0 if bars == hours and any(hours) else 1)
EOF_PY
  else
    echo "no chromium: the page was not checked in a browser (scripts/install-deps.sh installs it)"
  fi
  stop "$second"
  grep -q "pair code " <(grep -A1000 "restored pairing" "$log") && fail "the restarted agent asked for a new code"
  echo "end-to-end: paired $device, counted ${counted}s, pairing restored"
  exit 0
fi

refbackend=$1 agent=$2 session=$3 work=$4
[ -e /usr/share/applications/debian-xterm.desktop ] || {
  echo "SKIPPED: no debian-xterm.desktop, so the xterm has no app id to count" >&2
  exit 77
}
start_backend "${desktop_tools[@]}"
# A zone far from UTC, so that for most of the day its date differs from UTC's and from this
# machine's: the ledger must file the counting under the date and hour the user sees.
[ -e /usr/share/zoneinfo/Pacific/Kiritimati ] && export TZ=Pacific/Kiritimati
SESSION_HOME=$work/session FENNIMAR_BACKEND_URL=$url timeout 150 \
  "$session" bash "$0" --inside "$refbackend" "$agent" "$url" "$work"
