# Shared by the end-to-end scripts (sourced). Each script (REFBACKEND AGENT DESKTOP_SESSION WORKDIR)
# runs twice: outside (`outside SECONDS TOOLS...`: exit 77 unless every tool is there, the reference
# backend on a free loopback port, then the script again with --inside in a private desktop session,
# bounded) and inside, with the helpers below. Every wait is bounded.
if [ "${1:-}" = --inside ]; then inside=1 refbackend=$2 agent=$3 url=$4 work=$5; else
  inside='' refbackend=$1 agent=$2 session=$3 work=$4; fi
log=${XDG_STATE_HOME:-}/Fennimar/Fennimar.log
admin() { "$refbackend" admin --url "$url" --admin-token-file "$work/admin-token" "$@"; }
fail() { echo "FAILED: $*" >&2; cat "$log" >&2 2>/dev/null; exit 1; }
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
  local end=$((SECONDS + $1)) what="$2 (not within $1 s)"
  shift 2
  until "$@"; do ((SECONDS < end)) || fail "$what"; sleep 0.1; done
}
in_log() { grep -qF -- "$1" "$log" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# stop PID: SIGTERM; the agent must end within 15 s with status 0.
stop() { kill -TERM "$1"; wait_for 15 "the agent to end on SIGTERM" gone "$1"; wait "$1" || fail "exit $? on SIGTERM"; }
last_code() { grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}'; }
# pair: the running agent's latest code claimed for Robin through the backend; sets device.
pair() {
  wait_for 20 "a pair code in the log" in_log "pair code "
  admin claim "$(last_code)" --child Robin >"$work/claim.json" || fail "claim"
  wait_for 10 "the agent sees the claim" in_log "PAIRED · child="
  # The agent never logs its device id (all a forged heartbeat needs): the backend's answer names it.
  device=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["device_id"])' "$work/claim.json") ||
    fail "no device in the claim $(cat "$work/claim.json")"
}
flushed() { grep -o 'ledger flushed · today=[0-9]*s' "$log" | tail -n 1 | sed 's/.*today=//; s/s$//'; }
outside() {
  local limit=$1 tool
  shift
  for tool in "$@" Xvfb dbus-run-session gnome-keyring-daemon openbox xterm xdotool dbus-send; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: needs $tool (scripts/install-deps.sh)" >&2; exit 77; }
  done
  rm -rf "$work" && mkdir -p "$work"
  "$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" \
    >"$work/refbackend.out" 2>"$work/refbackend.err" &
  trap "kill $! 2>/dev/null" EXIT
  url=$("$(dirname "$session")/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") || fail "no backend"
  SESSION_HOME=$work/session FENNIMAR_BACKEND_URL=$url timeout "$limit" \
    "$session" bash "$0" --inside "$refbackend" "$agent" "$url" "$work"
  exit
}
