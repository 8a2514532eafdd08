#!/usr/bin/env python3
"""A user's session with the real program on a private X display, driven
only by keys: Ctrl+O opens a WAV file through the open dialog, P plays it
on Wine's wave output, D divides it while it plays, S stops, Ctrl+S saves
both halves, P plays again and File > Exit ends the program while it
plays. The saved files are read back with Python's wave module: together
they must hold the source's samples, bit for bit.

    python3 tests/session_test.py [BUILD_DIR]

Runs itself again inside tools/xrun (Xvfb, X11 prefix, ALSA null device).
"""
import os
import random
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from hostcheck import (build_dir, check, exit_code, main_window, pelnor_exe,  # noqa: E402
                       rerun_in_xvfb, running, summary, wait_for, xdotool)

RATE, CHANNELS, WIDTH, SECONDS = 22050, 2, 2, 4


def inside(build):
    exe = pelnor_exe(build)
    if not os.path.isfile(exe):
        raise SystemExit(f"{exe} is not built")

    with tempfile.TemporaryDirectory() as folder:
        rng = random.Random(7)
        samples = bytes(rng.getrandbits(8) for _ in range(RATE * CHANNELS * WIDTH * SECONDS))
        with wave.open(os.path.join(folder, "take.wav"), "wb") as w:
            w.setnchannels(CHANNELS)
            w.setsampwidth(WIDTH)
            w.setframerate(RATE)
            w.writeframes(samples)

        with running(exe, cwd=folder) as program:
            wid = main_window()
            check("main window", bool(wid))
            if not wid:
                return 1

            def title():
                return xdotool("getwindowname", wid).stdout.strip()

            def keys(*names):
                xdotool("windowfocus", "--sync", wid)
                for name in names:
                    xdotool("key", name)
                    time.sleep(0.3)

            keys("ctrl+o")
            dialog = wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "開く|Open").returncode == 0,
                              what="the open dialog")
            check("open dialog shown", dialog)
            time.sleep(0.5)
            xdotool("type", "--delay", "50", "take.wav")
            xdotool("key", "Return")
            check("file loaded", wait_for(lambda: title() == "PELNOR:take.wav", what="the caption"),
                  f"({title()!r})")

            keys("p")
            time.sleep(1.0)
            keys("d")            # divide while the sound goes on
            time.sleep(0.5)
            keys("s")
            time.sleep(0.5)
            keys("ctrl+s")
            names = ("take-1.wav", "take-2.wav")
            saved = wait_for(lambda: all(os.path.exists(os.path.join(folder, n)) for n in names),
                             what="the saved files")
            check("both halves saved", saved, f"({sorted(os.listdir(folder))})")
            time.sleep(1.0)      # the save ends with pauses; let it finish

            if saved:
                joined = b""
                for name in names:
                    with wave.open(os.path.join(folder, name), "rb") as r:
                        check(f"{name} format", (r.getnchannels(), r.getsampwidth(), r.getframerate())
                              == (CHANNELS, WIDTH, RATE))
                        frames = r.readframes(r.getnframes())
                        check(f"{name} not empty", len(frames) > 0, f"({len(frames)} bytes)")
                        joined += frames
                check("halves hold the source bit for bit", joined == samples,
                      f"({len(joined)} of {len(samples)} bytes)")

            keys("p")
            time.sleep(1.0)
            keys("alt+f")
            time.sleep(0.5)
            xdotool("key", "x")
            code = exit_code(program)
            check("Exit while playing ends with code 0", code == 0, f"(exit code {code})")
    return summary()


def main():
    build = build_dir()
    if os.environ.get("PELNOR_SESSION_INSIDE"):
        return inside(build)
    return rerun_in_xvfb(__file__, build, "PELNOR_SESSION_INSIDE")


if __name__ == "__main__":
    sys.exit(main())
