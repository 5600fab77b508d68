#!/usr/bin/env bash
# Installs what the macOS build and tests need: Homebrew's Qt parts (qtbase brings macdeployqt, which
# copies Qt into the bundle; qttools would only add Qt Designer and pull in qtdeclarative),
# GoogleTest, CMake and Ninja, and QCoro, which Homebrew does not package, built from its release tag
# (without its D-Bus part) into $FENNIMAR_DEPS (default ~/.local/fennimar-deps) for the same oldest
# macOS as the agent (CMakeLists.txt's CMAKE_OSX_DEPLOYMENT_TARGET), not the runner's own. Homebrew's
# bottles are arm64 only, so the build is for Apple silicon. Idempotent: a QCoro already there is kept.
set -euo pipefail

brew install cmake ninja qtbase qtsvg googletest

prefix="${FENNIMAR_DEPS:-$HOME/.local/fennimar-deps}"
if [ ! -f "$prefix/lib/cmake/QCoro6/QCoro6Config.cmake" ]; then
  src="$(mktemp -d)"
  git clone --depth 1 --branch v0.12.0 https://github.com/qcoro/qcoro "$src/qcoro"
  cmake -S "$src/qcoro" -B "$src/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUSE_QT_VERSION=6 \
    -DBUILD_TESTING=OFF -DQCORO_BUILD_EXAMPLES=OFF -DQCORO_WITH_QTDBUS=OFF -DQCORO_WITH_QML=OFF \
    -DQCORO_WITH_QTQUICK=OFF -DQCORO_WITH_QTWEBSOCKETS=OFF \
    -DCMAKE_OSX_DEPLOYMENT_TARGET="$(sed -n 's/.*CMAKE_OSX_DEPLOYMENT_TARGET "\([0-9.]*\)".*/\1/p' "$(dirname "$0")/../CMakeLists.txt")" \
    -DCMAKE_PREFIX_PATH="$(brew --prefix)" -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build "$src/build"
  cmake --install "$src/build"
  rm -rf "$src"
fi
echo "QCoro is in $prefix; configure with -DCMAKE_PREFIX_PATH=\"\$(brew --prefix);$prefix\""
