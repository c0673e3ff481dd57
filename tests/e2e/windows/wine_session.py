"""What the Windows end-to-end drivers share: which Wine loader runs the launcher, in which prefix,
with or without a window manager, and a deadline that still cleans up.

The drivers run inside scripts/with-test-env.sh, which provides DISPLAY and boots the prefixes
(each with a persistent wineserver). The window manager is started here, per scenario: players
always have one, and without one Wine waits up to 2 s for a confirmation of every window hide.
"""

import ctypes
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

PR_SET_PDEATHSIG = 1


def wait_until(condition, seconds):
    """Whether the condition held within the time, asked every 50 ms and once more at the end."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def skip_lines(wine_output):
    """The launcher's "movie skipped" lines in what Wine printed with WINEDEBUG=+debugstr, without
    Wine's quoting: the text's backslashes are doubled there, and its line end is written as \\n.
    """
    found = re.findall(r"launcher: movie skipped: .*", wine_output)
    return [line.removesuffix('\\n"').replace("\\\\", "\\") for line in found]


def add_options(parser):
    parser.add_argument("--wine", default="/usr/lib/wine/wine64",
                        help="the Wine loader: wine64 for the x64 build, wine for the 32-bit one")
    parser.add_argument("--prefix", default=os.environ.get("WINEPREFIX"),
                        help="the Wine prefix (default: $WINEPREFIX)")
    parser.add_argument("--window-manager", choices=["openbox", "none"], default="openbox")


def release_left_button(wine):
    """A left button let go after the launcher's window had gone, over no Wine window, stays down
    for Wine's desktop, and it outlives the program: the test environment keeps the desktop up
    between programs. A click on a throwaway Wine window lets it go, so the next scenario's
    launcher doesn't start with the button held."""
    notepad = subprocess.Popen([wine, "notepad.exe"], stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        windows = []
        deadline = time.monotonic() + 15
        while not windows and time.monotonic() < deadline:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "notepad"],
                                   capture_output=True, text=True)
            windows = found.stdout.split()
            time.sleep(0.1)
        if not windows:
            raise RuntimeError("no Notepad window to release the left button on")
        shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", windows[0]],
                               capture_output=True, text=True, check=True).stdout
        values = dict(line.split("=", 1) for line in shell.split())
        x = int(values["X"]) + int(values["WIDTH"]) // 2
        y = int(values["Y"]) + int(values["HEIGHT"]) // 2
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)
        time.sleep(0.3)
    finally:
        notepad.kill()
        notepad.wait()


class Deadline(Exception):
    pass


def begin(options, seconds):
    """Sets the environment up for the Wine programs; fails the run after `seconds`, before the
    test's own timeout kills the driver without its clean-up."""
    if not os.environ.get("DISPLAY"):
        sys.exit("DISPLAY is not set: run inside scripts/with-test-env.sh")
    if not options.prefix or not os.path.isfile(os.path.join(options.prefix, "system.reg")):
        sys.exit(f"no booted Wine prefix at {options.prefix!r}: "
                 "run inside scripts/with-test-env.sh")
    os.environ["WINEPREFIX"] = options.prefix

    def expire(*_):
        raise Deadline(f"still running after {seconds} s")

    signal.signal(signal.SIGALRM, expire)
    signal.alarm(seconds)


def _die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class WindowManager:
    """openbox on the display for the scenario's length, or nothing for "none"."""

    def __init__(self, kind):
        self.kind = kind
        self.process = None

    def __enter__(self):
        if self.kind == "none":
            return self
        with tempfile.TemporaryDirectory() as folder:
            ready = os.path.join(folder, "ready")
            # Ends with the driver, even when the driver is killed.
            self.process = subprocess.Popen(
                ["openbox", "--sm-disable", "--startup", f"touch {ready}"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
            deadline = time.monotonic() + 15
            while not os.path.exists(ready):
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.__exit__()
                    raise RuntimeError("openbox did not start")
                time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return False
