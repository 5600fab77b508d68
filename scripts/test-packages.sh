#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them (scripts/package.sh), runs lintian and the
# AppStream validator, installs both with apt-get, starts the installed agent the way a login would
# in a private desktop session, pairs it against the installed reference backend, waits for one
# heartbeat and one usage report, then purges both packages and checks that nothing of them stays
# behind (the session's own files stay: they are the user's). Needs root (apt-get) and the desktop
# tools of scripts/desktop-session.sh; exits 77 (skipped) without them. Every wait is bounded.
#   scripts/test-packages.sh [--no-build] [WORKDIR]   (default build/packages-test)
# --no-build tests the packages already in build/packages/ (or $PACKAGES_DIR).
set -uo pipefail

fail() {
  echo "FAILED: $*" >&2
  [ -n "${log:-}" ] && { echo "--- agent log ---" >&2; cat "$log" >&2 2>/dev/null; }
  exit 1
}
# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < end)) || fail "$what (not within ${limit} s)"
    sleep 0.1
  done
}

if [ "${1:-}" = "--inside" ]; then
  # In the private session. Its first login: the user starts the agent from the application menu;
  # the agent registers itself to start at login. Then a login: the session starts what is
  # registered, as a desktop (or the user's service manager) would.
  url=$2 work=$3
  log=$XDG_STATE_HOME/Fennimar/Fennimar.log
  # The admin CLI of the installed backend; every admin call goes through here.
  admin() { fennimar-refbackend admin --url "$url" --admin-token-file "$work/admin-token" "$@"; }
  # The desktop entry's Exec line, run as a desktop runs it (our entries quote only the program).
  launch_entry() {
    local exec
    exec=$(sed -n 's/^Exec=//p' "$1" | head -n 1)
    [ -n "$exec" ] || fail "no Exec in $1"
    eval "set -- $exec"
    "$@" >>"$work/agent.out" 2>&1 &
    agent=$!
  }
  mkdir -p "$XDG_CONFIG_HOME/Fennimar"
  printf '[General]\nbackendURL=%s\n' "$url" >"$XDG_CONFIG_HOME/Fennimar/Fennimar.conf"

  launch_entry /usr/share/applications/app.fennimar.Agent.desktop
  wait_for 20 "the first start registers the login item" grep -qsF "login item registered (new)" "$log"
  # The tray is a module of the package, found where the package put it (a missing one is only a
  # WARN, and the agent would run without its icon).
  ! grep -qF "module not loaded" "$log" || fail "the installed agent did not load its tray module: $(grep -F "module not loaded" "$log")"
  kill -TERM "$agent"
  wait "$agent"
  # What the login's start logs comes after this line.
  mark=$(wc -l <"$log")
  since_login() { tail -n +$((mark + 1)) "$log" | grep -qF -- "$1"; }

  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.systemd1 2>/dev/null | grep -q true; then
    # A user manager: the packaged unit, enabled, not a copy of it.
    [ ! -e "$XDG_CONFIG_HOME/systemd/user/app.fennimar.Agent.service" ] || fail "the agent wrote its own unit"
    systemctl --user start app.fennimar.Agent.service || fail "systemctl --user start"
    agent=$(systemctl --user show -P MainPID app.fennimar.Agent.service)
    how="the packaged systemd user unit"
  else
    entry=$XDG_CONFIG_HOME/autostart/app.fennimar.Agent.desktop
    [ -f "$entry" ] || fail "no autostart entry after the first start"
    grep -qx 'TryExec=/usr/bin/fennimar-agent' "$entry" || fail "the autostart entry does not name the installed agent"
    launch_entry "$entry"
    how="the XDG autostart entry"
  fi

  admin set-apps --child Robin linux:debian-xterm >/dev/null || fail "set-apps"
  wait_for 20 "a pair code in the log" since_login "pair code "
  code=$(grep -o 'pair code [A-Z0-9]*' "$log" | tail -n 1 | awk '{print $3}')
  admin claim "$code" --child Robin >"$work/claim.json" || fail "claim $code"
  wait_for 10 "the agent sees the claim" since_login "PAIRED · child="
  since_login "login item registered" && fail "the login's start registered again"
  device=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["device_id"])' "$work/claim.json")
  seen_by_backend() {
    admin devices >"$work/devices.json" 2>/dev/null || return 1
    local flat
    flat=$(tr -d ' \n' <"$work/devices.json")
    [[ $flat == *"\"$device\""* && $flat == *'"last_heartbeat":{'* && $flat == *'"usage":[{'* ]]
  }
  wait_for 30 "a heartbeat and a usage report on the backend" seen_by_backend
  kill -TERM "$agent"
  wait "$agent" 2>/dev/null
  echo "packages: started from $how, paired $device, heartbeat and usage report seen"
  exit 0
fi

cd "$(dirname "$0")/.."
build=1
[ "${1:-}" = "--no-build" ] && { build=0; shift; }
work=${1:-$PWD/build/packages-test}
pkgs=${PACKAGES_DIR:-build/packages}
missing=()
for tool in Xvfb dbus-run-session gnome-keyring-daemon openbox xterm xdotool dbus-send lintian appstreamcli \
  dpkg-buildpackage man; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "SKIPPED: the package test needs ${missing[*]} (scripts/install-deps.sh installs them)" >&2
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the package test installs packages with apt-get and needs root" >&2
  exit 77
fi
if dpkg-query -W -f='${Status}' fennimar-agent fennimar-refbackend 2>/dev/null | grep -q 'ok installed'; then
  fail "fennimar packages are already installed on this machine; the test would remove them"
fi

start=$SECONDS
if ((build)); then
  bash scripts/package.sh || fail "package.sh"
  echo "packages built in $((SECONDS - start)) s"
fi
mapfile -t debs < <(realpath "$pkgs"/fennimar-agent_*.deb "$pkgs"/fennimar-refbackend_*.deb)
version=$(dpkg-deb -f "${debs[0]}" Version)

lintian --fail-on error,warning --display-info "$pkgs"/*.deb || fail "lintian"
appstreamcli validate --no-net packaging/linux/app.fennimar.Agent.metainfo.xml || fail "appstreamcli"

rm -rf "$work"
mkdir -p "$work"
backend=""
cleanup() {
  [ -n "$backend" ] && kill "$backend" 2>/dev/null && wait "$backend" 2>/dev/null
  # Never leave the packages on the machine, whatever failed.
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq fennimar-agent fennimar-refbackend >/dev/null 2>&1 || true
}
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install"; }
dpkg-query -L fennimar-agent fennimar-refbackend | sort -u >"$work/files"

[ "$(fennimar-agent --version)" = "Fennimar $version" ] || fail "--version says '$(fennimar-agent --version)', not 'Fennimar $version'"
for page in fennimar-agent fennimar-refbackend; do
  man -l "/usr/share/man/man1/$page.1.gz" 2>"$work/man.err" | grep -q "^NAME" || fail "man -l $page"
  [ ! -s "$work/man.err" ] || fail "man -l $page: $(cat "$work/man.err")"
done
appstreamcli validate --no-net /usr/share/metainfo/app.fennimar.Agent.metainfo.xml >/dev/null || fail "installed metainfo"

fennimar-refbackend --port 0 --db "$work/backend.sqlite" --admin-token-file "$work/admin-token" >"$work/refbackend.out" 2>"$work/refbackend.err" &
backend=$!
url=$(scripts/refbackend-url.sh "$work/refbackend.out" "$work/refbackend.err") || fail "the reference backend did not start"

SESSION_HOME=$work/session timeout 120 scripts/desktop-session.sh bash "$PWD/scripts/test-packages.sh" --inside "$url" "$work" ||
  fail "the installed agent in a desktop session"
kill "$backend"
wait "$backend" 2>/dev/null
backend=""

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq fennimar-agent fennimar-refbackend >>"$work/apt.log" 2>&1 ||
  fail "apt-get purge"
left=()
while IFS= read -r path; do
  # Directories that other packages share (/usr, /usr/share/man/man1, ...) stay.
  [ -d "$path" ] && [ ! -L "$path" ] && continue
  [ -e "$path" ] || [ -L "$path" ] && left+=("$path")
done <"$work/files"
((${#left[@]} == 0)) || fail "left behind after purge: ${left[*]}"
ls /var/lib/dpkg/info/fennimar-* >/dev/null 2>&1 && fail "dpkg still knows fennimar: $(ls /var/lib/dpkg/info/fennimar-*)"
[ -e "$work/session/home/.local/share/Fennimar/ledger.json" ] || fail "the user's ledger went with the package"
echo "packages: $version built, lintian and appstreamcli clean, installed, ran, purged clean ($((SECONDS - start)) s)"
