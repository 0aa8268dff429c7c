#!/usr/bin/env bash
# Installing as users do: `cmake --install` to a temporary prefix, the example hosts built
# from outside the source tree against it (C through pkg-config, C++ through find_package)
# and run against qk42rt-sim (the legacy ones through the port-mapping preload, the libqk42
# one on the pseudo-terminal and over TCP), the man pages against the tools' --help, the
# gateway's systemd unit and example configuration, and the Debian package installed and
# removed with apt-get. (The Windows installs are the Windows stage's.) Prints a PASS/FAIL
# line per step and exits non-zero when any step fails.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

# The plain tree the tests ran on serves the temporary prefix and the Debian package:
# `cmake --install --prefix` and CPack (which installs under /usr) write the prefix into the
# installed files as they go. Configured for the default prefix, as a user's tree is, its
# libraries go to lib/ (Debian's multiarch folder only for a tree configured for /usr).
. scripts/trees.sh
build=$root/build
deb_build=$build
sim_port=57 # high, and checked to have no device behind it, should the preload not load
started=$(date +%s)
work=$(mktemp -d /tmp/qk42rt-install.XXXXXX)
prefix=$work/prefix
link=$work/sim-tty
sim_pid=""
deb_installed_here=0
user_made_here=0 # the package's user qk42rt, which purge leaves, was not there before
results=()
failed=0

step() { # step NAME STATUS
  if [[ $2 -eq 0 ]]; then results+=("PASS  $1"); else results+=("FAIL  $1"); failed=1; fi
  echo "--- ${results[-1]}"
}
skip() { results+=("SKIP  $1"); echo "--- ${results[-1]}"; }
log() { echo "    $*"; }

cleanup() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  if ((deb_installed_here)); then dpkg --purge qk42rt >/dev/null 2>&1; fi
  if ((user_made_here)); then userdel qk42rt >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT

apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120 "$@"; }
# Installed and configured ("ii"): a removed package keeps "rc" until it is purged.
deb_is_installed() { [[ $(dpkg-query -W -f='${db:Status-Abbrev}' qk42rt 2>/dev/null) == ii* ]]; }

# --- build and install to a temporary prefix ------------------------------------------------
plain_tree >"$work/build.log" 2>&1 || tail -30 "$work/build.log"
step "the plain tree (build/) is built" $?
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
step "cmake --install --prefix $prefix" $?
libdir_name=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
libdir=$prefix/$libdir_name

check_installed() {
  local ok=0 f
  for f in libqk42rt.so.1.0.0 libqk42rt.so.1 libqk42rt.so cmake/QK42RT/QK42RTConfig.cmake \
    cmake/QK42RT/QK42RTConfigVersion.cmake cmake/QK42RT/QK42RTTargets.cmake \
    pkgconfig/qk42rt.pc libqk42rt-portmap.so libqk42.so.1.0.0 libqk42.so.1 libqk42.so \
    pkgconfig/qk42.pc; do
    [[ -e $libdir/$f ]] || { log "missing: ${libdir#"$prefix"/}/$f"; ok=1; }
  done
  for f in include/qk42rt.h include/qk42.h bin/qk42rt bin/qk42rt-sim share/man/man1/qk42rt.1 \
    share/man/man1/qk42rt-sim.1 share/bash-completion/completions/qk42rt \
    lib/python3/dist-packages/qk42/__init__.py; do
    [[ -e $prefix/$f ]] || { log "missing: $f"; ok=1; }
  done
  # The static core is internal: nothing but the shared library is there to link.
  if compgen -G "$libdir/*.a" >/dev/null; then log "a static library was installed"; ok=1; fi
  local soname
  soname=$(objdump -p "$libdir/libqk42rt.so.1.0.0" | awk '/SONAME/ {print $2}')
  [[ $soname == libqk42rt.so.1 ]] || { log "soname '$soname'"; ok=1; }
  soname=$(objdump -p "$libdir/libqk42.so.1.0.0" | awk '/SONAME/ {print $2}')
  [[ $soname == libqk42.so.1 ]] || { log "libqk42 soname '$soname'"; ok=1; }
  grep -q 'QK42RT::qk42 ' "$libdir/cmake/QK42RT/QK42RTTargets.cmake" ||
    { log "no QK42RT::qk42 target"; ok=1; }
  [[ $(readlink "$libdir/libqk42rt.so") == libqk42rt.so.1 ]] || { log "dev link"; ok=1; }
  grep -qx "prefix=$prefix" "$libdir/pkgconfig/qk42rt.pc" || { log "pc prefix"; ok=1; }
  return $ok
}
check_installed
step "installed files, sonames libqk42rt.so.1 and libqk42.so.1, no static core" $?

# The preload exports its one hook and nothing that could stand in for a host's symbols.
exports=$(nm -D --defined-only "$libdir/libqk42rt-portmap.so" | awk '{print $3}')
[[ $exports == qk42rt_test_device_for_port ]]
step "libqk42rt-portmap.so exports only qk42rt_test_device_for_port" $?

# --- the gateway's service ------------------------------------------------------------------
# A prefix install writes nothing outside the prefix: the unit goes under it and runs its
# qk42rt; only the package (the prefix /usr) puts the example in /etc.
unit=$prefix/lib/systemd/system/qk42rt-gateway.service
example=$prefix/share/doc/qk42rt/examples/gateway.toml
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt")
[[ -z $outside ]] || log "installed outside the prefix: $outside"
[[ -z $outside && -f $example ]] &&
  grep -qx "ExecStart=$prefix/bin/qk42rt serve --config /etc/qk42rt/gateway.toml" "$unit"
step "the unit under the prefix runs its qk42rt; nothing installed outside the prefix" $?

# systemd-analyze verify loads the unit as systemd does and checks that ExecStart's program and
# the man page of Documentation= are there. A key it does not know or a value it cannot read
# is only a warning to it, so it must not say a word about the unit. (What it says about
# other units of the machine that the unit names, network-online.target, is not ours. It does
# not look up User=: the package's steps check the user.)
verify_unit() { # UNIT [VARIABLE=VALUE...]
  local out rc
  out=$(env "${@:2}" systemd-analyze verify --recursive-errors=no "$1" 2>&1)
  rc=$?
  out=$(grep qk42rt-gateway <<<"$out")
  [[ $rc -eq 0 && -z $out ]] || { log "systemd-analyze verify: exit $rc; $out"; return 1; }
}
verify_unit "$unit" MANPATH="$prefix/share/man"
step "systemd-analyze verify: the prefix's unit, no warning" $?
# Its own score of the sandbox (0 to 10, lower is tighter): the unit is at 1.7; above 2.0 a
# protection was lost.
exposure=$(systemd-analyze security --offline=yes --threshold=20 "$unit" 2>&1)
rc=$?
log "$(grep 'Overall exposure' <<<"$exposure")"
((rc == 0)) || grep '✗' <<<"$exposure"
step "systemd-analyze security: the unit's exposure at most 2.0" $rc

# The example is TOML, names the keys the gateway reads, and stays TOML with its commented
# settings taken in (the MQTT section, the token).
python3 - "$example" <<'EOF'
import re, sys, tomllib
text = open(sys.argv[1]).read()
config = tomllib.loads(text)
assert "mqtt" not in config, "MQTT is commented out"
assert config["http"]["listen"] == "127.0.0.1:8042", config["http"]
assert [line["device"] for line in config["line"]] == ["/dev/ttyUSB0"], config["line"]
full = tomllib.loads(re.sub(r"(?m)^# (\[mqtt\]|[a-z_]+ = )", r"\1", text))
keys = {section: set(full[section]) for section in ("http", "mqtt")}
keys["line"] = set().union(*full["line"])
want = {"http": {"listen", "token_file", "read_only", "enabled"},
        "mqtt": {"broker", "base", "client_id", "username", "password_file", "ca_file",
                 "cert_file", "key_file", "discovery", "insecure"},
        "line": {"name", "device", "addresses", "poll_interval_ms"}}
assert keys == want, keys
EOF
step "example gateway.toml: TOML, the gateway's keys, also with its comments taken in" $?

# --- man pages against --help ---------------------------------------------------------------
# Every option and command the tools' help names is in the man page, and the reverse.
check_man() { # TOOL MANPAGE HELP-TEXT
  local ok=0 word
  local man_words
  man_words=$(sed 's/\\-/-/g' "$2")
  for word in $(grep -oE -- '--[a-z][a-z-]*' <<<"$3" | sort -u); do
    grep -qF -- "$word" <<<"$man_words" || { log "$1: $word is not in the man page"; ok=1; }
  done
  for word in $(grep -oE -- '--[a-z][a-z-]*' <<<"$man_words" | sort -u); do
    grep -qF -- "$word" <<<"$3" || { log "$1: the man page names $word, the help does not"; ok=1; }
  done
  return $ok
}
cli_help=$("$prefix/bin/qk42rt" --help; "$prefix/bin/qk42rt" monitor --help; "$prefix/bin/qk42rt" serve --help)
sim_help=$("$prefix/bin/qk42rt-sim" --help)
man_ok=0
check_man qk42rt "$prefix/share/man/man1/qk42rt.1" "$cli_help" || man_ok=1
check_man qk42rt-sim "$prefix/share/man/man1/qk42rt-sim.1" "$sim_help" || man_ok=1
for command in $(sed -n '/^Commands:/,/^$/p' <<<"$cli_help" | awk 'NR > 1 && NF {print $1}'); do
  grep -q "^\.B[IR]* ${command//-/\\\\-}\b" "$prefix/share/man/man1/qk42rt.1" ||
    { log "command $command is not in qk42rt.1"; man_ok=1; }
done
for page in qk42rt qk42rt-sim; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { log "$page.1: $warnings"; man_ok=1; }
done
step "man pages match --help of both tools" $man_ok

# --- the example hosts, out of tree -----------------------------------------------------------
cp -r "$root/examples" "$work/examples"
make -s -C "$work/examples/c_host" PKG_CONFIG_PATH="$libdir/pkgconfig" \
  CFLAGS="-O2 -Wall -Wextra -Wpedantic -Werror" >"$work/c_host.log" 2>&1 ||
  cat "$work/c_host.log"
[[ -x $work/examples/c_host/qk42rt-c-host ]]
step "C host built through pkg-config (PKG_CONFIG_PATH)" $?

{ cmake -S "$work/examples/cpp_host" -B "$work/cpp_build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON && cmake --build "$work/cpp_build"; } >"$work/cpp_host.log" 2>&1 ||
  cat "$work/cpp_host.log"
[[ -x $work/cpp_build/qk42rt-cpp-host ]]
step "C++ host built through find_package(QK42RT) (CMAKE_PREFIX_PATH)" $?

make -s -C "$work/examples/qk42_host" PKG_CONFIG_PATH="$libdir/pkgconfig" \
  CFLAGS="-O2 -Wall -Wextra -Wpedantic -Werror" >"$work/qk42_host.log" 2>&1 ||
  cat "$work/qk42_host.log"
[[ -x $work/examples/qk42_host/qk42-host ]]
step "libqk42 host built through pkg-config qk42" $?

# The simulator, with every channel open and setpoint 10.5, 20.5, ... 80.5.
start_sim() {
  [[ ! -e /dev/ttyS$((sim_port - 1)) ]] || { log "/dev/ttyS$((sim_port - 1)) exists"; return 1; }
  "$prefix/bin/qk42rt-sim" --link "$link" --tcp 127.0.0.1:0 --time-constant 0 >"$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do grep -q '^tcp: ' "$work/sim.log" && break; sleep 0.05; done
  [[ -e $link ]] || { cat "$work/sim.log"; return 1; }
  sim_tcp=tcp://$(sed -n 's/^tcp: //p' "$work/sim.log")
  "$prefix/bin/qk42rt" --device "$link" onoff 0xFF >/dev/null || return 1
  local channel
  for channel in 1 2 3 4 5 6 7 8; do
    "$prefix/bin/qk42rt" --device "$link" setpoint "$channel" "${channel}0.5" >/dev/null || return 1
  done
}
start_sim
step "qk42rt-sim started (--link), set up with the installed qk42rt" $?

expected=$(for c in 1 2 3 4 5 6 7 8; do echo "channel $c: flow ${c}0.5 status 0"; done)
preload=(env LD_PRELOAD="$libdir/libqk42rt-portmap.so" QK42RT_PORT_MAP="$sim_port=$link")
run_host() { # NAME HOST ARGS...: eight flows, exit 0
  local name=$1 out
  shift
  out=$("${preload[@]}" LD_LIBRARY_PATH="$libdir" "$@" 2>"$work/host.err")
  local rc=$?
  [[ $rc -eq 0 && $out == "$expected" ]] ||
    { log "$name: exit $rc"; log "$out"; cat "$work/host.err"; return 1; }
}
run_host "C host" "$work/examples/c_host/qk42rt-c-host" "$sim_port" 1
step "C host prints the eight flows from the simulator (port $sim_port via preload)" $?
run_host "C++ host" "$work/cpp_build/qk42rt-cpp-host" "$sim_port" 1
step "C++ host prints the eight flows from the simulator (port $sim_port via preload)" $?

# A call that fails makes the host exit non-zero: address 2 is not simulated, so no reply.
"${preload[@]}" LD_LIBRARY_PATH="$libdir" "$work/examples/c_host/qk42rt-c-host" "$sim_port" 2 \
  >/dev/null 2>&1
[[ $? -eq 1 ]]
step "C host exits 1 when the instrument does not answer" $?

# The libqk42 host names its line by device string: the pseudo-terminal, then TCP.
qk42_expected=$(echo "version 1.2, kind C, info 8 1"; echo "$expected")
for device in "$link" "$sim_tcp"; do
  out=$(LD_LIBRARY_PATH="$libdir" "$work/examples/qk42_host/qk42-host" "$device" 2>"$work/host.err")
  [[ $? -eq 0 && $out == "$qk42_expected" ]] || { log "$out"; cat "$work/host.err"; false; }
  step "libqk42 host prints version and eight flows from $device" $?
done
LD_LIBRARY_PATH="$libdir" "$work/examples/qk42_host/qk42-host" "tcp://127.0.0.1:1" 2>"$work/host.err"
[[ $? -eq 1 ]] && grep -q "cannot open tcp://127.0.0.1:1: connection refused (cannot_open)" "$work/host.err"
step "libqk42 host says why it cannot open a refused tcp:// line" $?
python_read='import qk42, sys
with qk42.open(sys.argv[1]) as line:
    inst = line.instrument(1)
    print(inst.version().text, inst.flow(3).value)'
out=$(cd / && PYTHONPATH="$prefix/lib/python3/dist-packages" \
  QK42_LIBRARY="$libdir/libqk42.so.1" PYTHONDONTWRITEBYTECODE=1 \
  /usr/bin/python3 -c "$python_read" "$sim_tcp" 2>&1)
[[ $out == "1.2 30.5" ]] || { log "$out"; false; }
step "Python package qk42 from the prefix reads the simulator over TCP" $?
env LD_PRELOAD="$libdir/libqk42rt-portmap.so" QK42RT_PORT_MAP="$sim_port=$work/nothing" \
  "$work/cpp_build/qk42rt-cpp-host" "$sim_port" >/dev/null 2>&1
[[ $? -eq 1 ]]
step "C++ host exits 1 when its port cannot be opened" $?

# The preload serves any program that opens ports by number, and says which entries it skips.
out=$(env LD_PRELOAD="$libdir/libqk42rt-portmap.so" QK42RT_PORT_MAP="oops,$sim_port=$link" \
  "$prefix/bin/qk42rt" --port "$sim_port" flow 3 2>"$work/portmap.err")
[[ $? -eq 0 && $out == *30.5* ]] && grep -q 'ignoring "oops"' "$work/portmap.err"
step "preload maps --port $sim_port of qk42rt, reports a malformed entry" $?

kill "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
sim_pid=""

# --- the Debian package ---------------------------------------------------------------------
deb_files=(/usr/include/qk42rt.h /usr/include/qk42.h /usr/bin/qk42rt /usr/bin/qk42rt-sim
  /usr/lib/python3/dist-packages/qk42/__init__.py
  /usr/share/man/man1/qk42rt.1 /usr/share/bash-completion/completions/qk42rt
  /usr/lib/systemd/system/qk42rt-gateway.service /usr/share/doc/qk42rt/examples/gateway.toml)
check_deb_installed() {
  local ok=0 f lib=/usr/$libdir_name
  for f in "${deb_files[@]}" $lib/libqk42rt.so.1 $lib/libqk42.so.1 $lib/pkgconfig/qk42.pc \
    $lib/libqk42rt-portmap.so $lib/pkgconfig/qk42rt.pc $lib/cmake/QK42RT/QK42RTConfig.cmake; do
    [[ -e $f ]] || { log "missing: $f"; ok=1; }
  done
  [[ $(ldconfig -p) == *"libqk42rt.so.1 "* ]] || { log "ldconfig does not list libqk42rt.so.1"; ok=1; }
  [[ $(ldconfig -p) == *"libqk42.so.1 "* ]] || { log "ldconfig does not list libqk42.so.1"; ok=1; }
  [[ $(pkg-config --modversion qk42rt 2>&1) == 1.0.0.1 ]] || { log "pkg-config"; ok=1; }
  [[ -n $(man -w qk42rt 2>/dev/null) ]] || { log "man -w qk42rt"; ok=1; }
  return $ok
}
check_deb_removed() {
  local ok=0 f
  for f in "${deb_files[@]}" /usr/lib/python3/dist-packages/qk42; do
    [[ ! -e $f ]] || { log "left behind: $f"; ok=1; }
  done
  [[ $(ldconfig -p) != *libqk42rt* ]] || { log "ldconfig still lists libqk42rt"; ok=1; }
  return $ok
}

# The service's part: postinst's user, a system user without a login or a home, whose group is
# its own and who is in dialout; the unit as systemd finds it, left disabled.
enable_link=/etc/systemd/system/multi-user.target.wants/qk42rt-gateway.service
check_service_installed() {
  local ok=0 uid home shell
  IFS=: read -r _ _ uid _ _ home shell < <(getent passwd qk42rt)
  [[ -n $uid ]] || { log "no user qk42rt"; return 1; }
  # Debian gives system users UIDs below 1000 (SYS_UID_MAX).
  ((uid < 1000)) || { log "qk42rt has UID $uid, no system user's"; ok=1; }
  [[ $shell == /usr/sbin/nologin && ! -e $home ]] ||
    { log "qk42rt: shell $shell, home $home"; ok=1; }
  [[ $(id -gn qk42rt) == qk42rt && " $(id -nG qk42rt) " == *" dialout "* ]] ||
    { log "qk42rt's groups: $(id -nG qk42rt)"; ok=1; }
  verify_unit /usr/lib/systemd/system/qk42rt-gateway.service || ok=1
  local enabled
  enabled=$(systemctl is-enabled qk42rt-gateway.service 2>&1)
  [[ $enabled == disabled ]] || { log "systemctl is-enabled qk42rt-gateway: $enabled"; ok=1; }
  [[ -f /etc/qk42rt/gateway.toml.example ]] || { log "no /etc/qk42rt/gateway.toml.example"; ok=1; }
  return $ok
}

if [[ $(id -u) -ne 0 ]]; then
  skip "Debian package (needs root for apt-get)"
elif deb_is_installed; then
  skip "Debian package (qk42rt is already installed on this machine; left alone)"
else
  (cd "$deb_build" && rm -f ./*.deb && cpack -G DEB >"$work/cpack.log" 2>&1) ||
    cat "$work/cpack.log"
  deb=$(compgen -G "$deb_build/qk42rt_*.deb" | tail -1)
  [[ -n $deb ]]
  step "cpack -G DEB: ${deb##*/}" $?
  if [[ -n $deb ]]; then
    depends=$(dpkg-deb -f "$deb" Depends)
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    log "Depends: $depends"
    [[ $depends == *libc6* && $depends == *passwd* && -n $maintainer ]]
    step "package control: computed Depends and passwd (postinst's useradd), Maintainer" $?
    conffiles=$(dpkg-deb -I "$deb" conffiles 2>&1)
    [[ $conffiles == /etc/qk42rt/gateway.toml.example ]] || { log "conffiles: $conffiles"; false; }
    step "package control: /etc/qk42rt/gateway.toml.example its one conffile" $?

    getent passwd qk42rt >/dev/null || user_made_here=1

    apt_get install -y -qq "$deb" >"$work/apt.log" 2>&1 || cat "$work/apt.log"
    deb_is_installed && deb_installed_here=1
    ((deb_installed_here)) && check_deb_installed
    step "apt-get install ./${deb##*/}: files, ldconfig, pkg-config, man" $?
    ((deb_installed_here)) && check_service_installed
    step "apt-get install: user qk42rt (system, no login) in dialout, unit verified, disabled" $?
    # As an administrator enables it (systemctl makes the link with or without systemd
    # running; nothing starts without --now): purge must take the link away.
    systemctl enable qk42rt-gateway.service >/dev/null 2>&1 && [[ -L $enable_link ]]
    step "systemctl enable qk42rt-gateway: linked from multi-user.target" $?

    # A host built against the system install, the preload found by its bare name.
    cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$root/examples/c_host/main.c" \
      $(pkg-config --cflags --libs qk42rt) -o "$work/system-host" &&
      start_sim && out=$(LD_PRELOAD=libqk42rt-portmap.so QK42RT_PORT_MAP="$sim_port=$link" \
      "$work/system-host" "$sim_port") && [[ $out == "$expected" ]]
    step "host built against the package runs with LD_PRELOAD=libqk42rt-portmap.so" $?
    cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$root/examples/qk42_host/main.c" \
      $(pkg-config --cflags --libs qk42) -o "$work/system-qk42-host" &&
      [[ -n $sim_pid ]] && out=$("$work/system-qk42-host" "$sim_tcp") && [[ $out == "$qk42_expected" ]]
    step "libqk42 host built against the package reads the simulator over TCP" $?
    # As root and without settings: libqk42 found by the loader, byte code written (prerm).
    out=$(cd / && env -u PYTHONPATH -u QK42_LIBRARY -u PYTHONDONTWRITEBYTECODE \
      /usr/bin/python3 -c "$python_read" "$sim_tcp" 2>&1)
    [[ $out == "1.2 30.5" ]] || { log "$out"; false; }
    step "Python package qk42 from the package reads the simulator over TCP" $?
    if [[ -n $sim_pid ]]; then kill "$sim_pid"; wait "$sim_pid" 2>/dev/null; sim_pid=""; fi

    apt_get remove -y -qq qk42rt >"$work/apt.log" 2>&1 || cat "$work/apt.log"
    ! deb_is_installed && check_deb_removed
    step "apt-get remove qk42rt: files and ldconfig entry gone" $?
    getent passwd qk42rt >/dev/null && [[ -f /etc/qk42rt/gateway.toml.example ]]
    step "apt-get remove qk42rt: the user and the example (a conffile) kept" $?
    # Nothing of it left in dpkg's records either (remove keeps "rc" for its postrm).
    dpkg --purge qk42rt >/dev/null 2>&1 && [[ -z $(dpkg-query -W qk42rt 2>/dev/null) ]] &&
      deb_installed_here=0
    step "dpkg --purge qk42rt: no record left" $?
    # What purge leaves is the user and group qk42rt (docs/install.md); the stage then removes
    # them when it made them.
    [[ ! -e /etc/qk42rt && ! -L $enable_link ]] && getent passwd qk42rt >/dev/null
    step "dpkg --purge qk42rt: /etc/qk42rt and the enable link gone, the user kept" $?
    if ((user_made_here)) && userdel qk42rt; then user_made_here=0; fi
  fi
fi

echo
printf '%s\n' "${results[@]}"
echo "install stage: $(($(date +%s) - started)) s"
exit $failed
