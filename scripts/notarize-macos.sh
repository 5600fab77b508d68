#!/usr/bin/env bash
# Submits a zip of the app or a disk image to Apple's notary service and waits (30 min at most);
# on any outcome but "Accepted" prints the service's log, which names each file it refused, and
# fails. Needs NOTARY_APPLE_ID, NOTARY_TEAM_ID and NOTARY_PASSWORD (an app-specific password).
#   scripts/notarize-macos.sh FILE
set -euo pipefail
file=${1:?usage: scripts/notarize-macos.sh FILE}
auth=(--apple-id "$NOTARY_APPLE_ID" --team-id "$NOTARY_TEAM_ID" --password "$NOTARY_PASSWORD")
out=$(xcrun notarytool submit "$file" "${auth[@]}" --wait --timeout 30m --output-format plist) || true
id=$(/usr/libexec/PlistBuddy -c 'Print :id' /dev/stdin <<<"$out" 2>/dev/null || true)
status=$(/usr/libexec/PlistBuddy -c 'Print :status' /dev/stdin <<<"$out" 2>/dev/null || true)
echo "notarization of $file: ${status:-no answer} ${id:+(submission $id)}"
if [ "$status" != Accepted ]; then
  echo "$out"
  [ -z "$id" ] || xcrun notarytool log "$id" "${auth[@]}"
  exit 1
fi
