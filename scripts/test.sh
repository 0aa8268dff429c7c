#!/usr/bin/env bash
# The one test command: installs what is missing, builds everything, runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2

# Further stages (Windows DLL under Wine, sanitizers, fuzzing, ...) run from here.
for stage in scripts/stages/*.sh; do
  [[ -e "$stage" ]] || continue
  echo "=== ${stage#scripts/stages/}"
  bash "$stage"
done
