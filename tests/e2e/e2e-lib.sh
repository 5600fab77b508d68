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

# Outside: a fresh WORKDIR with the reference backend on a free loopback port, stopped at exit;
# sets backend (its pid) and url. Needs refbackend and session set.
start_backend() {
  rm -rf "$work"
  mkdir -p "$work"
  "$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" \
    >"$work/refbackend.out" 2>"$work/refbackend.err" &
  backend=$!
  trap 'kill "$backend" 2>/dev/null; wait "$backend" 2>/dev/null' EXIT
  url=$("$(dirname "$session")/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") ||
    { echo "FAILED: the reference backend did not start" >&2; exit 1; }
}
