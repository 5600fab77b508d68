#!/usr/bin/env bash
# The agent's footprint while it counts: peak resident memory, PSS, private and distinct pages,
# CPU time and wake-ups per second, headless and with the tray, and the same figures for two peers
# measured the same way. Runs the real agent against the reference backend inside a private
# desktop session (scripts/desktop-session.sh: Xvfb, openbox, an xterm in front), pairs it, makes
# the xterm a monitored app so that every second is counted, lets it settle 20 s, measures for the
# chosen time, then (tray) opens the tray menu once and quits the agent with SIGTERM. A peer
# (peers.sh: ActivityWatch from $AW_SRC, Timekpr-nExT from Debian) gets its own session, the same
# settle and window, and the same figures summed over its processes; one it cannot run prints
# "<mode> not measured: <why>".
#
#   bench/footprint/footprint.sh [--build DIR] [--seconds N] [--mode M] [--sample N]
#     --build    the build directory holding app/fennimar-agent (default: build-tray)
#     --seconds  length of the measured window (default 90; 600 for the ten-minute figure)
#     --mode     headless, tray, both (the two; the default), activitywatch, timekpr, or all
#     --sample   also print one row every N seconds of the window: RSS, CPU and wake-ups in that
#                interval, seconds counted so far and reports accepted. The soak is
#                `--mode headless --seconds 1800 --sample 60`: memory must stay flat, the CPU
#                time and wake-ups per interval steady, and the counted seconds keep pace.
#
# Wake-ups are context switches (voluntary + involuntary) from /proc/PID/task/*/status, for the
# main threads and for all threads; a thread or process that ends inside the window is not counted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

if [ "${1:-}" = "--inside" ]; then
    # Inside the desktop session: start the agent and pair it (or start a peer), let it settle,
    # measure, then quit it.
    shift
    agent=$1 mode=$2 seconds=$3 refbackend=$4 url=$5 out=$6 sample=${7:-0}
    source "$repo/bench/agent-bench.sh"
    log=$HOME/.local/state/Fennimar/Fennimar.log
    roots=() helpers=()
    stop() { kill "${roots[@]}" "${helpers[@]}" 2>/dev/null || true; }
    trap stop EXIT
    skip() { printf '%-8s not measured: %s\n' "$mode" "$1" | tee -a "$out"; }
    wait_for() {  # pattern, tenths of a second
        for _ in $(seq "$2"); do
            grep -q "$1" "$log" 2>/dev/null && return 0
            kill -0 "${roots[0]}" 2>/dev/null || return 1
            sleep 0.1
        done
        return 1
    }
    case $mode in
        activitywatch | timekpr)
            source "$here/peers.sh"
            "start_$mode" || exit 0
            ;;
        *)
            args=(--headless)
            if [ "$mode" = tray ]; then
                trayer --edge top --align right --widthtype request --height 32 --SetDockType true >/dev/null 2>&1 &
                helpers=($!)
                sleep 1
                args=()
            fi
            "$agent" "${args[@]}" >"$out.$mode.agent" 2>&1 &
            roots=($!)
            bench_pair "Bench-$mode" linux:debian-xterm web:example.com
            ;;
    esac
    pid=${roots[0]}
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
    sleep 20  # settle: the agent's first list fetch, apps scan and report; a peer's first buckets

    # Every figure is summed over the measured processes: the agent alone, or a peer's processes
    # and their children. A process that starts or ends inside the window is not counted.
    procs() {  # the roots still alive and all their descendants
        ps -e -o pid=,ppid= | awk -v roots="${roots[*]}" '
            { parent[$1] = $2 } END { n = split(roots, r, " "); for (i = 1; i <= n; i++) keep[r[i]] = 1
              do { more = 0; for (p in parent) if (!(p in keep) && (parent[p] in keep)) { keep[p] = 1; more = 1 } } while (more)
              for (p in keep) if (p in parent) print p }'
    }
    # CPU time in nanoseconds, summed over every thread (/proc/PID/task/*/schedstat): the ticks of
    # /proc/PID/stat are 10 ms, as much as the agent spends in a minute.
    cpu() {
        local p
        for p in $(procs); do cat /proc/"$p"/task/*/schedstat 2>/dev/null || true; done | awk '{n += $1} END {printf "%d\n", n}'
    }
    switches() {  # $1: a task's status file; "all voluntary"
        awk '/^voluntary_ctxt_switches/ {v = $2} /^nonvoluntary_ctxt_switches/ {n = $2} END {print v + n, v + 0}' "$1"
    }
    main_switches() {  # the main thread of each process
        local n=0 p
        for p in $(procs); do n=$((n + $(switches "/proc/$p/task/$p/status" 2>/dev/null | cut -d' ' -f1 || echo 0))); done
        echo "$n"
    }
    # Per thread: "pid/tid name switches voluntary", for the census of who wakes up (and the total). A peer's
    # thread names carry their program's (its script or module: the interpreter is Python's).
    program() {
        tr '\0' ' ' <"/proc/$1/cmdline" 2>/dev/null | awk '{ n = $1; for (i = 2; i < NF; i++) if ($i == "-m") { n = $(i + 1); break }
            if (n == $1 && n ~ /python/) n = $2; sub(/.*\//, "", n); print n ":" }'
    }
    threads_now() {
        local p t prefix=""
        for p in $(procs); do
            [ "$mode" = activitywatch ] || [ "$mode" = timekpr ] && prefix=$(program "$p")
            for t in /proc/"$p"/task/*; do
                printf '%s/%s %s%s %s\n' "$p" "${t##*/}" "$prefix" "$(tr ' ' _ <"$t/comm" 2>/dev/null)" "$(switches "$t/status" 2>/dev/null || echo 0 0)"
            done
        done
    }
    all_switches() { threads_now | awk '{n += $3} END {print n + 0}'; }
    all_voluntary() { threads_now | awk '{n += $4} END {print n + 0}'; }
    status_sum() { local p; for p in $(procs); do cat "/proc/$p/status" 2>/dev/null || true; done | awk -v k="$1:" '$1 == k {n += $2} END {print n + 0}'; }
    rollup_sum() { local p; for p in $(procs); do cat "/proc/$p/smaps_rollup" 2>/dev/null || true; done | awk -v pat="$1" '$1 ~ pat {n += $2} END {print n + 0}'; }
    census0=$(threads_now)
    cpu0=$(cpu) main0=$(main_switches) all0=$(all_switches) vol0=$(all_voluntary)
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
        awk -v e="$1" -v rss="$(status_sum VmRSS)" -v hwm="$(status_sum VmHWM)" -v c="$((now_cpu - last_cpu))" -v t=1e9 \
            -v w="$((now_all - last_all))" -v n="$sample" -v counted="$counted" -v reports="$reports" 'BEGIN {
            printf "  %6d s  RSS %6d KiB  peak %6d KiB  CPU %6.3f s  wake-ups/s %5.2f  counted %6s s  reports %3d\n",
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
    cpu1=$(cpu) main1=$(main_switches) all1=$(all_switches) vol1=$(all_voluntary)
    census1=$(threads_now)
    threads=$(wc -l <<<"$census1")
    processes=$(procs | wc -l)

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
    hwm=$(status_sum VmHWM) rss=$(status_sum VmRSS)
    # Most of the resident set is library pages shared with every other program of the session;
    # the proportional share and the private pages say what the process itself adds, the distinct
    # pages what its processes keep resident together (each page once; root only).
    pss=$(rollup_sum '^Pss:$')
    private=$(rollup_sum '^Private_(Clean|Dirty):$')
    # shellcheck disable=SC2046
    distinct=$(/usr/bin/python3 "$here/distinct-pages.py" $(procs))
    widgets=$(for p in $(procs); do cat "/proc/$p/maps" 2>/dev/null || true; done | grep -c 'libQt6Widgets' || true)
    # Where the memory is: PSS and private pages per mapped file (anonymous memory as "[anon]"), the
    # largest first; and who wakes up: switches per second per thread over the window.
    for p in $(procs); do cat "/proc/$p/smaps" 2>/dev/null || true; done | awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF >= 6 ? $6 : "[anon]"); sub(/.*\//, "", name) }
         /^Pss:/ { pss[name] += $2 } /^Private_(Clean|Dirty):/ { priv[name] += $2 }
         END { for (n in pss) if (pss[n] >= 256) printf "  %s map %-34s PSS %6d KiB  private %6d KiB\n", mode, n, pss[n], priv[n] }' \
        mode="$mode" | sort -k5,5nr | tee -a "$out.census"
    # Involuntary switches are the thread being preempted while it runs (a loaded machine), not
    # wake-ups of its own: the voluntary ones are given beside the total.
    join <(sort <<<"$census0") <(sort <<<"$census1") | awk -v s="$seconds" -v mode="$mode" \
        '{ printf "  %s thread %-24s wake-ups/s %5.2f (voluntary %5.2f)\n", mode, $2, ($6 - $3) / s, ($7 - $4) / s }' |
        sort -k5,5nr | tee -a "$out.census"
    kill -TERM "${roots[@]}" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    trap - EXIT
    stop
    today=$(grep -o 'ledger flushed · today=[0-9]*s' "$log" 2>/dev/null | tail -n 1 | sed 's/.*today=//' || true)

    awk -v mode="$mode" -v s="$seconds" -v hwm="$hwm" -v rss="$rss" -v pss="$pss" -v private="$private" \
        -v distinct="$distinct" -v c0="$cpu0" -v c1="$cpu1" -v t=1e9 -v m0="$main0" -v m1="$main1" \
        -v a0="$all0" -v a1="$all1" -v v0="$vol0" -v v1="$vol1" -v th="$threads" -v pr="$processes" -v today="${today:--}" \
        -v w="$widgets" 'BEGIN {
        printf "%-8s peak RSS %5.1f MB (now %5.1f MB, PSS %5.1f MB, private %5.1f MB, distinct %s MB) · CPU %.3f s in %d s (%.3f%%) · wake-ups/s main %.2f, all threads %.2f (voluntary %.2f; %d threads, %d processes) · Widgets mapped: %s · counted today: %s\n",
            mode, hwm / 1024, rss / 1024, pss / 1024, private / 1024, (distinct == "-" ? "-" : sprintf("%.1f", distinct / 1024)),
            (c1 - c0) / t, s, 100 * (c1 - c0) / t / s, (m1 - m0) / s, (a1 - a0) / s, (v1 - v0) / s, th, pr, (w > 0 ? "yes" : "no"), today
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
        --mode)
            case $2 in both) modes=(headless tray) ;; all) modes=(headless tray activitywatch timekpr) ;; *) modes=("$2") ;; esac
            shift 2 ;;
        --sample) sample=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--seconds N] [--mode headless|tray|both|activitywatch|timekpr|all] [--sample N]" >&2; exit 2 ;;
    esac
done
source "$repo/bench/agent-bench.sh"
bench_backend "$build"

echo "fennimar-agent footprint · ${seconds} s window while counting · $(nproc) cores · $agent"
for mode in "${modes[@]}"; do
    SESSION_HOME=$work/$mode FENNIMAR_BACKEND_URL=$url \
        "$repo/scripts/desktop-session.sh" bash "$here/footprint.sh" --inside "$agent" "$mode" "$seconds" \
        "$refbackend" "$url" "$work/figures" "$sample"
done
