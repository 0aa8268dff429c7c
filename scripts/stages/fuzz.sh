#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address + undefined behaviour sanitizers) and runs
# each for a bounded time from the seed corpus in fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${QK42RT_FUZZ_SECONDS:-20}
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
rm -f build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-*
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" \
  -DQK42RT_FUZZ=ON -DQK42RT_BUILD_TESTS=OFF -DQK42RT_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_operations fuzz_version_text fuzz_network_input
for target in operations version_text network_input; do
  work=$(mktemp -d)
  cp fuzz/corpus/$target/* "$work"/
  echo "fuzz_$target: ${seconds}s"
  build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build-fuzz/ "$work" 2>&1 |
    grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)|ERROR|SUMMARY" || true
  # libFuzzer exits non-zero on a finding; rerun the saved crash for a clear failure.
  if ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* >/dev/null 2>&1; then
    echo "fuzz_$target found a failing input:" build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* >&2
    exit 1
  fi
  rm -rf "$work"
done
echo "fuzzing: no crash, no sanitizer report"
