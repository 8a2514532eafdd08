#!/usr/bin/env python3
"""Where the program's sound goes, and who manages its window.

Test runs (tools/winerun, tools/xrun --xvfb) play into ALSA's null device:
a private HOME whose .asoundrc makes the null PCM the default, Wine's ALSA
driver, unmanaged windows. Runs on the user's display (tools/xrun with
$DISPLAY) keep the user's HOME, XDG_RUNTIME_DIR and PULSE_SERVER, leave
Wine's audio driver choice alone, let the window manager manage the window
and never write into the user's home. A private Xvfb and a made-up home
stand in for the user's; when that desktop has no wave-out device (no sound
hardware here), opening a WAV file shows the device query's message. The
display prefix of this check lives in BUILD_DIR/desktop-check, with the
made-up home beside it: Wine links the prefix's Desktop and Documents into
the home it was created with, so neither may be the build folder's own
display prefix nor a home that goes away.

    python3 tests/desktop_check.py [BUILD_DIR]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from hostcheck import (build_dir, check, main_window, output, running, summary,  # noqa: E402
                       tool, wait_for, xdotool)

PROBE = ('echo "HOME $HOME"; echo "XDG ${XDG_RUNTIME_DIR-}"; echo "PULSE ${PULSE_SERVER-}"; '
         'wine reg query "HKCU\\Software\\Wine\\Drivers"; wine reg query "HKCU\\Software\\Wine\\X11 Driver"; '
         'wine "$0" --devices')
# The open's messages for the wave mapper's answers to the format query.
QUERY_MESSAGES = {2: "範囲外のデバイスIDが指定されました。", 4: "他のソフトが再生回路を使っています。",
                  7: "メモリの割り当てができません。", 32: "この形式を再生できるドライバがありません。"}


def probe(cmd, env=None):
    """Environment, Wine driver values and wave-out devices of a session."""
    text = output(cmd, env)[1]
    found = dict(re.findall(r"^(HOME|XDG|PULSE|devices) ?(.*)$", text, re.M))
    found.update(re.findall(r"^\s+(\w+)\s+REG_SZ\s+(.*?)\s*$", text, re.M))
    return found


def open_on_desktop(build, winecheck):
    """Inside the display session: the window is managed, and opening a WAV
    file loads it or, without a device, shows the device query's message."""
    devices, query = map(int, re.findall(r"\d+", output(["wine", winecheck, "--devices"])[1])[:2])
    with tempfile.TemporaryDirectory() as folder:
        with wave.open(os.path.join(folder, "take.wav"), "wb") as w:
            w.setparams((2, 2, 44100, 0, "NONE", "not compressed"))
            w.writeframes(bytes(44100 * 4))
        with running(os.environ["PELNOR_EXE"], cwd=folder,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL):
            wid = main_window()
            check("main window", bool(wid))
            if not wid:
                return
            info = subprocess.run(["xwininfo", "-id", wid], capture_output=True, text=True).stdout
            check("window managed (not override-redirect)", "Override Redirect State: no" in info)
            xdotool("windowfocus", "--sync", wid)
            xdotool("key", "ctrl+o")
            check("open dialog", wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "開く").returncode == 0))
            time.sleep(0.5)
            xdotool("type", "--delay", "50", "take.wav")
            xdotool("key", "Return")
            if devices == 0:
                box = output(["wine", winecheck, "--box", "30"])[1]
                expected = QUERY_MESSAGES.get(query, "音声出力デバイスを開けません。")
                check("no wave-out device: the device query's message", f"text {expected}" in box,
                      f"(query {query}: {box.strip()!r})")
                check("  in a box captioned エラー", "caption エラー" in box)
            else:
                check(f"{devices} wave-out device(s): file loaded", wait_for(
                    lambda: xdotool("getwindowname", wid).stdout.strip() == "PELNOR:take.wav"))


def main():
    build = build_dir()
    winecheck = os.path.join(build, "winecheck.exe")
    if os.environ.get("PELNOR_DESKTOP_INSIDE"):
        open_on_desktop(build, winecheck)
        return summary()
    xrun, winerun = tool("xrun"), tool("winerun")
    os.environ.setdefault("PELNOR_EXE", os.path.join(build, "pelnor.exe"))

    null = probe([winerun, "--build", build, "reg", "query", "HKCU\\Software\\Wine\\Drivers"])
    null.update(probe([winerun, "--build", build, winecheck, "--devices"]))
    xvfb = probe([xrun, "--build", build, "--xvfb", "--", "sh", "-c", PROBE, winecheck])
    with open(os.path.join(build, "wine", "home", ".asoundrc")) as f:
        check("test runs: the private HOME's ALSA default is the null PCM", "type null" in f.read())

    own = "# the user's own ALSA settings\n"
    user = os.path.join(build, "desktop-check")
    home, run = os.path.join(user, "home"), os.path.join(user, "run")
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    os.makedirs(run, mode=0o700, exist_ok=True)
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write(own)
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                               "-nolisten", "tcp"], pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        env = {k: v for k, v in os.environ.items() if k != "PELNOR_XVFB"}
        env.update(DISPLAY=":" + os.read(read, 16).decode().strip(), HOME=home,
                   XDG_RUNTIME_DIR=run, PULSE_SERVER=f"unix:{run}/pulse/native")
        desk = probe([xrun, "--build", user, "--", "sh", "-c", PROBE, winecheck], env)
        expected = [  # session, what it found, value name, expected value
            ("null driver", null, "Audio", "alsa"), ("null driver", null, "devices", "1 query 0"),
            ("private Xvfb", xvfb, "Audio", "alsa"), ("private Xvfb", xvfb, "devices", "1 query 0"),
            ("private Xvfb", xvfb, "HOME", os.path.join(build, "wine", "home")),
            ("private Xvfb", xvfb, "Managed", "N"),
            ("display", desk, "Audio", None), ("display", desk, "Managed", "Y"),
            ("display", desk, "HOME", home), ("display", desk, "XDG", run),
            ("display", desk, "PULSE", env["PULSE_SERVER"])]
        for session, found, name, value in expected:
            check(f"{session}: {name} {value}", found.get(name) == value, f"({found.get(name)!r})")
        print(f"display: wave-out devices {desk.get('devices')}", flush=True)
        env["PELNOR_DESKTOP_INSIDE"] = "1"
        check("display session", subprocess.run(
            [xrun, "--build", user, "--", sys.executable, os.path.abspath(__file__), build],
            env=env, timeout=240).returncode == 0)
        with open(os.path.join(home, ".asoundrc")) as f:
            check("the user's home untouched", os.listdir(home) == [".asoundrc"] and f.read() == own,
                  f"({os.listdir(home)})")
    finally:
        server.terminate()
        server.wait()
    return summary()


if __name__ == "__main__":
    sys.exit(main())
