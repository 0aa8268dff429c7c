#!/usr/bin/env bash
# The benchmark and the long runs, by hand: builds in build-bench/ (BENCH_BUILD_DIR) and runs
#  1. qk42rt-bench in full against the simulator (about five minutes, two of them the monitor
#     loops): the library over pseudo-terminals, TCP and ser2net, libqk42 and its Python
#     package, pyserial, the client's status, monitor and sniff, and `qk42rt serve`. The
#     Markdown report goes to build-bench/bench-results.md and to standard output. Extra
#     options go to qk42rt-bench (for example --only serve, --monitor-seconds 10, --strict;
#     --help lists them);
#  2. the 100,000-exchange soak (about 90 s), the server's load test for its full 30 s,
#     whose short versions gate CI, and the plant: 16 gateways x 8 lines x 8 simulated
#     instruments through one mosquitto for a minute (qk42rt-bench --only plant). Skipped
#     with --help or --only;
#  3. qk42.aio (bench/aio_costs.py, about 15 s): the time it adds to a call of the Python
#     package, and eight paced lines read at once against one after the other.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_BUILD_BENCH=ON \
  -DQK42RT_BUILD_TESTS=ON >/dev/null
# qk42rt-bench brings the simulator and the client.
cmake --build "$build" -j2 --target qk42rt-bench qk42rt-soak server_load_test
"$build"/bench/qk42rt-bench --out "$build"/bench-results.md "$@"
for arg in "$@"; do [[ $arg == --help || $arg == -h || $arg == --only* ]] && exit 0; done

echo
echo "=== soak: 100,000 exchanges, 8 shards, 3 % faults"
"$build"/tests/qk42rt-soak --exchanges 100000 --shards 8 --seed 42 --fault-percent 3
echo
echo "=== the server under load: 16 clients for 30 s"
QK42RT_LOAD_SECONDS=30 "$build"/tests/server_load_test --gtest_brief=1
echo
echo "=== a plant: 16 gateways x 8 lines x 8 instruments through one broker, for a minute"
"$build"/bench/qk42rt-bench --only plant --out "$build"/plant-results.md
echo
echo "=== qk42.aio: the time it adds to a call, and eight lines at once"
QK42_LIBRARY="$build"/src/libqk42.so.1 QK42RT_SIM="$build"/tools/sim/qk42rt-sim \
  PYTHONPATH=python python3 bench/aio_costs.py
