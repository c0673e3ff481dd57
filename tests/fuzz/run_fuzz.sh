#!/usr/bin/env bash
# run_fuzz.sh TARGET CORPUS SECONDS [libFuzzer options...]
# Fuzzes a copy of the seed corpus for SECONDS; a crash, leak, hang or out-of-memory input fails
# the run and is kept beside the copy, to be fixed and added to the seed corpus.
set -euo pipefail
target=$1 corpus=$2 seconds=$3
shift 3
work="$(pwd)/$(basename "$target").run"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
cp "$corpus"/* "$work/corpus/"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" "$@" "$work/corpus"
