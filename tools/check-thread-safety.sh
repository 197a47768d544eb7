#!/usr/bin/env bash
# Compiles the engine with clang's thread-safety analysis as an error: every
# field the engine lock guards is read and written with it held, and every
# function that needs it is called with it held.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QV_TSA_BUILD_DIR:-build-tsa}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "check-thread-safety: clang++ not found" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_BUILD_APP=OFF \
  -DQV_BUILD_BENCH=OFF -DBUILD_TESTING=OFF -DCMAKE_CXX_FLAGS="-Wthread-safety -Wthread-safety-beta" >/dev/null
ninja -C "$build" -j"$(nproc)" qvEngine
echo "check-thread-safety: the engine is clean"
