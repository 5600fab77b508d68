#!/usr/bin/env bash
# Builds this tree with warnings as errors and runs its test suite on Debian 13 ("trixie"): GNOME
# Shell 48, KWin 6.3 (Plasma 6), sway 1.10, Qt 6.8, g++ 14 and that release's Chromium and Firefox.
# It makes (or reuses) a Debian 13 root under build/debian13/root with debootstrap, from the same
# Debian registry as this machine's apt sources (never a downloaded image), installs in it the
# packages of scripts/debian-packages.txt with scripts/install-deps.sh, binds this tree in at /src,
# and runs in it the release build and every ctest test (X11 desktop, browsers, secret service,
# headless sway, KWin and GNOME Shell, the agent end to end). The root's ccache makes a second run
# warm. Everything mounted is unmounted and every process left in the root ended on exit, failure
# included. Needs root (debootstrap, chroot, mounts); exits 77 (skipped) without it.
#   scripts/test-debian13.sh [--asan] [--packages] [--accuracy] [--shell] [TEST...]
#   --asan      also the AddressSanitizer + UndefinedBehaviorSanitizer build and its tests (also
#               after a failed release run: it tells a memory fault from a plain failure)
#   --packages  instead of the suite, Debian 13's packages as scripts/test-packages.sh tests them here:
#               built, lintian of that release, installed, started from the autostart entry, paired, purged
#   --accuracy  instead of the suite, bench/accuracy's scripted day on X11, sway, KWin and GNOME Shell with
#               the release build's agent (ACCURACY_SECONDS a segment, default 90; ACCURACY_DESKTOPS, default
#               all four; ACCURACY_ONLY as the script takes it); its table also goes to build/debian13/accuracy.txt
#   --shell     an interactive shell in the prepared root instead of the build and tests
#   TEST        only these test programs (e.g. wayland_tests linux_tests): built and run, nothing else
#               (an e2e_… test builds the agent and the reference backend it runs)
# The formatting check stays with scripts/test.sh: Debian 13's clang-format formats differently.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$PWD
work=$tree/build/debian13
root=$work/root
asan=0 packages=0 accuracy=0 shell=0 only=()
for arg in "$@"; do
  case "$arg" in
    --asan) asan=1 ;;
    --packages) packages=1 ;;
    --accuracy) accuracy=1 ;;
    --shell) shell=1 ;;
    [a-z]*_tests) only+=("$arg") ;;
    *) echo "usage: $0 [--asan] [--packages] [--accuracy] [--shell] [TEST...]" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: $0 needs root (debootstrap, chroot, mounts)" >&2; exit 77; }
command -v debootstrap >/dev/null || { echo "debootstrap is missing: run scripts/install-deps.sh" >&2; exit 1; }

# The Debian registry this machine's apt uses (the first "debian" URI of its sources), and its security twin.
sources=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
registry() {
  cat "${sources[@]}" 2>/dev/null | grep -oE "^(URIs:|deb)( +\[[^]]*\])? +https?://[^ ]+/$1/?( |\$)" |
    awk '{print $NF}' | head -n 1 || true
}
mirror=$(registry debian)
security=$(registry debian-security)
[ -n "$mirror" ] || { echo "no Debian registry in ${sources[*]}" >&2; exit 1; }

start=$SECONDS
stage() { echo "== $* ($((SECONDS - start)) s)"; }

# Unmounts everything under $1 (deepest first) and ends the processes whose root is $1.
release_root() {
  local dir=$1 pid
  for pid in /proc/[0-9]*; do
    [ "$(readlink "$pid/root" 2>/dev/null)" = "$dir" ] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  awk -v d="$dir" '$2 == d || index($2, d "/") == 1 {print $2}' /proc/self/mounts | sort -r |
    while read -r m; do umount "$m" 2>/dev/null || umount -l "$m"; done
}
trap 'release_root "$root"; release_root "$root.partial"' EXIT
trap 'exit 130' INT TERM

mkdir -p "$work"
if [ ! -e "$root/etc/debian_version" ]; then
  stage "debootstrap trixie from $mirror"
  release_root "$root.partial"
  rm -rf --one-file-system "$root.partial"
  debootstrap --variant=minbase trixie "$root.partial" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  mv "$root.partial" "$root"
fi

{
  echo "Types: deb"
  echo "URIs: $mirror"
  echo "Suites: trixie trixie-updates"
  echo "Components: main"
  echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  if [ -n "$security" ]; then
    echo
    echo "Types: deb"
    echo "URIs: $security"
    echo "Suites: trixie-security"
    echo "Components: main"
    echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  fi
} >"$root/etc/apt/sources.list.d/debian.sources"
rm -f "$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No /run/systemd/seats in the root: GNOME Shell then takes its stand-in for logind.
mkdir -p "$root/proc" "$root/sys" "$root/dev" "$root/src"
# The root a mount of its own, private: `unshare -m` inside (the end-to-end test's time-zone step)
# makes / private, which fails on a directory that is no mount, and nothing mounted in there
# reaches this machine's mounts.
mount --bind "$root" "$root"
mount --make-private "$root"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount --bind /dev/shm "$root/dev/shm"  # sway shares buffers through it
mount --bind "$tree" "$root/src"

inside() {
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

stage "packages (scripts/debian-packages.txt)"
inside bash -c 'apt-get update -qq && bash /src/scripts/install-deps.sh' >"$work/packages.log" 2>&1 ||
  { tail -n 30 "$work/packages.log" >&2; exit 1; }
inside sh -c '. /etc/os-release; echo "Debian $(cat /etc/debian_version): $(dpkg-query -W -f "\${Package} \${Version}, " \
  gnome-shell kwin-wayland sway qt6-base-dev g++ chromium firefox-esr)"'

if ((shell)); then
  inside bash -c 'cd /src && exec bash -i' || true
  exit 0
fi
if ((packages)); then
  # Apart from Debian 12's: build/debian13/packages, and the root's compiler cache.
  stage "Debian packages"
  rc=0
  git ls-files -z --cached --others --exclude-standard >"$work/package-files"  # the root has no git
  inside env CCACHE_DIR=/root/.ccache PACKAGES_DIR=/src/build/debian13/packages \
    PACKAGE_FILES=/src/build/debian13/package-files \
    bash /src/scripts/test-packages.sh /src/build/debian13/packages-test || rc=$?
  stage "done (exit $rc)"
  exit "$rc"
fi

# Built and tested as scripts/test.sh does; each gtest program also writes a report, from which the
# skipped cases are listed at the end (a desktop that did not start skips, it does not fail). With
# --accuracy, what the scripted day runs is built and the day runs instead of the tests.
run_suite() {
  local name=$1 build=/src/build/debian13/$1
  shift
  inside env ACCURACY_SECONDS="${ACCURACY_SECONDS:-90}" ACCURACY_DESKTOPS="${ACCURACY_DESKTOPS:-x11 sway kwin gnome}" \
    ${ACCURACY_ONLY:+ACCURACY_ONLY="$ACCURACY_ONLY"} bash -c '
    set -euo pipefail
    cd /src
    export CCACHE_BASEDIR=/src CCACHE_NOHASHDIR=1 CCACHE_DIR=/root/.ccache
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
    export LSAN_OPTIONS="suppressions=/src/tests/lsan.supp:print_suppressions=0"
    build=$1 only=$2; shift 2
    rm -rf "$build/gtest"
    cmake -S . -B "$build" -G Ninja -DFENNIMAR_WERROR=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
    # An end-to-end test is a script: what it runs is the target e2e_agent_deps.
    targets=$(printf "%s\n" $only | sed "s/^e2e_.*/e2e_agent_deps/;s/^accuracy$/fennimar-agent fennimar-refbackend fake_logind fake_screensaver/")
    if [ "$only" = accuracy ]; then
      cmake --build "$build" -j "$(nproc)" --target $targets
      exec bench/accuracy/accuracy.sh --build "$build" --seconds "$ACCURACY_SECONDS" --desktops "$ACCURACY_DESKTOPS"
    fi
    cmake --build "$build" -j "$(nproc)" ${targets:+--target $targets}
    GTEST_OUTPUT=xml:$build/gtest/ ctest --test-dir "$build" --output-on-failure -j "$(nproc)" \
      ${only:+-R "^(${only// /|})\$"}
  ' run_suite "$build" "${only[*]}" "$@"
}
summary() {
  cat "$work/$1"/gtest/*.xml 2>/dev/null | awk -v build="$1" '
    /<testcase / {
      n = $0; sub(/.* name="/, "", n); sub(/".*/, "", n)
      c = $0; sub(/.* classname="/, "", c); sub(/".*/, "", c)
      total++
      if ($0 ~ /result="skipped"/) { skipped++; pending = c "." n }
    }
    /<skipped / && pending != "" {
      m = $0; sub(/.*message="/, "", m); sub(/".*/, "", m); gsub(/&#x0A;/, " ", m)
      print "  skipped: " pending ": " m; pending = ""
    }
    END { printf "gtest cases in %s: %d, of which ran %d and skipped %d\n", build, total, total - skipped, skipped }'
  # A script test that skips (exit 77) says why on a line of its own.
  awk '/^[0-9]+\/[0-9]+ Test: / { t = $3 } /^SKIPPED/ { print "  skipped: " t ": " $0 }' \
    "$work/$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
}

rc=0
if ((accuracy)); then
  stage "the scripted day (bench/accuracy) on ${ACCURACY_DESKTOPS:-x11 sway kwin gnome}"
  only=(accuracy)
  run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$(inside bash /src/scripts/package.sh --cxxflags)" | tee "$work/accuracy.txt" || rc=$?
  stage "done (exit $rc)"
  exit "$rc"
fi
stage "release build and tests"
run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$(inside bash /src/scripts/package.sh --cxxflags)" || rc=$?
summary release
if ((asan)); then
  stage "sanitizer build and tests"
  run_suite asan -DCMAKE_BUILD_TYPE=Debug -DFENNIMAR_SANITIZE=ON -DFENNIMAR_BUILD_BENCH=OFF || rc=$?
  summary asan
fi
stage "done (exit $rc)"
exit "$rc"
