#!/usr/bin/env python3
"""Writes a small PCM WAV file to try PELNOR with.

    tools/make-sample-wav.py OUTPUT.wav [--rate 44100] [--bits 16] [--channels 2]

Default: 3 s, 44.1 kHz, 16-bit stereo. Its parts, so that dividing at the
silences gives three segments:
    0.00-0.80 s  440 Hz tone (right channel 660 Hz)
    0.80-1.20 s  silence
    1.20-2.00 s  rising sweep 300-900 Hz, half level
    2.00-2.40 s  silence
    2.40-3.00 s  880 Hz tone with a fade-out
"""
import argparse
import math
import os
import struct
import sys
import wave

PARTS = [  # (start s, end s, kind)
    (0.00, 0.80, "tone"),
    (0.80, 1.20, "silence"),
    (1.20, 2.00, "sweep"),
    (2.00, 2.40, "silence"),
    (2.40, 3.00, "fade"),
]


def sample_at(t, channel):
    for start, end, kind in PARTS:
        if start <= t < end:
            local = t - start
            length = end - start
            if kind == "silence":
                return 0.0
            if kind == "tone":
                freq = 440.0 if channel == 0 else 660.0
                return 0.6 * math.sin(2 * math.pi * freq * local)
            if kind == "sweep":
                f0, f1 = 300.0, 900.0
                phase = 2 * math.pi * (f0 * local + (f1 - f0) * local * local / (2 * length))
                return 0.3 * math.sin(phase)
            if kind == "fade":
                return 0.6 * (1 - local / length) * math.sin(2 * math.pi * 880.0 * local)
    return 0.0


def encode(value, bits):
    if bits == 8:
        return struct.pack("<B", max(0, min(255, int(round(128 + value * 127)))))
    if bits == 16:
        return struct.pack("<h", int(round(value * 32767)))
    if bits == 24:
        return struct.pack("<i", int(round(value * 8388607)))[:3]
    raise ValueError("bits must be 8, 16 or 24")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--rate", type=int, default=44100)
    parser.add_argument("--bits", type=int, default=16, choices=(8, 16, 24))
    parser.add_argument("--channels", type=int, default=2, choices=(1, 2))
    args = parser.parse_args()

    duration = PARTS[-1][1]
    frames = int(round(duration * args.rate))
    data = bytearray()
    for n in range(frames):
        t = n / args.rate
        for channel in range(args.channels):
            data += encode(sample_at(t, channel), args.bits)

    directory = os.path.dirname(os.path.abspath(args.output))
    os.makedirs(directory, exist_ok=True)
    with wave.open(args.output, "wb") as out:
        out.setnchannels(args.channels)
        out.setsampwidth(args.bits // 8)
        out.setframerate(args.rate)
        out.writeframes(bytes(data))
    print(f"{args.output}: {duration:g} s, {args.rate} Hz, {args.bits}-bit, "
          f"{args.channels} channel(s), {frames} frames")
    return 0


if __name__ == "__main__":
    sys.exit(main())
