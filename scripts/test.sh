#!/usr/bin/env bash
# The one test command: installs what is missing, builds everything, runs every test.
# Stages (scripts/stages/*.sh) run after the main suite: the Windows DLL under Wine,
# fuzzing, sanitizer builds, install and packaging, the benchmark smoke run.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON || exit 1
cmake --build build -j2 || exit 1

passed=0
failed=0
failures=()
if ctest --test-dir build --output-on-failure -j2 | tee build/ctest.log; then
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

for stage in scripts/stages/*.sh; do
  [[ -e "$stage" ]] || continue
  name=${stage#scripts/stages/}
  echo "=== stage ${name%.sh}"
  start=$SECONDS
  if bash "$stage"; then
    passed=$((passed + 1))
    echo "=== stage ${name%.sh}: PASS ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    failures+=("${name%.sh}")
    echo "=== stage ${name%.sh}: FAIL ($((SECONDS - start)) s)"
  fi
done

((${#failures[@]} == 0)) || echo "failed: ${failures[*]}"
echo "tests: $passed passed, $failed failed"
((${#failures[@]} == 0))
