#!/usr/bin/env bash
# The Wine tests' private prefix: `setup` makes it afresh, `check` refuses (exit 1) unless every COM name
# leads only where the tests put it, `cleanup` stops its server and removes it.
# Every COM name, COM1..COM256, is mapped to a link in "$WINEPREFIX.ports" that the tests own and point at
# their own pseudo-terminals; a link that is absent makes the name "not found". Wine gives every COM number
# no mapping claims to a device it finds (/dev/ttyS0 first, often the machine's console): the registry claims
# COM1..COM255, and the one number it cannot claim, COM256, has its link replaced once Wine has made it.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ports="$WINEPREFIX.ports"
dosdevices="$WINEPREFIX/dosdevices"
last_port=256

# Wine's registry output, without its CR line ends.
query() { wine reg query "$1" 2>/dev/null | tr -d '\r'; }

refuse() {
  echo "wine-prefix: $*; refusing to run Windows programs in $WINEPREFIX" >&2
  exit 1
}

# Every COM name leads to the tests' own link or nowhere; nothing else of the prefix leads to a device.
check() {
  [ -d "$ports" ] || refuse "no $ports: run setup first"
  local entry target n
  # The registry first: its queries start Wine, and with a server started afresh the device manager maps
  # the ports again (COM256 to a device), which the links' check below then finds.
  while read -r name type value; do
    [ "$type" = REG_SZ ] || continue
    n=${name#COM}
    [ "$value" = "$ports/com$n" ] || refuse "the registry maps $name to '$value'"
  done < <(query 'HKLM\Software\Wine\Ports')
  while read -r name type value; do
    [ "$type" = REG_SZ ] || continue
    case "$value" in COM[1-9] | COM[1-9][0-9] | COM1[0-9][0-9] | COM2[0-4][0-9] | COM25[0-6]) ;;
      *) refuse "SERIALCOMM lists $name as '$value'" ;;
    esac
  done < <(query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM')
  wait_for_mapping
  for n in $(seq 1 $last_port); do
    entry="$dosdevices/com$n"
    [ -L "$entry" ] || [ -e "$entry" ] || continue
    target=$(readlink "$entry") || refuse "COM$n is not a link"
    [ "$target" = "$ports/com$n" ] || refuse "COM$n maps to '$target', not to $ports/com$n"
  done
  for entry in "$dosdevices"/*; do
    case "$(basename "$entry")" in com[0-9]*) continue ;; esac
    case "$(readlink -f "$entry")" in /dev/*) refuse "$(basename "$entry") maps to a device" ;; esac
  done
  for entry in "$ports"/com*; do
    [ -L "$entry" ] || continue
    case "$(readlink -f "$entry")" in /dev/pts/*) ;; *) refuse "$entry leads to $(readlink -f "$entry")" ;; esac
  done
}

# The device manager maps the claimed ports, then a device it found right after them.
wait_for_mapping() {
  local claimed="$dosdevices/com$((last_port - 1))" deadline=$((SECONDS + 20))
  until [ "$(readlink "$claimed" || true)" = "$ports/com$((last_port - 1))" ]; do
    [ $SECONDS -lt $deadline ] || refuse "Wine did not map the ports"
    sleep 0.1
  done
  sleep 1
}

case "${1:-}" in
  setup)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$ports"
    mkdir -p "$WINEPREFIX" "$ports"
    wineserver -p20 >/dev/null 2>&1
    wineboot --init >/dev/null 2>&1
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
      for n in $(seq 1 $((last_port - 1))); do printf '"COM%d"="%s"\r\n' "$n" "$ports/com$n"; done
      # Wine does not find its own fonts from here: Tahoma stands in for the dialogs' 8-point sans with the
      # base units of Windows (6 x 13 at 96 DPI).
      printf '\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
      printf '"MS Sans Serif"="Tahoma"\r\n'
    } >"$ports/setup.reg"
    wine reg import "$(winepath -w "$ports/setup.reg")" >/dev/null 2>&1
    rm "$ports/setup.reg"
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    # The device manager maps the ports when the server starts: restart it, kept alive for the whole run so
    # that the mapping is made only this once.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    wineserver -p600 >/dev/null 2>&1  # its own output goes nowhere: stopping it dumps its whole state
    wine cmd /c exit >/dev/null 2>&1
    wait_for_mapping
    ln -sfn "$ports/com$last_port" "$dosdevices/com$last_port"
    check
    ;;
  check)
    check
    ;;
  cleanup)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$ports"
    ;;
  *)
    echo "usage: WINEPREFIX=DIR $0 setup|check|cleanup" >&2
    exit 64
    ;;
esac
