#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer + UndefinedBehaviorSanitizer, and the
# tests where threads meet (the legacy functions' lock, libqk42's line locks, the device-server
# lines' name lookups) built with ThreadSanitizer.
# Warnings are errors in the plain build; sanitizer builds only warn (GCC reports false
# "maybe-uninitialized" inside the standard library under ASan).
set -euo pipefail
cd "$(dirname "$0")/../.."

# Unity builds (a batch of sources per compiler run) take about a quarter less time here: the
# plain build, which the packages come from, compiles file by file.
asan="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=OFF \
  -DCMAKE_UNITY_BUILD=ON -DQK42RT_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$asan" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build-asan -j2
# Left out here, all run in the plain build: the Python tests (the interpreter is not built
# with the sanitizer: loading the sanitized libqk42 into it tests the interpreter's start, not
# our code), and the server's timed end-to-end runs (16 clients for 30 s, a headless browser,
# Prometheus), whose time limits the sanitizers' slowness on a loaded machine would decide;
# the server's every route and error runs here all the same.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j2 \
  -E '^soak$|^python_package$|^bench_python_clients$|^ServeLoad\.|^ServePage\.|^ServeMetrics\.'
# A shorter soak under the sanitizers: the full one runs in the plain build.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 build-asan/tests/qk42rt-soak --exchanges 5000 --shards 4 --seed 7

tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=OFF \
  -DCMAKE_UNITY_BUILD=ON \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j2 --target exports_test reliability_test host_test network_line_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j2 -R 'Thread|Unplug|Signals|^DeviceServer\.'
