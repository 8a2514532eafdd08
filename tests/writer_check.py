#!/usr/bin/env python3
"""Reads the writer's output files with readers of its own (Python's wave
module, and sox when installed) and compares every sample with the source
range; then makes the output's writes really fail under a file-size limit
and checks the messages and that the header describes what is in the file.

usage: writer_check.py [WRITER_TEST_EXE]
Without an argument the exe is writer_test.exe in PELNOR_BUILD_DIR.
The exe runs through PELNOR_WINERUN (a command, split on blanks; default
"wine") with the environment given to this script."""

import os
import resource
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import wave

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAIL:", what)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_exe(exe, test, env_extra, size_limit=None):
    command = shlex.split(os.environ.get("PELNOR_WINERUN", "wine"))
    if size_limit is not None:
        # winerun keeps the program's output in files, which the size limit
        # would cut; run wine itself in the same prefix, writing to our pipe.
        common = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "wine-common.sh")
        build = os.environ.get("PELNOR_BUILD_DIR", os.path.dirname(os.path.abspath(exe)))
        command = ["bash", "-c", 'source "$1"; pelnor_wine_env "$2" null; unset DISPLAY; '
                   'pelnor_prefix_ensure null; shift 2; exec wine "$@"', "wine", common, build]
    env = dict(os.environ)
    env.update(env_extra)

    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size_limit, size_limit))

    # A pipe, not a file, so that the size limit does not cut the log; the
    # prefix's own processes may hold the pipe open, so stop reading once
    # the exe has ended.
    chunks = []
    process = subprocess.Popen(command + [exe, "--gtest_filter=Writer." + test],
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               preexec_fn=limit if size_limit is not None else None)
    reader = threading.Thread(target=lambda: chunks.extend(iter(lambda: process.stdout.read1(65536), b"")),
                              daemon=True)
    reader.start()
    returncode = process.wait(timeout=300)
    reader.join(timeout=2)
    output = b"".join(chunks).decode("utf-8", "replace")
    if returncode != 0 or "[  PASSED  ] 1 test" not in output:
        print(output)
    check(returncode == 0, "%s exited with %d" % (test, returncode))
    lines = [line.rstrip("\r") for line in output.splitlines()]
    return ([line[4:] for line in lines if line.startswith("BOX:")],
            [line[7:] for line in lines if line.startswith("FORMAT:")])


def frames_of(path):
    with wave.open(path, "rb") as w:
        return w.getparams(), w.readframes(w.getnframes())


def sox_raw(path):
    return subprocess.run(["sox", path, "-t", "raw", "-"], stdout=subprocess.PIPE,
                          check=True).stdout


def check_outputs(exe, folder):
    run_exe(exe, "LeaveOutputsForIndependentCheck", {"PELNOR_WRITER_OUTDIR": windows_path(folder)})
    expected = {}
    order = []
    with open(os.path.join(folder, "manifest.txt")) as manifest:
        for line in manifest:
            out, source, first, count = line.split()
            params, frames = frames_of(os.path.join(folder, source))
            width = params.nchannels * params.sampwidth
            piece = frames[int(first) * width:(int(first) + int(count)) * width]
            if out not in expected:
                order.append(out)
                expected[out] = (params, b"")
            expected[out] = (params, expected[out][1] + piece)
    check(len(order) >= 5, "manifest lists the outputs")
    have_sox = shutil.which("sox") is not None
    for out in order:
        params, samples = expected[out]
        path = os.path.join(folder, out)
        got_params, got = frames_of(path)
        check(got_params[:3] == params[:3], "%s: format %s, source %s" % (out, got_params, params))
        check(got == samples, "%s: %d sample bytes differ from the source's %d"
              % (out, len(got), len(samples)))
        check(len(samples) > 0, "%s: range not empty" % out)
        with open(path, "rb") as f:
            data = f.read()
        pad = len(samples) & 1
        check(len(data) == 44 + len(samples) + pad, "%s: canonical length" % out)
        check(struct.unpack("<I", data[4:8])[0] == 36 + len(samples) + pad, "%s: RIFF size" % out)
        if have_sox and params.sampwidth > 1:
            # sox gives 8-bit data signed; wider samples come out as stored
            check(sox_raw(path) == samples, "%s: sox reads other samples" % out)
    print("checked %d outputs%s" % (len(order), " with sox" if have_sox else ""))


def riff_header(channels, rate, bits, data_size):
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits)
    return (b"RIFF" + struct.pack("<I", 36 + data_size + (data_size & 1)) + b"WAVE" +
            b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", data_size))


def make_wav(path, channels, rate, bits, samples):
    with open(path, "wb") as f:
        f.write(riff_header(channels, rate, bits, len(samples)) + samples)
        if len(samples) & 1:
            f.write(b"\0")


def pattern(n, seed):
    out = bytearray(n)
    x = seed
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def check_full_disk(exe, folder):
    stereo = pattern(176400, 3)          # one second of 44.1 kHz 16-bit stereo
    mono8 = pattern(22050, 4)            # one second of 22.05 kHz 8-bit mono
    make_wav(os.path.join(folder, "stereo.wav"), 2, 44100, 16, stereo)
    make_wav(os.path.join(folder, "mono8.wav"), 1, 22050, 8, mono8)
    existing = pattern(4000, 5)
    odd = pattern(1001, 6)
    disk_error = "Disk full or Disk I/O error"
    # (what, source, existing output, mode, limit, message, expected data or None)
    cases = [
        ("no room for the RIFF header", "stereo.wav", None, "create", 8,
         "RIFFチャンクが作成できません", None),
        ("no room for the fmt header", "stereo.wav", None, "create", 16,
         "FMTチャンクが作成できません", None),
        ("no room for the fmt record", "stereo.wav", None, "create", 30, disk_error, None),
        ("no room for the data header", "stereo.wav", None, "create", 40,
         "データチャンクを作成できません", None),
        ("no room for any sample", "stereo.wav", None, "create", 44, disk_error, b""),
        ("full in the second piece", "stereo.wav", None, "create", 150000, disk_error,
         stereo[:149956]),
        ("full in the first piece", "stereo.wav", None, "create", 100002, disk_error,
         stereo[:99956]),
        ("odd count cut to even", "mono8.wav", None, "create", 20045, disk_error,
         mono8[:20000]),
        ("append, full at once", "stereo.wav", (2, 44100, 16, existing), "append", 4044,
         disk_error, existing),
        ("append, full part-way", "stereo.wav", (2, 44100, 16, existing), "append", 54044,
         disk_error, existing + stereo[:50000]),
        ("append after a pad byte", "mono8.wav", (1, 22050, 8, odd), "append", 1046,
         disk_error, odd + mono8[:1]),
        ("no room for the pad byte", "mono8.wav", (1, 22050, 8, odd), "append", 44 + 1001 + 22050,
         disk_error, odd + mono8[:-1]),
        ("append with room enough", "mono8.wav", (1, 22050, 8, odd), "append", 1 << 20,
         None, odd + mono8),
    ]
    # refusals before the data chunk exists keep the format block
    format_kept = {"no room for the RIFF header", "no room for the fmt header",
                   "no room for the fmt record"}
    for what, source, before, mode, size_limit, message, data in cases:
        output = os.path.join(folder, "full.wav")
        if os.path.exists(output):
            os.remove(output)
        if before:
            make_wav(output, *before)
        boxes, format_state = run_exe(exe, "WriteUnderFileSizeLimit", {
            "PELNOR_FULLDISK_SOURCE": windows_path(os.path.join(folder, source)),
            "PELNOR_FULLDISK_OUTPUT": windows_path(output),
            "PELNOR_FULLDISK_MODE": mode}, size_limit)
        check(boxes == ([message] if message else []), "%s: boxes %r" % (what, boxes))
        check(format_state == ["kept" if what in format_kept else "released"],
              "%s: format block %r" % (what, format_state))
        if data is None:
            check(not os.path.exists(output), "%s: the output without a header is removed" % what)
            continue
        check(os.path.getsize(output) <= size_limit, "%s: file within the limit" % what)
        try:
            _, got = frames_of(output)
        except (wave.Error, EOFError) as error:
            check(False, "%s: unreadable output: %s" % (what, error))
            continue
        check(got == data, "%s: %d sample bytes in the header, %d expected"
              % (what, len(got), len(data)))
        with open(output, "rb") as f:
            head = f.read(44)
        riff, size = struct.unpack("<4sI", head[:8])
        check(size == 36 + len(data) + (len(data) & 1), "%s: RIFF size %d" % (what, size))
        check(size + 8 <= os.path.getsize(output), "%s: RIFF size within the file" % what)
    print("checked %d full-disk cases" % len(cases))


def main():
    # ctest passes the build folder; a path to the exe itself also works
    where = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("PELNOR_BUILD_DIR", "build")
    exe = os.path.join(where, "writer_test.exe") if os.path.isdir(where) else where
    if not os.path.exists(exe):
        print("no test exe at", exe)
        return 1
    folder = tempfile.mkdtemp(prefix="pelnor-writer-")
    try:
        check_outputs(exe, folder)
        check_full_disk(exe, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    if FAILURES:
        print("%d checks failed" % len(FAILURES))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
