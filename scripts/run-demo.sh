#!/usr/bin/env bash
# The agent's main job, on this machine: builds the agent and the reference backend, starts the
# backend on loopback and the agent against it inside a private desktop session (Xvfb, openbox, an
# xterm in front, a D-Bus session with gnome-keyring), prints the pair code and the command that
# claims it and the address of the page that shows what the backend has counted, then follows the
# agent's log until Ctrl-C.
#   scripts/run-demo.sh           you claim the code yourself with the printed command
#   scripts/run-demo.sh --claim   the script claims it for a child "Robin" and monitors XTerm
set -euo pipefail
cd "$(dirname "$0")/.."
auto_claim=false
[ "${1:-}" = "--claim" ] && auto_claim=true

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target fennimar-agent fennimar-refbackend

demo=$PWD/build/demo
rm -rf "$demo"
# The backend's database, its admin token and the logs are for this user only.
umask 077
mkdir -p "$demo"
refbackend=$PWD/build/release/tools/refbackend/fennimar-refbackend
agent=$PWD/build/release/app/fennimar-agent

token_file=$demo/admin-token
"$refbackend" --port 0 --db "$demo/backend.sqlite" --admin-token-file "$token_file" >"$demo/refbackend.out" 2>"$demo/refbackend.err" &
backend_pid=$!
session_pid=""
trap 'kill $session_pid $backend_pid 2>/dev/null || true; wait 2>/dev/null || true' EXIT
url=$(scripts/refbackend-url.sh "$demo/refbackend.out" "$demo/refbackend.err") || exit 1
echo "reference backend: $url (data in $demo/backend.sqlite)"

log=$demo/session/home/.local/state/Fennimar/Fennimar.log
SESSION_HOME=$demo/session FENNIMAR_BACKEND_URL=$url \
  scripts/desktop-session.sh "$agent" --headless >"$demo/agent.out" 2>&1 &
session_pid=$!

code=""
for _ in $(seq 300); do
  code=$(grep -o 'pair code [A-Z0-9]*' "$log" 2>/dev/null | tail -n 1 | awk '{print $3}' || true)
  [ -n "$code" ] && break
  kill -0 $session_pid 2>/dev/null || break
  sleep 0.1
done
[ -n "$code" ] || { echo "the agent did not show a pair code:" >&2; cat "$demo/agent.out" >&2; exit 1; }

admin=("$refbackend" admin --url "$url" --admin-token-file "$token_file")
claim=("${admin[@]}" claim "$code" --child Robin)
apps=("${admin[@]}" set-apps --child Robin linux:debian-xterm web:example.com)
echo
echo "pair code: $code"
echo "what was counted (refreshes itself): $url/?token=$(cat "$token_file")"
echo "claim it (in another terminal), then pick what counts for the child:"
echo "  ${claim[*]}"
echo "  ${apps[*]}"
echo "see what the backend knows:"
echo "  ${admin[*]} overview"
echo
if $auto_claim; then
  "${claim[@]}" >/dev/null
  "${apps[@]}" >/dev/null
  echo "claimed for Robin; XTerm and example.com count."
fi
echo "following the agent's log ($log); Ctrl-C stops the agent and the backend"
tail -n +1 -f "$log" --pid=$session_pid
