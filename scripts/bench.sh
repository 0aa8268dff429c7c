#!/usr/bin/env bash
# The benchmark, run by hand: builds qk42rt-bench in build-bench/ (BENCH_BUILD_DIR) and runs it
# in full against the simulator (about five minutes, two of them the monitor loops): the
# library over pseudo-terminals, TCP and ser2net, libqk42 and its Python package, pyserial,
# the client's status, monitor and sniff, and `qk42rt serve`. The Markdown report goes to
# build-bench/bench-results.md and to standard output. Extra options go to qk42rt-bench (for
# example --only serve, --monitor-seconds 10, --strict; --help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target qk42rt-bench  # with the simulator and the client
"$build"/bench/qk42rt-bench --out "$build"/bench-results.md "$@"
