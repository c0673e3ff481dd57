#!/usr/bin/env bash
# The whole test run: install what is missing, check the style, configure and build every preset,
# run every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Style and static checks first: they are quick and say plainly what is off.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
cmake --preset linux-tidy
cmake --build --preset linux-tidy

# linux-release holds the benchmark and is what the example runs: built so neither rots.
for preset in linux linux-tsan linux-release windows windows-x64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
scripts/with-test-env.sh bash -c 'ctest --preset linux && ctest --preset linux-tsan &&
  ctest --preset windows-x64'
