#!/usr/bin/env python3
"""The conformance runner's comparisons: traces with the suite's approximations, frames with the
blurred check beside the suite's own, and the baseline with the suite's known failures."""

import os
import runpy
import sys
import tempfile
import types
import unittest

from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
# The runner's file name has a hyphen, so it is loaded by path; its main() doesn't run.
conformance = types.SimpleNamespace(**runpy.run_path(
    os.path.join(here, '..', '..', 'scripts', 'swf-conformance.py'), run_name='conformance'))


class Traces(unittest.TestCase):
    def test_table(self):
        bare = {'bare_numbers': True, 'epsilon': 0.05}
        angle = {'number_patterns': ['angle (.+)'], 'epsilon': 0.001}
        cases = [
            ('same, other line ends', 'a\nb\n', 'a\r\nb\r\n', None, True),
            ('no last line end', 'a\nb\n', 'a\nb', None, True),
            ('a line differs', 'a\nb\n', 'a\nc\n', None, False),
            ('a line missing', 'a\nb\n', 'a\n', None, False),
            ('an empty line more', 'a\n', 'a\n\n', None, False),
            ('numbers without approximations', '0.1\n', '0.10001\n', None, False),
            ('bare numbers within epsilon', '0.1\n', '0.14\n', bare, True),
            ('bare numbers beyond epsilon', '0.1\n', '0.16\n', bare, False),
            ('bare numbers only', 'x 0.1\n', 'x 0.11\n', bare, False),
            ('NaN is no number to approximate', 'NaN\n', '0\n', bare, False),
            ('pattern within epsilon', 'angle 45\n', 'angle 45.0004\n', angle, True),
            ('pattern, other text', 'angle 45\n', 'angel 45\n', angle, False),
            ('pattern beyond epsilon', 'angle 45\n', 'angle 45.01\n', angle, False),
        ]
        for name, expected, got, approx, agrees in cases:
            with self.subTest(name):
                why = conformance.compare_trace(expected, got, approx)
                self.assertEqual(why is None, agrees, why)


class Frames(unittest.TestCase):
    def compare(self, changed_pixels, checks):
        expected = Image.new('RGBA', (100, 100), (255, 255, 255, 255))
        got = expected.copy()
        for x, y in changed_pixels:
            got.putpixel((x, y), (0, 0, 0, 255))
        with tempfile.TemporaryDirectory() as scratch:
            paths = [os.path.join(scratch, n) for n in ('e.png', 'g.png')]
            expected.save(paths[0])
            got.save(paths[1])
            return conformance.compare_images(paths[0], paths[1], checks)[:2]

    def test_table(self):
        exact = [{'tolerance': 0, 'max_outliers': 0}]
        loose = [{'tolerance': 0, 'max_outliers': 200}]
        scattered = [(x, y) for x in range(0, 100, 10) for y in range(0, 100, 10)]
        block = [(x, y) for x in range(20, 40) for y in range(20, 40)]
        cases = [
            ('the same frame', [], exact, (True, True)),
            ('lone pixels blur away, the own check sees them', scattered, exact, (True, False)),
            ('lone pixels within the own outliers', scattered, loose, (True, True)),
            ('a block is 4 % off', block, loose, (False, False)),
        ]
        for name, pixels, checks, outcome in cases:
            with self.subTest(name):
                self.assertEqual(self.compare(pixels, checks), outcome)

    def test_other_size_fails(self):
        with tempfile.TemporaryDirectory() as scratch:
            a, b = os.path.join(scratch, 'a.png'), os.path.join(scratch, 'b.png')
            Image.new('RGB', (10, 10)).save(a)
            Image.new('RGB', (10, 11)).save(b)
            self.assertFalse(conformance.compare_images(a, b, [{}])[0])


class Baseline(unittest.TestCase):
    def test_regressions(self):
        def result(path, trace, known=False):
            r = conformance.Result(path)
            r.trace, r.known_failure = (trace, ''), known
            return r
        results = [result('a/pass', True), result('a/fail', False),
                   result('a/known', False, known=True)]
        baseline = {('trace', 'a/pass'), ('trace', 'a/fail'), ('trace', 'a/known'),
                    ('trace', 'a/gone'), ('image', 'a/fail')}
        self.assertEqual(conformance.regressions(baseline, results, {'trace'}),
                         ['trace a/fail', 'trace a/gone'])
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, 'baseline.txt')
            with open(path, 'w') as f:
                f.write('image b/kept\ntrace b/replaced\n')
            conformance.write_baseline(path, results, {'trace'})
            self.assertEqual(conformance.read_baseline(path),
                             {('image', 'b/kept'), ('trace', 'a/pass')})


if __name__ == '__main__':
    sys.exit(unittest.main())
