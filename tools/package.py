#!/usr/bin/env python3
"""package: the download for Windows, from the programs of two build folders:

    tools/package.py X86_BUILD X64_BUILD DIST_DIR

writes DIST_DIR/pelnor-VERSION-windows.zip holding x86/pelnor.exe,
x64/pelnor.exe and README.txt (tools/windows-readme.txt, as Windows
editors read it best: UTF-8 with a byte-order mark, CRLF line ends), and
prints its path. VERSION is the project version (project() in
CMakeLists.txt) that both folders were configured with. The zip is
written under a temporary name first, so a failed run leaves no
half-written download.
"""
import os
import re
import sys
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
README = os.path.join(ROOT, "tools", "windows-readme.txt")
PROGRAMS = ("x86/pelnor.exe", "x64/pelnor.exe")
CONTENTS = PROGRAMS + ("README.txt",)


def version(build):
    """The project version the build folder was configured with; None when unknown."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            found = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(\S+)$", f.read(), re.M)
    except OSError:
        return None
    return found.group(1) if found else None


def readme_text():
    with open(README, encoding="utf-8") as f:
        return "\ufeff" + f.read().replace("\n", "\r\n")


def package(x86_build, x64_build, dist):
    """The zip's path; SystemExit with the reason when the builds do not make one."""
    versions = {version(build) for build in (x86_build, x64_build)}
    if len(versions) != 1 or None in versions:
        raise SystemExit(f"package: the two build folders give no one project version ({versions});"
                         " configure both again")
    exes = [os.path.join(build, "pelnor.exe") for build in (x86_build, x64_build)]
    for exe in exes:
        if not os.path.isfile(exe):
            raise SystemExit(f"package: {exe} is not built")
    os.makedirs(dist, exist_ok=True)
    path = os.path.join(dist, f"pelnor-{versions.pop()}-windows.zip")
    partial = path + ".partial"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
        for name, exe in zip(PROGRAMS, exes):
            z.write(exe, name)
        z.writestr("README.txt", readme_text().encode("utf-8"))
    os.replace(partial, path)
    return path


def main():
    if len(sys.argv) != 4:
        print("usage: " + __doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    print(package(*sys.argv[1:]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
