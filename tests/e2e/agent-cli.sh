#!/usr/bin/env bash
# The command line against the real running agent and the reference backend, in a private desktop
# session without a tray host: --status, --pair, --cancel-pairing, --unpair (declined, then --yes),
# each checked through the agent's log and the state it prints; with no agent running, a sentence
# and exit status 1; a second copy with a lock file of its own gives way to the first.
#   agent-cli.sh REFBACKEND AGENT DESKTOP_SESSION WORKDIR
# Exit 77 (skipped) when the desktop tools are missing. Every wait is bounded.
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"

if [ "${1:-}" = "--inside" ]; then
  shift
  refbackend=$1 agent=$2 url=$3 work=$4
  log=$XDG_STATE_HOME/Fennimar/Fennimar.log
  last_code() { grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}'; }
  # cli EXPECTED_STATUS ARGS...: runs the command line (bounded), output in $out.
  cli() {
    local want=$1 rc
    shift
    out=$(timeout 60 "$agent" "$@" 2>&1 </dev/null)
    rc=$?
    [ "$rc" -eq "$want" ] || fail "$* exited with $rc, not $want: $out"
  }

  cli 1 --status
  [[ $out == *"Fennimar is not running for this user."* ]] || fail "no agent: $out"
  "$agent" --headless >>"$work/agent.out" 2>&1 &
  agent_pid=$!
  trap 'kill "$agent_pid" 2>/dev/null' EXIT
  wait_for 20 "a pair code in the log" in_log "pair code "
  first=$(last_code)
  cli 0 --status
  [[ $out == *"Enter this code in the Fennimar app"*"  $first"*"Cancel: fennimar-agent --cancel-pairing"* ]] ||
    fail "--status while pairing: $out"

  # A copy whose lock file lives elsewhere still finds the bus name taken and gives way.
  mkdir -p "$work/other-run" && chmod 700 "$work/other-run"
  XDG_RUNTIME_DIR=$work/other-run timeout 20 "$agent" --headless >"$work/agent2.out" 2>&1
  rc=$?
  [ "$rc" -eq 3 ] || fail "the copy with its own lock file exited with $rc"
  in_log "another Fennimar is already running · this copy is exiting" || fail "the bus name did not stop a second copy"
  kill -0 "$agent_pid" 2>/dev/null || fail "the first copy died"

  cli 0 --pair
  in_log "control · pairing asked for from the command line" || fail "--pair not seen by the agent"
  second=$(last_code)
  [[ $second != "$first" && $out == *"  $second"* ]] || fail "--pair printed no new code ($first, $second): $out"
  cli 0 --cancel-pairing
  [[ $out == "Fennimar isn't set up yet"* ]] || fail "--cancel-pairing: $out"
  cli 0 --pair
  pair
  cli 0 --status
  [[ $out == "Counting for Robin"* ]] || fail "--status once paired: $out"

  out=$(echo n | timeout 20 "$agent" --unpair 2>&1)
  rc=$?
  [[ $rc -eq 1 && $out == *"Unpair this computer?"*"Kept paired: nothing changed."* ]] || fail "declined ($rc): $out"
  in_log "unpairing · " && fail "a declined --unpair unpaired"
  cli 0 --unpair --yes
  [[ $out == "Fennimar isn't set up yet"* ]] || fail "--unpair --yes: $out"
  in_log "unpairing · clearing stored identity" || fail "--unpair --yes not seen by the agent"
  stop "$agent_pid"
  echo "command line: status, pair, cancel, unpair (declined and confirmed) and no agent all as expected"
  exit 0
fi

refbackend=$1 agent=$2 session=$3 work=$4
start_backend "${desktop_tools[@]}"
SESSION_HOME=$work/session FENNIMAR_BACKEND_URL=$url timeout 150 \
  "$session" bash "$0" --inside "$refbackend" "$agent" "$url" "$work"
