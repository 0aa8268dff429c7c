#!/usr/bin/env bash
# The libFuzzer targets, built in the sanitizer stage's tree (Clang, address and undefined
# behaviour sanitizers; the fuzzers link a copy of the core with coverage), each run for a
# bounded time from the seed corpus in fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/trees.sh
seconds=${QK42RT_FUZZ_SECONDS:-10}
targets=(operations version_text network_input requests)
asan_tree -- "${targets[@]/#/fuzz_}"
artifacts=build-asan/fuzz-findings
rm -rf "$artifacts"
mkdir -p "$artifacts"
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  cp fuzz/corpus/$target/* "$work"/
  echo "fuzz_$target: ${seconds}s"
  status=0
  ASAN_OPTIONS=detect_leaks=1 build-asan/fuzz/fuzz_$target -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" >"$work.log" 2>&1 || status=$?
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)|ERROR|SUMMARY" \
    "$work.log" || true
  # libFuzzer exits non-zero on a finding and saves the input: name it for a clear failure.
  if compgen -G "$artifacts/*" >/dev/null; then
    echo "fuzz_$target found a failing input:" "$artifacts"/* >&2
    exit 1
  fi
  if ((status != 0)) || ! grep -q "DONE" "$work.log"; then
    echo "fuzz_$target did not run to its end (exit status $status):" >&2
    tail -20 "$work.log" >&2
    exit 1
  fi
  rm -rf "$work" "$work.log"
done
echo "fuzzing: no crash, no sanitizer report"
