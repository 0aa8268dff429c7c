# qk42rt.exe and qk42rt-sim.exe, sourced by scripts/stages/windows.sh: the import tables of
# every program and DLL shipped (read from the files, both architectures), then under Wine for
# one architecture (tool_wine_steps ARCH, called from wine_steps with its variables set): the
# client against the Linux client, command by command; ports; serve answering curl from Linux;
# the demo.

# Windows' own DLLs: what a program may import and still need nothing installed beside it.
system_dlls='^(KERNEL32|USER32|ADVAPI32|SETUPAPI|WS2_32|WINMM|MSVCRT)\.DLL$'  # any case

imports_only_system() {  # OBJDUMP FILE
  local dll status=0
  while read -r dll; do
    [[ ${dll^^} =~ $system_dlls ]] || { echo "    $(basename "$2") imports $dll"; status=1; }
  done < <("$1" -p "$2" | sed -n 's/^\s*DLL Name: //p')
  return $status
}

for arch in 32 64; do
  if [[ $arch == 32 ]]; then dir=$build objdump=i686-w64-mingw32-objdump
  else dir=$build64 objdump=x86_64-w64-mingw32-objdump; fi
  ok=0
  for file in "$dir/tools/cli/qk42rt.exe" "$dir/tools/sim/qk42rt-sim.exe" "$dir/src/QK42RT.dll" \
    "$dir/src/qk42.dll"; do
    [[ -f $file ]] || { echo "    missing: $file"; ok=1; continue; }
    imports_only_system "$objdump" "$file" || ok=1
  done
  step "[$arch-bit] qk42rt.exe, qk42rt-sim.exe and both DLLs import Windows' own DLLs only" $ok
done

# The simulator for serve and ports: addresses 1 and 2 on a pseudo-terminal, COM$sim_port
# mapped to it (start_sim of windows.sh).
tool_wine_steps() {  # ARCH (in wine_steps: $wine and $tested set)
  local under="[$1-bit] " exe=$tested/tools/cli/qk42rt.exe status

  QK42RT_PARITY_WORK=$work timeout 300 python3 tests/windows/client_parity.py "$client" "$sim" \
    "$wine" "$exe" "$sim_port" "$missing_port" >"$work/parity-$1.log" 2>&1
  status=$?
  grep -E '^(DIFFER|WRONG)' -A12 "$work/parity-$1.log" | head -60
  tail -1 "$work/parity-$1.log"
  step "${under}qk42rt.exe prints what the Linux client prints, command by command, exit statuses included" $status
  stop_wine

  timeout 120 "$wine" "$exe" demo >"$work/demo-$1.log" 2>&1 &&
    grep -q '^All operations ran as expected\.' "$work/demo-$1.log"
  status=$?
  ((status)) && tail -20 "$work/demo-$1.log"
  step "${under}qk42rt.exe demo runs every operation against qk42rt-sim.exe on loopback TCP" $status
  stop_wine

  tool_ports "$1"
  tool_serve "$1"
}

# Wine lists in SERIALCOMM the ports named under HKLM\Software\Wine\Ports (and the machine's
# own); a link in dosdevices alone is not listed. The entry is removed again at the end, as it
# would map its port at every start of the Wine server.
tool_ports() {
  local under="[$1-bit] " exe=$tested/tools/cli/qk42rt.exe port=59 status=0
  local link=$work/ports-line key='HKLM\Software\Wine\Ports'
  start_sim "$work/ports-sim.log" || { step "${under}qk42rt.exe ports (no simulator)" 1; return; }
  ln -sfn "$(sed -n '1s/^slave: //p' "$work/ports-sim.log")" "$link"
  stop_wine
  "$wine" reg add "$key" /v "COM$port" /t REG_SZ /d "$link" /f >/dev/null 2>&1
  stop_wine
  "$wine" "$exe" ports >"$work/ports-$1.txt" 2>&1 || status=1
  "$wine" "$exe" --json ports >"$work/ports-$1.json" 2>&1 || status=1
  "$wine" reg delete "$key" /v "COM$port" /f >/dev/null 2>&1
  stop_sim
  rm -f "$WINEPREFIX/dosdevices/com$port" "$link"
  grep -qE "^ *COM$port\b" "$work/ports-$1.txt" || { echo "    COM$port not listed"; status=1; }
  python3 - "$work/ports-$1.json" "COM$port" <<'EOF' || status=1
import json, sys
ports = json.load(open(sys.argv[1]))
assert any(p["device"] == sys.argv[2] for p in ports), f"{sys.argv[2]} not in {ports}"
EOF
  ((status)) && cat "$work/ports-$1.txt"
  step "${under}qk42rt.exe ports lists COM$port from the registry; --json parses" $status
}

# serve on COM$sim_port with a token, asked by curl from Linux on loopback.
tool_serve() {
  local under="[$1-bit] " exe=$tested/tools/cli/qk42rt.exe status=0 port token_file url
  local log=$work/serve-$1.log auth
  token_file=$work/serve-token
  echo "token-$RANDOM-$RANDOM" >"$token_file"
  chmod 600 "$token_file"
  auth="Authorization: Bearer $(cat "$token_file")"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  url=http://127.0.0.1:$port
  start_sim "$work/serve-sim.log" || { step "${under}qk42rt.exe serve (no simulator)" 1; return; }
  : >"$log"  # a line from an earlier run must not count as this one's start
  "$wine" "$exe" --device "COM$sim_port" serve --listen "127.0.0.1:$port" \
    --token-file "$(winpath "$token_file")" >"$log" 2>&1 &
  local serve_pid=$!
  for _ in $(seq 300); do grep -q '^serving:' "$log" && break; sleep 0.1; done
  grep -q '^serving:' "$log" || { echo "    serve did not start"; cat "$log"; status=1; }
  if ((status == 0)); then
    # On loopback reads need no token; writes always do.
    local code
    code=$(curl -s -o /dev/null -w '%{http_code}' -X PUT \
      "$url/api/v1/instruments/1/channels/2/setpoint" -d '{"setpoint":12}')
    [[ $code == 401 ]] || { echo "    a write without the token: $code, want 401"; status=1; }
    # Each answer whole, then looked at: grep -q stopping early would fail curl's write.
    local reading page metrics
    reading=$(curl -fsS -H "$auth" "$url/api/v1/instruments/1/channels/1/flow")
    [[ $reading == *'"flow":'* ]] || { echo "    no flow reading: $reading"; status=1; }
    curl -fsS -H "$auth" -X PUT "$url/api/v1/instruments/1/channels/2/setpoint" \
      -d '{"setpoint":33.5}' >/dev/null || { echo "    the write failed"; status=1; }
    page=$(curl -fsS "$url/")
    [[ ${page,,} == *'<html'* ]] || { echo "    no page at /"; status=1; }
    metrics=$(curl -fsS -H "$auth" "$url/metrics")
    grep -q '^qk42_line_up{line="line1"} 1' <<<"$metrics" ||
      { echo "    /metrics lacks qk42_line_up 1"; status=1; }
  fi
  kill "$serve_pid" 2>/dev/null
  stop_wine
  wait "$serve_pid" 2>/dev/null
  # The write reached the instrument: read it back from the simulator's line on Linux.
  local slave read_back
  slave=$(sed -n '1s/^slave: //p' "$work/serve-sim.log")
  read_back=$("$client" --device "$slave" setpoint 2)
  grep -qE '^setpoint +33\.5$' <<<"$read_back" ||
    { echo "    the simulator did not get the setpoint: $read_back"; status=1; }
  stop_sim
  # MQTT is the Linux gateway's: asked for on Windows, refused before any line opens.
  local refused
  refused=$("$wine" "$exe" --device "COM$missing_port" serve --mqtt mqtt://127.0.0.1:1883 2>&1)
  if [[ $? -ne 2 || $refused != *"has no MQTT"* || $refused == *"COM$missing_port"* ]]; then
    echo "    --mqtt on Windows: $refused"
    status=1
  fi
  stop_wine
  ((status)) && tail -20 "$log"
  step "${under}qk42rt.exe serve answers curl: 401 for a write without the token, a reading, a write that reaches the instrument, the page, /metrics; --mqtt refused with nothing opened" $status
}
