#!/bin/sh
# Saving against copying, like with like: for 50 MB and 200 MB sources,
# five rounds each of writer_bench (ten WriteSegment calls covering the
# whole source, into new files) and of cp of the same source into a new
# file, neither followed by a sync, alternating in one run with the page
# cache warm; dd with 128 KB reads and writes (the writer's way, where cp
# copies inside the kernel) runs alongside. Prints every round, the best
# of each, and the writer's speed as a share of cp's and of dd's. The
# writer is timed inside its process, cp and dd with their start-up.
# usage: bench/writer_bench.sh WRITER_BENCH_EXE [RUNNER]
# RUNNER (default "wine") runs the exe; WINEPREFIX as for the tests.
set -e
exe=$1
runner=${2:-wine}
folder=$(mktemp -d /tmp/pelnor-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
for mb in 50 200; do
    echo "== $mb MB source"
    $runner "$exe" "Z:$(echo "$folder" | tr / '\\\\')" $mb > "$folder/first.txt"
    for round in 1 2 3 4 5; do
        $runner "$exe" "Z:$(echo "$folder" | tr / '\\\\')" $mb | tee "$folder/writer.txt"
        rm -f "$folder/copy.wav"
        start=$(date +%s.%N)
        cp "$folder/bench-source.wav" "$folder/copy.wav"
        end=$(date +%s.%N)
        bytes=$(stat -c %s "$folder/copy.wav")
        echo "$bytes $start $end" | awk '{ printf "cp: %.1f MB, %.3f s, %.1f MB/s\n", $1 / 1048576, $3 - $2, $1 / 1048576 / ($3 - $2) }'
        rm -f "$folder/copy.wav"
        dd_start=$(date +%s.%N)
        dd if="$folder/bench-source.wav" of="$folder/copy.wav" bs=128k status=none
        dd_end=$(date +%s.%N)
        echo "$(awk '/^writer:/ { print $7 }' "$folder/writer.txt") $start $end $dd_start $dd_end" >> "$folder/times.txt"
    done
    awk '{ w = $1; c = $3 - $2; d = $5 - $4
           if (NR == 1 || w < bw) bw = w; if (NR == 1 || c < bc) bc = c; if (NR == 1 || d < bd) bd = d }
         END { printf "best: writer %.3f s, cp %.3f s, dd %.3f s: the writer at %.2fx of cp, %.2fx of dd\n",
                      bw, bc, bd, bc / bw, bd / bw }' "$folder/times.txt"
    rm -f "$folder"/*.wav "$folder/times.txt"
done
