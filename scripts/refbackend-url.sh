#!/usr/bin/env bash
# Waits (at most 20 s) for a fennimar-refbackend started with --port 0 to say where it listens, and
# prints its base URL. Fails with the server's own error output when it never does.
#   url=$(scripts/refbackend-url.sh OUT_FILE ERR_FILE) || exit 1
set -u
out=$1
err=$2
for _ in $(seq 200); do
  url=$(grep -o 'http://[0-9.]*:[0-9]*' "$out" 2>/dev/null | head -n 1 || true)
  if [ -n "$url" ]; then
    echo "$url"
    exit 0
  fi
  sleep 0.1
done
echo "the reference backend did not start:" >&2
cat "$err" >&2 2>/dev/null
exit 1
