#!/usr/bin/env bash
# Counts product and test lines and prints their ratio, in total and per subsystem.
#   product: .cpp, .h and .mm files outside tests/, bench/, fuzz/ and build trees
#   tests:   .cpp, .h, .mm, .sh and .py files under tests/ (fakes, harnesses and scripts included)
# Usage: scripts/line-counts.sh [--total]   (--total prints only the last line)
set -euo pipefail
cd "$(dirname "$0")/.."

list_files() { # which files to count: git's view when there is one, else the file system
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard
  else
    find . -path './build*' -prune -o -type f -print | sed 's|^\./||'
  fi
}

list_files | awk '
  /^(build|bench|fuzz)\// { next }
  /^tests\// { if ($0 ~ /\.(cpp|h|mm|sh|py)$/) print "T", $0; next }
  /\.(cpp|h|mm)$/ { print "P", $0 }
' | while read -r kind path; do
  [ -f "$path" ] && printf '%s %s %s\n' "$kind" "$(wc -l <"$path")" "$path"
done | awk -v total_only="${1:-}" '
  function subsystem(kind, path,   parts, n) {
    n = split(path, parts, "/")
    if (kind == "T") return (n > 2 ? parts[2] : "(top)")
    if (parts[1] == "platform" && n > 2) return "platform/" parts[2]
    if (parts[1] == "tools" && n > 2) return "tools/" parts[2]
    return (n > 1 ? parts[1] : "(top)")
  }
  { s = subsystem($1, $3); if ($1 == "P") { prod[s] += $2; p += $2 } else { test[s] += $2; t += $2 } }
  END {
    if (total_only == "") {
      printf "%-22s %8s\n", "product subsystem", "lines"
      n = 0; for (s in prod) keys[++n] = s
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (keys[j] < keys[i]) { x = keys[i]; keys[i] = keys[j]; keys[j] = x }
      for (i = 1; i <= n; i++) printf "  %-20s %8d\n", keys[i], prod[keys[i]]
      printf "%-22s %8s\n", "tests/<folder>", "lines"
      m = 0; for (s in test) tkeys[++m] = s
      for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (tkeys[j] < tkeys[i]) { x = tkeys[i]; tkeys[i] = tkeys[j]; tkeys[j] = x }
      for (i = 1; i <= m; i++) printf "  %-20s %8d\n", tkeys[i], test[tkeys[i]]
    }
    printf "product %d lines, tests %d lines, tests/product %.1f %%\n", p, t, (p ? 100.0 * t / p : 0)
  }'
