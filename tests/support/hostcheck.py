"""Steps shared by the host checks that run the real program under Wine on
an X display: results, the build's paths, xdotool, waiting, and output
read through a file."""
import contextlib
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

failures = []


def check(what, ok, detail=""):
    print(f"{what}: {'ok' if ok else 'FAILED'} {detail}".rstrip(), flush=True)
    if not ok:
        failures.append(what)


def summary():
    print(f"{len(failures)} failed" if failures else "all passed", flush=True)
    return 1 if failures else 0


def build_dir():
    return os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                           else os.environ.get("PELNOR_BUILD_DIR", os.path.join(ROOT, "build")))


def tool(name):
    """tools/xrun or tools/winerun, as ctest names them."""
    return os.environ.get(f"PELNOR_{name.upper()}") or os.path.join(ROOT, "tools", name)


def pelnor_exe(build):
    return os.environ.get("PELNOR_EXE") or os.path.join(build, "pelnor.exe")


def rerun_in_xvfb(script, build, flag):
    """Runs the check again inside tools/xrun's private Xvfb with `flag` set."""
    env = dict(os.environ, **{flag: "1"})
    return subprocess.run([tool("xrun"), "--build", build, "--xvfb", "--",
                           sys.executable, os.path.abspath(script), build], env=env).returncode


def xdotool(*args, timeout=60):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)


def main_window():
    """The X window of the program's visible main window, "" when none shows."""
    found = xdotool("search", "--sync", "--onlyvisible", "--name", "^PELNOR$").stdout.split()
    return found[0] if found else ""


def wait_for(test, seconds=30, what=""):
    """Polls until test() is true; False when it never was."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if test():
            return True
        time.sleep(0.1)
    if what:
        print(f"waited in vain for {what}", flush=True)
    return False


def exit_code(program, seconds=30):
    try:
        return program.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        return None


@contextlib.contextmanager
def running(exe, **popen):
    """The program under Wine; on leaving, nothing of its prefix outlives the check."""
    program = subprocess.Popen(["wine", exe], **popen)
    try:
        yield program
    finally:
        if program.poll() is None:
            program.kill()
        subprocess.run(["wineserver", "-k"])
        program.wait()


def output(cmd, env=None, timeout=180, stderr=subprocess.DEVNULL):
    """Exit code and output; through a file, since processes that Wine starts
    on the way would hold a pipe open."""
    with tempfile.TemporaryFile("w+") as out:
        code = subprocess.run(cmd, env=env, stdout=out, stderr=stderr, timeout=timeout).returncode
        out.seek(0)
        return code, out.read()
