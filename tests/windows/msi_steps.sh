# The MSI and the zip, a part of the Windows stage (sourced by scripts/stages/windows.sh, whose
# step, winpath, $root, $work, $build, $build64 and $archs it uses).
# For both architectures: the msi and zip targets build, and the packages' tables and listing
# hold what they should. Then under Wine, for each architecture the kernel runs, in a Wine
# prefix of its own (<tree>/wineprefix-msi, made once and kept): a silent install puts every
# file under C:\Program Files\QK42RT and bin on the system PATH, qk42rt --version runs from
# there, a newer MSI replaces the installed one in place, an older one is refused, and a
# silent uninstall takes the files and the PATH entry away again.

msi_env_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
msi_uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msi_wine() {  # msi_wine ARGS...: runs Wine in the packages' prefix ($msi_prefix, $msi_arch)
  if [[ $msi_arch == 32 ]]; then
    env -u DISPLAY -u WINELOADER WINEPREFIX="$msi_prefix" WINEARCH=win32 /usr/lib/wine/wine "$@"
  else
    env -u DISPLAY WINEPREFIX="$msi_prefix" WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 \
      /usr/lib/wine/wine64 "$@"
  fi
}

msi_stop_wine() { WINEPREFIX="$msi_prefix" wineserver -k 2>/dev/null; WINEPREFIX="$msi_prefix" wineserver -w 2>/dev/null; }

# How many times the install's bin folder is on the system PATH.
msi_path_entries() {
  msi_wine reg query "$msi_env_key" /v PATH 2>/dev/null | tr -d '\r' |
    grep -o -i -F 'C:\Program Files\QK42RT\bin' | wc -l
}

# The versions of the installed QK42RT products of this architecture, one a line.
msi_products() {
  msi_wine reg query "$msi_uninstall_key" /s 2>/dev/null |
    python3 "$root/tests/windows/msi_check.py" products "QK42RT ($msi_name)"
}

# The files, the PATH entry, the product and the version after an install: EXPECTED_VERSION STAGE
msi_check_installed() {
  local version=$1 stage=$2 ok=0 products entries
  diff -r "$stage" "$msi_installed" >"$work/msi-diff-$msi_arch.log" 2>&1 ||
    { echo "    installed files differ from $stage:"; head -20 "$work/msi-diff-$msi_arch.log"; ok=1; }
  entries=$(msi_path_entries)
  [[ $entries == 1 ]] || { echo "    the bin folder is $entries times on the system PATH"; ok=1; }
  products=$(msi_products | tr '\n' ' ')
  [[ $products == "$version " ]] ||
    { echo "    installed products: '$products', not the one $version"; ok=1; }
  return $ok
}

msi_wine_steps() {  # msi_wine_steps 32|64 DIR
  msi_arch=$1
  local dir=$2 under="[$1-bit] " status
  msi_name=x64
  [[ $msi_arch == 32 ]] && msi_name=x86
  msi_prefix=$dir/wineprefix-msi
  msi_installed="$msi_prefix/drive_c/Program Files/QK42RT"
  local msi=$dir/package/qk42rt-$msi_name.msi stage=$dir/package/stage

  # A run stopped half way may have left the product installed: start that prefix again.
  [[ -e $msi_installed ]] && rm -rf "$msi_prefix"
  if [[ ! -f $msi_prefix/system.reg ]]; then
    msi_wine wineboot -i >"$work/wineboot-msi-$msi_arch.log" 2>&1
    msi_wine reg query "$msi_env_key" /v PATH | tr -d '\r' |
      sed -n 's/^ *PATH *REG_[A-Z_]* *//p' >"$msi_prefix/made-with-path"
    msi_stop_wine
  fi
  # Wine's msiexec takes an appended entry out but leaves its ';' behind, and Wine's cmd stops
  # searching PATH at an empty entry: each run starts from the PATH the prefix was made with.
  if [[ -s $msi_prefix/made-with-path ]]; then
    msi_wine reg add "$msi_env_key" /v PATH /t REG_EXPAND_SZ /d "$(cat "$msi_prefix/made-with-path")" \
      /f >/dev/null
  fi

  msi_wine msiexec /i "$(winpath "$msi")" /qn
  status=$?
  [[ $status == 0 ]] || echo "    msiexec /i exited with $status"
  msi_check_installed "$msi_version" "$stage" || status=1
  step "${under}msiexec /i qk42rt-$msi_name.msi /qn: every file under C:\\Program Files\\QK42RT, bin once on the system PATH, one product" $status

  # Through the PATH the install set, from a folder of its own: no DLL beside it is needed.
  local out
  out=$(cd "$work" && msi_wine cmd /c 'cd /d C:\ && qk42rt --version' 2>&1 | tr -d '\r')
  status=$?
  echo "    $out"
  [[ $out == *"$msi_version"* ]] || status=1
  step "${under}qk42rt --version runs from the install folder, found through the PATH" $status

  # A newer version, its README marked, replaces the installed one in place.
  local newer newer_stage=$work/msi-newer-$msi_arch/stage newer_out=$work/msi-newer-$msi_arch
  newer=$(awk -F. '{ print $1 "." $2 "." $3 + 1 }' <<<"$msi_version")
  rm -rf "$newer_out"
  mkdir -p "$newer_out"
  cp -r "$stage" "$newer_stage"
  echo "(the package of version $newer)" >>"$newer_stage/doc/README.md"
  cmake -DQK42RT_PACKAGE_KIND=msi -DQK42RT_PACKAGE_VERSION="$newer" \
    -DQK42RT_PACKAGE_STAGE="$newer_stage" -DQK42RT_PACKAGE_OUT="$newer_out" \
    -P "$dir/package/make.cmake" >"$newer_out/build.log" 2>&1 || cat "$newer_out/build.log"
  msi_wine msiexec /i "$(winpath "$newer_out/qk42rt-$msi_name.msi")" /qn
  status=$?
  [[ $status == 0 ]] || echo "    msiexec /i (version $newer) exited with $status"
  msi_check_installed "$newer" "$newer_stage" || status=1
  step "${under}a newer MSI ($newer) replaces the installed $msi_version in place: one product, its files, one PATH entry" $status

  # The older one again is refused and leaves the newer one as it was.
  msi_wine msiexec /i "$(winpath "$msi")" /qn
  status=$?
  if [[ $status == 0 ]]; then echo "    the older MSI installed over the newer one"; status=1; else status=0; fi
  msi_check_installed "$newer" "$newer_stage" || status=1
  step "${under}the older MSI is refused over the newer one, which stays installed" $status

  msi_wine msiexec /x "$(winpath "$newer_out/qk42rt-$msi_name.msi")" /qn
  status=$?
  [[ $status == 0 ]] || echo "    msiexec /x exited with $status"
  [[ ! -e $msi_installed ]] || { echo "    left behind:"; find "$msi_installed" | head; status=1; }
  local entries products
  entries=$(msi_path_entries)
  [[ $entries == 0 ]] || { echo "    the bin folder is still $entries times on the PATH"; status=1; }
  products=$(msi_products)
  [[ -z $products ]] || { echo "    still installed: $products"; status=1; }
  step "${under}msiexec /x /qn removes every file, the folder, the PATH entry and the product" $status

  msi_stop_wine
  # A prefix left with anything of ours in it would fail the next run's first step.
  [[ -e $msi_installed || -n $products ]] && rm -rf "$msi_prefix"
  return 0
}

for msi_arch in 32 64; do
  msi_dir=$build64 msi_name=x64
  [[ $msi_arch == 32 ]] && msi_dir=$build msi_name=x86
  cmake --build "$msi_dir" --target msi zip >"$work/msi-build-$msi_arch.log" 2>&1
  status=$?
  [[ $status == 0 ]] || tail -30 "$work/msi-build-$msi_arch.log"
  msi_version=$(sed -n 's/^ *set(QK42RT_PACKAGE_VERSION "\(.*\)")$/\1/p' "$msi_dir/package/make.cmake")
  python3 tests/windows/msi_check.py package "$msi_dir/package/qk42rt-$msi_name.msi" \
    "$msi_dir/package/qk42rt-$msi_version-$msi_name.zip" "$msi_dir/package/stage" $msi_name \
    "$msi_version" "$root" || status=1
  step "[$msi_arch-bit] targets msi and zip: qk42rt-$msi_name.msi and qk42rt-$msi_version-$msi_name.zip hold the same files, the PATH entry and the upgrade rows" $status
done

# Versions Windows Installer cannot hold are refused before anything is built.
status=0
for bad in 1.0 256.0.0 1.255.65536 1.0.0.65536 1.0.0.x 01.2.3.4.5 999999999999999999999.0.0; do
  rm -rf "$work/msi-bad"
  if cmake -DQK42RT_PACKAGE_VERSION="$bad" -DQK42RT_PACKAGE_OUT="$work/msi-bad" \
    -P "$build64/package/make.cmake" >"$work/msi-bad.log" 2>&1; then
    echo "    version $bad was taken"; status=1
  elif ! grep -q "package version '$bad'" "$work/msi-bad.log" || [[ -e $work/msi-bad ]]; then
    echo "    version $bad: no reason given, or something built"; cat "$work/msi-bad.log"; status=1
  fi
done
step "[64-bit] package versions beyond 255.255.65535.65535 or not numbers are refused, nothing built" $status

for msi_arch in "${archs[@]}"; do
  msi_dir=$build64 msi_name=x64
  [[ $msi_arch == 32 ]] && msi_dir=$build msi_name=x86
  msi_version=$(sed -n 's/^ *set(QK42RT_PACKAGE_VERSION "\(.*\)")$/\1/p' "$msi_dir/package/make.cmake")
  msi_wine_steps "$msi_arch" "$msi_dir"
done
