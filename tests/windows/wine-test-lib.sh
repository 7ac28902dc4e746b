# Sourced by the Wine tests: the simulated phone on the pseudo-terminal behind a COM port, waiting, and
# checks that count failures. Needs WINEPREFIX (made by wine-prefix.sh setup) and PHONE_SIM (the Linux
# phone-sim); refuses to run unless the prefix's COM names lead only to the tests' own links.
set -euo pipefail
: "${WINEPREFIX:?}" "${PHONE_SIM:?}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bash "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" check

ports="$WINEPREFIX.ports"  # COMn maps to the symlink $ports/comn; each phone points one at its pseudo-terminal
work=$(mktemp -d)
failures=0
background=()
cleanup() {
  for pid in "${background[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check DESCRIPTION COMMAND...: runs the command, reports and counts the outcome
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}

# phone NAME ARGS...: a simulated phone on COM1 (COM$PHONE_PORT) for one session; its report goes to
# $work/NAME.sim.
phone() {
  local name=$1 link="$ports/com${PHONE_PORT:-1}"
  shift
  rm -f "$link"
  # The erase's two replies come 2 s apart instead of 0.6 s: every call through Wine is a round trip to its
  # server, and on a busy machine the read window that took the first reply can end (and purge the line)
  # more than 0.6 s later, so the second reply was lost (seen at load average 17). The reply rule itself is
  # what the test is about, not the scheduling of a shared machine.
  "$PHONE_SIM" --link "$link" --erase-ms 2000 "$@" >"$work/$name.sim" 2>&1 &
  sim_pid=$!
  background+=("$sim_pid")
  wait_for_text "$work/$name.sim" "waiting for the updater" 10
}

# The phone's verdict on its session, once it has ended.
verdict() {
  local name=$1 deadline=$((SECONDS + 30))
  while [ "$(wc -l <"$work/$name.sim")" -lt 2 ] && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  sed -n 2p "$work/$name.sim"
}

wait_for_text() {  # FILE TEXT SECONDS
  local deadline=$((SECONDS + $3))
  until grep -qF -- "$2" "$1" 2>/dev/null; do
    [ $SECONDS -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

ms_now() { date +%s%3N; }

win_path() { echo "Z:${1//\//\\}"; }  # the Windows name of a path of this machine

reg() { wine reg "$@" >/dev/null 2>&1; }

# serial_ports 'DEVICE COMn'...: the ports Windows has now (HARDWARE\DEVICEMAP\SERIALCOMM), these alone.
serial_ports() {
  local serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' port
  reg delete "$serialcomm" /va /f
  for port in "$@"; do reg add "$serialcomm" /v "\\Device\\${port% *}" /d "${port#* }" /f; done
}

# port_device INSTANCE PORT NAME MAKER SERVICE: a device of the ports class, as its driver registers it.
port_device() {
  local key="HKLM\\System\\CurrentControlSet\\Enum\\$1"
  reg add "$key" /v ClassGUID /d '{4d36e978-e325-11ce-bfc1-08002be10318}' /f
  reg add "$key" /v FriendlyName /d "$3 ($2)" /f
  reg add "$key" /v Mfg /d "$4" /f
  reg add "$key" /v Service /d "$5" /f
  reg add "$key\\Device Parameters" /v PortName /d "$2" /f
}

# A virtual X display for what needs one: windows, and Wine's consoles and session messages, which go
# through windows.
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  background+=($!)
  local deadline=$((SECONDS + 10))
  until [ -s "$work/display" ] || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
  export DISPLAY=":$(cat "$work/display")"
}

finish() {
  echo "$failures failed"
  [ "$failures" -eq 0 ]
}
