#!/bin/sh
# Runs the playback benchmark of a configured build folder through
# tools/winerun (Wine's wave output on ALSA's null device).
# usage: bench/playback_bench.sh [BUILD_DIR]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target playback_bench
"$root/tools/winerun" --build "$build" "$build/playback_bench.exe"
