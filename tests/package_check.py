#!/usr/bin/env python3
"""The download for Windows as scripts/package makes it (tools/package.py),
from the programs of this build folder and its sibling of the other
architecture (build/ and build-x64/): the zip, named after the configured
project version, holds exactly x86/pelnor.exe, x64/pelnor.exe and
README.txt; each program passes the image checks of its architecture
(tests/support/peimage.py) and is the build's own; README.txt is Japanese
text that Windows editors read (UTF-8 with a byte-order mark, CRLF) and
names both programs and the Windows versions.

    python3 tests/package_check.py [BUILD_DIR]

Where the sibling's program is not built (PELNOR_ARCH chose one), there
is no download to make: the check says so and passes.
"""
import os
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from hostcheck import ROOT, build_dir, check, summary  # noqa: E402
from peimage import check_image  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "tools"))
import package  # noqa: E402


def build_pair(build):
    """The x86 and x64 build folders, from this one and the naming of the pair."""
    if os.environ.get("PELNOR_ARCH") == "x64":
        return (build[:-len("-x64")] if build.endswith("-x64") else None), build
    return build, build + "-x64"


def main():
    builds = build_pair(build_dir())
    if not all(b and os.path.isfile(os.path.join(b, "pelnor.exe")) for b in builds):
        print(f"no download to make: both programs are needed ({builds[0]}, {builds[1]})")
        return 0
    with tempfile.TemporaryDirectory() as dist:
        path = package.package(*builds, dist)
        name = f"pelnor-{package.version(builds[0])}-windows.zip"
        check("named after the project version", os.path.basename(path) == name, f"({os.path.basename(path)})")
        with zipfile.ZipFile(path) as z:
            names = z.namelist()
            check("holds the two programs and README.txt, nothing else",
                  sorted(names) == sorted(package.CONTENTS) and len(names) == len(package.CONTENTS),
                  f"({names})")
            check("every member reads back", z.testzip() is None)
            for member, build in zip(package.PROGRAMS, builds):
                image = z.read(member) if member in names else b""
                arch = member.split("/")[0]
                with open(os.path.join(build, "pelnor.exe"), "rb") as f:
                    check(f"{member} is the build's program", image == f.read())
                if image:
                    check_image(image, arch, check, f"{member}: ")
            raw = z.read("README.txt") if "README.txt" in names else b""
    text = raw.decode("utf-8-sig", errors="replace")
    check("README.txt in UTF-8 with a byte-order mark", raw.startswith(b"\xef\xbb\xbf") and "\ufffd" not in text)
    check("README.txt with CRLF line ends", text.count("\n") > 0 and text.count("\n") == text.count("\r\n"))
    check("README.txt names both programs and the Windows versions",
          all(word in text for word in ("x86\\pelnor.exe", "x64\\pelnor.exe", "Windows 10 バージョン 1903")))
    return summary()


if __name__ == "__main__":
    sys.exit(main())
