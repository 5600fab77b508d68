# Shared by the end-to-end scripts: sourced, not run.

# Inside the desktop session: the agent's log, the admin command, failing with the log, bounded waits.
# Needs refbackend, url, work and log set.
admin() { "$refbackend" admin --url "$url" --admin-token-file "$work/admin-token" "$@"; }
fail() {
  echo "FAILED: $*" >&2
  echo "--- agent log ---" >&2
  cat "$log" >&2 2>/dev/null
  exit 1
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < end)) || fail "$what (not within ${limit} s)"
    sleep 0.1
  done
}
in_log() { grep -qF -- "$1" "$log" 2>/dev/null; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# stop PID: SIGTERM; fails unless the agent ends within 15 s with status 0.
stop() {
  kill -TERM "$1"
  wait_for 15 "the agent to end on SIGTERM" gone "$1"
  wait "$1" || fail "the agent exited with $? after SIGTERM"
}
# pair: the running agent's latest code claimed for Robin; sets device.
pair() {
  wait_for 20 "a pair code in the log" in_log "pair code "
  local code
  code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
  admin claim "$code" --child Robin >"$work/claim.json" || fail "claim $code"
  wait_for 10 "the agent sees the claim" in_log "PAIRED · device="
  device=$(grep -o 'PAIRED · device=[^ ]*' "$log" | tail -n 1 | sed 's/.*device=//')
  grep -qF "\"$device\"" "$work/claim.json" || fail "the claimed device $(cat "$work/claim.json") is not $device"
}
flushed() { grep -o 'ledger flushed · today=[0-9]*s' "$log" | tail -n 1 | sed 's/.*today=//; s/s$//'; }

# Outside: exit 77 (skipped) unless every tool is there; then a fresh WORKDIR with the reference
# backend on a free loopback port, stopped at exit; sets backend (its pid) and url. Needs
# refbackend, session and work set.
start_backend() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: needs $tool (scripts/install-deps.sh installs it)" >&2; exit 77; }
  done
  rm -rf "$work"
  mkdir -p "$work"
  "$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" \
    >"$work/refbackend.out" 2>"$work/refbackend.err" &
  backend=$!
  trap 'kill "$backend" 2>/dev/null; wait "$backend" 2>/dev/null' EXIT
  url=$("$(dirname "$session")/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") ||
    { echo "FAILED: the reference backend did not start" >&2; exit 1; }
}
desktop_tools=(Xvfb dbus-run-session gnome-keyring-daemon openbox xterm xdotool dbus-send)
