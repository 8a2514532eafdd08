#!/bin/sh
# Runs the playback benchmark of a build folder through tools/winerun
# (Wine's wave output on ALSA's null device).
# usage: bench/playback_bench.sh [BUILD_DIR], as scripts/bench runs it
# after building playback_bench
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/tools/winerun" --build "$build" "$build/playback_bench.exe"
