#!/usr/bin/env python3
"""A bounded fuzz campaign with a fixed seed: mutated WAV files go through
open, both graphs, divides, Save and the header repair (fuzz_drive.exe), and
every crash, hang, heap error, source change, write outside the scratch
folder and bad output fails the check."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz"))
import fuzzlib  # noqa: E402

SEED, COUNT = 20261209, 700


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.environ.get("PELNOR_BUILD_DIR", "build"))
    executions, findings, _ = fuzzlib.campaign(build, SEED, COUNT, os.getcwd(), report=lambda s: None)
    for kind, n, text in findings:
        print(f"{kind} at input {n}: {text}")
    print(f"fuzz_check: {executions} executions, {len(findings)} findings")
    return 0 if executions == COUNT and not findings else 1


if __name__ == "__main__":
    sys.exit(main())
