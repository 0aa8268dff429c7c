# shellcheck shell=bash disable=SC2154
# The Python wheels of the Windows stage (sourced by scripts/stages/windows.sh after both cross
# builds, with its $root, $build, $build64, $work and step): the `wheel` target of each tree,
# then python/tests/test_windows_wheels.py on the two wheels it made. No Windows Python runs
# here: Wine has none, so the wheels are checked from their files and through pip's own
# platform check.
wheel_steps() {
  local arch dir platform wheels=() log
  for arch in 32 64; do
    dir=$build platform=win32
    [[ $arch == 64 ]] && dir=$build64 platform=win_amd64
    log=$work/wheel-$arch.log
    rm -f "$dir"/dist/qk42-*.whl
    cmake --build "$dir" --target wheel >"$log" 2>&1 || tail -20 "$log"
    local made=("$dir"/dist/qk42-*.whl)
    [[ -f ${made[0]} && ${made[0]} == *-py3-none-$platform.whl ]]
    step "[$arch-bit] cmake --build $(basename "$dir") --target wheel: ${made[0]##*/}" $?
    wheels+=("${made[0]}")
  done
  log=$work/wheel-tests.log
  local list
  list=$(IFS=:; echo "${wheels[*]}")
  QK42_WINDOWS_WHEELS=$list PYTHONPATH=$root/python PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider -rs "$root/python/tests/test_windows_wheels.py" \
    >"$log" 2>&1
  local status=$?
  grep -q ' passed' "$log" || status=1
  if ((status)); then tail -40 "$log"; else grep -h '^SKIPPED' "$log"; fi
  step "wheels: tags match each DLL's machine (win32, win_amd64), every qk42_ function of qk42.h exported, RECORD verified, pip takes each for its platform only" $status
}
wheel_steps
