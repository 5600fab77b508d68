#!/usr/bin/env bash
# Mutation run, by hand (not part of CI): applies each mutant of scripts/mutants.txt to a copy of the
# tree, rebuilds incrementally (ccache), runs the test programs the mutant names and prints
# caught/total with the names of the mutants no test caught.
#
#   scripts/mutants.sh [name-regex]        e.g. scripts/mutants.sh '^sampler-'
#
# Environment: MUTANTS_DIR (default build/mutants: the copy is MUTANTS_DIR/tree, its build
# MUTANTS_DIR/build), MUTANTS_JOBS (default 2), MUTANTS_REUSE_TREE=1 (run against the copy already
# in MUTANTS_DIR, e.g. a run interrupted before the tests were changed). A mutant that no longer applies (its text is gone) or
# does not compile is reported apart and counts in neither figure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
filter=${1:-.}
work=${MUTANTS_DIR:-$root/build/mutants}
jobs=${MUTANTS_JOBS:-2}
export CCACHE_DIR=${CCACHE_DIR:-/work/.ccache} CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The copy keeps the files' times, so a second run rebuilds only what changed since.
mkdir -p "$work/tree"
[ "${MUTANTS_REUSE_TREE:-}" = 1 ] ||
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp -a --parents -t "$work/tree"
cmake -S "$work/tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIMAR_BUILD_BENCH=OFF \
  "${launcher[@]}" >"$work/cmake.log" 2>&1 || { echo "cmake failed: $work/cmake.log"; exit 1; }

# The build targets behind a ctest name.
target_of() {
  case $1 in
    menubar_gui_tests) echo menubar_tray_tests ;;
    secret_service_*_tests) echo secret_service_tests ;;
    e2e_agent_tests) echo e2e_agent_deps ;;
    *) echo "$1" ;;
  esac
}

caught=0 total=0 missed=() broken=() stale=()
log=$work/mutants.log
: >"$log"
while IFS= read -r -u 3 line; do
  [[ -z $line || $line == \#* ]] && continue
  IFS='|' read -r name file tests _ <<<"$line"
  name=$(echo "$name" | xargs) file=$(echo "$file" | xargs) tests=$(echo "$tests" | xargs)
  [[ $name =~ $filter ]] || continue
  cp "$work/tree/$file" "$work/original"  # the copy's own text, also under MUTANTS_REUSE_TREE
  if ! python3 - "$work/tree/$file" "$line" <<'PY'; then
import sys
path, line = sys.argv[1], sys.argv[2]
fields = [f.strip() for f in line.split(" | ")]
text, replacement = (f.replace("\\n", "\n") for f in fields[3:5])
source = open(path, encoding="utf-8").read()
if source.count(text) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(source.replace(text, replacement))
PY
    stale+=("$name")
    echo "STALE  $name" | tee -a "$log"
    cp "$work/original" "$work/tree/$file"
    continue
  fi
  targets=() regex=()
  IFS=',' read -ra names <<<"$tests"
  for t in "${names[@]}"; do targets+=("$(target_of "$t")"); regex+=("$t"); done
  if ! cmake --build "$work/build" -j "$jobs" --target "${targets[@]}" >>"$log" 2>&1; then
    broken+=("$name")
    echo "BROKEN $name (does not compile)" | tee -a "$log"
  else
    total=$((total + 1))
    if ctest --test-dir "$work/build" -j "$jobs" --timeout 400 --stop-on-failure \
         -R "^($(IFS='|'; echo "${regex[*]}"))\$" >>"$log" 2>&1; then
      missed+=("$name")
      echo "MISSED $name" | tee -a "$log"
    else
      caught=$((caught + 1))
      echo "caught $name" | tee -a "$log"
    fi
  fi
  # A fresh time stamp, so that the next build recompiles the restored file.
  cp "$work/original" "$work/tree/$file"
done 3<scripts/mutants.txt

echo "mutants caught: $caught/$total"
((${#missed[@]})) && echo "missed: ${missed[*]}"
((${#broken[@]})) && echo "not compiling: ${broken[*]}"
((${#stale[@]})) && echo "no longer applying: ${stale[*]}"
exit 0
