#!/usr/bin/env bash
# The one test command: installs what is missing, builds, runs every test.
# First the plain tree (build/, see scripts/trees.sh) and what runs there: everything that is
# no GoogleTest case (the Python package, the documentation's examples, the short soak, the
# exports and the preload) and the GoogleTest programs whose cases are timed or long (the
# server under load, in a browser and scraped by Prometheus; every float through the packed
# form). Then each stage in scripts/stages/, in any order: format, install (prefix, examples,
# Debian package), sanitizers (the whole GoogleTest suite once under ASan+UBSan; the threaded
# tests under TSan), fuzz, windows (both DLLs, both architectures, under Wine), bench (a short
# run). Ends with "tests: N passed, N failed" and a non-zero status on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --tests || exit 1
. scripts/trees.sh

started=$SECONDS
plain_tree || exit 1
echo "=== plain tree built ($((SECONDS - started)) s)"

passed=0
failed=0
failures=()
start=$SECONDS
# Programs left to the sanitizer tree are not built here; CTest names them *_NOT_BUILT.
if ctest --test-dir build --output-on-failure -j2 -LE '^sanitized$' -E '_NOT_BUILT$' |
  tee build/ctest.log; then
  :
else
  failures+=("ctest")
fi
ctest_passed=$(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\)/\2 \1/p' build/ctest.log)
if [[ -n "$ctest_passed" ]]; then
  read -r total bad <<<"$ctest_passed"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
fi
echo "=== plain tree tests ($((SECONDS - start)) s)"

for stage in scripts/stages/*.sh; do
  [[ -e "$stage" ]] || continue
  name=${stage#scripts/stages/}
  echo "=== stage ${name%.sh}"
  start=$SECONDS
  log=build/stage-${name%.sh}.log
  bash "$stage" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  # A stage that runs tests of its own counts them ("stage tests: P passed, F failed");
  # otherwise the stage counts as one.
  counted=$(sed -n 's/^stage tests: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$log" | tail -1)
  if [[ -n $counted ]]; then
    read -r good bad <<<"$counted"
    passed=$((passed + good))
    failed=$((failed + bad))
  fi
  if ((status == 0)); then
    [[ -n $counted ]] || passed=$((passed + 1))
    echo "=== stage ${name%.sh}: PASS ($((SECONDS - start)) s)"
  else
    [[ -n $counted && $bad -gt 0 ]] || failed=$((failed + 1))
    failures+=("${name%.sh}")
    echo "=== stage ${name%.sh}: FAIL ($((SECONDS - start)) s)"
  fi
done

((${#failures[@]} == 0)) || echo "failed: ${failures[*]}"
echo "total time: $((SECONDS - started)) s"
echo "tests: $passed passed, $failed failed"
((${#failures[@]} == 0))
