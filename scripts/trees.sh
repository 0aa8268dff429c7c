# The build trees of the test command and its stages, each configured one way wherever it is
# used: a stage run on its own builds the tree it needs, and a tree another stage built already
# is up to date at once, so no stage depends on another having run before it. Sourced.
#   build/        GCC, RelWithDebInfo, warnings as errors: the libraries, the tools, the
#                 benchmark and the tests that run outside the sanitizers (timed ones, the
#                 Python package, the documentation's examples); the packages come from it
#   build-asan/   Clang, AddressSanitizer + UndefinedBehaviorSanitizer, warnings as errors:
#                 the whole GoogleTest suite, and the fuzzers
#   build-tsan/   GCC, ThreadSanitizer, warnings as errors: the programs whose tests run threads
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

# Clang's sanitizer runtimes as shared libraries (-shared-libsan), found through a run path:
# the libraries under test then carry their runtime, so that they link without undefined
# symbols and load into programs built without the sanitizers (a C host, the tests' Python).
sanitizer_tree() {  # DIR SANITIZERS COMPILE-FLAGS [CMAKE-ARGS...] [-- TARGETS...]
  local dir=$1 sanitizers=$2 flags="$3 -shared-libsan -fno-omit-frame-pointer"
  shift 3
  local runtime
  runtime=$(dirname "$(clang++ -print-file-name=libclang_rt.asan-x86_64.so)")
  local link="-fsanitize=$sanitizers -shared-libsan -Wl,-rpath,$runtime"
  tree "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_UNITY_BUILD=ON \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$link" \
    "-DCMAKE_SHARED_LINKER_FLAGS=$link" "-DCMAKE_MODULE_LINKER_FLAGS=$link" "$@"
}

asan_tree() {  # [-- TARGETS...]
  # -O1 and line tables only: what the sanitizers' reports need, built a sixth faster.
  sanitizer_tree build-asan address,undefined \
    "-fsanitize=address,undefined -fno-sanitize-recover=all" -DQK42RT_TEST_PROGRAMS=sanitized \
    -DQK42RT_FUZZ=ON "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" "$@"
}

# GCC here: Clang's ThreadSanitizer runtime does not work as a shared library, and as a static
# one it leaves the libraries under test with undefined symbols; GCC's libtsan is shared.
tsan_tree() {  # [-- TARGETS...]
  local flags="-fsanitize=thread -fno-omit-frame-pointer"
  tree build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON \
    -DCMAKE_UNITY_BUILD=ON "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" \
    "$@"
}

windows_tree() {  # 32|64 [-- TARGETS...]
  local arch=$1
  shift
  local dir=build-win toolchain=mingw-i686.cmake
  [[ $arch == 64 ]] && dir=build-win64 toolchain=mingw-x86_64.cmake
  tree "$dir" -DCMAKE_TOOLCHAIN_FILE="$trees_root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DQK42RT_WERROR=ON -DQK42RT_BUILD_TESTS=ON "$@"
}
