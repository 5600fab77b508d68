#!/usr/bin/env bash
# Compiles every source file of platform/macos/ for both Mac architectures (arm64 and x86_64, macOS
# 13, the oldest the agent runs on) against a copy of Apple's SDK headers, with the project's
# warnings, so that a wrong type, selector or missing release shows here before a Mac sees it.
#   scripts/check-macos-sdk.sh SDK_DIR
# SDK_DIR holds include/ (the C and libc++ headers, include/c++/v1) and Frameworks/, as Xcode's
# MacOSX.sdk/usr and MacOSX.sdk/System/Library do, or the public copy github:hexops/xcode-frameworks.
# That copy lacks ServiceManagement and SystemConfiguration: platform/macos/sdk/frameworks/ stands in
# for them (a real SDK's own headers win). Qt's and QCoro's headers are Debian's. Needs clang 16 or
# later (Debian 12: apt-get install clang-19); set CLANGXX to choose one. Prints one line per file
# and architecture and the compiler's diagnostics; exits 1 if any file fails or warns.
# Then the stand-in declarations of platform/macos/sdk/AppleC.h (what the Linux build compiles and
# fakes) are declared again after the SDK's own: a function or variable whose type differs from
# Apple's is an error (redefined types and enumerators, expected there, are not reported).
set -euo pipefail
cd "$(dirname "$0")/.."

sdk="${1:?usage: scripts/check-macos-sdk.sh SDK_DIR}"
if [ ! -d "$sdk/include/c++/v1" ] || [ ! -d "$sdk/Frameworks/CoreFoundation.framework" ]; then
  echo "$sdk: no include/c++/v1 or Frameworks/CoreFoundation.framework" >&2
  exit 2
fi
clang="${CLANGXX:-$(command -v clang++-19 || command -v clang++-18 || command -v clang++-17 || command -v clang++-16 || true)}"
[ -n "$clang" ] || { echo "no clang++ 16 or later (apt-get install clang-19, or set CLANGXX)" >&2; exit 2; }
qt="$(dirname "$(find /usr/include -maxdepth 3 -type d -name QtCore -path '*qt6*' | head -1)")"
[ -d "$qt" ] || { echo "Qt 6 headers not found (qt6-base-dev)" >&2; exit 2; }

# The SDK replaces the host's headers entirely: libc++, then clang's own, then the SDK's C headers.
common=(-std=c++20 -fsyntax-only -nostdinc -nostdinc++ -isystem "$sdk/include/c++/v1"
  -isystem "$("$clang" -print-resource-dir)/include" -isystem "$sdk/include"
  -iframework "$sdk/Frameworks" -iframework platform/macos/sdk/frameworks
  -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem /usr/include/qcoro6
  -isystem /usr/include/qcoro6/QCoro -isystem /usr/include/qcoro6/qcoro -I . -DQT_NO_KEYWORDS)
warnings=(-Wall -Wextra -Wshadow -Wconversion -Werror)
"$clang" --version | head -1
failed=0
for arch in arm64 x86_64; do
  for file in platform/macos/*.cpp platform/macos/*.mm; do
    lang=(-x c++)
    [[ "$file" == *.mm ]] && lang=(-x objective-c++ -fobjc-arc -fblocks)
    if out="$("$clang" -target "$arch-apple-macos13" "${common[@]}" "${warnings[@]}" "${lang[@]}" "$file" 2>&1)"; then
      echo "ok      $arch $file"
    else
      echo "FAILED  $arch $file"
      failed=1
    fi
    [ -z "$out" ] || echo "$out"
  done
done

standins="$(mktemp --suffix .cpp)"
trap 'rm -f "$standins"' EXIT
{
  echo '#include "platform/macos/sdk/AppleC.h"'
  awk '/^#else$/ { body = 1; next } body { print }' platform/macos/sdk/AppleC.h | sed '$d'
} >"$standins"
for arch in arm64 x86_64; do
  out="$("$clang" -target "$arch-apple-macos13" "${common[@]}" -w -ferror-limit=0 -x c++ "$standins" 2>&1 |
    grep -E 'error:' | grep -vE "redefinition of enumerator|typedef redefinition|cannot be referenced with the 'struct'" |
    sed "s|$standins|AppleC.h stand-ins|" || true)"
  if [ -z "$out" ]; then
    echo "ok      $arch the stand-ins of platform/macos/sdk/AppleC.h agree with the SDK"
  else
    echo "FAILED  $arch the stand-ins of platform/macos/sdk/AppleC.h differ from the SDK"
    echo "$out"
    failed=1
  fi
done
exit "$failed"
