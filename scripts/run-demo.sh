#!/usr/bin/env bash
# Installs what is needed, builds, and runs the agent's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target fennimar-agent
exec build/release/agent/fennimar-agent "$@"
