#!/usr/bin/env bash
# By hand (CI runs the faster in-process CrashSafety test instead): the real agent, counting an
# xterm in a private desktop session, killed with SIGKILL at a random moment N times in a row.
# After each kill: ledger.json and reported-apps.json read whole, the ledger holds every counted
# second but at most the last minute's, and the next start restores the pairing.
#   tests/e2e/crash-agent.sh BUILD_DIR [N=10]      (needs python3; one round takes up to 80 s)
set -uo pipefail

if [ "${1:-}" = "--inside" ]; then
  shift
  refbackend=$1 agent=$2 url=$3 work=$4 rounds=$5
  log=$XDG_STATE_HOME/Fennimar/Fennimar.log
  support=$XDG_DATA_HOME/Fennimar
  fail() { echo "FAILED: $*" >&2; tail -n 30 "$log" >&2; exit 1; }
  wait_log() { # SECONDS TEXT
    local end=$((SECONDS + $1))
    until grep -qF -- "$2" "$log" 2>/dev/null; do
      ((SECONDS < end)) || fail "no \"$2\" within $1 s"
      sleep 0.1
    done
  }
  counted() { # today's seconds in ledger.json, or "unreadable"
    python3 - "$support/ledger.json" <<'EOF'
import datetime, json, sys
try:
    days = json.load(open(sys.argv[1]))
    record = days.get(datetime.date.today().isoformat(), {"buckets": [0] * 24})
    assert len(record["buckets"]) == 24 and all(isinstance(b, int) for b in record["buckets"])
    print(sum(record["buckets"]))
except FileNotFoundError:
    print(0)
except Exception as e:
    print("unreadable", e)
EOF
  }

  end=$((SECONDS + 15))
  until xdotool search --name "Fennimar session" windowactivate >/dev/null 2>&1 &&
    [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Fennimar session" ]; do
    ((SECONDS < end)) || fail "the xterm never got the focus"
    sleep 0.1
  done
  "$refbackend" admin --url "$url" --admin-token-file "$work/admin-token" set-apps --child Robin linux:debian-xterm >/dev/null || fail "set-apps"
  "$agent" --headless >>"$work/agent.out" 2>&1 &
  pid=$!
  wait_log 20 "pair code "
  code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
  "$refbackend" admin --url "$url" --admin-token-file "$work/admin-token" claim "$code" --child Robin >/dev/null || fail "claim"
  wait_log 10 "PAIRED · device="
  device=$(grep -o 'PAIRED · device=[^ ]*' "$log" | head -n 1 | sed 's/.*device=//')
  previous=0
  for round in $(seq "$rounds"); do
    started=$SECONDS
    sleep $((RANDOM % 75 + 1)).$((RANDOM % 10))
    ran=$((SECONDS - started))
    kill -KILL "$pid"
    wait "$pid" 2>/dev/null
    now=$(counted)
    case $now in unreadable*) fail "round $round: ledger.json $now" ;; esac
    if [ -e "$support/reported-apps.json" ]; then
      python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$support/reported-apps.json" ||
        fail "round $round: reported-apps.json unreadable"
    fi
    # Counting starts within a few seconds of the start; a save comes at least once a minute.
    lost=$((previous + ran - now))
    ((lost >= -5 && lost <= 60 + 5)) || fail "round $round: ran ${ran}s, ledger went from ${previous}s to ${now}s"
    echo "round $round: ran ${ran}s, ledger ${previous}s -> ${now}s"
    previous=$now
    : >"$log"
    "$agent" --headless >>"$work/agent.out" 2>&1 &
    pid=$!
    wait_log 20 "restored pairing · device=$device"
  done
  kill -TERM "$pid"
  wait "$pid"
  echo "crash test: $rounds kills, files always whole, at most a minute lost, pairing kept"
  exit 0
fi

build=$(cd "${1:?usage: crash-agent.sh BUILD_DIR [N]}" && pwd)
rounds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
refbackend=$build/tools/refbackend/fennimar-refbackend
agent=$build/agent/fennimar-agent
work=$build/tests/e2e/crash-agent
rm -rf "$work"
mkdir -p "$work"
"$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" >"$work/refbackend.out" 2>"$work/refbackend.err" &
backend=$!
trap 'kill "$backend" 2>/dev/null; wait "$backend" 2>/dev/null' EXIT
url=$("$here/../../scripts/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") || exit 1
SESSION_HOME=$work/session FENNIMAR_BACKEND_URL=$url \
  "$here/../../scripts/desktop-session.sh" bash "$here/crash-agent.sh" --inside "$refbackend" "$agent" "$url" "$work" "$rounds"
