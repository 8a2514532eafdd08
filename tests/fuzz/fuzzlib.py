"""The fuzz campaign: seed files, a mutator, the run of fuzz_drive.exe over
batches of inputs, and the checks of what each input left behind.

Input n of seed s is made by random.Random("s:n") alone, so any input can
be made again from its two numbers (`scripts/fuzz --seed s --show n`).
Run as a program by scripts/fuzz: BUILD SEED COUNT WORK [SHOW]."""
import io
import os
import random
import shlex
import shutil
import struct
import subprocess
import sys
import time
import wave

BATCH = 200
KINDS = ("crash", "hang", "heap", "source", "repair", "outside", "output")


def chunk(cid, payload, size=None):
    """A chunk with its pad byte; size overrides the size field."""
    size = len(payload) if size is None else size
    return cid + struct.pack("<I", size) + payload + b"\0" * (len(payload) & 1)


def fmt(channels, rate, bits, tag=1, extra=b""):
    block = channels * ((bits + 7) // 8)
    return struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits) + extra


def riff(chunks, size=None, form=b"WAVE"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def samples(rng, n):
    return rng.randbytes(n)


def seeds():
    """Valid files of each depth and channel count, extra chunks, odd sizes,
    the extensible format, and RIFF size 0 in each layout the repair knows."""
    rng = random.Random(1)
    out = []
    for bits in (8, 16, 24, 32, 12):
        for channels in (1, 2, 3, 6, 8):
            rate = rng.choice((8000, 11025, 22050, 44100, 48000))
            block = channels * ((bits + 7) // 8)
            out.append(riff([chunk(b"fmt ", fmt(channels, rate, bits)),
                             chunk(b"data", samples(rng, block * rng.randrange(1, 700)))]))
    data = samples(rng, 1001)
    f16, f18, f17 = fmt(1, 8000, 8), fmt(1, 8000, 8, extra=b"\0\0"), fmt(1, 8000, 8, extra=b"\0")
    fact4, fact5 = chunk(b"fact", b"\x10\x27\0\0"), chunk(b"fact", b"\x10\x27\0\0\0")
    lst = chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 5) + b"hello\0")
    junk = chunk(b"junk", b"\0" * 7)
    layouts = [[chunk(b"fmt ", f16)], [chunk(b"fmt ", f18), fact4], [chunk(b"fmt ", f16), fact5],
               [chunk(b"fmt ", f17)], [chunk(b"fmt ", f18), chunk(b"fact", b"", 0)]]
    for head in layouts:
        out.append(riff(head + [chunk(b"data", data)]))
        out.append(riff(head + [chunk(b"data", data, 0)], size=0))
        out.append(riff(head + [chunk(b"data", data, 0), lst], size=0))
        out.append(riff(head + [chunk(b"data", data)], size=0))
    out.append(riff([chunk(b"fmt ", f16), lst, junk, chunk(b"data", data), lst]))
    out.append(riff([chunk(b"fmt ", fmt(2, 44100, 16)), chunk(b"data", samples(rng, 4001))]))
    ext = fmt(2, 44100, 16, tag=0xFFFE, extra=struct.pack("<HHI", 22, 16, 3) + b"\1\0\0\0" * 4)
    out.append(riff([chunk(b"fmt ", ext), chunk(b"data", samples(rng, 4000))]))
    out.append(riff([chunk(b"data", data), chunk(b"fmt ", f16)]))
    return out


def walk(data):
    """(offset of the size field, id) of every chunk at the top level."""
    found, pos = [], 12
    while pos + 8 <= len(data):
        size = struct.unpack_from("<I", data, pos + 4)[0]
        found.append((pos + 4, data[pos:pos + 4]))
        pos += 8 + size + (size & 1)
    return found


def mutate(data, rng):
    """One to three of: byte flips; a size field set to an edge value; the
    file cut at a header offset; a chunk duplicated or two swapped; a fmt
    field set to an edge value."""
    data = bytearray(data)
    for _ in range(rng.randrange(1, 4)):
        sizes = [4] + [off for off, _ in walk(data)]
        kind = rng.randrange(6)
        if kind == 0 and data:
            for _ in range(rng.randrange(1, 5)):
                at = rng.randrange(min(len(data), rng.choice((64, len(data)))))
                data[at] ^= 1 << rng.randrange(8) if rng.random() < 0.5 else rng.randrange(256)
        elif kind == 1 and len(data) >= 8:
            at = rng.choice([off for off in sizes if off + 4 <= len(data)])
            old = struct.unpack_from("<I", data, at)[0]
            new = rng.choice((0, 0xFFFFFFFF, 0x7FFFFFFF, old + 1, old - 1,
                              len(data) + rng.randrange(1, 4096)))
            struct.pack_into("<I", data, at, new & 0xFFFFFFFF)
        elif kind == 2:
            del data[rng.randrange(min(len(data), 80) + 1):]
        elif kind in (3, 4):
            spans = []
            for off, _ in walk(data):
                size = struct.unpack_from("<I", data, off)[0]
                end = off + 4 + size + (size & 1)
                if end <= len(data):
                    spans.append((off - 4, end))
            if len(spans) >= 2 or (spans and kind == 3):
                a, b = sorted(rng.sample(spans, 2)) if kind == 4 else (rng.choice(spans),) * 2
                pieces = bytes(data[a[0]:a[1]]), bytes(data[b[0]:b[1]])
                if kind == 3:
                    data[a[1]:a[1]] = pieces[0]
                elif a[1] <= b[0]:
                    data[a[0]:b[1]] = pieces[1] + data[a[1]:b[0]] + pieces[0]
        elif kind == 5 and len(data) >= 36:
            field, width = rng.choice(((22, 2), (24, 4), (28, 4), (32, 2), (34, 2)))
            value = rng.choice((0, 1, 3, 7, 9, 33, 48, 255, 0xFFFF, 0xFFFFFFFF, 661500000))
            data[field:field + width] = (value & ((1 << 8 * width) - 1)).to_bytes(width, "little")
    return bytes(data)


def make_input(seed, n, corpus):
    rng = random.Random(f"{seed}:{n}")
    return mutate(corpus[rng.randrange(len(corpus))], rng)


def fmt_fields(data):
    """(channels, rate, byte rate, block align, bits) of the first fmt chunk."""
    for off, cid in walk(data):
        if cid == b"fmt " and off + 20 <= len(data):
            return struct.unpack_from("<HIIHH", data, off + 6)
    return None


def size_field_ok(before, after, changed):
    """An accepted repair touches only the RIFF size and a data size, the 4
    bytes after an id "data" that is still there."""
    data_fields = {q for q in range(4, len(before) - 3)
                   if before[q - 4:q] == b"data" and after[q - 4:q] == b"data"}
    return all(4 <= at < 8 or any(q <= at < q + 4 for q in data_fields) for at in changed)


def output_fault(path):
    """Why an output file is not a proper WAV file, or None."""
    data = open(path, "rb").read()
    if len(data) < 44 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return "no RIFF WAVE header"
    if struct.unpack_from("<I", data, 4)[0] != len(data) - 8:
        return f"RIFF size {struct.unpack_from('<I', data, 4)[0]} in a file of {len(data)} bytes"
    for off, cid in walk(data):
        if cid == b"data":
            size = struct.unpack_from("<I", data, off)[0]
            if off + 4 + size + (size & 1) != len(data):
                return f"data size {size} ends elsewhere than the file ({len(data)} bytes)"
    try:
        with wave.open(io.BytesIO(data)) as w:
            frames = w.getnframes()
            if len(w.readframes(frames)) != frames * w.getnchannels() * w.getsampwidth():
                return "frames short"
    except (wave.Error, EOFError, struct.error) as e:
        return f"wave refuses it: {e}"
    return None


def trailing_chunk(data, start):
    """Offset of a chunk after start whose id and size are well formed and
    that ends exactly at the end of the file, or None."""
    for at in range(start, len(data) - 7):
        size = struct.unpack_from("<I", data, at + 4)[0]
        if all(32 <= c < 127 for c in data[at:at + 4]) and at + 8 + size + (size & 1) == len(data):
            return at
    return None


def repair_fault(before, after, allowed):
    """What is wrong with a file after a repair (allowed: a repair was
    accepted and reported success), or None. A repair changes only the
    size fields, keeps a data size that fits in the file, and never makes
    a trailing chunk into samples."""
    changed = [i for i in range(min(len(after), len(before))) if after[i] != before[i]]
    if len(after) != len(before) or (changed and not (allowed and size_field_ok(before, after, changed))):
        return f"changed at {changed[:12]}"
    for off, cid in walk(before):
        if cid == b"data" and changed:
            old, new = struct.unpack_from("<I", before, off)[0], struct.unpack_from("<I", after, off)[0]
            if old and off + 4 + old <= len(before) and new != old:
                return f"data size {old}, which fits in the file, replaced by {new}"
            tail = trailing_chunk(before, off + 4)
            if tail is not None and new != old and off + 4 + new > tail:
                return f"data size {new} takes in the trailing chunk at {tail}"
            break
    return None


def check_input(root, n, data, end):
    """Findings (kind, text) of one finished input; removes its files."""
    folder, copy = os.path.join(root, f"{n:06d}"), os.path.join(root, f"{n:06d}.rep")
    fields = dict(item.split("=") for item in end.split()[2:])
    found = []
    if fields.get("heap") != "1":
        found.append(("heap", "a process heap fails HeapValidate"))
    fault = repair_fault(data, open(os.path.join(folder, "src.wav"), "rb").read(), fields["accepted"] == "1")
    if fault:
        found.append(("source", f"source {fault} (repair accepted: {fields['accepted']})"))
    fault = repair_fault(data, open(copy, "rb").read(), fields["repair"] == "0")
    if fault:
        found.append(("repair", f"copy {fault} (repair result {fields['repair']})"))
    for name in sorted(os.listdir(folder)):
        if name != "src.wav":
            fault = output_fault(os.path.join(folder, name))
            if fault:
                found.append(("output", f"{name}: {fault}"))
    shutil.rmtree(folder)
    os.remove(copy)
    return found


def run_batch(command, log, root, first, last, inputs, findings, boxes):
    """Runs fuzz_drive over inputs first..last; a crash or hang ends the
    process, and the run goes on after that input. Returns executions."""
    done, start = 0, first
    while start <= last:
        open(log, "w").close()
        process = subprocess.Popen(command + [wine_path(log), wine_path(root), str(start), str(last)],
                                   cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            process.wait(timeout=120 + 5 * (last - start + 1))
        except subprocess.TimeoutExpired:
            process.terminate()         # winerun ends the Windows process it started
            process.wait()
        current, ended = None, start - 1
        for line in open(log, encoding="utf-8", errors="replace"):
            word, n, *rest = line.rstrip("\n").split(" ", 2) + ["", ""]
            if not n.lstrip("-").isdigit():
                continue
            n = int(n)
            if word == "RUN":
                current = n
            elif word == "BOX":
                boxes[rest[0]] = boxes.get(rest[0], 0) + 1
            elif word == "END":
                done += 1
                ended = n
                for kind, text in check_input(root, n, inputs[n], line):
                    findings.append((kind, n, text))
                current = None
        if ended >= last:
            break
        lost = current if current is not None else ended + 1
        text = open(log).read().splitlines()[-1] if os.path.getsize(log) else ""
        kind = "hang" if text.startswith("HANG") else "crash"
        findings.append((kind, lost, text or "process ended without a word"))
        done += 1
        shutil.rmtree(os.path.join(root, f"{lost:06d}"), ignore_errors=True)
        if os.path.exists(os.path.join(root, f"{lost:06d}.rep")):
            os.remove(os.path.join(root, f"{lost:06d}.rep"))
        start = lost + 1
    return done


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def campaign(build, seed, count, work, report=print):
    """Runs count inputs of the given seed; returns (executions, findings,
    boxes seen with their counts)."""
    exe = os.path.join(build, "fuzz_drive.exe")
    winerun = os.environ.get("PELNOR_WINERUN", os.path.join(os.path.dirname(__file__), "..", "..",
                                                            "tools", "winerun"))
    command = shlex.split(winerun) + ["--build", build, exe]
    root = os.path.join(work, "scratch")
    for name in os.listdir(work):
        if name.endswith(".wav") and name.split("-")[0] in KINDS:
            os.remove(os.path.join(work, name))
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    corpus, findings, boxes, executions = seeds(), [], {}, 0
    for first in range(0, count, BATCH):
        last = min(first + BATCH, count) - 1
        inputs = {}
        for n in range(first, last + 1):
            inputs[n] = make_input(seed, n, corpus)
            os.makedirs(os.path.join(root, f"{n:06d}"))
            with open(os.path.join(root, f"{n:06d}", "src.wav"), "wb") as f:
                f.write(inputs[n])
        executions += run_batch(command, os.path.join(work, "drive.log"), root, first, last,
                                inputs, findings, boxes)
        stray = os.listdir(root)
        if stray:
            findings.append(("outside", first, f"left in the scratch root: {sorted(stray)[:5]}"))
            shutil.rmtree(root)
            os.makedirs(root)
        for kind, n, text in findings:
            if n >= first and not os.path.exists(os.path.join(work, f"{kind}-{n:06d}.wav")):
                with open(os.path.join(work, f"{kind}-{n:06d}.wav"), "wb") as f:
                    f.write(inputs.get(n, b""))
        report(f"fuzz: {executions} executions; " + ", ".join(
            f"{kind} {sum(1 for k, _, _ in findings if k == kind)}" for kind in KINDS))
    return executions, findings, boxes


def main(build, seed, count, work, show=None):
    if show is not None:
        path = os.path.join(work, f"input-{seed}-{int(show):06d}.wav")
        with open(path, "wb") as f:
            f.write(make_input(seed, int(show), seeds()))
        print(path)
        return 0
    began = time.time()
    executions, findings, boxes = campaign(os.path.abspath(build), seed, int(count), work)
    for kind, n, text in findings:
        print(f"{kind} {n:06d}: {text}")
    print("messages seen:")
    for text, times in sorted(boxes.items(), key=lambda item: -item[1]):
        print(f"  {times:7d}  {text}")
    kinds = [kind for kind, _, _ in findings]
    print(f"seed {seed}: {executions} executions in {time.time() - began:.0f} s; "
          f"crashes {kinds.count('crash')}, hangs {kinds.count('hang')}, "
          f"heap errors {kinds.count('heap')}, source changes {kinds.count('source')}, "
          f"repairs that damaged a copy {kinds.count('repair')}, "
          f"writes outside the scratch folder {kinds.count('outside')}, "
          f"bad outputs {kinds.count('output')}")
    return 0 if not findings else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
