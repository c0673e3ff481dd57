#!/usr/bin/env python3
"""Runs a suite of Flash-authored test movies through swfcheck and compares what it makes of them
with what Flash Player made: the trace lines and, with --images, the frames.

  swf-conformance.py SUITE_DIR [--images | --images-only] [--baseline FILE]
                     [--write-baseline FILE] [--swfcheck PATH] [--jobs N] [--timeout S]

A test is a folder under SUITE_DIR holding test.swf, test.toml (num_frames or num_ticks, optional
[image_comparisons.NAME] with trigger, tolerance, max_outliers or a list of checks,
known_failure, [approximations]), output.txt and NAME.expected.png frames, and input.json (scripted
pointer input, handed to swfcheck --input). Prints a line per failed
test, a count per top folder and a summary. The baseline file lists what passed before, a line
each: "trace PATH" or "image PATH"; the run fails (exit 1) when one of those checked no longer
passes. Tests the suite marks known_failure are counted but never enter the baseline. Without the
suite folder it says so and exits 77 (a skipped test for CTest).
"""

import argparse
import concurrent.futures
import importlib.util
import json
import math
import os
import re
import subprocess
import sys
import tempfile
import tomllib

SKIPPED = 77
# Frames compared after a 3x3 box blur of both: a pixel is off when a channel differs by more
# than this, and the frame passes with at most this share of pixels off.
BLURRED_TOLERANCE = 32
BLURRED_MAX_SHARE = 0.01


def find_tests(suite):
    """Relative paths of the test folders, sorted."""
    found = []
    for folder, dirs, files in os.walk(suite):
        dirs.sort()
        if 'test.toml' in files and 'test.swf' in files:
            found.append(os.path.relpath(folder, suite).replace(os.sep, '/'))
    return sorted(found)


def normalised_lines(text):
    """The lines of a trace, whatever its line ends, without a last empty line."""
    lines = text.replace('\r\n', '\n').replace('\r', '\n').split('\n')
    if lines and lines[-1] == '':
        lines.pop()
    return lines


def as_number(text):
    try:
        return float(text)
    except ValueError:
        return None


def numbers_close(a, b, approx):
    x, y = as_number(a), as_number(b)
    if x is None or y is None:
        return a == b
    if math.isnan(x) or math.isnan(y) or math.isinf(x) or math.isinf(y):
        return a == b
    epsilon = float(approx.get('epsilon', 0))
    relative = float(approx.get('max_relative', 0))
    return abs(x - y) <= max(epsilon, relative * max(abs(x), abs(y)))


def pattern_close(pattern, expected, got, approx):
    """Both lines match the pattern, the same outside its groups and close inside them."""
    m, n = re.search(pattern, expected), re.search(pattern, got)
    if not m or not n or len(m.groups()) != len(n.groups()):
        return False

    def outside(match, line):
        parts, last = [], 0
        for i in range(1, len(match.groups()) + 1):
            if match.start(i) >= 0:
                parts.append(line[last:match.start(i)])
                last = match.end(i)
        return parts + [line[last:]]

    if outside(m, expected) != outside(n, got):
        return False
    return all(numbers_close(a or '', b or '', approx) for a, b in zip(m.groups(), n.groups()))


def line_matches(expected, got, approx):
    if expected == got:
        return True
    if not approx:
        return False
    if approx.get('bare_numbers') and numbers_close(expected, got, approx) and \
            as_number(expected) is not None:
        return True
    return any(pattern_close(p, expected, got, approx) for p in approx.get('number_patterns', []))


def compare_trace(expected_text, got_text, approx):
    """None when the traces agree, else what differs first."""
    expected, got = normalised_lines(expected_text), normalised_lines(got_text)
    for i, (e, g) in enumerate(zip(expected, got)):
        if not line_matches(e, g, approx):
            return 'line %d: expected %s, got %s' % (i + 1, clip(e), clip(g))
    if len(expected) != len(got):
        return '%d lines, expected %d%s' % (
            len(got), len(expected),
            (': first missing %s' % clip(expected[len(got)])) if len(got) < len(expected) else
            (': first extra %s' % clip(got[len(expected)])))
    return None


def clip(line, width=70):
    text = repr(line)
    return text if len(text) <= width else text[:width - 3] + '...'


def outliers(a, b, tolerance):
    """Pixels of two same-sized RGBA images where a channel differs by more than tolerance."""
    from PIL import ImageChops
    bands = ImageChops.difference(a, b).split()
    off = bands[0].point(lambda v: 255 if v > tolerance else 0)
    for band in bands[1:]:
        off = ImageChops.lighter(off, band.point(lambda v: 255 if v > tolerance else 0))
    return off.histogram()[255]


def compare_images(expected_path, got_path, checks):
    """(passes, passes the suite's own checks, what is off) for two PNG frames."""
    from PIL import Image, ImageFilter
    with Image.open(expected_path) as e, Image.open(got_path) as g:
        expected, got = e.convert('RGBA'), g.convert('RGBA')
    if expected.size != got.size:
        return False, False, 'size %dx%d, expected %dx%d' % (got.size + expected.size)
    own = all(outliers(expected, got, int(c.get('tolerance', 0))) <= int(c.get('max_outliers', 0))
              for c in checks)
    blur = ImageFilter.BoxBlur(1)
    off = outliers(expected.filter(blur), got.filter(blur), BLURRED_TOLERANCE)
    total = expected.size[0] * expected.size[1]
    share = off / total
    return share <= BLURRED_MAX_SHARE, own, '%.2f %% of pixels off' % (100 * share)


def image_checks(config, name):
    """The suite's own pixel checks of one frame, its trigger frame (None: the last) and whether
    the suite marks it known_failure."""
    table = config.get('image_comparisons', {}).get(name, {})
    checks = table.get('checks') or [{'tolerance': table.get('tolerance', 0),
                                      'max_outliers': table.get('max_outliers', 0)}]
    return checks, table.get('trigger'), bool(table.get('known_failure', False))


def png_size(path):
    with open(path, 'rb') as f:
        head = f.read(24)
    return int.from_bytes(head[16:20], 'big'), int.from_bytes(head[20:24], 'big')


def read_config(path):
    """A test.toml; inline tables written over several lines (newer TOML) are joined first."""
    with open(path, encoding='utf-8') as f:
        text = f.read()
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError:
        joined = re.sub(r'\{[^{}]*\}', lambda m: ' '.join(m.group(0).split()).replace(', }', ' }'),
                        text)
        return tomllib.loads(joined)


class Result:
    def __init__(self, path):
        self.path = path
        self.known_failure = False
        self.images_known_failure = False  # a frame the suite marks known_failure
        self.trace = None       # None: not checked; else (passed, why)
        self.images = None      # None: not checked or none; else (passed, own passed, why)
        self.frames = (0, 0)    # frames compared: how many pass, of how many


def run_swfcheck(args, swfcheck, timeout):
    """(stdout, failure): failure is None when swfcheck ended with status 0."""
    try:
        done = subprocess.run([swfcheck] + args, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return b'', 'timed out after %g s' % timeout
    if done.returncode != 0:
        last = done.stderr.decode('utf-8', 'replace').strip().splitlines()
        return done.stdout, 'swfcheck exit %d: %s' % (done.returncode, last[-1] if last else '')
    return done.stdout, None


# Named keys of the suite's input as Flash numbers them.
KEY_CODES = {'Backspace': 8, 'Tab': 9, 'Enter': 13, 'LeftShift': 16, 'RightShift': 16,
             'LeftControl': 17, 'RightControl': 17, 'LeftAlt': 18, 'RightAlt': 18,
             'CapsLock': 20, 'Escape': 27, 'Space': 32, 'PageUp': 33, 'PageDown': 34, 'End': 35,
             'Home': 36, 'Left': 37, 'Up': 38, 'Right': 39, 'Down': 40, 'Insert': 45,
             'Delete': 46}
KEY_CHARACTERS = {8: 8, 9: 9, 13: 13, 27: 27, 32: 32, 46: 127}
# The punctuation keys of a US keyboard by what they type, shifted or not.
PUNCTUATION_CODES = {c: code for code, chars in ((186, ';:'), (187, '=+'), (188, ',<'),
                                                 (189, '-_'), (190, '.>'), (191, '/?'),
                                                 (192, '`~'), (219, '[{'), (220, '\\|'),
                                                 (221, ']}'), (222, '\'"'))
                     for c in chars}


def key_line(word, key):
    """A KeyDown or KeyUp event as 'keydown CODE CHARACTER' (or None for an unknown key)."""
    if isinstance(key, dict) and isinstance(key.get('Char'), str) and len(key['Char']) == 1:
        char = key['Char']
        code = (ord(char.upper()) if char.isalnum() and ord(char) < 128
                else PUNCTUATION_CODES.get(char, ord(char)))
        return '%s %d %d' % (word, code, ord(char))
    if isinstance(key, str) and key in KEY_CODES:
        code = KEY_CODES[key]
        return '%s %d %d' % (word, code, KEY_CHARACTERS.get(code, 0))
    return None


def input_lines(folder, scale=1.0):
    """The test's scripted input (input.json) in swfcheck's --input form, or None without;
    positions in the viewport's pixels, `scale` of them to a stage pixel."""
    try:
        with open(os.path.join(folder, 'input.json'), encoding='utf-8') as f:
            events = json.load(f)
    except (OSError, ValueError):
        return None
    scale = scale if scale > 0 else 1.0
    lines = []
    clipboard = ''
    for event in events if isinstance(events, list) else []:
        kind = event.get('type') if isinstance(event, dict) else None
        pos = event.get('pos') or [0, 0]
        if kind == 'Wait':
            lines.append('wait')
        elif kind in ('MouseDown', 'MouseUp') and event.get('btn') == 'Middle':
            pass  # the middle button is no button to a movie
        elif kind in ('MouseMove', 'MouseDown', 'MouseUp'):
            word = {'MouseMove': 'move', 'MouseDown': 'down', 'MouseUp': 'up'}[kind]
            lines.append('%s %s %s' % (word, float(pos[0]) / scale, float(pos[1]) / scale))
        elif kind == 'TextInput' and isinstance(event.get('codepoint'), str):
            if event['codepoint']:
                lines.append('text %d' % ord(event['codepoint'][0]))
        elif kind == 'SetClipboardText' and isinstance(event.get('text'), str):
            clipboard = event['text']
        elif kind == 'TextControl' and event.get('code') == 'Enter':
            lines.append('text 13')
        elif kind == 'TextControl' and event.get('code') == 'Paste' and clipboard:
            lines.append('text ' + ' '.join(str(ord(c)) for c in clipboard))
        elif kind in ('KeyDown', 'KeyUp'):
            line = key_line('keydown' if kind == 'KeyDown' else 'keyup', event.get('key'))
            if line:
                lines.append(line)
    return '\n'.join(lines) + '\n'


# The recordings' computer: its clock stood at this local time, in GMT+05:45, when a movie started
# (what the suite's Date movie traced).
RECORDING_CLOCK = '2001-02-03T04:05:06+0545'


def run_test(suite, path, options):
    result = Result(path)
    folder = os.path.join(suite, path)
    try:
        config = read_config(os.path.join(folder, 'test.toml'))
    except (OSError, UnicodeDecodeError, tomllib.TOMLDecodeError) as error:
        result.trace = (False, 'test.toml: %s' % error)
        return result
    result.known_failure = bool(config.get('known_failure', False))
    frames = int(config.get('num_frames', config.get('num_ticks', 1)))
    movie = os.path.join(folder, 'test.swf')
    base = [movie, '--loop', '--frames', str(frames), '--clock', RECORDING_CLOCK]
    # The frames of tests recorded at Flash's LOW quality are drawn without anti-aliasing.
    renderer = config.get('player_options', {}).get('with_renderer', {})
    if renderer.get('quality') in ('low', 'medium', 'high', 'best'):
        base += ['--quality', renderer['quality']]
    viewport = config.get('player_options', {}).get('viewport_dimensions', {})
    scale = float(viewport.get('scale_factor', 1.0))
    scripted = input_lines(folder, scale)
    if viewport.get('width') and viewport.get('height') and scale > 0:
        # The window the movie played in, in stage pixels (Stage.width under noScale).
        base += ['--size', '%dx%d' % (round(viewport['width'] / scale),
                                      round(viewport['height'] / scale))]
    input_file = None
    if scripted is not None:
        input_file = tempfile.NamedTemporaryFile('w', suffix='.input', delete=False)
        input_file.write(scripted)
        input_file.close()
        base += ['--input', input_file.name]
    try:
        return run_test_with(folder, config, base, result, options)
    finally:
        if input_file:
            os.unlink(input_file.name)


def run_test_with(folder, config, base, result, options):
    frames = int(config.get('num_frames', config.get('num_ticks', 1)))
    pngs = sorted(f for f in os.listdir(folder) if f.endswith('.expected.png'))
    want_trace = not options.images_only
    want_images = (options.images or options.images_only) and pngs

    if want_trace:
        out, failure = run_swfcheck(base + ['--trace'], options.swfcheck, options.timeout)
        if failure:
            result.trace = (False, failure)
        else:
            try:
                with open(os.path.join(folder, 'output.txt'), encoding='utf-8',
                          errors='replace', newline='') as f:
                    expected = f.read()
            except OSError:
                expected = ''
            why = compare_trace(expected, out.decode('utf-8', 'replace'),
                                config.get('approximations'))
            result.trace = (why is None, why)

    if want_images:
        passed, own, whys = True, True, []
        with tempfile.TemporaryDirectory(prefix='swf-conformance-') as scratch:
            for png in pngs:
                name = png[:-len('.expected.png')]
                checks, trigger, marked = image_checks(config, name)
                result.images_known_failure |= marked
                expected_path = os.path.join(folder, png)
                got_path = os.path.join(scratch, png)
                size = '%dx%d' % png_size(expected_path)
                args = list(base)
                args[args.index('--frames') + 1] = str(trigger or frames)
                _, failure = run_swfcheck(args + ['--png', got_path, '--size', size],
                                          options.swfcheck, options.timeout)
                if failure:
                    ok, ok_own, why = False, False, failure
                else:
                    ok, ok_own, why = compare_images(expected_path, got_path, checks)
                passed, own = passed and ok, own and ok_own
                result.frames = (result.frames[0] + ok, result.frames[1] + 1)
                if not ok:
                    whys.append('%s: %s' % (name, why))
        result.images = (passed, own, '; '.join(whys))
    return result


def read_baseline(path):
    entries = set()
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                kind, _, test = line.partition(' ')
                entries.add((kind, test.strip()))
    return entries


def known(result, kind):
    return result.known_failure or (kind == 'image' and result.images_known_failure)


def write_baseline(path, results, kinds):
    """Writes the tests that pass now for the kinds checked, keeping the entries of other kinds."""
    kept = set()
    if os.path.exists(path):
        kept = {e for e in read_baseline(path) if e[0] not in kinds}
    for r in results:
        if 'trace' in kinds and r.trace and r.trace[0] and not known(r, 'trace'):
            kept.add(('trace', r.path))
        if 'image' in kinds and r.images and r.images[0] and not known(r, 'image'):
            kept.add(('image', r.path))
    with open(path, 'w', encoding='utf-8') as f:
        f.write('# The conformance tests that pass: a line each, "trace PATH" or "image PATH".\n'
                '# Written by scripts/swf-conformance.py --write-baseline.\n')
        for kind, test in sorted(kept):
            f.write('%s %s\n' % (kind, test))


def regressions(baseline, results, kinds):
    """The baseline's entries of the kinds checked that no longer pass."""
    by_path = {r.path: r for r in results}
    lost = []
    for kind, test in sorted(baseline):
        if kind not in kinds:
            continue
        r = by_path.get(test)
        if r is not None and known(r, kind):
            continue
        outcome = None if r is None else (r.trace if kind == 'trace' else r.images)
        if not outcome or not outcome[0]:
            lost.append('%s %s' % (kind, test))
    return lost


def report(results, kinds):
    """Prints the failures, the counts per top folder and the summary."""
    for r in results:
        mark = {kind: ' (known failure)' if known(r, kind) else '' for kind in ('trace', 'image')}
        if r.trace and not r.trace[0]:
            print('FAIL %s%s: trace: %s' % (r.path, mark['trace'], r.trace[1]))
        if r.images and not r.images[0]:
            print('FAIL %s%s: image: %s' % (r.path, mark['image'], r.images[2]))

    def counts(selected):
        """The counts of these results; a folder without frames to compare gets none."""
        traced = [r for r in selected if r.trace]
        imaged = [r for r in selected if r.images]
        parts = []
        if 'trace' in kinds:
            parts.append('traces %d of %d pass (%d known failures)' % (
                sum(r.trace[0] for r in traced), len(traced),
                sum(r.known_failure for r in traced)))
        if 'image' in kinds and (imaged or selected is results):
            parts.append('images %d of %d pass (%d known failures), %d within the suite\'s own '
                         'checks (frames: %d of %d pass)' % (
                             sum(r.images[0] for r in imaged), len(imaged),
                             sum(known(r, 'image') for r in imaged),
                             sum(r.images[1] for r in imaged), sum(r.frames[0] for r in imaged),
                             sum(r.frames[1] for r in imaged)))
        return '; '.join(parts)

    print()
    for top in sorted({r.path.split('/')[0] for r in results}):
        print('%s: %s' % (top, counts([r for r in results if r.path.split('/')[0] == top])))
    print('summary: %s' % counts(results))


def default_swfcheck():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    for preset in ('linux', 'linux-release'):
        candidate = os.path.join(repo, 'build', preset, 'swfcheck')
        if os.access(candidate, os.X_OK):
            return candidate
    return 'swfcheck'


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('suite')
    images = parser.add_mutually_exclusive_group()
    images.add_argument('--images', action='store_true', help='compare the frames too')
    images.add_argument('--images-only', action='store_true', help='compare only the frames')
    parser.add_argument('--baseline', help='fail when a test listed there no longer passes')
    parser.add_argument('--write-baseline', help='write the tests that pass into this file')
    parser.add_argument('--swfcheck', default=default_swfcheck())
    parser.add_argument('--jobs', type=int, default=2)
    parser.add_argument('--timeout', type=float, default=20, help='seconds per swfcheck run')
    options = parser.parse_args(argv)

    if (options.images or options.images_only) and importlib.util.find_spec('PIL') is None:
        print('swf-conformance: comparing frames needs PIL (Debian: python3-pil) in %s'
              % sys.executable)
        return 2
    if not os.path.isdir(options.suite):
        print('swf-conformance: skipped: no suite at %s' % options.suite)
        return SKIPPED
    kinds = set()
    if not options.images_only:
        kinds.add('trace')
    if options.images or options.images_only:
        kinds.add('image')
    tests = find_tests(options.suite)
    with concurrent.futures.ThreadPoolExecutor(max(1, options.jobs)) as pool:
        results = list(pool.map(lambda path: run_test(options.suite, path, options), tests))
    report(results, kinds)

    if options.write_baseline:
        write_baseline(options.write_baseline, results, kinds)
        print('baseline written to %s' % options.write_baseline)
    if options.baseline:
        lost = regressions(read_baseline(options.baseline), results, kinds)
        for entry in lost:
            print('REGRESSION %s: in the baseline, no longer passes' % entry)
        if lost:
            print('baseline: %d no longer pass' % len(lost))
            return 1
        print('baseline: every test listed still passes')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
