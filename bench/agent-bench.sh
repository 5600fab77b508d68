# Sourced by the benchmarks that run the real agent (footprint/, accuracy/). Outside the session,
# `bench_backend BUILD` checks the build, starts the reference backend in a fresh directory (gone at
# exit unless BENCH_KEEP is set) and sets agent, refbackend, work, url. Inside, `bench_pair CHILD
# APP...` claims the agent's pair code and waits until it counts (needs log, wait_for, url).
bench_backend() {
    agent=$1/app/fennimar-agent
    refbackend=$1/tools/refbackend/fennimar-refbackend
    local f
    for f in "$agent" "$refbackend"; do
        [ -x "$f" ] || { echo "missing $f: build fennimar-agent and fennimar-refbackend first" >&2; exit 1; }
    done
    work=$(mktemp -d)
    "$refbackend" --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" >"$work/refbackend.out" 2>"$work/refbackend.err" &
    bench_backend_pid=$!
    trap bench_cleanup EXIT
    url=$("$(dirname "${BASH_SOURCE[0]}")/../scripts/refbackend-url.sh" "$work/refbackend.out" "$work/refbackend.err") || exit 1
    export BENCH_ADMIN_TOKEN_FILE=$work/admin-token
}

bench_cleanup() {
    kill "$bench_backend_pid" 2>/dev/null
    wait 2>/dev/null || true
    if [ -n "${BENCH_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}

bench_pair() {
    local child=$1 code && shift
    wait_for 'pair code [A-Z0-9]' 300 || { echo "the agent logged no pair code" >&2; exit 1; }
    code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
    admin() { "$refbackend" admin --url "$url" --admin-token-file "$BENCH_ADMIN_TOKEN_FILE" "$@" >/dev/null; }
    admin claim "$code" --child "$child"
    admin set-apps --child "$child" "$@"
    wait_for 'sampler started' 300 || { echo "the agent did not start counting" >&2; exit 1; }
}
