#!/usr/bin/env python3
"""Smoke test of the real program on a private X display: its main window
(class "GenericWClass") appears with the caption "PELNOR", File > Exit
typed on the keyboard ends it, and the process exits with code 0. Then
tools/screenshot, the by-hand picture of the window, is taken once.

    python3 tests/smoke_test.py [BUILD_DIR]

Runs itself again inside tools/xrun, which provides the Xvfb, the Wine
prefix with the X11 driver and a private HOME.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from hostcheck import (ROOT, build_dir, check, exit_code, failures, main_window,  # noqa: E402
                       output, pelnor_exe, rerun_in_xvfb, running, summary, tool, xdotool)

# The X11 window carries the process name as its class, not the Win32
# class; a small Windows program looks the window up by its real class.
FINDER_SOURCE = r"""
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    char caption[256];
    int i;

    if (argc < 2)
        return 2;
    for (i = 0; i < 600; i++)
    {
        HWND window = FindWindowA(argv[1], NULL);
        if (window && IsWindowVisible(window))
        {
            GetWindowTextA(window, caption, sizeof(caption));
            printf("%s\n", caption);
            return 0;
        }
        Sleep(100);
    }
    return 1;
}
"""


def build_finder(folder):
    source = os.path.join(folder, "findclass.c")
    exe = os.path.join(folder, "findclass.exe")
    with open(source, "w") as f:
        f.write(FINDER_SOURCE)
    target = "x86_64-w64-mingw32" if os.environ.get("PELNOR_ARCH") == "x64" else "i686-w64-mingw32"
    for compiler in (f"{target}-gcc-posix", f"{target}-gcc"):
        if shutil.which(compiler):
            subprocess.run([compiler, "-O1", "-static", "-o", exe, source], check=True)
            return exe
    raise SystemExit(f"no {target} C compiler found")


def inside(build):
    exe = pelnor_exe(build)
    if not os.path.isfile(exe):
        raise SystemExit(f"{exe} is not built")
    print(f"display {os.environ.get('DISPLAY')}, prefix {os.environ.get('WINEPREFIX')}", flush=True)

    with tempfile.TemporaryDirectory() as folder, running(exe) as program:
        found, caption = output(["wine", build_finder(folder), "GenericWClass"], timeout=90, stderr=None)
        caption = caption.strip()
        check("window of class GenericWClass", found == 0)
        check("its caption", caption == "PELNOR", f"({caption!r})")

        wid = main_window()
        check("window on the display", bool(wid), f"({wid})")
        if wid:
            name = xdotool("getwindowname", wid).stdout.strip()
            check("title read back", name == "PELNOR", f"({name!r})")
            check("window takes the keyboard", xdotool("windowfocus", "--sync", wid).returncode == 0)
            time.sleep(0.3)
            xdotool("key", "alt+f")
            time.sleep(0.5)
            xdotool("key", "x")
        code = exit_code(program)
        check("ended by File > Exit", code == 0, f"(exit code {code})")
    return summary()


def screenshot(build):
    """The picture tools/screenshot takes of the window just started."""
    exe = pelnor_exe(build)
    shooter = os.path.join(ROOT, "tools", "screenshot")
    if not os.path.isfile(shooter):
        print("screenshot: tools/screenshot not present, skipped", flush=True)
        return
    with tempfile.TemporaryDirectory() as folder:
        shot = os.path.join(folder, "shot.png")
        done = subprocess.run([tool("xrun"), "--build", build, "--xvfb", "--", shooter, shot, exe],
                              timeout=240)
        check("screenshot run", done.returncode == 0, f"(exit code {done.returncode})")
        data = open(shot, "rb").read() if os.path.isfile(shot) else b""
        check("screenshot is a PNG", data[:8] == b"\x89PNG\r\n\x1a\n")
        if len(data) >= 24:
            width, height = struct.unpack(">II", data[16:24])
            check("screenshot of the whole screen", (width, height) == (1280, 1024),
                  f"({width} x {height})")


def main():
    build = build_dir()
    if os.environ.get("PELNOR_SMOKE_INSIDE"):
        return inside(build)
    code = rerun_in_xvfb(__file__, build, "PELNOR_SMOKE_INSIDE")
    if code:
        return code
    screenshot(build)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
