#!/usr/bin/env bash
# The whole GoogleTest suite once, built with Clang under AddressSanitizer and
# UndefinedBehaviorSanitizer with warnings as errors (the project's second compiler), and a
# short soak there; then the programs whose tests run threads (the legacy functions' lock,
# libqk42's line locks, the device-server lines' name lookups) under ThreadSanitizer.
# Left to the plain tree: the cases labelled "plain" (timed runs that the sanitizers'
# slowness would decide, and the exhaustive float loop) and everything that is no GoogleTest
# case (the Python package and the documentation's examples load libqk42 into
# /usr/bin/python3, which is not built with the sanitizers).
# Ends with "stage tests: P passed, F failed", which the test command counts.
set -uo pipefail
cd "$(dirname "$0")/../.."
. scripts/trees.sh

asan_tree || exit 1
ctest_counts() {  # LOG: "P F" from a CTest summary
  sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 \1/p' "$1"
}
passed=0
failed=0
tally() {  # STATUS LOG
  local counts total bad
  counts=$(ctest_counts "$2")
  if [[ -z $counts ]]; then
    failed=$((failed + 1))
    return
  fi
  read -r total bad <<<"$counts"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  ((bad > 0 || $1 == 0)) || failed=$((failed + 1))
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
# Four at a time on two cores: the cases mostly wait on lines and time-outs.
ctest --test-dir build-asan --output-on-failure -j4 -L '^sanitized$' | tee build-asan/ctest.log
tally "${PIPESTATUS[0]}" build-asan/ctest.log
# The soak's exchanges with random faults, shorter: the full one runs from scripts/bench.sh.
if build-asan/tests/qk42rt-soak --exchanges 5000 --shards 4 --seed 7 >build-asan/soak.log 2>&1; then
  passed=$((passed + 1))
  tail -2 build-asan/soak.log
else
  failed=$((failed + 1))
  cat build-asan/soak.log
fi

tsan_tree -- exports_test reliability_test host_test network_line_test || exit 1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j2 -E '_NOT_BUILT$' \
  -R 'Thread|Unplug|Signals|^DeviceServer\.' | tee build-tsan/ctest.log
tally "${PIPESTATUS[0]}" build-tsan/ctest.log

echo "stage tests: $passed passed, $failed failed"
((failed == 0))
