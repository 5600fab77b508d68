#!/usr/bin/env bash
# Prints every include that runs against the floors (each folder may include only its own floor and
# those below it; docs/architecture.md); prints nothing when the layout is sound.
#   core <- platform <- services <- backend <- inventory <- measure <- agent <- menubar <- app
# Within platform/, the interfaces include neither linux/ nor macos/, and those two not each other
# (the platform library still compiles, from those folders, the few functions each system implements).
# No product folder includes tests/, bench/, fuzz/ or tools/.
#
# Every include the text shows is read, in tracked and untracked (not ignored) files of any C, C++ or
# Objective-C extension: quotes or angle brackets (every library has the project root on its include
# path), indented, "# include", #import, and quoted paths relative to the including file.
#   check-floors.sh [build-dir...]
# With Ninja build directories, also every header the compiler opened for each object, charged to the
# folder of the object's library: what text cannot show (an include through a macro or a header found
# on another include path) and a library that compiles a file of another folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
folders=(core platform services backend inventory measure agent menubar app)

# "from<TAB>target<TAB>where" for every include written in the product's files.
written() {
  git ls-files --cached --others --exclude-standard -z -- "${folders[@]}" |
    grep -zE '\.(c|cc|cpp|cxx|h|hh|hpp|hxx|inl|ipp|tcc|m|mm)$' |
    { xargs -0 -r grep -sHnE '^[[:space:]]*#[[:space:]]*(include|include_next|import)[[:space:]]*[<"]' || true; } |
    awk '{
      file = $0; sub(/:.*/, "", file); rest = substr($0, length(file) + 2)
      line = rest; sub(/:.*/, "", line); text = substr(rest, length(line) + 2)
      if (!match(text, /[<"][^<>"]+[>"]/)) next
      target = substr(text, RSTART + 1, RLENGTH - 2)
      if (substr(text, RSTART, 1) == "\"" && target !~ /^(core|platform|services|backend|inventory|measure|agent|menubar|app|tests|bench|fuzz|tools)\//) {
        dir = file; if (!sub(/\/[^\/]*$/, "", dir)) dir = "."
        target = dir "/" target
      }
      print file "\t" target "\t" file ":" line
    }'
}

# The same for every header each object of a Ninja build depends on, as the compiler resolved it.
compiled() {
  local build
  for build in "$@"; do
    build=$(cd "$build" && pwd)
    { ninja -C "$build" -t deps 2>/dev/null || echo "check-floors.sh: no Ninja build in $build" >&2; } | awk -v build="$build" '
      /^[^ ]/ { object = $1; sub(/:$/, "", object); from = ""
                if (index(object, "/CMakeFiles/")) { from = object; sub(/\/CMakeFiles\/.*/, "", from) }
                next }
      /^    / && from != "" { dep = $1; if (dep !~ /^\//) dep = build "/" dep
                              print from "/" "\t" dep "\t" object " (compiled)" }'
  done
}

{
  written
  if [ $# -gt 0 ]; then compiled "$@"; fi
} | awk -F '\t' -v root="$root" '
  # a/b/../c -> a/c; a path inside the tree relative to its root, anything else empty
  function tree(path,    absolute, n, i, k, part, out) {
    absolute = substr(path, 1, 1) == "/"
    n = split(path, part, "/"); k = 0
    for (i = 1; i <= n; i++) {
      if (part[i] == "" || part[i] == ".") continue
      if (part[i] == "..") { if (k > 0) k--; continue }
      out[++k] = part[i]
    }
    path = ""
    for (i = 1; i <= k; i++) path = path (i > 1 ? "/" : "") out[i]
    if (absolute) {
      if (index(path, substr(root, 2) "/") != 1) return ""
      path = substr(path, length(root) + 1)
    }
    return path
  }
  function floor(path,    top) {
    top = path; sub(/\/.*/, "", top)
    if (top == "core") return 0
    if (top == "platform") return 1
    if (top == "services") return 2
    if (top == "backend") return 3
    if (top == "inventory") return 4
    if (top == "measure") return 5
    if (top == "agent") return 6
    if (top == "menubar") return 7
    if (top == "app") return 8
    if (top == "tests" || top == "bench" || top == "fuzz" || top == "tools") return 99
    return -1
  }
  # Which side of platform/ a path is on: "linux", "macos", or "" for the interfaces.
  function side(path) {
    if (path ~ /^platform\/linux\//) return "linux"
    if (path ~ /^platform\/macos\//) return "macos"
    return ""
  }
  {
    from = $1; to = tree($2)
    if (to == "" || floor(to) < 0 || floor(from) < 0) next
    if (floor(to) > floor(from)) bad = 1
    else if ($3 !~ /\(compiled\)$/ && floor(from) == 1 && side(to) != "" && side(to) != side(from)) bad = 1
    else bad = 0
    if (bad && !seen[$3 SUBSEP to]++) print $3 ": " to
  }'
