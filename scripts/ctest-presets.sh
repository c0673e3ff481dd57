#!/usr/bin/env bash
# Runs the tests of each preset named, every one even when an earlier one fails, then prints one
# line per preset (passed, failed, skipped) and exits non-zero if any failed.
#   scripts/ctest-presets.sh PRESET...
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
mkdir -p build/test-logs
summary=() failed_presets=0
for preset in "$@"; do
  log=build/test-logs/$preset.log
  ctest --preset "$preset" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -n 1)
  skipped=$(grep -c -E '\(Skipped\)$' "$log")
  if [ -z "$total" ]; then
    line="$preset: no result (ctest exit $status)"
  else
    line="$preset: $((total - failed - skipped)) passed, $failed failed, $skipped skipped"
  fi
  [ "$status" -eq 0 ] || { failed_presets=$((failed_presets + 1)); line+="  FAILED (log: $log)"; }
  summary+=("$line")
done
echo
echo "Tests by preset:"
printf '  %s\n' "${summary[@]}"
((failed_presets == 0))
