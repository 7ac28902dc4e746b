#!/usr/bin/env bash
# The Wine tests' private prefix: `setup` makes it afresh, `cleanup` stops its server and removes it.
# COM1..COM4 are mapped through the prefix's registry to symlinks in "$WINEPREFIX.ports" that the tests own
# and point at their own pseudo-terminals: no test can reach a real serial port (Wine would otherwise map
# COM1 to /dev/ttyS0, often the machine's console).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ports="$WINEPREFIX.ports"

# The server's own output goes nowhere: stopping it dumps its whole state.
start_server() { wineserver -p20 >/dev/null 2>&1 || true; }

case "${1:-}" in
  setup)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$ports"
    mkdir -p "$WINEPREFIX" "$ports"
    start_server
    wineboot --init >/dev/null 2>&1
    for n in 1 2 3 4; do
      wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$ports/com$n" /f >/dev/null 2>&1
    done
    # The device manager reads the mapping when it starts: restart everything once.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    start_server
    wine cmd /c exit >/dev/null 2>&1
    for n in 1 2 3 4; do
      target=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
      if [ "$target" != "$ports/com$n" ]; then
        echo "wine-prefix: COM$n maps to '$target', not to $ports/com$n; refusing to run serial tests" >&2
        exit 1
      fi
    done
    # Wine does not find its own fonts from here: copy Tahoma, which stands in for the dialogs' 8-point sans
    # with the base units of Windows (6 x 13 at 96 DPI), and the symbol font of the caption buttons.
    cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v "MS Sans Serif" \
      /t REG_SZ /d Tahoma /f >/dev/null 2>&1
    ;;
  cleanup)
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX" "$ports"
    ;;
  *)
    echo "usage: WINEPREFIX=DIR $0 setup|cleanup" >&2
    exit 64
    ;;
esac
