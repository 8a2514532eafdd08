#!/usr/bin/env python3
"""Checks saved segments independently of the program's own tests: the
source is written with Python's wave module, the program saves the rows
chosen here (through save_test.exe), and every output is read back with
the wave module and compared frame for frame with the source ranges that
the naming rules call for."""
import os
import random
import subprocess
import sys
import wave

RATE, CHANNELS, WIDTH = 11025, 2, 2
BLOCK = CHANNELS * WIDTH
BYTES_PER_SEC = RATE * BLOCK
SECONDS = 3

# name, start, end: runs of one name, erased rows inside and around a run,
# a name that comes back after another, times off block boundaries
ROWS = [
    ("voice-1", "0.00000", "0.33333"),
    ("NUL", "0.33333", "0.50001"),
    ("voice-1", "0.50001", "1.12345"),
    ("voice-2", "1.12345", "1.70000"),
    ("NUL", "1.70000", "2.00000"),
    ("voice-3", "2.00000", "2.25000"),
    ("voice-2", "2.25000", "2.90000"),
    ("voice-2", "2.90000", "3.00000"),
]


def offset(text):
    """Seconds to a byte offset of the sample data, on a block boundary."""
    return int(float(text) * BYTES_PER_SEC) // BLOCK * BLOCK


def expected_files(samples):
    """Output name -> bytes: equal names in succession (erased rows between
    them not counting) append, a name after another name starts anew."""
    files, last = {}, None
    for name, start, end in ROWS:
        if name == "NUL":
            continue
        out = name + ".wav"
        piece = samples[offset(start):offset(end)]
        files[out] = files[out] + piece if out == last else piece
        last = out
    return files


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("PELNOR_BUILD_DIR", "build")
    winerun = os.environ.get("PELNOR_WINERUN",
                             os.path.join(os.path.dirname(__file__), "..", "tools", "winerun"))
    exe = os.path.join(build, "save_test.exe")
    if not os.path.exists(exe):
        print("save_test.exe not built:", exe)
        return 1

    work = os.path.abspath("save_check")
    os.makedirs(work, exist_ok=True)
    for name in os.listdir(work):
        os.remove(os.path.join(work, name))

    rng = random.Random(1234)
    samples = bytes(rng.getrandbits(8) for _ in range(SECONDS * BYTES_PER_SEC))
    source = os.path.join(work, "voice.wav")
    with wave.open(source, "wb") as w:
        w.setnchannels(CHANNELS)
        w.setsampwidth(WIDTH)
        w.setframerate(RATE)
        w.writeframes(samples)

    rows = os.path.join(work, "rows.txt")
    with open(rows, "w", encoding="utf-8") as f:
        f.write(wine_path(source) + "\n")
        for row in ROWS:
            f.write("\t".join(row) + "\n")

    env = dict(os.environ, PELNOR_CHECK_ROWS=wine_path(rows))
    run = subprocess.run([winerun, "--build", build, exe,
                          "--gtest_filter=AppTest.SavesRowsGivenByHostCheck"],
                         env=env, capture_output=True, text=True, timeout=240)
    if run.returncode != 0 or "[  PASSED  ] 1 test" not in run.stdout:
        print(run.stdout, run.stderr)
        print("save_test.exe failed to save")
        return 1

    failures = 0
    expected = expected_files(samples)
    present = sorted(n for n in os.listdir(work) if n not in ("voice.wav", "rows.txt"))
    if present != sorted(expected):
        print("files:", present, "expected:", sorted(expected))
        failures += 1
    if any(n.upper().startswith("NUL") for n in os.listdir(work)):
        print("an erased row was stored")
        failures += 1
    for name, data in sorted(expected.items()):
        path = os.path.join(work, name)
        if not os.path.exists(path):
            continue
        with wave.open(path, "rb") as r:
            params = (r.getnchannels(), r.getsampwidth(), r.getframerate())
            frames = r.readframes(r.getnframes())
        if params != (CHANNELS, WIDTH, RATE):
            print(name, "format", params)
            failures += 1
        if frames != data:
            print(name, "holds", len(frames), "bytes, expected", len(data),
                  "; first difference at",
                  next((i for i, (a, b) in enumerate(zip(frames, data)) if a != b),
                       min(len(frames), len(data))))
            failures += 1
        if os.path.getsize(path) != 44 + len(data):
            print(name, "is not a canonical 44-byte-header file:", os.path.getsize(path))
            failures += 1
        print(name, "ok" if frames == data else "differs", len(data), "bytes")

    with wave.open(source, "rb") as r:
        if r.readframes(r.getnframes()) != samples:
            print("the source changed")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
