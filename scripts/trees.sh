# The build trees of the test command and its stages, each configured one way wherever it is
# used: a stage run on its own builds the tree it needs, and a tree another stage built already
# is up to date at once, so no stage depends on another having run before it. Sourced.
#   build/        GCC, RelWithDebInfo, warnings as errors: the libraries, the tools, the
#                 benchmark and the tests that run outside the sanitizers (timed ones, the
#                 Python package, the documentation's examples); the packages come from it
#   build-asan/   Clang, AddressSanitizer + UndefinedBehaviorSanitizer, warnings as errors:
#                 the whole GoogleTest suite, and the fuzzers
#   build-tsan/   Clang, ThreadSanitizer: the programs whose tests run threads
#   build-win/, build-win64/   mingw-w64 i686 and x86_64, Release, warnings as errors
trees_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# ccache, when there, shares compilations between trees of the same flags and between clones
# of the project (paths below the clone are hashed relative to it).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$trees_root CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# tree DIR CMAKE-ARGS... [-- TARGETS...]: configures DIR (quietly, unless it fails) and builds
# the targets (all by default) on both cores.
tree() {
  local dir=$trees_root/$1
  shift
  local args=() targets=()
  while (($#)); do
    if [[ $1 == -- ]]; then
      shift
      targets=("$@")
      break
    fi
    args+=("$1")
    shift
  done
  local log
  log=$(mktemp)
  if ! cmake -S "$trees_root" -B "$dir" -G Ninja "${launcher[@]}" "${args[@]}" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
  if ((${#targets[@]})); then
    cmake --build "$dir" -j2 --target "${targets[@]}"
  else
    cmake --build "$dir" -j2
  fi
}

plain_tree() {  # [-- TARGETS...]
  tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON \
    -DQK42RT_BUILD_BENCH=ON -DQK42RT_TEST_PROGRAMS=plain "$@"
}

asan_flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
asan_tree() {  # [-- TARGETS...]
  tree build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON \
    -DQK42RT_TEST_PROGRAMS=sanitized -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQK42RT_FUZZ=ON -DCMAKE_UNITY_BUILD=ON "-DCMAKE_C_FLAGS=$asan_flags" "-DCMAKE_CXX_FLAGS=$asan_flags" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" "$@"
}

tsan_tree() {  # [-- TARGETS...]
  local flags="-fsanitize=thread -fno-omit-frame-pointer"
  tree build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_UNITY_BUILD=ON \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" "$@"
}

windows_tree() {  # 32|64 [-- TARGETS...]
  local arch=$1
  shift
  local dir=build-win toolchain=mingw-i686.cmake
  [[ $arch == 64 ]] && dir=build-win64 toolchain=mingw-x86_64.cmake
  tree "$dir" -DCMAKE_TOOLCHAIN_FILE="$trees_root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON "$@"
}
