#!/bin/sh
# Builds bench/playback_bench.cpp against the core library of a configured
# build folder and runs it through tools/winerun (Wine's wave output on
# ALSA's null device).
# usage: bench/playback_bench.sh [BUILD_DIR]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target pelnor_core
i686-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -I"$root" \
    "$root/bench/playback_bench.cpp" "$build/libpelnor_core.a" \
    -luser32 -lgdi32 -lcomctl32 -lcomdlg32 -lwinmm -static -o "$build/playback_bench.exe"
"$root/tools/winerun" --build "$build" "$build/playback_bench.exe"
