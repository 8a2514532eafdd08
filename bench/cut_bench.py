#!/usr/bin/env python3
"""Where D cuts while playing, against what the sound server received.

For each program: a private Xvfb, a made-up home with its own PulseAudio
server whose one sink is a null sink (silence played into it throughout),
and the program on the display prefix as scripts/run starts it on a
display (tools/xrun, DISPLAY set, Wine's own choice of sound driver). The source tells its own position in every frame
(left: the frame number's low 16 bits, right: its high bits in steps of
1024, never 0, so that silence reads as no position). While parec records
the sink's monitor, D is pressed (through XTEST, timed to well under a
millisecond) at random moments during a pass and at random moments within
200 ms after a loop wrap (as the sink received it); then the pieces are
saved. For each press: the cut (the saved pieces'
bounds) minus the position the sink was receiving when the key went down,
in ms along what was heard (a cut at the end of a pass is just before the
start of the next), and the dropouts (silence) the sink received since the
playback last started: Wine's clock loses step with the sink at each.

    bench/cut_bench.py [--presses N] [--seed N] [--program EXE]... BUILD...

Without --program: each BUILD's pelnor.exe. With it: those programs, each in
the BUILD of its architecture (its session folder is BUILD/cut-bench).
"""
import argparse
import array
import bisect
import ctypes
import ctypes.util
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from hostcheck import wait_for, xdotool  # noqa: E402

RATE = 44100
SECONDS = 20
FRAMES = RATE * SECONDS
BASE = "cut"
WRAP_WINDOW = 0.2          # s: presses this soon after a wrap
SETTLE = 1.6               # s: after a press, the playback resumed at the cut shows its pass


def now():
    """Wine's performance counter runs on this clock too."""
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def code(n):
    return (n & 0xFFFF) - 32768, 1024 * (1 + (n >> 16))


def decode(left, right):
    if right < 1024 or right % 1024:
        return None
    return ((right // 1024 - 1) << 16) | (left + 32768)


def write_source(path):
    samples = array.array("h")
    for n in range(FRAMES):
        samples.extend(code(n))
    with wave.open(path, "wb") as w:
        w.setparams((2, 2, RATE, 0, "NONE", "not compressed"))
        w.writeframes(samples.tobytes())


def pe_arch(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[60:64], "little")
    return {0x14C: "x86", 0x8664: "x64"}.get(int.from_bytes(head[pe + 4:pe + 6], "little"))


class Recorder:
    """parec on the sink's monitor; every piece read is stamped with the
    time it arrived, so that a frame's time is the earliest any piece
    allows: when the sink received it."""

    def __init__(self, env):
        self.data = bytearray()
        self.arrivals = []            # (time, frames received by then)
        self.times = []
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["parec", "--latency-msec=10", "-d", "bench.monitor", "--format=s16le",
             f"--rate={RATE}", "--channels=2", "--raw"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        fd = self.process.stdout.fileno()
        while True:
            piece = os.read(fd, 1 << 16)
            at = now()
            if not piece:
                return
            with self.lock:
                self.data += piece
                self.arrivals.append((at, len(self.data) // 4))
                self.times.append(at)

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.thread.join(5)

    def save(self, stem, moments):
        """The recording and its times, for a look afterwards."""
        with open(stem + ".raw", "wb") as f:
            f.write(self.data)
        with open(stem + ".json", "w") as f:
            json.dump({"arrivals": self.arrivals, "presses": moments}, f)

    def frames(self):
        with self.lock:
            return len(self.data) // 4

    def position(self, n):
        with self.lock:
            if n < 0 or (n + 1) * 4 > len(self.data):
                return None
            left, right = array.array("h", bytes(self.data[n * 4:n * 4 + 4]))
        return decode(left, right)

    def offset(self, around):
        """The time of frame 0 as the pieces of the 2 s before `around`
        show it (the sink's clock drifts from this one by about 0.2 ms a
        second; a reset may have the sink render a stretch again)."""
        with self.lock:
            if not self.arrivals:
                return around
            low = bisect.bisect_right(self.times, around - 2)
            high = max(bisect.bisect_right(self.times, around), low + 1)
            return min(t - n / RATE for t, n in self.arrivals[low:high])

    def latest(self):
        """(position, time received) of the last frame, or None in silence."""
        n = self.frames() - 1
        pos = self.position(n)
        if pos is None:
            return None
        return pos, self.offset(now()) + n / RATE

    def index(self, when):
        return max(0, round((when - self.offset(when)) * RATE))

    def sampled_since(self, when, step=RATE // 100):
        """(frame, position) every 10 ms from `when` on: cheap enough to
        poll while the program plays on the same two processors."""
        n = self.index(when)
        return [(i, self.position(i)) for i in range(n, self.frames(), step)]

    def silent_since(self, when):
        return all(pos is None for _, pos in self.sampled_since(when))

    def wrap_since(self, when):
        """The last position before the first wrap since `when` (a jump
        back by more than 0.3 s), or None."""
        before = None
        for i, pos in self.sampled_since(when):
            if pos is not None and before is not None and pos < before[1] - 0.3 * RATE:
                last = before[1]
                for n in range(before[0] + 1, i):
                    here = self.position(n)
                    if here is not None and here < last - 0.3 * RATE:
                        break
                    if here is not None:
                        last = here
                return last
            if pos is not None:
                before = (i, pos)
        return None

    def dropouts(self, since, until):
        """Stretches of silence the sink received between two moments, and
        their length in ms."""
        count, frames, before = 0, 0, None
        for n in range(self.index(since), min(self.index(until), self.frames())):
            pos = self.position(n)
            if pos is None:
                frames += 1
                count += before is not None
            before = pos
        return count, frames / RATE * 1000

    def heard_at(self, when):
        """The position the sink received at time `when`, None when the
        sound there is not one steady stream."""
        n = round((when - self.offset(when)) * RATE)
        here, before = self.position(n), self.position(n - 1)
        if here is None or before is None or here != before + 1:
            return None
        return here


def main_window():
    found = xdotool("search", "--onlyvisible", "--name", "^PELNOR$").stdout.split()
    return found[0] if found else ""


class Keyboard:
    """Key presses through the XTEST extension, as xdotool makes them, but
    from this process: the moment a key went down is then known to well
    under a millisecond (a run of xdotool takes 15 to 50 ms here)."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise OSError(f"cannot open display {display}")

    def event(self, name, down):
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(name.encode()))
        before = now()
        self.xtst.XTestFakeKeyEvent(self.display, code, down, 0)
        self.x11.XSync(self.display, 0)
        return before, now()

    def press(self, name):
        """Returns the moment the key went down and how long that took."""
        before, down = self.event(name, 1)
        time.sleep(0.05)
        self.event(name, 0)
        return down, down - before

    def close(self):
        self.x11.XCloseDisplay(self.display)


def wait_sound(rec, seconds=5):
    return wait_for(lambda: rec.latest() is not None, seconds)


def wrap_time(rec, end):
    """When the sink will receive the end of the pass now playing; None
    when it has received nothing for 3 s."""
    if not wait_sound(rec, 3):
        return None
    pos, at = rec.latest() or (end, now())
    return at + (end - pos) / RATE


def drive(rec, keys, presses, rng):
    """Presses D; returns [(moment, the key event's spread, taken back)].
    A cut at or just before the end of a pass leaves a segment too short
    to press in again, or empty (nothing plays): the row above it is
    taken instead (taken back), and the pass then ends at that cut."""
    done = []
    end = FRAMES
    base = now()
    for k in range(presses):
        wrap = wrap_time(rec, end)
        if wrap is None:
            break
        delay = rng.uniform(0.0, 1.0)
        if k % 2 == 1 or base + delay + 0.5 > wrap:
            while wrap is not None and wrap - now() > 0.4:
                time.sleep(min(1.0, wrap - now() - 0.3))
                wrap = wrap_time(rec, end)
            if wrap is None:
                break
            target = wrap + rng.uniform(0.0, WRAP_WINDOW)
        else:
            target = base + delay
        time.sleep(max(0.0, target - now()))
        moment, spread = keys.press("d")
        time.sleep(SETTLE)
        back = rec.silent_since(moment + 0.3) or rec.wrap_since(moment + 0.3) is not None
        if back:
            keys.press("Up")
            seen = now()
            if not wait_for(lambda: rec.wrap_since(seen) is not None, 20):
                break
            end = rec.wrap_since(seen) + 1
        done.append((moment, spread, back))
        base = now()
    return done


def pieces(folder):
    """The saved pieces in list order: (path of divisions, frames, first position)."""
    found = []
    for name in os.listdir(folder):
        stem, ext = os.path.splitext(name)
        if ext.lower() != ".wav" or stem == BASE or not stem.startswith(BASE + "-"):
            continue
        with wave.open(os.path.join(folder, name), "rb") as w:
            n = w.getnframes()
            first = w.readframes(1)
        pos = decode(*array.array("h", first)) if n else None
        found.append((tuple(int(p) for p in stem[len(BASE) + 1:].split("-")), n, pos))
    found.sort()
    return found


def saved(folder, count):
    """The pieces once the save has written them all and nothing grows."""
    sizes = None
    deadline = now() + 60
    while now() < deadline:
        time.sleep(0.5)
        names = [n for n in os.listdir(folder) if n.lower().endswith(".wav") and n != BASE + ".wav"]
        latest = sorted((n, os.path.getsize(os.path.join(folder, n))) for n in names)
        if len(latest) >= count and latest == sizes:
            return pieces(folder)
        sizes = latest
    raise ValueError(f"the save did not write {count} pieces")


def cuts_from(found, taken_back):
    """Each press's cut: the start of the half it made after the row it divided."""
    starts, at = {}, 0
    for path, n, first in found:
        if n and first != at:
            raise ValueError(f"piece {path} starts at {first}, expected {at}")
        for depth in range(len(path) + 1):
            starts.setdefault(path[:depth], at)
        at += n
    if at != FRAMES:
        raise ValueError(f"the pieces hold {at} frames of {FRAMES}")
    cuts, row = [], ()
    for back in taken_back:
        if row + (2,) not in starts:
            raise ValueError(f"no division of row {row}")
        cuts.append(starts[row + (2,)])
        row = row + ((1,) if back else (2,))
    return cuts


def along(cut, heard, start, end):
    """Cut minus heard along the sound as heard: the pass [start, end)
    follows and precedes itself."""
    span = end - start
    return min((cut - heard, cut - heard - span, cut - heard + span), key=abs)


def measure(rec, sounding, moments, cuts):
    """Per press: (into the pass, cut - heard in ms, the key event's
    spread, dropouts since the playback last started), None when the
    sink was not receiving one steady stream at the press."""
    rows, start, end = [], 0, FRAMES
    since = sounding
    for (moment, spread, back), cut in zip(moments, cuts):
        heard = rec.heard_at(moment)
        if heard is None or not start <= heard < end:
            rows.append(None)
        else:
            rows.append(((heard - start) / RATE, along(cut, heard, start, end) / RATE * 1000,
                         spread, rec.dropouts(since, moment)))
        start, end = (start, cut) if back else (cut, end)
        since = moment + 0.3
    return rows


def sound_server(home, run, env):
    log = open(os.path.join(run, "pulseaudio.log"), "w")
    server = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--log-target=stderr",
         "-L", f"module-native-protocol-unix socket={run}/pulse/native auth-anonymous=1",
         "-L", f"module-null-sink sink_name=bench rate={RATE} format=s16le channels=2"],
        env=env, stdout=log, stderr=log)
    ok = wait_for(lambda: subprocess.run(["pactl", "info"], env=env, capture_output=True)
                  .returncode == 0, 15)
    return server, ok


def versions(env):
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    info = subprocess.run(["pactl", "info"], env=env, capture_output=True, text=True).stdout
    server = next((line.split(":", 1)[1].strip() for line in info.splitlines()
                   if line.startswith("Server Version")), "?")
    return wine, server


def open_source(wid, work):
    """Opens the source through the open dialog, by its full name (the
    dialog may start in another folder and complete what is typed)."""
    path = "Z:" + os.path.join(work, BASE + ".wav").replace("/", "\\")
    for _ in range(3):
        xdotool("windowfocus", "--sync", wid)
        xdotool("key", "ctrl+o")
        if not wait_for(lambda: xdotool("search", "--onlyvisible", "--name", "開く").returncode == 0):
            continue
        time.sleep(1.0)
        xdotool("type", "--delay", "60", path)
        time.sleep(0.5)
        xdotool("key", "Return")
        if wait_for(lambda: xdotool("getwindowname", wid).stdout.strip() == f"PELNOR:{BASE}.wav", 10):
            return True
        xdotool("key", "Escape")
        time.sleep(1.0)
    return False


def session(build, exe, presses, rng):
    folder = os.path.join(build, "cut-bench")
    home, run, work = (os.path.join(folder, p) for p in ("home", "run", "work"))
    shutil.rmtree(home, ignore_errors=True)
    shutil.rmtree(work, ignore_errors=True)
    for d in (home, work):
        os.makedirs(d)
    os.makedirs(run, mode=0o700, exist_ok=True)
    write_source(os.path.join(work, BASE + ".wav"))

    read, write = os.pipe()
    with open(os.path.join(folder, "xvfb.log"), "w") as log:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                                stdout=log, stderr=log)
    os.close(write)
    env = {k: v for k, v in os.environ.items() if k not in ("PELNOR_XVFB", "WAYLAND_DISPLAY")}
    number = b""
    while not number.endswith(b"\n"):       # Xvfb fails when the line cannot be written whole
        piece = os.read(read, 16)
        if not piece:
            break
        number += piece
    os.close(read)
    env.update(DISPLAY=":" + number.decode().strip(), HOME=home, XDG_RUNTIME_DIR=run,
               PULSE_SERVER=f"unix:{run}/pulse/native")
    os.environ["DISPLAY"] = env["DISPLAY"]
    server, silence, program, rec, keys = None, None, None, None, None

    def failure(what):
        if xvfb.poll() is not None:
            return f"{what}: the Xvfb on {env['DISPLAY']} ended, see {folder}/xvfb.log"
        shot = os.path.join(folder, "screen.png")
        subprocess.run(["import", "-window", "root", shot], env=env)
        return f"{what}; the screen: {shot}, the program's output: {folder}/program.log"
    xrun = os.path.join(ROOT, "tools", "xrun")
    try:
        server, ok = sound_server(home, run, env)
        if not ok:
            return "the sound server did not start", None
        # A null sink that nothing plays into stops rendering, and catches
        # up in a burst when a stream starts (a sound card keeps time):
        # silence, mixed in unchanged, keeps it going from the start.
        with open("/dev/zero", "rb") as zero:
            silence = subprocess.Popen(["pacat", "--playback", "--raw", "--format=s16le",
                                        f"--rate={RATE}", "--channels=2", "--latency-msec=10",
                                        "-d", "bench"], stdin=zero, env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        log = open(os.path.join(folder, "program.log"), "w")
        program = subprocess.Popen([xrun, "--build", folder, exe], cwd=work, env=env,
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        if not wait_for(lambda: main_window() != "", 120):
            return failure("no main window"), None
        wid = main_window()
        if not open_source(wid, work):
            return failure("the source did not load (no wave-out device?)"), None
        xdotool("windowfocus", "--sync", wid)
        rec = Recorder(env)
        keys = Keyboard(env["DISPLAY"])
        time.sleep(0.5)
        keys.press("p")
        if not wait_sound(rec, 10):
            return failure("nothing reached the sink"), None
        sounding = now()
        moments = drive(rec, keys, presses, rng)
        keys.press("s")
        time.sleep(0.5)
        rec.stop()
        xdotool("key", "ctrl+s")
        found = saved(work, len(moments) + 1)
        rec.save(os.path.join(folder, "record"), moments)
        cuts = cuts_from(found, [m[2] for m in moments])
        return None, (measure(rec, sounding, moments, cuts), versions(env))
    except (ValueError, OSError, wave.Error) as error:
        return f"cannot read the result: {error}", None
    finally:
        if rec and rec.process.poll() is None:
            rec.stop()
        if keys:
            keys.close()
        if program:
            subprocess.run([xrun, "--build", folder, "--", "wineserver", "-k"], env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            program.wait()
        for process in (silence, server):
            if process:
                process.terminate()
                process.wait()
        xvfb.terminate()
        xvfb.wait()


def summary(what, figures):
    if not figures:
        return
    worst = max(figures, key=abs)
    within = sum(-25 <= f <= 25 for f in figures)
    print(f"  {what}: median {statistics.median(figures):+.1f} ms, worst {worst:+.1f} ms, "
          f"within 25 ms: {within} of {len(figures)}")


def report(label, rows, wine, server):
    print(f"{label}: {wine}, PulseAudio {server} null sink, parec --latency-msec=10")
    print("  press  moment          into pass   cut - heard   key event   dropouts before")
    figures, steady = [], []
    for k, row in enumerate(rows, 1):
        if row is None:
            print(f"  {k:5}  (no steady sound at the press)")
            continue
        into, ms, spread, (drops, silence) = row
        what = f"wrap +{into * 1000:3.0f} ms" if into < WRAP_WINDOW else "during pass"
        gaps = f"{drops} ({silence:.0f} ms)" if drops else "none"
        print(f"  {k:5}  {what:14}  {into:7.3f} s  {ms:+9.1f} ms  {spread * 1000:6.1f} ms   {gaps}")
        figures.append(ms)
        if not drops:
            steady.append(ms)
    summary("all presses", figures)
    summary("no dropout since the playback started", steady)
    print(f"  load average {os.getloadavg()[0]:.1f}")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--presses", type=int, default=12)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--program", action="append", default=[])
    parser.add_argument("builds", nargs="+")
    args = parser.parse_args()
    builds = {}
    for build in args.builds:
        with open(os.path.join(build, "pelnor-arch.txt")) as f:
            builds[f.read().strip()] = os.path.abspath(build)
    runs = []
    for exe in args.program or [os.path.join(b, "pelnor.exe") for b in builds.values()]:
        arch = pe_arch(exe)
        if arch not in builds:
            print(f"{exe}: no build folder for {arch} given", file=sys.stderr)
            return 2
        runs.append((arch, builds[arch], os.path.abspath(exe)))
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    print(f"seed {seed}; {args.presses} presses a program; source {SECONDS} s, "
          f"{RATE} Hz 16-bit stereo")
    failed = 0
    for arch, build, exe in runs:
        error, result = session(build, exe, args.presses, random.Random(seed))
        label = f"{arch} {os.path.relpath(exe, ROOT) if exe.startswith(ROOT) else exe}"
        if error:
            print(f"{label}: {error}")
            failed = 1
            continue
        rows, (wine, server) = result
        report(label, rows, wine, server)
    return failed


if __name__ == "__main__":
    sys.exit(main())
