#!/usr/bin/env bash
# The scripted day inside one desktop session, run by accuracy.sh: pairs the agent, then runs the
# desktop's segments (bench/accuracy/<desktop>.sh) and prints one row per segment.
#   day.sh x11|sway     (the ACC_* variables come from accuracy.sh)
# The session's system bus is a private one on which fake_logind plays logind, so the locked and
# switched-out segments change the session's LockedHint and Active as logind would.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
desktop=$1
seconds=$ACC_SECONDS
log=$HOME/.local/state/Fennimar/Fennimar.log
pid="" logind_pid="" system_pid=""
children=()
finish() {  # bounded: GNOME Shell 48 may take SIGTERM and stay, which held the day for ever
    local p alive left=()
    for p in $pid "${children[@]}" ${other:-} $logind_pid $system_pid; do kill "$p" 2>/dev/null && left+=("$p"); done
    for _ in $(seq 50); do
        alive=0
        for p in "${left[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
        ((alive)) || break
        sleep 0.1
    done
    for p in "${left[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
    ((${#left[@]} == 0)) || wait "${left[@]}" 2>/dev/null || true  # these only: a bare wait stayed for ever
}
trap finish EXIT
trap 'echo "day.sh ($desktop): line $LINENO failed: $BASH_COMMAND" >&2' ERR

printf '<busconfig><type>session</type><listen>unix:dir=%s</listen><auth>EXTERNAL</auth><policy context="default">
<allow user="*"/><allow own="*"/><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/></policy></busconfig>' \
    "$XDG_RUNTIME_DIR" >"$XDG_RUNTIME_DIR/system.conf"
dbus-daemon --config-file="$XDG_RUNTIME_DIR/system.conf" --nofork --print-address=1 >"$XDG_RUNTIME_DIR/system.address" 2>/dev/null &
system_pid=$!
for _ in $(seq 100); do [ -s "$XDG_RUNTIME_DIR/system.address" ] && break; sleep 0.1; done
export DBUS_SYSTEM_BUS_ADDRESS XDG_SESSION_ID=bench
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$XDG_RUNTIME_DIR/system.address")
mkfifo "$XDG_RUNTIME_DIR/logind"
"$ACC_FAKE_LOGIND" "$DBUS_SYSTEM_BUS_ADDRESS" <"$XDG_RUNTIME_DIR/logind" >"$HOME/logind.out" 2>&1 &
logind_pid=$!
exec 7>"$XDG_RUNTIME_DIR/logind"
logind() { echo "$1 $2" >&7; }
# Website counting reads the browsers over the accessibility bus, which the user turns on.
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:IsEnabled variant:boolean:true >/dev/null

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
    "$ACC_AGENT" --headless >>"$HOME/agent.out" 2>&1 &
    pid=$!
    wait_for "${1:-sampler started}" 300 "$seen" || { echo "the agent did not start" >&2; exit 1; }
}
stop_agent() {  # prints today's total as the agent flushed it
    kill -CONT "$pid" 2>/dev/null || true
    kill -TERM "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    pid=""
    grep -o 'ledger flushed · today=[0-9]*s' "$log" | tail -n 1 | sed 's/.*today=//; s/s$//'
}
# A browser on a page of the monitored local site, its process in $browser; stopped by close_browser.
browser="" browser_profile=0
open_browser() {  # chromium|firefox PAGE [ARGS...]
    local which=$1 page=$2 profile
    shift 2
    browser_profile=$((browser_profile + 1))
    profile=$HOME/profile-$browser_profile
    mkdir -p "$profile"
    if [ "$which" = chromium ]; then
        chromium --no-sandbox --disable-gpu --no-first-run --no-default-browser-check \
            --disable-background-networking --disable-component-update --disable-sync --password-store=basic \
            --autoplay-policy=no-user-gesture-required --window-size=1200,800 --user-data-dir="$profile" "$@" \
            "$ACC_SITE/$page" >"$profile.out" 2>&1 &
    else
        printf 'user_pref("%s", %s);\n' browser.shell.checkDefaultBrowser false \
            browser.startup.homepage_override.mstone '"ignore"' datareporting.policy.dataSubmissionEnabled false \
            toolkit.telemetry.reportingpolicy.firstRun false browser.aboutwelcome.enabled false \
            app.update.disabledForTesting true browser.sessionstore.resume_from_crash false \
            media.autoplay.default 0 >"$profile/user.js"
        MOZ_CRASHREPORTER_DISABLE=1 firefox-esr --no-remote --new-instance --profile "$profile" \
            "$ACC_SITE/$page" >"$profile.out" 2>&1 &
    fi
    browser=$!
    children+=("$browser")
}
close_browser() {
    [ -n "$browser" ] || return 0
    kill "$browser" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$browser" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$browser" 2>/dev/null || true
    browser=""
}

# segment NAME KIND EXPECTED LENGTH SETUP ACTION TEARDOWN: SETUP brings the segment's window to the
# front; the agent then runs LENGTH seconds while ACTION runs at the start of every 5 s; TEARDOWN ends it.
counts_total=0 counts_truth=0 wrong_total=0
now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }
segment() {
    local name=$1 kind=$2 expected=$3 length=$4 setup=$5 action=$6 teardown=$7 after counted
    [[ -z ${ACCURACY_ONLY:-} || $name == *"$ACCURACY_ONLY"* ]] || return 0
    $setup
    : >"$HOME/status.txt"
    input  # every segment starts right after input, as a day does
    start_agent
    # Each step ends at its time since the start, so that the actions and the halfway look at the
    # menu do not make the segment longer than its truth.
    local start step=0 pause day
    start=$(now_ms) day=$(date +%F)
    while [ $((step * 5)) -lt "$length" ]; do
        $action
        step=$((step + 1))
        pause=$((start + 1000 * (step * 5 < length ? step * 5 : length) - $(now_ms)))
        [ "$pause" -le 0 ] || sleep "$((pause / 1000)).$(printf %03d $((pause % 1000)))"
        # What the menu says halfway, shown when the segment misses its goal.
        [ $((step * 5)) -ge $((length / 2)) ] && [ $((step * 5)) -lt $((length / 2 + 5)) ] && [ "$action" != asleep ] &&
            { timeout 5 "$ACC_AGENT" --status >"$HOME/status.txt" 2>&1 || true; }
    done
    after=$(stop_agent)
    $teardown
    counted=$((after - before))
    before=$after
    # The ledger's "today" starts again at midnight: such a difference is not the segment's count.
    if [ "$(date +%F)" != "$day" ]; then
        not_measured "$name" "$kind" "not measured: it ran past midnight"
        return 0
    fi
    if [ "$kind" = counts ]; then
        counts_total=$((counts_total + counted)) counts_truth=$((counts_truth + expected))
    else
        wrong_total=$((wrong_total + counted))
    fi
    awk -v d="$desktop" -v n="$name" -v k="$kind" -v e="$expected" -v c="$counted" 'BEGIN {
        err = c - e
        ok = (k == "counts") ? (err <= 1 + e / 100 && -err <= 1 + e / 100) : (c <= 60)
        printf "%-5s | %-40s | %-14s | %8d | %8d | %+6d | %s\n", d, n, k, e, c, err, ok ? "ok" : "MISSED"
        exit ok ? 0 : 1 }' || sed "s/^/  $desktop menu halfway through: /" "$HOME/status.txt" >&2
}
not_measured() {  # NAME KIND WHY
    printf "%-5s | %-40s | %-14s | %s\n" "$desktop" "$1" "$2" "$3"
}
nothing() { :; }
# The backend unreachable (connections refused), or back on its port: accuracy.sh does it.
backend() {
    echo "$1" >"$ACC_BACKEND_CTL"
    for _ in $(seq 100); do
        if curl -s -o /dev/null "$ACC_URL/"; then [ "$1" = up ] && return 0; else [ "$1" = down ] && return 0; fi
        sleep 0.1
    done
    echo "the backend did not go $1" >&2
    return 1
}
offline() { backend down; }
online() { backend up; }
offline_terminal() { offline; terminal; }
late_terminal() { offline; terminal; (sleep 10; online) & }
lock() { logind locked 1; }
unlock() { logind locked 0; }
switch_out() { logind active 0; }
switch_in() { logind active 1; }
# The agent stopped while input goes on: when it runs again it sees the clock jump, as after a sleep.
asleep() { kill -STOP "$pid"; input; }

source "$here/$desktop.sh"

# Pair once; the identity stays in the session's keyring for the later starts.
start_agent 'pair code [A-Z0-9]'
code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
admin() { "$ACC_REFBACKEND" admin --url "$ACC_URL" --admin-token-file "$ACCURACY_ADMIN_TOKEN_FILE" "$@" >/dev/null; }
admin claim "$code" --child "Bench $desktop"
admin set-apps --child "Bench $desktop" "$terminal_app" ${game_app:+"$game_app"} "web:$ACC_SITE_HOST"
wait_for 'sampler started' 300 0 || { echo "the agent did not start counting" >&2; exit 1; }
sleep 3  # the monitored list arrives
before=$(stop_agent)

away=$((seconds * 3 / 5)) short=$((seconds * 2 / 5))
run_day
awk -v d="$desktop" -v c="$counts_total" -v t="$counts_truth" -v w="$wrong_total" 'BEGIN {
    printf "accuracy · %s: %d of %d s counted in the segments that count (%.1f %%); %d s counted in those that do not\n",
        d, c, t, t ? 100 * c / t : 0, w }'
