#!/usr/bin/env bash
# The whole test run: install what is missing, configure and build every preset, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
for preset in linux windows windows-x64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
scripts/with-test-env.sh bash -c 'ctest --preset linux && ctest --preset windows-x64'
