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
import subprocess
import sys
import tempfile
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RATE, CHANNELS, WIDTH, SECONDS = 22050, 2, 2, 4

failures = []


def check(what, ok, detail=""):
    print(f"{what}: {'ok' if ok else 'FAILED'} {detail}".rstrip(), flush=True)
    if not ok:
        failures.append(what)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=60)


def wait_for(what, test, seconds=20):
    """Polls until test() is true; False when it never was."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if test():
            return True
        time.sleep(0.1)
    print(f"waited in vain for {what}", flush=True)
    return False


def inside(build):
    exe = os.environ.get("PELNOR_EXE") or os.path.join(build, "pelnor.exe")
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

        program = subprocess.Popen(["wine", exe], cwd=folder)
        try:
            search = xdotool("search", "--sync", "--onlyvisible", "--name", "^PELNOR$")
            wid = search.stdout.split()[0] if search.stdout.split() else ""
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
            dialog = wait_for("the open dialog",
                              lambda: xdotool("search", "--onlyvisible", "--name", "開く|Open").returncode == 0)
            check("open dialog shown", dialog)
            time.sleep(0.5)
            xdotool("type", "--delay", "50", "take.wav")
            xdotool("key", "Return")
            check("file loaded", wait_for("the caption", lambda: title() == "PELNOR:take.wav"),
                  f"({title()!r})")

            keys("p")
            time.sleep(1.0)
            keys("d")            # divide while the sound goes on
            time.sleep(0.5)
            keys("s")
            time.sleep(0.5)
            keys("ctrl+s")
            names = ("take-1.wav", "take-2.wav")
            saved = wait_for("the saved files", lambda: all(
                os.path.exists(os.path.join(folder, n)) for n in names), seconds=30)
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
            try:
                code = program.wait(timeout=30)
            except subprocess.TimeoutExpired:
                code = None
            check("Exit while playing ends with code 0", code == 0, f"(exit code {code})")
        finally:
            if program.poll() is None:
                program.kill()
            subprocess.run(["wineserver", "-k"])
            program.wait()

    print(f"{len(failures)} failed" if failures else "all passed", flush=True)
    return 1 if failures else 0


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                            else os.environ.get("PELNOR_BUILD_DIR", os.path.join(ROOT, "build")))
    if os.environ.get("PELNOR_SESSION_INSIDE"):
        return inside(build)
    env = dict(os.environ, PELNOR_SESSION_INSIDE="1")
    xrun = os.environ.get("PELNOR_XRUN") or os.path.join(ROOT, "tools", "xrun")
    return subprocess.run([xrun, "--build", build, "--xvfb", "--",
                           sys.executable, os.path.abspath(__file__), build], env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
