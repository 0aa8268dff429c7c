#!/usr/bin/env bash
# A short benchmark run (a few hundred calls, about ten seconds): proves the benchmark still
# runs and prints its figures. Timing on a shared machine is noise, so a missed target does
# not fail this stage; only a benchmark that cannot run does.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --build build -j2 --target qk42rt-bench qk42rt-sim qk42rt_cli
build/bench/qk42rt-bench --quick --client build/tools/cli/qk42rt --out build/bench-smoke.md
# The server's benchmark, as short (about eight seconds), on the same terms.
cmake --build build -j2 --target qk42rt-serve-bench
build/bench/serve/qk42rt-serve-bench --quick --client build/tools/cli/qk42rt \
  --out build/serve-bench-smoke.md
