#!/usr/bin/env bash
# The benchmark, run by hand: builds qk42rt-bench in build-bench/ and runs it in full (about
# three minutes, two of them the monitor loops) against the simulator, over its pseudo-terminal
# (the legacy functions, libqk42 and its Python package, pyserial) and over TCP, and through
# ser2net when /usr/sbin/ser2net is there. The Markdown table goes to build-bench/bench-results.md
# and to standard output. Extra options go to qk42rt-bench (for example --monitor-seconds 10,
# --strict; --help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target qk42rt-bench qk42rt-sim qk42rt_cli
"$build"/bench/qk42rt-bench --client "$build"/tools/cli/qk42rt \
  --out "$build"/bench-results.md "$@"
for arg in "$@"; do [[ $arg == --help || $arg == -h ]] && exit 0; done
# Then the server, `qk42rt serve`, beside libqk42 on the same simulated line (about a minute);
# its table goes to "$build"/serve-bench-results.md and is appended to bench-results.md.
cmake --build "$build" -j2 --target qk42rt-serve-bench
"$build"/bench/serve/qk42rt-serve-bench --client "$build"/tools/cli/qk42rt \
  --out "$build"/serve-bench-results.md
{ echo; cat "$build"/serve-bench-results.md; } >> "$build"/bench-results.md
