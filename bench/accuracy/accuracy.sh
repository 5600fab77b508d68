#!/usr/bin/env bash
# How exactly the real agent counts a scripted child's day on X11 (Xvfb + openbox, inside
# scripts/desktop-session.sh), against the reference backend. The agent's own ledger is the
# measurement: it is started before each segment and stopped with SIGTERM after it, and the
# segment's count is the difference between the "ledger flushed · today=Ns" lines of two stops.
# Prints, per segment: expected seconds, counted seconds, the error, and whether it meets the goal
# (a "counts" segment within 1 s + 1 %, a "does not count" one at most the 60 s idle tail).
#
#   bench/accuracy/accuracy.sh [--build DIR] [--seconds N]
#     --build    the build directory holding app/fennimar-agent and the reference backend
#                (default: build/release)
#     --seconds  length of each segment (default 300)
#
# A skeleton: X11 only, and without the browser, lock, session-switch and suspend segments.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

if [ "${1:-}" = "--inside" ]; then
    shift
    agent=$1 seconds=$2 refbackend=$3 url=$4
    log=$HOME/.local/state/Fennimar/Fennimar.log
    pid=""
    trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null || true' EXIT
    wait_for() {  # pattern, tenths of a second, lines of the log already seen
        for _ in $(seq "$2"); do
            tail -n +"$(($3 + 1))" "$log" 2>/dev/null | grep -q "$1" && return 0
            kill -0 "$pid" 2>/dev/null || return 1
            sleep 0.1
        done
        return 1
    }
    lines() { { wc -l <"$log"; } 2>/dev/null || echo 0; }
    start_agent() {
        local seen
        seen=$(lines)
        "$agent" --headless >>"$HOME/agent.out" 2>&1 &
        pid=$!
        wait_for "${1:-sampler started}" 300 "$seen" || { echo "the agent did not start" >&2; exit 1; }
    }
    stop_agent() {  # prints today's total as the agent flushed it
        kill -TERM "$pid"
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        pid=""
        grep -o 'ledger flushed · today=[0-9]*s' "$log" | tail -n 1 | sed 's/.*today=//; s/s$//'
    }

    # Pair once; the identity stays in the session's keyring for the later starts.
    start_agent 'pair code [A-Z0-9]'
    code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
    admin() { "$refbackend" admin --url "$url" --admin-token-file "$ACCURACY_ADMIN_TOKEN_FILE" "$@" >/dev/null; }
    admin claim "$code" --child Bench
    admin set-apps --child Bench linux:debian-xterm
    wait_for 'sampler started' 300 0 || { echo "the agent did not start counting" >&2; exit 1; }
    sleep 3  # the monitored list arrives
    before=$(stop_agent)

    xterm=$(xdotool search --onlyvisible --name "Fennimar session" | head -n 1)
    front() { for _ in $(seq 30); do xdotool windowactivate "$1" >/dev/null 2>&1; [ "$(xdotool getactivewindow)" = "$1" ] && return 0; sleep 0.5; done; }
    input() { xdotool mousemove_relative -- 1 0 mousemove_relative -- -1 0 key shift >/dev/null 2>&1 || true; }
    # A player's heartbeat: the X idle counter reset, with no input (what mpv does every 10 s).
    reset_counter() {
        python3 -c 'import ctypes, ctypes.util
x = ctypes.CDLL(ctypes.util.find_library("X11")); x.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x.XOpenDisplay(None)); x.XResetScreenSaver(d); x.XCloseDisplay(d)'
    }
    # segment NAME KIND EXPECTED ACTION: ACTION runs once every 5 s through the segment.
    segment() {
        local name=$1 kind=$2 expected=$3 action=$4 left=$seconds after counted other=""
        front "$xterm"
        if [ "$name" = "an unmonitored app" ]; then  # a window of no installed app
            xmessage -name unmonitored "not monitored" &
            other=$!
            front "$(xdotool search --sync --onlyvisible --classname unmonitored | head -n 1)"
        fi
        input  # every segment starts right after input, as a day does
        start_agent
        while [ "$left" -gt 0 ]; do
            sleep $((left < 5 ? left : 5))
            left=$((left - 5))
            $action
        done
        after=$(stop_agent)
        [ -n "$other" ] && kill "$other" 2>/dev/null || true
        counted=$((after - before))
        before=$after
        awk -v n="$name" -v k="$kind" -v e="$expected" -v c="$counted" 'BEGIN {
            err = c - e
            ok = (k == "counts") ? (err <= 1 + e / 100 && -err <= 1 + e / 100) : (c <= 60)
            printf "%-44s | %-14s | %8d | %8d | %+6d | %s\n", n, k, e, c, err, ok ? "ok" : "MISSED" }'
    }
    nothing() { :; }
    printf "%-44s | %-14s | %8s | %8s | %6s | %s\n" segment kind expected counted error goal
    segment "typing in a monitored app" counts "$seconds" input
    segment "an unmonitored app" "does not count" 0 input
    segment "away, no input" "does not count" 0 nothing
    segment "a player resetting the idle counter" "does not count" 0 reset_counter
    printf "%-44s | %-14s | %s\n" "a video with an inhibitor, no input" counts \
        "no inhibitor source on openbox (GNOME's session manager or Plasma's PolicyAgent)"
    exit 0
fi

build=$repo/build/release
seconds=300
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--seconds N]" >&2; exit 2 ;;
    esac
done
agent=$build/app/fennimar-agent
refbackend=$build/tools/refbackend/fennimar-refbackend
for f in "$agent" "$refbackend"; do
    [ -x "$f" ] || { echo "missing $f: build fennimar-agent and fennimar-refbackend first" >&2; exit 1; }
done
work=$(mktemp -d)
backend_pid=""
cleanup() {
    [ -n "$backend_pid" ] && kill "$backend_pid" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
"$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" >"$work/refbackend.out" 2>"$work/refbackend.err" &
backend_pid=$!
url=$("$repo/scripts/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") || exit 1
export ACCURACY_ADMIN_TOKEN_FILE=$work/admin-token
echo "fennimar-agent accuracy · X11 (Xvfb + openbox) · ${seconds} s segments"
SESSION_HOME=$work/x11 FENNIMAR_BACKEND_URL=$url \
    "$repo/scripts/desktop-session.sh" bash "$here/accuracy.sh" --inside "$agent" "$seconds" "$refbackend" "$url"
