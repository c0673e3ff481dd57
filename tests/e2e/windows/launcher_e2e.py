#!/usr/bin/env python3
"""End-to-end scenarios of the Windows launcher under Wine and Xvfb.

  launcher_e2e.py SCENARIO --launcher EXE --ntleac EXE [--flash DLL]
                  [--wine LOADER] [--prefix WINEPREFIX] [--window-manager openbox|none]

Runs inside scripts/with-test-env.sh (DISPLAY, the prefix and its persistent wineserver are up).
The x64 build runs under wine64, the 32-bit product under wine (wine_session.py); under a window
manager the window must also be gone from the screen within 0.5 s of the game's start.
Each scenario makes a game folder of its own with the launcher, a stand-in ntleac.exe that
records how it was started (ntleac.log), a logo and, for the control scenarios, a stand-in movie
control registered under the Flash control's class id for the scenario's length only.
Set LAUNCHER_E2E_SCREENS to a folder to keep screenshots of the runs.
"""

import argparse
import contextlib
import faulthandler
import functools
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

import wine_session

WINE = "/usr/lib/wine/wine64"  # the loader the run was given
WINDOW_MANAGER = True  # whether the run has one
LAUNCH_COMMAND = 'cmd.exe /c ntleac Game.exe "A-G 123 -B 456" "P0" "C932" "L1041" "T-540" '
LAUNCH_ARGS = ["Game.exe", "A-G 123 -B 456", "P0", "C932", "L1041", "T-540"]
# Wine registers classes for the whole prefix only: HKEY_CURRENT_USER's classes aren't read.
FLASH_KEY = r"HKLM\Software\Classes\CLSID\{D27CDB6E-AE6D-11CF-96B8-444553540000}"
LOGO_COLOUR = (230, 200, 40)
MOVIE_COLOUR = (0, 64, 255)  # what the stand-in control paints


# Launcher runs of this scenario, ended if a failure leaves one running.
STARTED = []


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def png(path, width, height, rgb):
    row = b"\x00" + bytes(rgb) * width
    raw = row * height

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def jpeg(path, width, height):
    result = run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i",
                  f"color=c=red:s={width}x{height}", "-frames:v", "1", "-y", path])
    check(result.returncode == 0, "ffmpeg can't make a JPEG: " + result.stderr)


def run(args, timeout=30):
    """Runs a program to its end. Its output goes through files, not pipes: the first Wine
    program of a session starts Wine's services, which would hold a pipe open for good."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            result = subprocess.run(args, stdout=out, stderr=err, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{args[0]} did not end")
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, result.returncode,
                                           out.read().decode(errors="replace"),
                                           err.read().decode(errors="replace"))


def screenshot(name):
    folder = os.environ.get("LAUNCHER_E2E_SCREENS")
    if folder:
        os.makedirs(folder, exist_ok=True)
        run(["/usr/bin/import", "-window", "root", os.path.join(folder, name + ".png")])


def pixel(x, y):
    """The colour on the screen at (x, y), as (r, g, b)."""
    text = run(["/usr/bin/import", "-silent", "-window", "root", "-crop", f"1x1+{x}+{y}",
                "-depth", "8", "txt:-"]).stdout
    values = text.splitlines()[-1].split("(")[1].split(")")[0].split(",")
    return tuple(int(float(v)) for v in values[:3])


def near(colour, expected, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def shows(x, y, colour, seconds=2):
    """Whether the screen shows the colour at (x, y) within the time: a window manager may place
    or resize the window after it is mapped, and the repaint follows."""
    deadline = time.monotonic() + seconds
    while not near(pixel(x, y), colour):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def hold_key(key):
    run(["xdotool", "keydown", key])
    time.sleep(0.15)
    run(["xdotool", "keyup", key])


def visible_game_windows():
    result = run(["xdotool", "search", "--onlyvisible", "--name", "^Game$"])
    return [line for line in result.stdout.split() if line.strip()]


def geometry(window):
    info = {}
    for line in run(["xwininfo", "-id", window]).stdout.splitlines():
        if ":" in line:
            key, _, value = line.strip().partition(":")
            info[key.strip()] = value.strip()
    return (int(info["Absolute upper-left X"]), int(info["Absolute upper-left Y"]),
            int(info["Width"]), int(info["Height"]))


def screen_size():
    for line in run(["xwininfo", "-root"]).stdout.splitlines():
        if line.strip().startswith("-geometry"):
            size = line.split()[1].split("+")[0]
            width, height = size.split("x")
            return int(width), int(height)
    raise Failure("no screen size")


class WindowWatch:
    """Polls the display while the launcher runs: whether its window was shown, and when it was
    first seen gone afterwards (an upper bound: the poll that saw it gone had ended)."""

    def __init__(self):
        self.shown = False
        self.gone_at = None
        self.stopped = threading.Event()
        self.thread = threading.Thread(target=self.poll, daemon=True)
        self.thread.start()

    def poll(self):
        while not self.stopped.is_set():
            visible = bool(visible_game_windows())
            if visible:
                self.shown, self.gone_at = True, None
            elif self.shown and self.gone_at is None:
                self.gone_at = time.time()
            self.stopped.wait(0.02)

    def stop(self):
        self.stopped.set()
        self.thread.join()


class Game:
    """A game folder with the launcher and the stand-in ntleac, and one run of the launcher."""

    def __init__(self, root, options, folder_name="game"):
        self.folder = os.path.join(root, folder_name)
        os.makedirs(self.folder)
        self.launcher = os.path.join(self.folder, "launcher.exe")
        shutil.copy(options.launcher, self.launcher)
        shutil.copy(options.ntleac, os.path.join(self.folder, "ntleac.exe"))
        self.process = None
        self.watch = None
        self.cwd = self.folder

    def write(self, name, text):
        with open(os.path.join(self.folder, name), "w", newline="") as f:
            f.write(text)

    def start(self, cwd=None, env=None):
        self.cwd = cwd or self.folder
        self.errors = tempfile.TemporaryFile()
        self.process = subprocess.Popen([WINE, self.launcher], cwd=self.cwd, env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.errors)
        STARTED.append(self.process)
        self.watch = WindowWatch()

    def window(self, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            windows = visible_game_windows()
            if windows:
                time.sleep(0.1)  # the first paint
                return windows[0]
            check(self.process.poll() is None, "the launcher ended without showing its window")
            time.sleep(0.05)
        raise Failure("no window named Game was shown")

    def wait(self, timeout=15):
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the launcher did not end")
        self.errors.seek(0)
        check(self.process.returncode == 0, f"the launcher ended with {self.process.returncode}: "
              f"{self.errors.read().decode(errors='replace')}")

    def ended_within(self, seconds):
        try:
            self.process.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def launches(self):
        """The stand-in ntleac's records: waits for the first, then a moment for any other."""
        log = os.path.join(self.cwd, "ntleac.log")
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and not os.path.exists(log):
            time.sleep(0.05)
        check(os.path.exists(log), "ntleac was never started")
        time.sleep(0.4)
        with open(log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def check_one_launch(self):
        records = self.launches()
        check(len(records) == 1, f"ntleac started {len(records)} times")
        record = records[0]
        check(record["argv"][1:] == LAUNCH_ARGS, f"ntleac's arguments: {record['argv']}")
        check(record["parentCommandLine"] == LAUNCH_COMMAND,
              f"cmd.exe's command line: {record['parentCommandLine']!r}")
        check(len(record["parentCommandLine"]) == 72, "the command line is not 72 characters")
        check(not record["consoleVisible"], "ntleac's console window is visible")
        check(record["cwd"].lower() == windows_path(self.cwd).lower(),
              f"ntleac ran in {record['cwd']}, not in the launcher's current folder")
        self.watch.stop()
        if WINDOW_MANAGER and self.watch.shown:
            check(self.watch.gone_at is not None, "the window is still on the screen")
            late = self.watch.gone_at - record["started"] / 1000
            print(f"window gone {late:+.2f} s from the game's start")
            check(late <= 0.5, f"the window left the screen {late:.2f} s after the game's start")
        return record

    def journal(self):
        path = os.path.join(self.cwd, "stand_in_flash.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [line.rstrip("\n") for line in f]


class StandInControl:
    """Registers the stand-in movie control in the prefix; always unregisters."""

    def __init__(self, dll):
        self.dll = dll

    def __enter__(self):
        # COM looks the entry points up by their plain names; a DLL that exports only decorated
        # ones registers fine and then fails every creation, which would pass for a skipped movie.
        table = run(["x86_64-w64-mingw32-objdump", "-p", self.dll]).stdout
        exports = re.findall(r"^\s*\[\s*\d+\] (\S+)$", table, re.MULTILINE)
        missing = {"DllGetClassObject", "DllCanUnloadNow"}.difference(exports)
        if missing:
            raise Failure(f"the stand-in control can't be loaded: {self.dll} doesn't export "
                          f"{', '.join(sorted(missing))} (its exports: {', '.join(exports)})")
        for args in (["/ve", "/d", windows_path(self.dll)],
                     ["/v", "ThreadingModel", "/d", "Apartment"]):
            result = run([WINE, "reg", "add", FLASH_KEY + r"\InprocServer32", *args, "/f"])
            if result.returncode != 0:
                self.__exit__(None, None, None)
                raise Failure("can't register the stand-in control: " + result.stderr)
        return self

    def __exit__(self, *exc):
        run([WINE, "reg", "delete", FLASH_KEY, "/f"])
        return False


class SystemDpi:
    """Sets the prefix's DPI for the scenario's length; always goes back to Wine's default."""

    KEY = r"HKCU\Control Panel\Desktop"

    def __init__(self, dpi):
        self.dpi = dpi

    def __enter__(self):
        result = run([WINE, "reg", "add", self.KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                      str(self.dpi), "/f"])
        if result.returncode != 0:
            self.__exit__(None, None, None)
            raise Failure("can't set the DPI: " + result.stderr)
        return self

    def __exit__(self, *exc):
        run([WINE, "reg", "delete", self.KEY, "/v", "LogPixels", "/f"])
        return False


# ---- scenarios


def windowed(options, root):
    # A folder name in Japanese, with a blank: Unicode paths on a system of any code page.
    game = Game(root, options, "\u30b2\u30fc\u30e0 \u30d5\u30a9\u30eb\u30c0")
    jpeg(os.path.join(game.folder, "logo.jpg"), 400, 300)  # the default logo, no Start.ini
    game.start()
    window = game.window()
    screenshot("windowed")
    x, y, width, height = geometry(window)
    check((width, height) == (400, 300), f"window is {width}x{height}, not the picture's 400x300")
    check(shows(x + 200, y + 150, (254, 0, 0)), "the logo is not shown")
    hold_key("space")  # no OP.swf: the first key closes
    game.wait()
    game.check_one_launch()


def full_screen(options, root):
    game = Game(root, options)
    png(os.path.join(game.folder, "title.png"), 320, 200, (0, 160, 80))
    game.write("Start.ini", "title.png,OP.swf,Game.exe,full\r\n")
    game.start()
    window = game.window()
    screenshot("full_screen")
    x, y, width, height = geometry(window)
    check((x, y, width, height) == (0, 0, *screen_size()),
          f"window at {x},{y} {width}x{height} does not cover the screen")
    # The 320 x 200 picture is stretched over the whole screen.
    check(shows(width - 3, height - 3, (0, 160, 80)), "the logo is not stretched")
    hold_key("space")
    game.wait()
    game.check_one_launch()


def no_logo(options, root):
    game = Game(root, options)
    game.write("Start.ini", "missing.png\r\nOP.swf\r\nOther.exe\r\n\r\n")
    # Started from another folder: ntleac and Game.exe are looked for there.
    elsewhere = os.path.join(root, "elsewhere")
    os.makedirs(elsewhere)
    shutil.copy(options.ntleac, os.path.join(elsewhere, "ntleac.exe"))
    game.start(cwd=elsewhere)
    while game.process.poll() is None:
        check(not visible_game_windows(), "a window was shown without a logo")
        time.sleep(0.02)
    game.wait()
    game.check_one_launch()
    check(not os.path.exists(os.path.join(game.folder, "ntleac.log")),
          "ntleac ran in the application folder")


def broken_logos(options, root):
    # Neither the configured logo nor the default one is a picture: the second run of the logo
    # sequence fails, and the error that no handler traps still ends in the game's start.
    game = Game(root, options)
    game.write("Start.ini", "bad.png,OP.swf,Game.exe,full\r\n")
    game.write("bad.png", "not a picture")
    game.write("logo.jpg", "not a picture either")
    game.start()
    while game.process.poll() is None:
        check(not visible_game_windows(), "a window was shown without a picture")
        time.sleep(0.02)
    check(game.process.returncode == 1, f"exit code {game.process.returncode}, not 1")
    game.errors.seek(0)
    errors = game.errors.read().decode(errors="replace")
    check("launcher: unhandled error in load" in errors, f"no report on stderr: {errors!r}")
    game.check_one_launch()


def system_close(options, root):
    game = Game(root, options)
    png(os.path.join(game.folder, "logo.png"), 200, 150, (200, 40, 40))
    game.write("Start.ini", "logo.png,OP.swf,Game.exe,window\r\n")
    game.start()
    game.window()
    # taskkill without /f asks the process's windows to close (WM_CLOSE).
    result = run([WINE, "taskkill", "/im", "launcher.exe"])
    check(result.returncode == 0, "taskkill failed: " + result.stderr)
    check(game.ended_within(3), "the launcher did not close when asked to")
    game.wait()
    game.check_one_launch()


def control_game(options, root, movie):
    game = Game(root, options)
    png(os.path.join(game.folder, "logo.png"), 400, 300, LOGO_COLOUR)
    game.write("Start.ini", "logo.png,OP.swf,Game.exe,window\r\n")
    game.write("OP.swf", movie)
    return game


def wait_for_journal(game, line, timeout=5):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if any(entry.startswith(line) for entry in game.journal()):
            return
        time.sleep(0.05)
    raise Failure(f"the control never got {line!r}: {game.journal()}")


# SWF movies that are skipped, each with the reason its one line gives: the window closes at the
# next tick as for a movie that ended, the game starts once and the run ends with status 0.
SKIPPED = {
    # No Flash control: the SWF player can't play it either, and no other engine gets it.
    "key_without_control": (False, "not a movie any engine can play",
                            r"Flash control: CoCreateInstance failed: 0x80040154[^;]*; "
                            r"SWF player: not an SWF file \(no FWS or CWS signature\)"),
    # The control refuses the movie with an exception of its own.
    "control_exception": (True, "exception This movie can't be loaded\n",
                          r"Movie failed: 0x80020009.*"
                          r"\(ShockwaveFlash: This movie can't be loaded\)"),
}


def skipped_movie(options, root, scenario):
    registered, movie, reason = SKIPPED[scenario]
    with StandInControl(options.flash) if registered else contextlib.nullcontext():
        game = control_game(options, root, movie)
        # The reason goes to the debugger output, which Wine prints on stderr with +debugstr.
        game.start(env=dict(os.environ, WINEDEBUG="+debugstr"))
        game.window()
        hold_key("space")
        check(game.ended_within(3), "the launcher did not close after the key")
        game.wait()
    game.check_one_launch()
    game.errors.seek(0)
    lines = wine_session.skip_lines(game.errors.read().decode(errors="replace"))
    print("reason:", lines)
    path = windows_path(os.path.join(game.folder, "OP.swf"))
    check(len(lines) == 1 and re.fullmatch(re.escape(f"launcher: movie skipped: {path}: ") + reason,
                                           lines[0]),
          "not one line naming the movie and why it was skipped")
    # A refused movie is not played: the control hears nothing more until its close.
    last = [f"invoke 102 put VT_BYREF|VT_BSTR {path}", CLOSED_SHOWN]
    check(not registered or game.journal()[-2:] == last,
          "the control's last calls:\n  " + "\n  ".join(game.journal()))


# The control's close, its site still where the movie played and shown.
CLOSED_SHOWN = "close site 0 0 400 300 shown"


def check_control_calls(game):
    """The persisted settings, the load and start calls with their argument types, and where the
    site holds the control when it starts: the control hears of no container property."""
    journal = [entry for entry in game.journal() if not entry.startswith("invoke 125")]
    movie = windows_path(os.path.join(game.folder, "OP.swf"))
    expected = [
        "create",
        "persist WMode=Window",
        "persist Quality2=High",
        "persist Scale=ShowAll",
        "persist AllowScriptAccess=always",
        "persist AllowNetworking=all",
        "verb -5",
        "invoke 106 put VT_BOOL false",
        f"invoke 102 put VT_BYREF|VT_BSTR {movie}",
        "site 0 0 400 300 shown",
        "invoke 112 method",
    ]
    check(journal[:len(expected)] == expected,
          "the control's calls:\n  " + "\n  ".join(journal))
    check(any(entry.startswith("invoke 125 get") for entry in game.journal()),
          "Playing was never read")
    return journal[len(expected):]


def start_movie(game, look=False):
    game.start()
    window = game.window()
    x, y, width, height = geometry(window)
    if look:
        check(near(pixel(x + width // 2, y + height // 2), LOGO_COLOUR),
              "the logo is not shown, or the hidden player covers it")
    hold_key("space")
    wait_for_journal(game, "invoke 112 method")
    time.sleep(0.2)
    screenshot("control_playing")
    if look:
        check(near(pixel(x + width // 2, y + height // 2), MOVIE_COLOUR),
              "the playing control does not cover the logo")


def control_escape(options, root):
    with StandInControl(options.flash):
        game = control_game(options, root, "duration 20000\n")
        start_movie(game, look=True)
        check(game.process.poll() is None, "the movie did not go on playing")
        hold_key("Escape")
        check(game.ended_within(3), "Esc did not close the window")
        game.wait()
    rest = check_control_calls(game)
    check(rest == [CLOSED_SHOWN], f"after the start: {rest}")
    game.check_one_launch()


def control_left_click(options, root):
    with StandInControl(options.flash):
        game = control_game(options, root, "duration 20000\n")
        start_movie(game)
        x, y, width, height = geometry(visible_game_windows()[0])
        run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2)])
        run(["xdotool", "mousedown", "1"])
        time.sleep(0.15)
        run(["xdotool", "mouseup", "1"])
        check(game.ended_within(3), "the left button did not close the window")
        game.wait()
    wine_session.release_left_button(WINE)
    check(check_control_calls(game) == [CLOSED_SHOWN], "unexpected calls after the start")
    game.check_one_launch()


def control_close_command(options, root):
    with StandInControl(options.flash):
        game = control_game(options, root,
                            "duration 20000\nfscommand 300 close lower case is ignored\n"
                            "fscommand 600 Close now\n")
        start_movie(game)
        check(game.ended_within(5), "the Close command did not close the window")
        game.wait()
    rest = check_control_calls(game)
    check(rest == ["fire close lower case is ignored", "fire Close now", "invoke 126 method",
                   "close site 0 0 400 300 hidden"],
          f"after the start: {rest}")
    # The tick after the command found the movie stopped.
    check(game.journal()[-2] == "invoke 125 get -> false", "the close was not the tick's")
    game.check_one_launch()


def control_movie_end(options, root):
    with StandInControl(options.flash):
        game = control_game(options, root, "duration 700\n")
        start_movie(game)
        check(game.ended_within(4), "the end of the movie did not close the window")
        game.wait()
    check(check_control_calls(game) == [CLOSED_SHOWN], "unexpected calls after the start")
    check(game.journal()[-2] == "invoke 125 get -> false",
          "the close was not the movie's end:\n  " + "\n  ".join(game.journal()))
    game.check_one_launch()


def high_dpi(options, root):
    # At 150 % a pixel is 10 twips: the window still takes the picture's size in pixels, and so
    # does the control's site.
    with SystemDpi(144), StandInControl(options.flash):
        game = control_game(options, root, "duration 300\n")
        game.start()
        _, _, width, height = geometry(game.window())
        check((width, height) == (400, 300), f"window is {width}x{height} at 144 DPI")
        hold_key("space")
        check(game.ended_within(4), "the end of the movie did not close the window")
        game.wait()
    check(check_control_calls(game) == [CLOSED_SHOWN],
          "unexpected calls after the start")
    game.check_one_launch()


SCENARIOS = {
    "windowed": windowed,
    "full_screen": full_screen,
    "no_logo": no_logo,
    "broken_logos": broken_logos,
    "system_close": system_close,
    **{name: functools.partial(skipped_movie, scenario=name) for name in SKIPPED},
    "control_escape": control_escape,
    "control_left_click": control_left_click,
    "control_close_command": control_close_command,
    "control_movie_end": control_movie_end,
    "high_dpi": high_dpi,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--ntleac", required=True)
    parser.add_argument("--flash")
    wine_session.add_options(parser)
    options = parser.parse_args()
    global WINE, WINDOW_MANAGER
    WINE, WINDOW_MANAGER = options.wine, options.window_manager != "none"
    # Interrupted: unwind, so that the control is unregistered and the launcher ended.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL: terminated"))
    faulthandler.dump_traceback_later(70)  # where a run hangs
    wine_session.begin(options, 75)  # before the test's timeout kills this driver outright
    root = tempfile.mkdtemp(prefix="launcher-e2e-")
    try:
        with wine_session.WindowManager(options.window_manager):
            SCENARIOS[options.scenario](options, root)
    except (Failure, wine_session.Deadline) as failure:
        screenshot(options.scenario + "-failed")
        print(f"FAIL {options.scenario}: {failure}", file=sys.stderr)
        return 1
    finally:
        for process in STARTED:
            if process.poll() is None:
                process.kill()
                process.wait()
        shutil.rmtree(root, ignore_errors=True)
    print(f"PASS {options.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
