#!/usr/bin/env bash
# The Windows DLLs, QK42RT.dll (the twenty legacy functions) and qk42.dll (libqk42), each
# cross-built with mingw-w64 for 32-bit (i686) and 64-bit (x86_64) hosts: their export and
# import tables and the version resource read from the files, then under Wine for each
# architecture the machine can run: the version resource through the version API, a full host
# session of QK42RT.dll against the simulator on a COM port, the port released at FreeLibrary
# and at process exit, the message box in a real (Xvfb) window, and a host of qk42.dll on a
# COM port and over TCP at once.
# Some virtual machines run a kernel that cannot execute 32-bit programs, so no 32-bit Wine
# starts there; the 32-bit DLLs are then checked from their files only, and the summary says
# so. The 64-bit steps run everywhere.
# Prints a PASS/FAIL line per step and exits non-zero when any step fails.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
. scripts/trees.sh

build=$root/build-win
work=$build/wintest          # logs and the screenshot
sim_port=57                  # high: Wine makes the low comN links for the machine's own ports
missing_port=58              # nothing behind it
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

started=$(date +%s)
results=()
failed=0
sim_pid=""
sniff_pid=""
sim_tcp=""
xvfb_pid=""

step() {  # step NAME STATUS
  if [[ $2 -eq 0 ]]; then results+=("PASS  $1"); else results+=("FAIL  $1"); failed=1; fi
  echo "--- ${results[-1]}"
}

stop_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }

stop_sim() {
  # The Wine server has the pseudo-terminal as its controlling terminal: stop it first.
  stop_wine
  if [[ -n $sniff_pid ]]; then
    kill -INT "$sniff_pid" 2>/dev/null
    wait "$sniff_pid" 2>/dev/null
    sniff_pid=""
  fi
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=""
  fi
  [[ -z ${WINEPREFIX:-} ]] || rm -f "$WINEPREFIX/dosdevices/com$sim_port"
}

cleanup() {
  stop_sim
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT

winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

# Starts the simulator (addresses 1 and 2, also on TCP) with its standard output in $1, maps
# COM$sim_port to its line and sets sim_tcp to its TCP device string.
start_sim() {
  local log=$1
  : >"$log"
  stdbuf -oL "$sim" --time-constant 0 --address 1 --address 2 --tcp 127.0.0.1:0 \
    >"$log" 2>"$log.err" &
  sim_pid=$!
  local slave=""
  for _ in $(seq 100); do
    slave=$(sed -n '1s/^slave: //p' "$log")
    sim_tcp=$(sed -n '2s/^tcp: /tcp:\/\//p' "$log")
    [[ -n $slave && -n $sim_tcp ]] && break
    sleep 0.05
  done
  if [[ -z $slave || -z $sim_tcp ]]; then
    echo "the simulator printed no slave or tcp line"; cat "$log.err"
    return 1
  fi
  ln -sfn "$slave" "$WINEPREFIX/dosdevices/com$sim_port"
}


# --- tools -------------------------------------------------------------------------------
missing_tools=()
for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-objdump i686-w64-mingw32-windres \
            x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump x86_64-w64-mingw32-windres \
            wine wineserver Xvfb xdotool import python3 stdbuf curl patch xz; do
  command -v "$tool" >/dev/null || missing_tools+=("$tool")
done
if ((${#missing_tools[@]})); then
  echo "missing tools: ${missing_tools[*]} (scripts/install-deps.sh installs them)"
  echo "FAIL windows stage"
  exit 1
fi
mkdir -p "$work"

# --- the simulator and the client (for sniff), from the plain tree -----------------------
sim=$root/build/tools/sim/qk42rt-sim
client=$root/build/tools/cli/qk42rt
plain_tree -- qk42rt-sim qk42rt_cli >"$work/plain-build.log" 2>&1 ||
  { tail -30 "$work/plain-build.log"; false; }
step "simulator and client built (build/)" $?

# --- cross build -------------------------------------------------------------------------
cross_build() {  # cross_build ARCH WHAT
  local log
  log=$work/build-win$1.log
  windows_tree "$1" >"$log" 2>&1
  local status=$?
  step "$2" $status
  if [[ $status -ne 0 ]]; then
    tail -40 "$log"
    printf '%s\n' "${results[@]}"
    exit 1
  fi
}
build64=$root/build-win64
# serve's HTTP library as a single header for mingw (Debian's source package, checked).
scripts/fetch-httplib.sh >"$work/fetch-httplib.log" 2>&1 || { cat "$work/fetch-httplib.log"; false; }
step "cpp-httplib for the Windows build (scripts/fetch-httplib.sh)" $?
cross_build 32 "[32-bit] the DLLs, qk42rt.exe, qk42rt-sim.exe and the test hosts build with mingw-w64 (i686), Release, no warning"
cross_build 64 "[64-bit] the DLLs, qk42rt.exe, qk42rt-sim.exe and the test hosts build with mingw-w64 (x86_64), Release, no warning"
. tests/windows/wheel_steps.sh
. tests/windows/tool_steps.sh

# --- the files ---------------------------------------------------------------------------
for arch in 32 64; do
  if [[ $arch == 32 ]]; then dir=$build tools=i686-w64-mingw32 format=i386
  else dir=$build64 tools=x86_64-w64-mingw32 format=x86-64; fi
  python3 tests/windows/check_dll_tables.py $tools-objdump "$dir/src/QK42RT.dll" \
    include/qk42rt.def $format
  step "[$arch-bit] QK42RT.dll exports the twenty names at their ordinals, nothing else; imports system DLLs only" $?
  python3 tests/windows/check_version_resource.py $tools-windres "$dir/src/QK42RT.dll"
  step "[$arch-bit] QK42RT.dll version resource in the file: 041204B0 with its values, 1.0.0.1, 0x0412/1200" $?
  python3 tests/windows/check_dll_tables.py $tools-objdump "$dir/src/qk42.dll" include/qk42.def \
    $format ws2_32
  step "[$arch-bit] qk42.dll exports the qk42_ functions, nothing else; imports system DLLs and Winsock only" $?
done

# --- under Wine, for each architecture this kernel runs --------------------------------
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
archs=(64)
if "$wine32" --version >/dev/null 2>&1; then
  archs=(32 64)
elif [[ ! -e $wine32 ]]; then
  no32="32-bit Wine (wine32:i386) is not installed: install-deps.sh could not install it"
  echo "$no32; the Wine steps run on the 64-bit build"
else
  why=$("$wine32" --version 2>&1 | tail -1)
  no32="this kernel runs no 32-bit programs ($wine32: ${why##*: })"
  echo "$no32: the Wine steps run on the 64-bit build"
fi

# Runs every Wine step for one architecture: 32 or 64.
wine_steps() {
  local arch=$1 under="[$1-bit] " tested wine
  if [[ $arch == 32 ]]; then
    tested=$build wine=$wine32
    export WINEARCH=win32
    unset WINELOADER
  else
    tested=$build64 wine=$wine64
    export WINEARCH=win64 WINELOADER=$wine64
  fi
  export WINEPREFIX=$tested/wineprefix
  local dll=$tested/src/QK42RT.dll
  local host=$tested/tests/windows/qk42rt_wintest.exe
  local probe=$tested/tests/windows/qk42rt_exit_probe.dll

  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    env -u DISPLAY "$wine" wineboot -i >"$work/wineboot-$arch.log" 2>&1
    # Xvfb runs no window manager: let Wine draw the caption, so the screenshot shows it.
    env -u DISPLAY "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
      >>"$work/wineboot-$arch.log" 2>&1
    stop_wine
  fi
  rm -f "$WINEPREFIX/dosdevices/com$sim_port" "$WINEPREFIX/dosdevices/com$missing_port"

  env -u DISPLAY "$wine" "$tested/tests/windows/qk42rt_version_check.exe" "$(winpath "$dll")"
  step "${under}version resource reads back through the version API (041204B0, 1, 0, 0, 1, 0x0412/1200)" $?
  stop_wine

  # Full session, no display: the message box returns at once there.
  if start_sim "$work/session-sim.log"; then
    env -u DISPLAY timeout 120 "$wine" "$host" session "$(winpath "$dll")" $sim_port $missing_port \
      "$(winpath "$work/session-sim.log")"
    step "${under}host session: every function by name and ordinal, every operation, time-out, ClosePort, FreeLibrary releases the port" $?
  else
    step "${under}host session (simulator did not start)" 1
  fi
  stop_sim

  # The same session with qk42rt sniff between COM$sim_port and the simulator: the host's
  # waits on the line's hang-ups read sniff's "event: line hung up", and every operation the
  # host runs must come out of sniff decoded, the missing replies named.
  if sniff_session "$arch"; then
    step "${under}host session through qk42rt sniff: every operation decoded, the missing replies named" 0
  else
    step "${under}host session through qk42rt sniff" 1
  fi
  stop_sim

  # Process exit with the port held: the probe DLL, detached after QK42RT.dll, checks that
  # the line was hung up while the process still existed.
  if start_sim "$work/exit-sim.log"; then
    env -u DISPLAY timeout 60 "$wine" "$host" exit-held "$(winpath "$dll")" $sim_port \
      "$(winpath "$work/exit-sim.log")" "$(winpath "$probe")" | tee "$work/exit-host.log"
    local status=${PIPESTATUS[0]}
    grep -q '^ok   process exit released the held port' "$work/exit-host.log" || status=1
    step "${under}process exit without FreeLibrary releases the held port" $status
  else
    step "${under}process exit (simulator did not start)" 1
  fi
  stop_sim

  message_box "$wine" "$host" "$dll" "$arch"
  step "${under}message box: \"can't open port!\" captioned QK42RT blocks InitPort until a key closes it, then 0" $?
  stop_wine
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""

  # libqk42: a COM port and a TCP line at once, each from its own thread.
  if start_sim "$work/qk42-sim.log"; then
    env -u DISPLAY WINEPATH="$(winpath "$tested/src")" timeout 120 "$wine" \
      "$tested/tests/windows/qk42_wintest.exe" "COM$sim_port" "$sim_tcp" "COM$missing_port" \
      | tee "$work/qk42-host-$arch.log"
    local status=${PIPESTATUS[0]}
    grep -q '^PASS qk42_wintest' "$work/qk42-host-$arch.log" || status=1
    step "${under}qk42.dll host: every function on COM$sim_port and over TCP at once, reasons, time-out, strict arguments" $status
  else
    step "${under}qk42.dll host (simulator did not start)" 1
  fi
  stop_sim

  tool_wine_steps "$arch"
}

# --- qk42rt sniff between the host and the simulator ---------------------------------------
sniff_session() {  # sniff_session ARCH (in wine_steps: $wine, $host, $dll set)
  local log=$work/sniff-$1.log link=$work/sniff-host-$1 slave status=0 op
  start_sim "$work/sniff-sim.log" || return 1
  slave=$(sed -n '1s/^slave: //p' "$work/sniff-sim.log")
  rm -f "$link"
  "$client" --device "$slave" sniff --link "$link" >"$log" 2>"$log.err" &
  sniff_pid=$!
  for _ in $(seq 100); do [[ -L $link ]] && break; sleep 0.05; done
  [[ -L $link ]] || { echo "qk42rt sniff made no link"; cat "$log.err"; return 1; }
  ln -sfn "$link" "$WINEPREFIX/dosdevices/com$sim_port"
  env -u DISPLAY timeout 120 "$wine" "$host" session "$(winpath "$dll")" $sim_port $missing_port \
    "$(winpath "$log")" || status=1
  stop_wine
  kill -INT "$sniff_pid"
  wait "$sniff_pid" || status=1
  sniff_pid=""
  cat "$log.err"
  for op in "set unit" "set setpoint" "set maxflow" "set on off" "set ratio total" \
    "control ratio total" "int control" "set display" "set key lock" "read unit" \
    "read setpoint" "read maxflow" "read flow" "read on off" "read ratio total" \
    "read intflow" "read inttime" "read version"; do
    grep -F "  $op  address 1  " "$log" | grep -vqF -- "-> failed" ||
      { echo "sniff decoded no answered $op"; status=1; }
  done
  grep -qF "read flow  address 5  channel 1  -> failed: no reply" "$log" ||
    { echo "sniff did not name the missing reply"; status=1; }
  echo "sniff's log: $log"
  return $status
}

# --- the message box in a real window ----------------------------------------------------
message_box() {  # message_box WINE HOST DLL ARCH
  local wine=$1 host=$2 dll=$3 arch=$4
  local display_file=$work/xvfb.display
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$display_file" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s $display_file ]] && break; sleep 0.05; done
  [[ -s $display_file ]] || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=:$(head -1 "$display_file")

  "$wine" "$host" missing "$(winpath "$dll")" $missing_port >"$work/message-box-host.log" 2>&1 &
  local host_pid=$!
  local window
  window=$(timeout 30 xdotool search --sync --name '^QK42RT$' 2>/dev/null | head -1)
  if [[ -z $window ]]; then
    echo "no window titled QK42RT appeared"
    kill "$host_pid" 2>/dev/null
    return 1
  fi
  echo "window $window titled \"$(xdotool getwindowname "$window")\""
  sleep 1
  if ! kill -0 "$host_pid" 2>/dev/null; then
    echo "QK42RT_InitPort returned before the box was closed"
    return 1
  fi
  echo "still blocked 1 s after the box appeared"
  import -window root "$work/message-box-$arch.png"
  import -window "$window" "$work/message-box-window-$arch.png"
  xdotool key --window "$window" Return 2>/dev/null
  local status=1
  for _ in $(seq 100); do
    if ! kill -0 "$host_pid" 2>/dev/null; then wait "$host_pid"; status=$?; break; fi
    sleep 0.1
  done
  if kill -0 "$host_pid" 2>/dev/null; then
    echo "the box did not close on the key press"
    kill "$host_pid" 2>/dev/null
  fi
  cat "$work/message-box-host.log"
  echo "screenshots: $work/message-box-$arch.png, $work/message-box-window-$arch.png"
  unset DISPLAY
  return $status
}

for arch in "${archs[@]}"; do wine_steps "$arch"; done

# --- installs: 32-bit (dist/windows) and 64-bit (dist/windows-x64) -------------------------
# Each architecture installs into a folder of its own, as a host's installer would ship the
# DLL matching the host: a 64-bit process cannot load a 32-bit DLL, nor the reverse.
windows_install() {  # ARCH BUILD_DIR TOOLS FORMAT
  local arch=$1 dir=$2 tools=$3 format=$4 dist=$work/dist/windows-$1
  rm -rf "$dist"
  cmake --install "$dir" --prefix "$dist" >"$work/wininstall-$arch.log" 2>&1 ||
    tail -30 "$work/wininstall-$arch.log"
  local ok=$? f
  for f in bin/QK42RT.dll lib/QK42RT.lib include/qk42rt.def include/qk42rt.h \
    bin/qk42.dll lib/qk42.lib include/qk42.def include/qk42.h; do
    [[ -f $dist/$f ]] || { echo "    missing: $f"; ok=1; }
  done
  for f in QK42RT.dll qk42.dll; do
    [[ $($tools-objdump -f "$dist/bin/$f" 2>/dev/null) == *"file format $format"* ]] ||
      { echo "    $f is not $format"; ok=1; }
  done
  step "[$arch-bit] cmake --install into a folder: both DLLs ($format), import libraries, .def files, headers" $ok
  # The installed headers and import libraries are enough to link a Windows host.
  $tools-gcc -std=c99 -Wall -Wextra -Wpedantic -Werror -I"$dist/include" \
    "$root/examples/c_host/main.c" "$dist/lib/QK42RT.lib" -o "$work/c_host-$arch.exe" &&
    [[ $($tools-objdump -p "$work/c_host-$arch.exe") == *"DLL Name: QK42RT.dll"* ]]
  step "[$arch-bit] C host links against the installed QK42RT.lib" $?
  $tools-gcc -std=c99 -Wall -Wextra -Wpedantic -Werror -I"$dist/include" \
    "$root/examples/qk42_host/main.c" "$dist/lib/qk42.lib" -o "$work/qk42_host-$arch.exe" &&
    [[ $($tools-objdump -p "$work/qk42_host-$arch.exe") == *"DLL Name: qk42.dll"* ]]
  step "[$arch-bit] libqk42 host links against the installed qk42.lib" $?
}
windows_install 32 "$build" i686-w64-mingw32 pei-i386
windows_install 64 "$build64" x86_64-w64-mingw32 pei-x86-64
. tests/windows/msi_steps.sh  # the MSI and the zip: built, installed, upgraded, removed

echo
echo "=== Windows stage ($(($(date +%s) - started)) s)"
printf '%s\n' "${results[@]}"
if [[ -n ${no32:-} ]]; then
  echo "NOTE  $no32:"
  echo "      the 32-bit DLLs and programs were built and read from their files; the Wine steps"
  echo "      ran on the 64-bit build only"
fi
if ((failed)); then echo "FAIL windows"; exit 1; fi
echo "PASS windows"
