#!/usr/bin/env python3
"""What scripts/run shows without a display: tools/tour.py works the real
program on a private Xvfb, on the sample tools/make-sample-wav.py writes,
with keys, the open dialog and right presses in the graph. Its pieces,
read back with Python's wave, must hold the sample's frames in order, bit
for bit, each cut inside a silence; nothing else may be written; both
screenshots must show the graph drawn, and not the same picture. The
sample, the pieces and the pictures stay in BUILD_DIR/testrun/tour_check.py/tour
until the next run.

    python3 tests/tour_check.py [BUILD_DIR]
"""
import os
import re
import sys
import shutil
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from hostcheck import ROOT, build_dir, check, output, pelnor_exe, summary, tool  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
import tour  # noqa: E402

PIECES = ["sample-1.wav", "sample-2.wav", "sample-3.wav"]


def pieces_hold_the_sample(folder, printed):
    params, data = tour.frames_of(os.path.join(folder, "sample.wav"))
    listed = re.findall(r"^tour: saved (.+): ([0-9.]+) s \((\d+) frames\)$", printed, re.M)
    names = [os.path.basename(path) for path, _, _ in listed]
    check("the renumbered pieces printed", names == PIECES, f"({names})")
    check("nothing else written", sorted(os.listdir(folder)) == sorted(PIECES + ["sample.wav"]),
          f"({sorted(os.listdir(folder))})")

    joined, cuts = b"", []
    for path, seconds, frames in listed:
        with wave.open(path, "rb") as r:
            same = (r.getnchannels(), r.getsampwidth(), r.getframerate()) == \
                   (params.nchannels, params.sampwidth, params.framerate)
            check(f"{os.path.basename(path)} in the sample's format", same)
            check(f"{os.path.basename(path)} length as printed",
                  r.getnframes() == int(frames) and f"{r.getnframes() / r.getframerate():.5f}" == seconds,
                  f"({r.getnframes()} frames)")
            joined += r.readframes(r.getnframes())
        cuts.append(len(joined) // (params.nchannels * params.sampwidth))
    check("the pieces hold the sample frame for frame", joined == data,
          f"({len(joined)} of {len(data)} bytes)")
    pauses = tour.silences(params, data)
    inside = [any(first < cut < end for first, end in pauses) for cut in cuts[:-1]]
    check("each cut inside a silence", len(inside) == len(pauses) and all(inside),
          f"(cuts {cuts[:-1]}, silences {pauses})")


def screenshots_show_the_graph(shots, printed):
    """The graph's place as the tour found it on the empty window."""
    where = re.search(r"^tour: graph at (\d+),(\d+), (\d+) x (\d+) pixels$", printed, re.M)
    graph = tuple(map(int, where.groups())) if where else None
    check("the graph found at full width", graph is not None and graph[2] == 1024, f"({graph})")
    pictures = []
    for name in ("screenshot-waveform.png", "screenshot-segments.png"):
        path = os.path.join(shots, name)
        if not (graph and os.path.isfile(path)):
            check(f"{name} written", False)
            continue
        screen = tour.Screen(path)
        dark = screen.dark_pixels(graph)
        check(f"{name}: a waveform drawn in the graph", dark > graph[2], f"({dark} dark pixels)")
        pictures.append(screen.region(graph))
    check("the two pictures show different segments", len(pictures) == 2 and pictures[0] != pictures[1])


def main():
    build = build_dir()
    exe = pelnor_exe(build)
    if not os.path.isfile(exe):
        raise SystemExit(f"{exe} is not built")
    # Kept until the next run, for a look at what the tour saw.
    shots = os.path.join(build, "testrun", "tour_check.py", "tour")
    shutil.rmtree(shots, ignore_errors=True)
    folder = os.path.join(shots, "sample")
    sample = os.path.join(folder, "sample.wav")
    code, _ = output([sys.executable, os.path.join(ROOT, "tools", "make-sample-wav.py"), sample])
    check("sample written", code == 0)
    code, printed = output([tool("xrun"), "--build", build, "--xvfb", "--",
                            os.path.join(ROOT, "tools", "tour.py"), exe, sample, shots], timeout=240)
    print(printed, end="", flush=True)
    check("the tour went through", code == 0, f"(exit code {code}; pictures in {shots})")
    pieces_hold_the_sample(folder, printed)
    screenshots_show_the_graph(shots, printed)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
