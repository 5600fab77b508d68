#!/usr/bin/env bash
# Prints every include that runs against the floors (each folder may include only its own floor and
# those below it); prints nothing when the layout is sound.
#   core <- platform <- services, measure, backend, inventory <- agent <- menubar <- app
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files 'core/*' 'platform/*' 'services/*' 'measure/*' 'backend/*' 'inventory/*' 'agent/*' 'menubar/*' 'app/*' |
  grep -E '\.(cpp|h|mm)$' | xargs grep -Hn '^#include "' | awk -F: '
  function floor(dir) {
    if (dir == "core") return 0
    if (dir == "platform") return 1
    if (dir == "services" || dir == "measure" || dir == "backend" || dir == "inventory") return 2
    if (dir == "agent") return 3
    if (dir == "menubar") return 4
    if (dir == "app") return 5
    return 99
  }
  {
    split($1, from, "/"); match($3, /"[^"]*"/); target = substr($3, RSTART + 1, RLENGTH - 2)
    if (split(target, to, "/") < 2) next
    if (floor(to[1]) > floor(from[1])) print $1 ":" $2 ": " target
  }'
