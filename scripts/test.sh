#!/usr/bin/env bash
# Installs what is needed, checks formatting, builds with warnings as errors, and runs every test:
# once in an optimised build and once under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

echo "== formatting"
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
clang-format --dry-run --Werror "${sources[@]}"

echo "== floors (docs/architecture.md: no include runs against them)"
floors=$(bash scripts/check-floors.sh)
if [ -n "$floors" ]; then echo "$floors"; exit 1; fi

jobs=$(nproc)
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0

echo "== release build and tests"
# Built with the Debian packages' (hardening) flags and, where installed, ccache: the packages step
# at the end then reuses these objects instead of compiling everything again.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIMAR_WERROR=ON \
  -DCMAKE_CXX_FLAGS="$(bash scripts/package.sh --cxxflags)" "${launcher[@]}" >/dev/null
cmake --build build/release -j "$jobs"
# Again with what the compiler resolved: an include through a macro or another include path.
floors=$(bash scripts/check-floors.sh build/release)
if [ -n "$floors" ]; then echo "$floors"; exit 1; fi
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== fuzzing (bounded, fixed seed)"
FUZZ_SEED=1 FUZZ_BUILD_DIR="$PWD/build/fuzz" bash scripts/fuzz.sh 60

echo "== sanitizer build and tests"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFENNIMAR_SANITIZE=ON -DFENNIMAR_WERROR=ON \
  -DFENNIMAR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs"

echo "== thread sanitizer build and the tests that cross threads"
# The log writer's thread, and Qt's network thread under every backend, agent and fault test.
threaded=(core_tests backend_tests agent_tests fault_tests)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIMAR_TSAN=ON -DFENNIMAR_WERROR=ON \
  -DFENNIMAR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build/tsan -j "$jobs" --target "${threaded[@]}"
# die_after_fork=0: the crash-safety test forks children that start threads of their own.
TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp:die_after_fork=0:halt_on_error=0:exitcode=66" \
  ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R "^($(IFS='|'; echo "${threaded[*]}"))\$"

echo "== packages"
# Builds the Debian packages, lints them, installs them, runs the installed agent in a desktop
# session against the installed reference backend, and purges them (needs root; 77 = skipped).
rc=0
bash scripts/test-packages.sh || rc=$?
if [ "$rc" -eq 77 ]; then echo "packages: SKIPPED"; elif [ "$rc" -ne 0 ]; then exit "$rc"; fi

echo "== tests against product code (scripts/line-counts.sh; the rule: tests stay a quarter to a third)"
bash scripts/line-counts.sh --total
