#!/usr/bin/env python3
"""The Linux ntleac, run as the launcher runs it, against a stand-in wine that records how it was
started: its arguments, the locale and time zone, and its process id (the same as ntleac's when
ntleac handed its process over to Wine).

  ntleac_test.py NTLEAC LOCPATH WORKDIR

LOCPATH holds ja_JP.UTF-8 (made by the test's fixture), so the test needs no locale of the system.
"""
import os
import shutil
import subprocess
import sys
import time

ntleac, locpath, work = (os.path.abspath(a) for a in sys.argv[1:4])
STAND_IN = """#!/bin/sh
{ echo "pid=$$"; for a in "$@"; do echo "arg=$a"; done
  echo "LANG=$LANG"; echo "LC_ALL=$LC_ALL"; echo "TZ=$TZ"
  echo "WINEPREFIX=$WINEPREFIX"; } >wine.log
"""
LAUNCH = ["Game.exe", "A-G 123 -B 456", "P0", "C932", "L1041", "T-540"]
JA = {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8"}

# (name, arguments, environment changes, expected record or the text of the one error line)
CASES = [
    ("launch command", LAUNCH, {},
     dict(args=["Game.exe", "A-G", "123", "-B", "456"], TZ="<+09>-9", **JA)),
    ("quotes split as Windows does, code page alone",
     ["Game.exe", r'"a b" c\"d  e', "C932", "T-330"], {},
     dict(args=["Game.exe", "a b", 'c"d', "e"], TZ="<+0530>-5:30", **JA)),
    ("west of UTC, no locale asked for", ["Game.exe", "", "T330"], {"LANG": "C.UTF-8"},
     dict(args=["Game.exe"], LANG="C.UTF-8", LC_ALL="", TZ="<-0530>5:30")),
    ("UTC, only the game named", ["Game.exe"], {"TZ": "kept"},
     dict(args=["Game.exe"], TZ="kept", LC_ALL="")),
    ("UTC bias", ["Game.exe", "", "T0"], {}, dict(args=["Game.exe"], TZ="<+00>0")),
    ("WINE names Wine; WINEPREFIX passes", LAUNCH[:2],
     {"WINE": "{elsewhere}/wine", "PATH": "{work}/no-wine", "WINEPREFIX": "/tmp/prefix"},
     dict(args=["Game.exe", "A-G", "123", "-B", "456"], WINEPREFIX="/tmp/prefix")),
    ("no Wine", LAUNCH, {"PATH": "{work}/no-wine"}, 'no Wine found: "wine" is not on PATH'),
    ("WINE names nothing", LAUNCH, {"WINE": "/nowhere/wine"}, "no Wine at WINE=/nowhere/wine"),
    ("no game", ["Other.exe"] + LAUNCH[1:], {}, "the game Other.exe is not in "),
    ("locale not installed", LAUNCH, {"LOCPATH": "{work}/empty"},
     'the locale ja_JP.UTF-8 (Windows locale 1041) is not installed; install it with "apt-get '
     'install locales-all"'),
    ("malformed code page", ["Game.exe", "", "C93x"], {}, 'malformed argument "C93x"'),
    ("malformed locale", ["Game.exe", "", "L"], {}, 'malformed argument "L"'),
    ("malformed bias", ["Game.exe", "", "T-5h"], {}, 'malformed argument "T-5h"'),
    ("bias out of range", ["Game.exe", "", "T-900"], {}, "time-zone bias out of range"),
    ("unknown locale", ["Game.exe", "", "L9999"], {}, 'unknown Windows locale id in "L9999"'),
    ("code page of another locale", ["Game.exe", "", "C936", "L1041"], {},
     "code page 936 doesn't belong to locale 1041"),
]


def record(path):
    got = {"args": []}
    with open(path) as f:
        for line in f.read().splitlines():
            key, _, value = line.partition("=")
            if key == "arg":
                got["args"].append(value)
            else:
                got[key] = value
    return got


def offset_of(tz):
    """Seconds east of UTC that the C library reads from a TZ value."""
    os.environ["TZ"] = tz
    time.tzset()
    return time.localtime(0).tm_gmtoff


def main():
    failures = []
    game = os.path.join(work, "game")
    elsewhere = os.path.join(work, "elsewhere")
    # Each case's PATH is a folder made here, never the machine's: a real Wine in /usr/bin must
    # not answer for the stand-in.
    for folder in (game, elsewhere, *(os.path.join(work, f) for f in ("empty", "bin", "no-wine"))):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    open(os.path.join(game, "Game.exe"), "wb").close()
    for folder in (os.path.join(work, "bin"), elsewhere):
        with open(os.path.join(folder, "wine"), "w") as f:
            f.write(STAND_IN)
        os.chmod(os.path.join(folder, "wine"), 0o755)

    for name, args, changes, expected in CASES:
        env = {k: v for k, v in os.environ.items() if k not in ("WINE", "WINEPREFIX", "LC_ALL")}
        env.update(PATH=os.path.join(work, "bin"), LOCPATH=locpath)
        env.update({k: v.format(work=work, elsewhere=elsewhere) for k, v in changes.items()})
        log = os.path.join(game, "wine.log")
        if os.path.exists(log):
            os.remove(log)
        run = subprocess.Popen([ntleac] + args, cwd=game, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
        # Bytes: whatever a wrongly started program prints must still make a readable failure.
        err = run.communicate(timeout=30)[1].decode("utf-8", "replace")
        problems = []
        if isinstance(expected, str):
            lines = err.splitlines()
            if run.returncode == 0 or len(lines) != 1 or expected not in lines[0]:
                problems.append(f"exit {run.returncode}, stderr {err!r}; expected one line with "
                                f"{expected!r} and a failure")
            if os.path.exists(log):
                problems.append("Wine was started")
        elif run.returncode != 0 or not os.path.exists(log):
            problems.append(f"exit {run.returncode}, stderr {err!r}; Wine did not run")
        else:
            got = record(log)
            if got["pid"] != str(run.pid):
                problems.append(f"Wine ran as process {got['pid']}, not in ntleac's {run.pid}")
            problems += [f"{key}: got {got.get(key)!r}, expected {value!r}"
                         for key, value in expected.items() if got.get(key) != value]
            bias = next((int(a[1:]) for a in args[2:] if a.startswith("T")), None)
            if bias is not None and offset_of(got["TZ"]) != -bias * 60:
                problems.append(f"TZ {got['TZ']} is not a bias of {bias} to the C library")
        print(("FAIL" if problems else "ok  ") + f": {name}")
        failures += [f"{name}: {p}" for p in problems]

    version = subprocess.run([ntleac, "--version"], capture_output=True, text=True, check=True)
    if not version.stdout.startswith("ntleac ") or version.stdout.count(".") != 2:
        failures.append(f"--version printed {version.stdout!r}")
    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    sys.exit(1 if failures else 0)


main()
