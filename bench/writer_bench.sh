#!/bin/sh
# Saving against copying, like with like: for 50 MB and 200 MB sources,
# five rounds each of writer_bench (ten WriteSegment calls covering the
# whole source, into new files) and of cp of the same source into a new
# file, neither followed by a sync, alternating in one run with the page
# cache warm. Alongside: dd with 128 KB reads and writes (the writer's
# way, where cp copies inside the kernel), and the kernel's own copy
# (copy_file_range, as cp does it) of the writer's ten ranges into ten
# new files, each behind a 44-byte header: cp copies whole pages from
# offset 0, a range of samples starts at 44 and that copy has not. Prints
# every round, the best and the median of each, and the writer's speed
# as a share of each. The writer and the range copy are timed inside
# their processes, cp and dd with their start-up.
# usage: bench/writer_bench.sh [BUILD_DIR], as scripts/bench runs it after
# building writer_bench
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
folder=$(mktemp -d /tmp/pelnor-bench.XXXXXX)
trap 'rm -rf "$folder"' EXIT
trap 'exit 1' INT TERM

copy_ranges() {
    python3 - "$folder" <<'EOF'
import os, sys, time
folder = sys.argv[1]
source = os.path.join(folder, "bench-source.wav")
data = os.path.getsize(source) - 44
fd = os.open(source, os.O_RDONLY)
header = os.read(fd, 44)
start = time.perf_counter()
for i in range(10):
    first = data * i // 10 // 4 * 4
    left = data * (i + 1) // 10 // 4 * 4 - first
    out = os.open(os.path.join(folder, "range%d.wav" % i), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(out, header)
    at = 44 + first
    while left > 0:
        n = os.copy_file_range(fd, out, left, at)
        if n <= 0:
            sys.exit("copy_file_range stopped")
        at += n
        left -= n
    os.close(out)
print("ranges: %.3f s" % (time.perf_counter() - start))
EOF
}

bench() { "$root/tools/winerun" --build "$build" "$build/writer_bench.exe" "Z:$(echo "$folder" | tr / '\\\\')" "$@"; }

for mb in 50 200; do
    echo "== $mb MB source"
    bench $mb > "$folder/first.txt"
    for round in 1 2 3 4 5; do
        bench $mb | tee "$folder/writer.txt"
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
        rm -f "$folder"/range*.wav
        copy_ranges | tee "$folder/ranges.txt"
        echo "$(awk '/^writer:/ { print $7 }' "$folder/writer.txt") $start $end $dd_start $dd_end $(awk '{ print $2 }' "$folder/ranges.txt")" >> "$folder/times.txt"
    done
    awk 'function sort(a, n,   i, j, t) { for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t } }
         { w[NR] = $1; c[NR] = $3 - $2; d[NR] = $5 - $4; r[NR] = $6 }
         END { n = NR; sort(w, n); sort(c, n); sort(d, n); sort(r, n); m = int((n + 1) / 2)
               printf "best: writer %.3f s, cp %.3f s, dd %.3f s, ranges %.3f s: the writer at %.2fx of cp, %.2fx of dd, %.2fx of ranges\n",
                      w[1], c[1], d[1], r[1], c[1] / w[1], d[1] / w[1], r[1] / w[1]
               printf "median: writer %.3f s, cp %.3f s, dd %.3f s, ranges %.3f s: the writer at %.2fx of cp, %.2fx of dd, %.2fx of ranges\n",
                      w[m], c[m], d[m], r[m], c[m] / w[m], d[m] / w[m], r[m] / w[m] }' "$folder/times.txt"
    rm -f "$folder"/*.wav "$folder/times.txt"
done
