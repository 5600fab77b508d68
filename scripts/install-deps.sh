#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent: packages already present are left alone; nothing is fetched from
# anywhere but Debian's own archive.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev
  qcoro-qt6-dev qtkeychain-qt6-dev
  libqt6sql6-sqlite libqt6opengl6-dev
  libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-screensaver0-dev libxcb-res0-dev libxcb-xinput-dev
  libwayland-dev wayland-protocols plasma-wayland-protocols
  libgtest-dev googletest
  # tests against real peers
  dbus dbus-x11 gnome-keyring libsecret-tools xvfb xauth openbox xdotool trayer x11-utils xterm
  at-spi2-core chromium firefox-esr fonts-dejavu-core
  sway swaylock weston foot xwayland
  # KDE and GNOME on Wayland: KWin and GNOME Shell, each headless, with our script and extension
  kwin-wayland gnome-shell
  # wtype: a keyboard on a headless sway seat (the accessibility bus's active window follows it) and the keys it sends
  wtype
  # gtk3-demo: an accessible GTK app for the Wayland tests of the accessibility bus's active window
  gtk-3-examples
  # ffmpeg: the accuracy benchmark's looping video and music, made at bench time (bench/accuracy)
  ffmpeg
  # xterm falls back on the core X fonts (its menus, a missing face); without them it warns and starts slowly
  xfonts-base
  # sqlite3 command line for inspecting the reference backend's data
  sqlite3 curl procps psmisc
  # xmllint: the macOS bundle's property lists are checked with it
  libxml2-utils
  # Debian packages: building (dpkg-buildpackage, dh), checking (lintian, appstreamcli), the
  # manual pages (man), and ccache so that a rebuild of the packages reuses its objects
  debhelper dpkg-dev lintian appstream man-db ccache
)

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
