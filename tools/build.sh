#!/usr/bin/env bash
# Configures and builds into build/ (or $QV_BUILD_DIR). Extra arguments go
# to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${QV_BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=${QV_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
ninja -C "$dir" -j"$(nproc)"
