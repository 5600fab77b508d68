#!/usr/bin/env bash
# The command line against the real running agent and the reference backend: --status without an
# agent, while pairing and once paired; --pair (refused while a code shows and once paired),
# --cancel-pairing, --unpair declined and confirmed, each seen by the agent.
set -uo pipefail
source "$(dirname "$0")/e2e-lib.sh"
[ -n "$inside" ] || outside 150
# cli EXPECTED_STATUS ARGS...: the command line's output in $out.
cli() {
  local want=$1
  shift
  out=$(timeout 60 "$agent" "$@" 2>&1 </dev/null)
  [ $? -eq "$want" ] || fail "$* did not exit with $want: $out"
}
cli 1 --status
[[ $out == *"Fennimar is not running for this user."* ]] || fail "no agent: $out"
"$agent" --headless >>"$work/agent.out" 2>&1 &
pid=$!
wait_for 20 "a pair code in the log" in_log "pair code "
first=$(last_code)
cli 0 --status
[[ $out == *"Enter this code in the Fennimar app"*"  $first"*"Cancel: fennimar-agent --cancel-pairing"* ]] || fail "$out"
cli 1 --pair
[[ $out == "A pair code is already being shown. Cancel it first."* ]] || fail "--pair while pairing: $out"
cli 0 --cancel-pairing
[[ $out == "Fennimar isn't set up yet"* ]] || fail "--cancel-pairing: $out"
cli 0 --pair
in_log "control · pairing asked for from the command line" || fail "--pair not seen by the agent"
[[ $(last_code) != "$first" && $out == *"  $(last_code)"* ]] || fail "--pair printed no new code: $out"
pair
cli 0 --status
[[ $out == "Counting for Robin"* ]] || fail "--status once paired: $out"
cli 1 --pair
[[ $out == "This computer is already paired with Robin. Unpair it first."* ]] || fail "--pair once paired: $out"
out=$(echo n | timeout 20 "$agent" --unpair 2>&1)
[[ $? -eq 1 && $out == *"Unpair this computer?"*"Kept paired: nothing changed."* ]] || fail "declined: $out"
in_log "unpairing · " && fail "a declined --unpair unpaired"
cli 0 --unpair --yes
[[ $out == "Fennimar isn't set up yet"* ]] && in_log "unpairing · clearing stored identity" || fail "--unpair --yes: $out"
stop "$pid"
echo "command line: status, pair, cancel, unpair (declined and confirmed) and no agent all as expected"
