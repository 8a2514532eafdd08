"""Reads the built pelnor.exe without running it (tests/support/peimage.py
says what it must be). scripts/test runs it (label "image") also where the
x86 program cannot run.
    python3 image_check.py BUILD_DIR   (PELNOR_EXE, PELNOR_ARCH from ctest)"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from peimage import check_image  # noqa: E402

results = []


def check(what, ok, detail=""):
    print(f"{what}: {'ok' if ok else 'FAILED'} {detail}".rstrip(), flush=True)
    results.append(bool(ok))


def main(build):
    exe = os.environ.get("PELNOR_EXE") or os.path.join(build, "pelnor.exe")
    with open(exe, "rb") as f:
        check_image(f.read(), os.environ.get("PELNOR_ARCH", "x86"), check)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build"))
