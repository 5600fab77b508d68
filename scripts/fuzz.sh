#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs each
# for a bounded time from its seed corpus in fuzz/corpus/<target>/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]      default 20
#   FUZZ_SEED=N fixes libFuzzer's random seed, so that a run can be repeated exactly (CI uses 1).
#   FUZZ_JOBS=N targets run side by side (default: one per core).
# New inputs the fuzzer finds stay in build-fuzz/corpus/<target>/ (not in the repository); a crash
# leaves its input as build-fuzz/artifacts/<target>-crash-* and makes the script exit 1.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(fuzz_ledger fuzz_seen_apps fuzz_backend_records fuzz_site_host fuzz_desktop_entry fuzz_http_request)

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is not installed (apt-get install clang)" >&2; exit 2; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFENNIMAR_FUZZ=ON -DFENNIMAR_BUILD_TESTS=OFF -DFENNIMAR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

mkdir -p "$build/artifacts"
# One target per core at a time: each is single-threaded, and a fixed seed still gives each target
# the same run whatever runs beside it.
jobs=${FUZZ_JOBS:-$(nproc)}
run_target() {
  local target=$1 corpus=$build/corpus/$1
  mkdir -p "$corpus"
  QT_QPA_PLATFORM=offscreen "$build/fuzz/$target" \
      -max_total_time="$seconds" -seed="${FUZZ_SEED:-0}" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$corpus" "$root/fuzz/corpus/$target" \
      >"$build/artifacts/$target.log" 2>&1
  echo $? >"$build/artifacts/$target.status"
}
echo "== ${#targets[@]} targets, ${seconds} s each, $jobs at a time"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  run_target "$target" &
done
wait
failed=()
for target in "${targets[@]}"; do
  echo "== $target"
  if [ "$(cat "$build/artifacts/$target.status")" != 0 ]; then
    failed+=("$target")
    tail -40 "$build/artifacts/$target.log"
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)' "$build/artifacts/$target.log" || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]} (inputs under $build/artifacts/)" >&2
  exit 1
fi
echo "fuzz.sh: no findings in ${#targets[@]} targets"
