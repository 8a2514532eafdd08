#!/usr/bin/env python3
"""Checks saved segments independently of the program's own tests: the
source is written with Python's wave module, the program saves the rows
chosen here (through save_test.exe), and every output is read back with
the wave module and sox and compared frame for frame with the source
ranges that the naming rules call for. The rows are saved again from a
source of odd length and from sources whose header was never finished
(sox writing to a pipe, the wave module before close()). A second save
runs on a full disk: a file size limit makes the writes of the first,
large row fail part-way, and the rows after it must still be saved."""
import io
import os
import random
import resource
import signal
import subprocess
import sys
import wave
from writer_check import sox_raw

RATE, CHANNELS, WIDTH = 11025, 2, 2
BLOCK = CHANNELS * WIDTH
BYTES_PER_SEC = RATE * BLOCK
SECONDS = 3

# name, start, end: runs of one name, erased rows inside and around a run,
# a name that comes back after another, times off block boundaries
NORMAL_ROWS = [
    ("voice-1", "0.00000", "0.33333"),
    ("NUL", "0.33333", "0.50001"),
    ("voice-1", "0.50001", "1.12345"),
    ("voice-2", "1.12345", "1.70000"),
    ("NUL", "1.70000", "2.00000"),
    ("voice-3", "2.00000", "2.25000"),
    ("voice-2", "2.25000", "2.90000"),
    ("voice-2", "2.90000", "3.00000"),
]


# with files limited to FULL_DISK_LIMIT bytes the first row cannot be
# written whole; the others fit
FULL_DISK_LIMIT = 30000
FULL_DISK_ROWS = [
    ("long", "0.00000", "1.00000"),
    ("short-1", "1.00000", "1.20000"),
    ("NUL", "1.20000", "2.00000"),
    ("short-2", "2.00000", "2.50000"),
]
DISK_ERROR = "Disk full or Disk I/O error"


def duration(samples):
    return "%.5f" % (len(samples) / BYTES_PER_SEC)


def offset(text, samples):
    """Seconds to a byte offset of the sample data, on a block boundary;
    from the duration on, the end of the data."""
    if float(text) >= float(duration(samples)):
        return len(samples)
    return int(float(text) * BYTES_PER_SEC) // BLOCK * BLOCK


def expected_files(rows, samples):
    """Output name -> bytes: equal names in succession (erased rows between
    them not counting) append, a name after another name starts anew."""
    files, last = {}, None
    for name, start, end in rows:
        if name == "NUL":
            continue
        out = name + ".wav"
        piece = samples[offset(start, samples):offset(end, samples)]
        files[out] = files[out] + piece if out == last else piece
        last = out
    return files


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_save(build, exe, rows_file, size_limit=None):
    """Has save_test.exe save the rows; returns its output and the texts of
    the message boxes it saw. Under a size limit wine runs directly, as the
    wrapper keeps the output in files that the limit would cut."""
    env = dict(os.environ, PELNOR_CHECK_ROWS=wine_path(rows_file))
    tools = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")
    args = [exe, "--gtest_filter=AppTest.SavesRowsGivenByHostCheck"]
    if size_limit is None:
        command = [os.environ.get("PELNOR_WINERUN", os.path.join(tools, "winerun")), "--build", build]
        limit = None
    else:
        command = ["bash", "-c", 'source "$1"; pelnor_wine_env "$2" null; unset DISPLAY; '
                   'pelnor_prefix_ensure null; shift 2; exec wine "$@"', "wine",
                   os.path.join(tools, "wine-common.sh"), os.path.abspath(build)]

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (size_limit, size_limit))
    run = subprocess.run(command + args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         preexec_fn=limit, timeout=240)
    output = run.stdout.decode("utf-8", "replace")
    if run.returncode != 0 or "[  PASSED  ] 1 test" not in output:
        print(output, run.stderr.decode("utf-8", "replace"))
        return None, []
    boxes = [line[4:].rstrip("\r") for line in output.splitlines() if line.startswith("BOX:")]
    return output, boxes


def check_folder(work, expected, cut=None):
    """Compares every output with the expected bytes; cut names a file that
    may hold only a whole-block prefix of them, with a header that covers
    exactly what it holds. Returns the number of failures."""
    failures = 0
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
        try:
            with wave.open(path, "rb") as r:
                params = (r.getnchannels(), r.getsampwidth(), r.getframerate())
                frames = r.readframes(r.getnframes())
        except (wave.Error, EOFError) as error:
            print(name, "is unreadable:", error)
            failures += 1
            continue
        if params != (CHANNELS, WIDTH, RATE) or sox_raw(path) != frames:
            print(name, "format", params, "or sox reads other samples")
            failures += 1
        whole = frames == data
        if name == cut:
            whole = len(frames) < len(data) and len(frames) % BLOCK == 0 and data.startswith(frames)
            data = frames
        if not whole:
            print(name, "holds", len(frames), "bytes, expected", len(data),
                  "; first difference at",
                  next((i for i, (a, b) in enumerate(zip(frames, data)) if a != b),
                       min(len(frames), len(data))))
            failures += 1
        if os.path.getsize(path) != 44 + len(data):
            print(name, "is not a canonical 44-byte-header file:", os.path.getsize(path))
            failures += 1
        print(name, "ok" if whole else "differs", len(data), "bytes")
    return failures


def write_wave(path, samples, announced=0):
    """Without close() the header stays as the wave module first writes it,
    announcing the frames set beforehand whatever comes."""
    buffer = io.BytesIO()
    w = wave.open(buffer, "wb")
    w.setnchannels(CHANNELS)
    w.setsampwidth(WIDTH)
    w.setframerate(RATE)
    w.setnframes(announced)
    w.writeframesraw(samples)
    if not announced:
        w.close()
    with open(path, "wb") as f:
        f.write(buffer.getvalue())
    return samples


def write_sox_pipe(path, _):
    """sox writing to a pipe cannot go back to its header: it claims 0x7FFFF000 bytes."""
    subprocess.run("sox -n -r %d -c %d -b 16 -e signed -t wav - synth 3 sine 440 2>/dev/null | cat > '%s'"
                   % (RATE, CHANNELS, path), shell=True, check=True)
    with open(path, "rb") as f:
        return f.read()[44:]


def save_rows(build, exe, work, samples, rows, size_limit=None, writer=write_wave):
    """Writes the source and the rows into a fresh folder and saves them.
    Returns the samples the source holds, the program's output and boxes."""
    os.makedirs(work, exist_ok=True)
    for name in os.listdir(work):
        os.remove(os.path.join(work, name))
    source = os.path.join(work, "voice.wav")
    samples = writer(source, samples)
    with open(source, "rb") as f:
        before = f.read()
    rows_file = os.path.join(work, "rows.txt")
    with open(rows_file, "w", encoding="utf-8") as f:
        f.write(wine_path(source) + "\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    output, boxes = run_save(build, exe, rows_file, size_limit)
    with open(source, "rb") as f:
        if f.read() != before:
            print("the source changed")
            boxes.append("(source changed)")
    return samples, output, boxes


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("PELNOR_BUILD_DIR", "build")
    exe = os.path.join(build, "save_test.exe")
    if not os.path.exists(exe):
        print("save_test.exe not built:", exe)
        return 1

    rng = random.Random(1234)
    samples = bytes(rng.getrandbits(8) for _ in range(SECONDS * BYTES_PER_SEC))
    failures = 0

    # 7 frames past 3 s: the end reads "3.00063", which by itself comes to 6
    odd = samples + samples[:7 * BLOCK]
    sources = [("save_check", samples, write_wave, NORMAL_ROWS),
               ("save_check_odd", odd, write_wave, NORMAL_ROWS[:-1] + [("voice-2", "2.90000", duration(odd))]),
               ("save_check_sox", None, write_sox_pipe, NORMAL_ROWS),
               ("save_check_unclosed", samples, lambda path, held: write_wave(path, held, 4 * RATE),
                NORMAL_ROWS)]
    for folder, source, writer, rows in sources:
        work = os.path.abspath(folder)
        held, output, boxes = save_rows(build, exe, work, source, rows, writer=writer)
        if output is None:
            print(folder, "save_test.exe failed to save")
            return 1
        ends = [line[4:].rstrip("\r") for line in output.splitlines() if line.startswith("END:")]
        if boxes or ends != [duration(held)]:
            print(folder, "unexpected messages:", boxes, "or the list ends at", ends, "not", duration(held))
            failures += 1
        failures += check_folder(work, expected_files(rows, held))

    work = os.path.abspath("save_check_full")
    _, output, boxes = save_rows(build, exe, work, samples, FULL_DISK_ROWS, FULL_DISK_LIMIT)
    if output is None:
        print("save_test.exe failed on a full disk")
        return 1
    if boxes != [DISK_ERROR]:
        print("messages on a full disk:", boxes, "expected:", [DISK_ERROR])
        failures += 1
    failures += check_folder(work, expected_files(FULL_DISK_ROWS, samples), cut="long.wav")

    # a disk that really fills: the source on a tmpfs with two pages to spare;
    # the rows after the first find no room at all and leave no file behind
    work = os.path.abspath("save_check_tmpfs")
    os.makedirs(work, exist_ok=True)
    pages = -(-(44 + len(samples)) // 4096) + 3        # the source, rows.txt, two spare
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (pages * 4096), "tmpfs", work],
                      stderr=subprocess.DEVNULL).returncode:
        print("real full disk skipped: cannot mount a tmpfs here (needs root)")
    else:
        try:
            held, output, boxes = save_rows(build, exe, work, samples, FULL_DISK_ROWS)
            if boxes != [DISK_ERROR] + ["RIFFチャンクが作成できません"] * 2:
                print("messages on a full tmpfs:", boxes)
                failures += 1
            failures += check_folder(work, {"long.wav": held}, cut="long.wav")
        finally:
            subprocess.run(["umount", "-l", work])
    print("%d failures" % failures if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
