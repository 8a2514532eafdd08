#!/bin/sh
# Runs writer_bench for 50 MB and 200 MB sources and copies the same
# source with cp in the same run, for comparison.
# usage: bench/writer_bench.sh WRITER_BENCH_EXE [RUNNER]
# RUNNER (default "wine") runs the exe; WINEPREFIX as for the tests.
set -e
exe=$1
runner=${2:-wine}
folder=$(mktemp -d /tmp/pelnor-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
for mb in 50 200; do
    echo "== $mb MB source"
    $runner "$exe" "Z:$(echo "$folder" | tr / '\\\\')" $mb
    start=$(date +%s.%N)
    cp "$folder/bench-source.wav" "$folder/copy.wav"
    sync "$folder/copy.wav" 2>/dev/null || true
    end=$(date +%s.%N)
    echo "$mb $start $end" | awk '{ printf "cp: %.1f MB in %.3f s, %.1f MB/s\n", $1, $3 - $2, $1 / ($3 - $2) }'
    rm -f "$folder"/*.wav
done
