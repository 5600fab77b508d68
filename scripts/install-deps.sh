#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent: packages already present are left alone; nothing is fetched from
# anywhere but Debian's own archive.
set -euo pipefail

# The list is scripts/debian-packages.txt, shared by every Debian release we build on; a line that
# ends in "@N" is for Debian N only.
release=$(. /etc/os-release && echo "${VERSION_ID%%.*}")
packages=()
while read -r line; do
  line=${line%%#*}
  case "$line" in *@*) [ "${line##*@}" = "$release" ] || continue; line=${line%@*} ;; esac
  read -ra words <<<"$line"
  packages+=("${words[@]}")
done <"$(dirname "$0")/debian-packages.txt"

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
