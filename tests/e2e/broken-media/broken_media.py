#!/usr/bin/env python3
"""Broken and unusual pictures and movies, each in a real game folder, through the real launcher.

  broken_media.py --platform linux|windows --launcher EXE --ntleac EXE --work DIR [CASE...]

Runs inside scripts/with-test-env.sh (DISPLAY; for windows also WINEPREFIX and a wineserver).
The media are made once per build folder under DIR/media with ffmpeg and ImageMagick. Every case
must end without a crash or a hang, close the window the way the launcher's rules say, start the
game exactly once; its peak memory (VmHWM of the launcher's process) is printed in a table.
Every process a case starts runs in a process group of its own, killed when the case ends.
"""

import argparse
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
import launcher_e2e as e2e  # noqa: E402  (the X and Wine helpers of the Windows scenarios)
import wine_session  # noqa: E402

from launcher_e2e import Failure, check  # noqa: E402

DEFAULT_LOGO = (200, 150)  # logo.jpg, what the defaults show
PICTURE = (320, 240)  # every picture meant to be shown
MOVIE = (320, 240)

# What a case leads to:
#   shown     the window shows the named picture at its own size
#   defaults  the named logo is no picture: the defaults' logo.jpg is shown instead
#   no-window the logo counts as missing: the game starts at once, no window
#   movie     the logo shows; a held key starts the movie, which ends or fails, closing the window
# A truncated JPEG may decode (with grey where the data stops) or not, by decoder.
CASES = [
    # name              file             outcomes                 seconds a movie may play
    ("zero-byte-logo", "zero.jpg", {"defaults"}, 0),
    ("truncated-jpeg", "truncated.jpg", {"shown", "defaults"}, 0),
    ("progressive-jpeg", "progressive.jpg", {"shown"}, 0),
    ("cmyk-jpeg", "cmyk.jpg", {"shown"}, 0),
    ("huge-jpeg", "huge.jpg", {"defaults"}, 0),
    ("animated-gif", "animated.gif", {"shown"}, 0),
    ("fifo-logo", "fifo.jpg", {"no-window"}, 0),
    ("device-logo", "device.jpg", {"no-window"}, 0),
    ("zero-byte-movie", "zero.mp4", {"movie"}, 0),
    ("truncated-mp4", "truncated.mp4", {"movie"}, 2),
    ("picture-as-mp4", "picture.mp4", {"movie"}, 2),
    ("audio-only", "audio.mp4", {"movie"}, 1),
    ("tenth-second-movie", "tenth.mp4", {"movie"}, 0.1),
    ("8k-movie", "8k.mp4", {"movie"}, 1),
]
# A named pipe or a device can't stand in a Wine game folder as a file Windows programs open.
LINUX_ONLY = {"fifo-logo", "device-logo"}


def tool(*args):
    result = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            timeout=300)
    check(result.returncode == 0, f"{args[0]} failed: {result.stderr[-400:]}")


def make_media(folder):
    """The test media, made again whenever this script changes."""
    with open(__file__, "rb") as me:
        stamp = hashlib.md5(me.read()).hexdigest()
    done = os.path.join(folder, "complete")
    if os.path.exists(done) and open(done).read() == stamp:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    ffmpeg = ["ffmpeg", "-loglevel", "error", "-y"]

    def still(size):
        return ["-f", "lavfi", "-i", f"testsrc=s={size[0]}x{size[1]}", "-frames:v", "1"]

    tool(*ffmpeg, *still(DEFAULT_LOGO), path("logo.jpg"))
    tool(*ffmpeg, *still(PICTURE), path("picture.jpg"))
    open(path("zero.jpg"), "wb").close()
    with open(path("picture.jpg"), "rb") as whole, open(path("truncated.jpg"), "wb") as part:
        data = whole.read()
        part.write(data[:len(data) * 2 // 5])
    tool("/usr/bin/convert", path("picture.jpg"), "-interlace", "JPEG", path("progressive.jpg"))
    tool("/usr/bin/convert", path("picture.jpg"), "-colorspace", "CMYK", path("cmyk.jpg"))
    # A real 16,000 x 16,000 picture, small on disk as a single colour compresses well.
    tool(*ffmpeg, "-f", "lavfi", "-i", "color=c=white:s=16000x16000", "-frames:v", "1",
         path("huge.jpg"))
    tool("/usr/bin/convert", "-delay", "20", "-size", f"{PICTURE[0]}x{PICTURE[1]}", "xc:red",
         "xc:green", "xc:blue", "-loop", "0", path("animated.gif"))

    def movie(name, seconds, size=MOVIE, audio=True, video=True, source="testsrc", rate=25):
        inputs = ["-f", "lavfi", "-i", f"{source}=s={size[0]}x{size[1]}:r={rate}:d={seconds}"]
        sound = ["-f", "lavfi", "-i", f"sine=f=440:d={seconds}"]
        codecs = ["-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"]
        if not video:
            inputs, codecs = [], ["-vn"]
        args = [*inputs, *(sound if audio else []), *codecs, "-c:a", "aac", "-shortest"]
        tool(*ffmpeg, *args, path(name))

    open(path("zero.mp4"), "wb").close()
    movie("whole.mp4", 2)
    with open(path("whole.mp4"), "rb") as whole, open(path("truncated.mp4"), "wb") as part:
        data = whole.read()
        part.write(data[:len(data) * 3 // 10])
    shutil.copy(path("picture.jpg"), path("picture.mp4"))
    movie("audio.mp4", 1, video=False)
    movie("tenth.mp4", 0.1)
    # Flat frames at 5 per second: an 8K picture stream that encodes in seconds.
    movie("8k.mp4", 1, size=(7680, 4320), audio=False, source="color", rate=5)
    with open(done, "w") as f:
        f.write(stamp)


class Platform:
    def __init__(self, name, launcher, ntleac):
        self.name = name
        self.windows = name == "windows"
        self.launcher, self.ntleac = launcher, ntleac

    def game_folder(self, root):
        folder = os.path.join(root, "game")
        os.makedirs(folder)
        exe = "launcher.exe" if self.windows else "launcher"
        shutil.copy(self.launcher, os.path.join(folder, exe))
        shutil.copy(self.ntleac, os.path.join(folder, "ntleac.exe" if self.windows else "ntleac"))
        return folder, os.path.join(folder, exe)

    def command(self, exe):
        return [e2e.WINE, exe] if self.windows else [exe]

    def launches(self, folder):
        """How many times ntleac ran: waits for the first, then a moment for any other."""
        log = os.path.join(folder, "ntleac.log" if self.windows else "launch.log")
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline and not os.path.exists(log):
            time.sleep(0.05)
        if not os.path.exists(log):
            return 0
        time.sleep(0.5)
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        if self.windows:
            return sum(1 for line in lines if line.strip())
        return lines.count("ntleac started")


class Launcher:
    """One run of the launcher in its own process group, its peak memory watched through /proc."""

    def __init__(self, command, cwd, env):
        self.output = tempfile.TemporaryFile()
        self.process = subprocess.Popen(command, cwd=cwd, env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        self.peak_kib = 0

    def alive(self):
        try:
            with open(f"/proc/{self.process.pid}/status") as status:
                for line in status:
                    if line.startswith("VmHWM:"):
                        self.peak_kib = max(self.peak_kib, int(line.split()[1]))
        except OSError:
            pass
        return self.process.poll() is None

    def wait_until(self, condition, seconds):
        return wine_session.wait_until(condition, seconds)

    def text(self):
        self.output.seek(0)
        lines = self.output.read().decode(errors="replace").splitlines()
        return "\n".join(line for line in lines if not line.startswith("ALSA lib"))[-2000:]

    def kill(self):
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()


def window_shown(run):
    found = []

    def shown():
        found[:] = e2e.visible_game_windows()
        return bool(found) or not run.alive()

    run.wait_until(shown, 30)
    return found[0] if found else None


def run_case(platform, media, root, name, file, outcomes, seconds, env):
    folder, exe = platform.game_folder(root)
    for picture in ("logo.jpg", "picture.jpg"):
        shutil.copy(os.path.join(media, picture), folder)
    if name == "fifo-logo":
        os.mkfifo(os.path.join(folder, file))
    elif name == "device-logo":
        os.symlink("/dev/zero", os.path.join(folder, file))
    elif file != "logo.jpg":
        shutil.copy(os.path.join(media, file), folder)
    is_movie = outcomes == {"movie"}
    logo, movie = ("picture.jpg", file) if is_movie else (file, "none.mp4")
    with open(os.path.join(folder, "Start.ini"), "w", newline="") as ini:
        ini.write(f'"{logo}","{movie}","Game.exe","window"\r\n')

    run = Launcher(platform.command(exe), folder, env)
    try:
        started = time.monotonic()
        window = window_shown(run)
        if window is None:
            outcome = "no-window"
        else:
            size = e2e.geometry(window)[2:]
            outcome = {PICTURE: "movie" if is_movie else "shown",
                       DEFAULT_LOGO: "defaults"}.get(size, f"window {size[0]}x{size[1]}")
            # Any key held on the logo asks for the movie; a missing or unplayable one closes. The
            # window takes the keyboard first: without a window manager, keys would otherwise go
            # to whatever lies under the pointer.
            e2e.run(["xdotool", "windowfocus", window])
            e2e.hold_key("space")
        # The movie's own length, then ticks, and a busy host: 2 cores decoding 8K under Wine.
        limit = seconds + 40
        check(run.wait_until(lambda: not run.alive() or not e2e.visible_game_windows(), limit),
              f"the window is still open {limit:.0f} s after the key: {run.text()}")
        closed = time.monotonic() - started
        check(outcome in outcomes, f"{outcome}, expected {' or '.join(sorted(outcomes))} "
              f"(exit status {run.process.poll()}): {run.text()}")
        launches = platform.launches(folder)
        check(launches == 1, f"the game was started {launches} times")
        # Wine's process may crash or stall on its way out once Media Foundation has played:
        # reported there, judged everywhere else.
        ended = run.wait_until(lambda: not run.alive(), 15)
        if platform.windows and is_movie:
            if not ended or run.process.returncode != 0:
                outcome += " (Wine's exit: " + ("stalled" if not ended else "crashed") + ")"
        else:
            check(ended, "the launcher did not end after the game started")
            check(run.process.returncode == 0,
                  f"exit status {run.process.returncode}: {run.text()}")
        return outcome, closed, run.peak_kib
    finally:
        run.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--platform", choices=("linux", "windows"), required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--ntleac", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("cases", nargs="*")
    options = parser.parse_args()
    for variable in ("DISPLAY",) + (("WINEPREFIX",) if options.platform == "windows" else ()):
        if not os.environ.get(variable):
            sys.exit(f"{variable} is not set: run inside scripts/with-test-env.sh")
    # A test timeout ends the driver with SIGTERM: unwind, so that every case's finally runs.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("FAIL: terminated"))

    platform = Platform(options.platform, options.launcher, options.ntleac)
    env = dict(os.environ)
    if not platform.windows:
        supp = os.path.join(os.path.dirname(__file__), "..", "..", "linux", "lsan.supp")
        env.setdefault("ASAN_OPTIONS", "detect_leaks=1:halt_on_error=1")
        env.setdefault("LSAN_OPTIONS", f"suppressions={os.path.abspath(supp)}")
    media = os.path.join(options.work, "media")
    make_media(media)

    failures = 0
    print(f"{'case':20} {'closed after':>12} {'peak memory':>12}  outcome")
    for name, file, outcomes, seconds in CASES:
        if options.cases and name not in options.cases:
            continue
        if platform.windows and name in LINUX_ONLY:
            continue
        root = tempfile.mkdtemp(prefix=f"broken-media-{name}-", dir=options.work)
        try:
            outcome, closed, peak = run_case(platform, media, root, name, file, outcomes,
                                             seconds, env)
            print(f"{name:20} {closed:11.1f}s {peak / 1024:9.1f} MB  {outcome}", flush=True)
        except Failure as failure:
            failures += 1
            print(f"{name:20} FAIL: {failure}", flush=True)
        finally:
            shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
