#!/usr/bin/env bash
# A short benchmark run (--quick: a few hundred calls a part, about half a minute): proves that
# every part of the benchmark still runs and prints its figures. Timing on a shared machine is
# noise, so a missed target does not fail this stage; only a benchmark that cannot run does.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/trees.sh

plain_tree -- qk42rt-bench  # with the simulator and the client
build/bench/qk42rt-bench --quick --out build/bench-smoke.md
