#!/usr/bin/env bash
# The agent's footprint while it counts: peak resident memory, CPU time and wake-ups per second,
# headless and with the tray. Runs the real agent against the reference backend inside a private
# desktop session (scripts/desktop-session.sh: Xvfb, openbox, an xterm in front), pairs it, makes
# the xterm a monitored app so that every second is counted, lets it settle, measures for the
# chosen time, then (tray) opens the tray menu once and quits the agent with SIGTERM.
#
#   bench/footprint/footprint.sh [--build DIR] [--seconds N] [--mode headless|tray|both] [--sample N]
#     --build    the build directory holding app/fennimar-agent (default: build-tray)
#     --seconds  length of the measured window (default 90; 600 for the ten-minute figure)
#     --mode     which runs to make (default both)
#     --sample   also print one row every N seconds of the window: RSS, CPU and wake-ups in that
#                interval, seconds counted so far and reports accepted. The soak is
#                `--mode headless --seconds 1800 --sample 60`: memory must stay flat, the CPU
#                time and wake-ups per interval steady, and the counted seconds keep pace.
#
# Wake-ups are context switches (voluntary + involuntary) from /proc/PID/task/*/status, for the
# main thread and for all threads; a thread that ends inside the window is not counted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

if [ "${1:-}" = "--inside" ]; then
    # Inside the desktop session: start the agent, pair it, measure, quit it.
    shift
    agent=$1 mode=$2 seconds=$3 refbackend=$4 url=$5 out=$6 sample=${7:-0}
    log=$HOME/.local/state/Fennimar/Fennimar.log
    trayer_pid=""
    if [ "$mode" = tray ]; then
        trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
        trayer_pid=$!
        sleep 1
        args=()
    else
        args=(--headless)
    fi
    "$agent" "${args[@]}" >"$out.$mode.agent" 2>&1 &
    pid=$!
    stop() { kill "$pid" $trayer_pid 2>/dev/null || true; }
    trap stop EXIT

    wait_for() {  # pattern, tenths of a second
        for _ in $(seq "$2"); do
            grep -q "$1" "$log" 2>/dev/null && return 0
            kill -0 "$pid" 2>/dev/null || return 1
            sleep 0.1
        done
        return 1
    }
    wait_for 'pair code [A-Z0-9]' 300 || { echo "no pair code" >&2; cat "$out.$mode.agent" >&2; exit 1; }
    code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
    "$refbackend" admin --url "$url" --admin-token-file "$FOOTPRINT_ADMIN_TOKEN_FILE" claim "$code" --child "Bench-$mode" >/dev/null
    "$refbackend" admin --url "$url" --admin-token-file "$FOOTPRINT_ADMIN_TOKEN_FILE" set-apps --child "Bench-$mode" linux:debian-xterm web:example.com >/dev/null
    wait_for 'sampler started' 300 || { echo "the agent did not start counting" >&2; exit 1; }
    # The session starts the window manager and the xterm side by side; the xterm must hold the
    # focus, or nothing is counted. On a loaded machine the xterm may not be mapped yet, and a
    # search that finds nothing fails: wait for it for up to 60 s, and say so if it never comes.
    focused=no
    for _ in $(seq 600); do
        xdotool search --name "Fennimar session" windowactivate >/dev/null 2>&1 || true
        if [ "$(xdotool getactivewindow getwindowname 2>/dev/null || true)" = "Fennimar session" ]; then
            focused=yes
            break
        fi
        sleep 0.1
    done
    [ "$focused" = yes ] || echo "$mode: the xterm never took the focus within 60 s; nothing may be counted" | tee -a "$out"
    xdotool mousemove_relative -- 1 0 >/dev/null 2>&1 || true
    sleep 10  # the first monitored-list fetch, the installed-apps scan and the first report

    ticks=$(getconf CLK_TCK)
    cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
    switches() {  # $1: a task's status file
        awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}' "$1"
    }
    all_switches() {
        local n=0 f
        for f in /proc/"$pid"/task/*/status; do n=$((n + $(switches "$f" 2>/dev/null || echo 0))); done
        echo "$n"
    }
    # Per thread: "tid name switches", for the census of who wakes up.
    threads_now() {
        local t
        for t in /proc/"$pid"/task/*; do
            printf '%s %s %s\n' "${t##*/}" "$(tr ' ' _ <"$t/comm" 2>/dev/null)" "$(switches "$t/status" 2>/dev/null || echo 0)"
        done
    }
    census0=$(threads_now)
    cpu0=$(cpu) main0=$(switches "/proc/$pid/task/$pid/status") all0=$(all_switches)
    # A user at work: a nudge of the pointer every 20 s keeps the session from turning idle (60 s
    # without input), which would stop the counting being measured.
    # With --sample, one row per interval; the counted seconds are the agent's own, from the ledger
    # file it saves every minute, and the reports are the "usage reported" lines of its log.
    ledger=$HOME/.local/share/Fennimar/ledger.json
    sample_row() {  # elapsed seconds
        local now_cpu now_all counted reports
        now_cpu=$(cpu) now_all=$(all_switches)
        counted=$(python3 -c 'import json,sys
try: print(sum(sum(d.get("buckets", [])) for d in json.load(open(sys.argv[1])).values()))
except Exception: print("-")' "$ledger" 2>/dev/null || echo -)
        reports=$(grep -c 'usage reported' "$log" 2>/dev/null || true)
        awk -v e="$1" -v rss="$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")" \
            -v hwm="$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")" -v c="$((now_cpu - last_cpu))" -v t="$ticks" \
            -v w="$((now_all - last_all))" -v n="$sample" -v counted="$counted" -v reports="$reports" 'BEGIN {
            printf "  %6d s  RSS %6d KiB  peak %6d KiB  CPU %5.2f s  wake-ups/s %5.2f  counted %6s s  reports %3d\n",
                e, rss, hwm, c / t, w / n, counted, reports
        }' | tee -a "$out"
        last_cpu=$now_cpu last_all=$now_all
    }
    last_cpu=$cpu0 last_all=$all0
    [ "$sample" -gt 0 ] && echo "$mode: one row every $sample s" | tee -a "$out"
    left=$seconds elapsed=0 next_sample=$sample
    while [ "$left" -gt 0 ]; do
        step=$((left < 20 ? left : 20))
        [ "$sample" -gt 0 ] && [ $((next_sample - elapsed)) -lt "$step" ] && step=$((next_sample - elapsed))
        sleep "$step"
        left=$((left - step)) elapsed=$((elapsed + step))
        xdotool mousemove_relative -- 1 0 mousemove_relative -- -1 0 >/dev/null 2>&1 || true
        if [ "$sample" -gt 0 ] && [ "$elapsed" -ge "$next_sample" ]; then
            sample_row "$elapsed"
            next_sample=$((next_sample + sample))
        fi
    done
    cpu1=$(cpu) main1=$(switches "/proc/$pid/task/$pid/status") all1=$(all_switches)
    census1=$(threads_now)
    threads=$(ls "/proc/$pid/task" | wc -l)

    if [ "$mode" = tray ]; then
        # Open the menu once, as a user would, so that its memory is part of the peak. trayer also
        # has a hidden 10x10 window: only the visible one holds the icon.
        if geometry=$(xdotool search --onlyvisible --limit 1 --class trayer getwindowgeometry --shell 2>/dev/null); then
            eval "$geometry"
            xdotool mousemove $((X + WIDTH - 12)) $((Y + HEIGHT / 2)) click 1 >/dev/null 2>&1 || true
            sleep 1
            xdotool key Escape >/dev/null 2>&1 || true
            sleep 0.5
        fi
    fi
    hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status")
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
    # Most of the resident set is library pages shared with every other Qt program of the session;
    # the proportional share and the private pages say what the agent itself adds.
    pss=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup")
    private=$(awk '/^Private_(Clean|Dirty):/ {n += $2} END {print n}' "/proc/$pid/smaps_rollup")
    widgets=$(grep -c 'libQt6Widgets' "/proc/$pid/maps" || true)
    # Where the memory is: PSS and private pages per mapped file (anonymous memory as "[anon]"), the
    # largest first; and who wakes up: switches per second per thread over the window.
    awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6 ? $6 : "[anon]"); sub(/.*\//, "", name) }
         /^Pss:/ { pss[name] += $2 } /^Private_(Clean|Dirty):/ { priv[name] += $2 }
         END { for (n in pss) if (pss[n] >= 256) printf "  %s map %-34s PSS %6d KiB  private %6d KiB\n", mode, n, pss[n], priv[n] }' \
        mode="$mode" "/proc/$pid/smaps" | sort -k5,5nr | tee -a "$out.census"
    join <(sort <<<"$census0") <(sort <<<"$census1") | awk -v s="$seconds" -v mode="$mode" \
        '{ printf "  %s thread %-16s wake-ups/s %5.2f\n", mode, $2, ($5 - $3) / s }' | sort -k5,5nr | tee -a "$out.census"
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    trap - EXIT
    [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null || true
    today=$(grep -o 'ledger flushed · today=[0-9]*s' "$log" | tail -n 1 | sed 's/.*today=//')

    awk -v mode="$mode" -v s="$seconds" -v hwm="$hwm" -v rss="$rss" -v pss="$pss" -v private="$private" \
        -v c0="$cpu0" -v c1="$cpu1" -v t="$ticks" \
        -v m0="$main0" -v m1="$main1" -v a0="$all0" -v a1="$all1" -v th="$threads" -v today="$today" \
        -v w="$widgets" 'BEGIN {
        printf "%-8s peak RSS %5.1f MB (now %5.1f MB, PSS %5.1f MB, private %5.1f MB) · CPU %.2f s in %d s (%.2f%%) · wake-ups/s main %.2f, all threads %.2f (%d threads) · Widgets mapped: %s · counted today: %s\n",
            mode, hwm / 1024, rss / 1024, pss / 1024, private / 1024, (c1 - c0) / t, s, 100 * (c1 - c0) / t / s, (m1 - m0) / s, (a1 - a0) / s, th,
            (w > 0 ? "yes" : "no"), today
    }' | tee -a "$out"
    exit 0
fi

build=$repo/build-tray
seconds=90
modes=(headless tray)
sample=0
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --mode) [ "$2" = both ] && modes=(headless tray) || modes=("$2"); shift 2 ;;
        --sample) sample=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--seconds N] [--mode headless|tray|both] [--sample N]" >&2; exit 2 ;;
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
    if [ -n "${FOOTPRINT_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
"$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" >"$work/refbackend.out" 2>"$work/refbackend.err" &
backend_pid=$!
url=$("$repo/scripts/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") || exit 1
# The admin commands inside each session read the token the backend wrote.
export FOOTPRINT_ADMIN_TOKEN_FILE=$work/admin-token

echo "fennimar-agent footprint · ${seconds} s window while counting · $(nproc) cores · $agent"
for mode in "${modes[@]}"; do
    SESSION_HOME=$work/$mode FENNIMAR_BACKEND_URL=$url \
        "$repo/scripts/desktop-session.sh" bash "$here/footprint.sh" --inside "$agent" "$mode" "$seconds" \
        "$refbackend" "$url" "$work/figures" "$sample"
done
