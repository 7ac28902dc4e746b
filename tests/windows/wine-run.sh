#!/usr/bin/env bash
# The emulator of every Windows test program: runs it under Wine in the tests' private prefix, and only once
# the prefix has shown that no COM name leads to a real device.
# usage: wine-run.sh PREFIX PROGRAM [ARGS...]
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
bash "$(dirname "$0")/wine-prefix.sh" check
exec wine "$@"
