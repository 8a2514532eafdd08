#!/usr/bin/env python3
"""tour: PELNOR's main job on a sample recording, driven as a user would
with keys and the mouse. Meant to run inside tools/xrun on a private Xvfb:

    tools/xrun --build BUILD --xvfb -- tools/tour.py PELNOR.exe SAMPLE.wav SHOTS_DIR

In SAMPLE.wav's folder it starts the program, maximises its window
(Alt+Space, X), opens the sample through the open dialog (Ctrl+O),
takes SHOTS_DIR/screenshot-waveform.png, divides the recording at each
silence between its sounds by right presses in the graph, renumbers the
segments (R), saves them (Ctrl+S), takes SHOTS_DIR/screenshot-segments.png
and ends the program (File > Exit). It prints the screenshots' paths and
the files the save wrote, with their lengths read back by Python's wave.
Exit code 0 when every step was seen to work, else 1, with a picture of
the screen at that moment in SHOTS_DIR/screenshot-failed.png.
"""
import os
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tests", "support"))
from hostcheck import exit_code, running, wait_for, xdotool  # noqa: E402

VIEW_WIDTHS = (256, 512, 1024)   # the only widths the graph takes
WHITE = b"\xff\xff\xff"
SHORTEST_SILENCE = 0.05          # seconds; shorter runs of zeros are not a pause


class Screen:
    """A picture of the X screen, or of a screenshot, as RGB bytes."""

    def __init__(self, png=None):
        command = (["convert", png] if png else ["import", "-window", "root"]) + ["-depth", "8", "rgb:-"]
        self.rgb = subprocess.run(command, capture_output=True, check=True).stdout
        size = (xdotool("getdisplaygeometry").stdout if png is None else subprocess.run(
            ["identify", "-format", "%w", png], capture_output=True, text=True, check=True).stdout)
        self.width = int(size.split()[0])
        self.height = len(self.rgb) // (3 * self.width)

    def row(self, y, x0=0, x1=None):
        x1 = self.width if x1 is None else x1
        return self.rgb[3 * (y * self.width + x0):3 * (y * self.width + x1)]

    def dark_pixels(self, box):
        return sum(1 for value in self.region(box)[::3] if value < 128)

    def region(self, box):
        x, y, w, h = box
        return b"".join(self.row(yy, x, x + w) for yy in range(y, y + h))


def find_graph(screen):
    """The graph window: the lowest white rectangle on the screen that is as
    wide as the graph can be, as (x, y, width, height)."""
    found = None
    for y in range(screen.height - 1, -1, -1):
        line = screen.row(y)
        runs, x = [], 0
        while x < screen.width:
            if line[3 * x:3 * x + 3] == WHITE:
                start = x
                while x < screen.width and line[3 * x:3 * x + 3] == WHITE:
                    x += 1
                runs.append((start, x - start))
            x += 1
        view = next((run for run in runs if run[1] in VIEW_WIDTHS), None)
        if found is None:
            if view:
                found = [view[0], y, view[1], 1]
        elif view and view[0] == found[0] and view[1] == found[2]:
            found[1], found[3] = y, found[3] + 1
        elif found[3] >= 10:
            break
        else:
            found = [view[0], y, view[1], 1] if view else None
    return tuple(found) if found and found[3] >= 10 else None


def frames_of(path):
    with wave.open(path, "rb") as r:
        return r.getparams(), r.readframes(r.getnframes())


def silences(params, data):
    """The pauses between the sounds of a recording, as (first, end) frames:
    runs of silent frames at least SHORTEST_SILENCE long that neither start
    nor end the recording."""
    step = params.nchannels * params.sampwidth
    silent = (b"\x80" if params.sampwidth == 1 else b"\0") * step
    total = len(data) // step
    runs, n = [], 0
    while n < total:
        if data[n * step:(n + 1) * step] == silent:
            first = n
            while n < total and data[n * step:(n + 1) * step] == silent:
                n += 1
            if first > 0 and n < total and n - first >= SHORTEST_SILENCE * params.framerate:
                runs.append((first, n))
        n += 1
    return runs


def press_positions(params, data, width):
    """The x of each right press in the graph, left to right. The graph
    shows the selected segment across its width, a press at x cuts it at
    x / width of its time span, and the second half is then selected and
    shown: so each press lies in the middle of the next pause within what
    is left. Times go through the five decimals the list keeps."""
    start, end = 0.0, float(f"{len(data) / (params.nchannels * params.sampwidth) / params.framerate:.5f}")
    positions = []
    for first, last in silences(params, data):
        middle = (first + last) / 2 / params.framerate
        x = max(1, min(width - 1, round((middle - start) / (end - start) * width)))
        positions.append(x)
        start = float(f"{(end - start) * x / width + start:.5f}")
    return positions


def say(text):
    print(f"tour: {text}", flush=True)


def tour(exe, sample, shots):
    exe = os.path.abspath(exe)           # the program runs in the sample's folder
    folder = os.path.dirname(os.path.abspath(sample))
    title = os.path.basename(sample)
    params, data = frames_of(sample)
    began = time.time()
    shot_wave = os.path.join(os.path.abspath(shots), "screenshot-waveform.png")
    shot_list = os.path.join(os.path.abspath(shots), "screenshot-segments.png")
    shot_failed = os.path.join(os.path.abspath(shots), "screenshot-failed.png")

    def fail(text):
        take(shot_failed)
        say(f"FAILED: {text} (the screen then: {shot_failed})")
        return 1

    with running(exe, cwd=folder) as program:
        # By its process: another program's window must not be taken for it.
        pid = str(program.pid)
        def main_window():
            found = xdotool("search", "--onlyvisible", "--pid", pid, "--name", "^PELNOR$").stdout.split()
            return found[0] if found else None

        wait_for(lambda: main_window() or program.poll() is not None, 60)
        wid = main_window()
        if not wid:
            return fail(f"the main window did not appear (exit code {program.poll()})")

        def keys(*names):
            xdotool("windowfocus", "--sync", wid)
            for name in names:
                xdotool("key", name)
                time.sleep(0.3)

        def menu(opener, item):
            """A menu item by its keys. A key typed before the menu has
            opened is lost, so the item waits; an earlier menu left open
            is closed first."""
            keys("Escape", "Escape", opener)
            time.sleep(0.7)
            xdotool("key", item)

        def windows():
            """The program's visible windows other than the main one (a
            message box, a dialog), by name."""
            found = {}
            for other in xdotool("search", "--onlyvisible", "--pid", pid, "--name", ".").stdout.split():
                name = xdotool("getwindowname", other).stdout.strip()
                if other != wid and name:
                    found[name] = other
            return found

        def boxes():
            return sorted(windows())

        def maximised():
            return (find_graph(Screen()) or (0, 0, 0))[2] == max(VIEW_WIDTHS)

        for _ in range(3):
            menu("alt+space", "x")       # the window menu's Maximise
            if wait_for(maximised, 5):
                break
        graph = find_graph(Screen())
        if not graph:
            return fail("no graph seen in the window")
        say(f"graph at {graph[0]},{graph[1]}, {graph[2]} x {graph[3]} pixels")

        keys("ctrl+o")
        if not wait_for(lambda: {"開く", "Open"} & set(boxes()), what="the open dialog"):
            return fail("the open dialog did not appear")
        time.sleep(0.5)
        caption = f"PELNOR:{title}"
        for _ in range(3):
            dialog = next((w for name, w in windows().items() if name in ("開く", "Open")), None)
            if not dialog:
                break
            # Its file name box has the keyboard; what an earlier try typed
            # there is selected and typed over.
            xdotool("windowfocus", "--sync", dialog)
            xdotool("key", "End", "shift+Home")
            xdotool("type", "--delay", "50", title)
            xdotool("key", "Return")
            if wait_for(lambda: xdotool("getwindowname", wid).stdout.strip() == caption, 10):
                break
        if xdotool("getwindowname", wid).stdout.strip() != caption:
            return fail(f"not loaded; windows: {boxes()}")
        if not wait_for(lambda: Screen().dark_pixels(graph) > graph[2], 10, "the waveform"):
            return fail("the graph stayed empty")
        take(shot_wave)
        say(f"screenshot of the whole recording: {shot_wave}")

        middle = graph[1] + graph[3] // 2
        for x in press_positions(params, data, graph[2]):
            before = Screen().region(graph)
            xdotool("mousemove", str(graph[0] + x), str(middle))
            xdotool("click", "3")
            if not wait_for(lambda: Screen().region(graph) != before, 10, "the graph of the second half"):
                return fail(f"the right press at x {x} changed nothing; windows: {boxes()}")
            if boxes():
                return fail(f"the right press at x {x} showed {boxes()}")
        time.sleep(0.5)
        keys("r")
        keys("ctrl+s")
        pieces = len(silences(params, data)) + 1
        if not wait_for(lambda: len(saved(folder, began)) == pieces, 30, "the saved files"):
            return fail(f"saved {saved(folder, began)}; windows: {boxes()}")
        time.sleep(1.0)          # the save ends with a pause, then the graph is drawn again
        xdotool("mousemove", "0", str(graph[1] - 5))
        time.sleep(0.3)
        take(shot_list)
        say(f"screenshot of the segments: {shot_list}")
        if boxes():
            return fail(f"left open: {boxes()}")

        for _ in range(3):
            menu("alt+f", "x")           # File > Exit
            code = exit_code(program, 10)
            if code is not None:
                break
        if code != 0:
            return fail(f"File > Exit ended the program with {code}")

    for name in saved(folder, began):
        with wave.open(os.path.join(folder, name), "rb") as r:
            frames = r.getnframes()
            say(f"saved {os.path.join(folder, name)}: {frames / r.getframerate():.5f} s ({frames} frames)")
    return 0


def saved(folder, since):
    """The WAV files written since the tour began, complete, in name order."""
    names = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.lower().endswith(".wav") or os.path.getmtime(path) < since:
            continue
        try:
            with wave.open(path, "rb") as r:
                if r.getnframes() * r.getnchannels() * r.getsampwidth() + 44 == os.path.getsize(path):
                    names.append(name)
        except (wave.Error, EOFError):
            pass
    return names


def take(path):
    subprocess.run(["import", "-window", "root", path], check=True)


def main():
    if len(sys.argv) != 4 or not os.environ.get("DISPLAY"):
        print("usage: " + __doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    return tour(*sys.argv[1:])


if __name__ == "__main__":
    sys.exit(main())
