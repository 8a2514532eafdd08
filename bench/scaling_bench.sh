#!/bin/sh
# Figures for recordings of 1 minute, 10 minutes, 1 hour and 3 hours
# (44.1 kHz 16-bit stereo), printed as one table: the repaint of both
# graphs (1024 columns) against 4 MB reads of the same bytes; the open
# (chunk walk and device query); saving as 10 segments with WriteSegment
# against cp of the whole file and against sox cutting the same 10 ranges
# (the samples of both are compared); the peak working set of each step.
# The sources are made in a temporary folder and removed afterwards (the
# 3-hour row needs about 6 GB of disk at once). Repaints, reads and opens
# are the best of a few rounds inside the program; WriteSegment is timed
# inside the program and cp from outside, the best of three rounds taken
# in turns; sox (one run per range) once, from outside.
# usage: bench/scaling_bench.sh [BUILD_DIR], as scripts/bench runs it
# after building scaling_bench
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
command -v sox >/dev/null || { echo "scaling_bench: sox is not installed" >&2; exit 1; }
folder=$(mktemp -d /tmp/pelnor-scaling.XXXXXX)
trap 'rm -rf "$folder"' EXIT
trap 'exit 1' INT TERM
free=$(df -Pk "$folder" | awk 'NR == 2 { print $4 }')
[ "$free" -gt 7000000 ] || { echo "scaling_bench: less than 7 GB free in /tmp" >&2; exit 1; }
cd "$folder"

# the program writes its lines in text mode: CR LF
bench() { "$root/tools/winerun" --build "$build" "$build/scaling_bench.exe" "$@" | tr -d "\r"; }
now() { date +%s.%N; }
# runs a command under GNU time, adding its seconds and keeping its peak
# resident set (KB) in the files seconds.txt and peak.txt
timed() {
    start=$(now)
    /usr/bin/time -f %M -o rss.txt "$@"
    end=$(now)
    echo "$start $end" | awk '{ print $2 - $1 }' >> seconds.txt
    cat rss.txt >> peak.txt
}
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
total() { awk '{ s += $1 } END { printf "%.3f", s }' seconds.txt; }
peak() { awk '{ if ($1 > m) m = $1 } END { printf "%.1f", m / 1024 }' peak.txt; }

echo "| recording | data | waveform | level | 4 MB reads | waveform / reads | level / reads | open | WriteSegment x10 | cp | sox x10 | peak WS draw / open / save | peak RSS cp / sox |"
echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
for row in "1 min:60" "10 min:600" "1 h:3600" "3 h:10800"; do
    label=${row%%:*}
    seconds=${row#*:}
    bench make src.wav "$seconds"
    # the new source and the last row's files on disk first, so that no
    # step pays for their writeback
    sync
    set -- $(bench draw src.wav)
    wave=$2 level=$3 reads=$4 drawpeak=$5
    set -- $(bench open src.wav)
    open=$2 openpeak=$3
    # saving and cp take turns and the best of each counts: whichever
    # writes first into memory the system has not used for a while pays
    # for it (seen here: cp first 3.5 s, the writer after it 0.8 s at 3 h)
    save="" cp="" cppeak=""
    for round in 1 2 3; do
        rm -f seg*.wav
        bench save src.wav > save.txt
        set -- $(grep '^save' save.txt)
        save=$(least "$save" "$2") savepeak=$3
        rm -f seconds.txt peak.txt
        timed cp src.wav copy.wav
        cp=$(least "$cp" "$(total)") cppeak=$(peak)
        rm -f copy.wav
    done

    rm -f seconds.txt peak.txt
    grep '^range' save.txt | while read -r word i first end; do
        timed sox src.wav "sox$i.wav" trim "${first}s" "=${end}s"
    done
    sox=$(total) soxpeak=$(peak)
    same=yes
    for i in 0 1 2 3 4 5 6 7 8 9; do
        cmp -s -i 44:44 "seg$i.wav" "sox$i.wav" || same=no
    done
    rm -f seg*.wav sox*.wav src.wav

    mb=$(awk -v s="$seconds" 'BEGIN { printf "%.0f MB", s * 176400 / 1048576 }')
    [ "$same" = yes ] || sox="$sox (samples differ)"
    echo "$wave $level $reads $open $save $cp $drawpeak $openpeak $savepeak $cppeak $soxpeak" |
        awk -v label="$label" -v mb="$mb" -v sox="$sox" '{
        printf "| %s | %s | %s ms | %s ms | %s ms | %.2f | %.2f | %s ms | %s s | %s s | %s s | %s / %s / %s MB | %s / %s MB |\n",
               label, mb, $1, $2, $3, $1 / $3, $2 / $3, $4, $5, $6, sox, $7, $8, $9, $10, $11 }'
done
