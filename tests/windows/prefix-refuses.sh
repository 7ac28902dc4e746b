#!/usr/bin/env bash
# wine-prefix.sh check refuses a prefix in which a COM name could reach anything but the tests' own links:
# each case breaks the prefix one way, expects the refusal, and mends it.
source "$(dirname "$0")/wine-test-lib.sh"
prefix_check() { bash "$(dirname "$0")/wine-prefix.sh" check 2>"$work/refusal"; }
refuses() {  # DESCRIPTION BREAK MEND
  eval "$2"
  if prefix_check; then
    echo "FAILED: $1 (accepted)"
    failures=$((failures + 1))
  else
    echo "ok: $1 ($(cat "$work/refusal"))"
  fi
  eval "$3"
}
dev=$WINEPREFIX/dosdevices

check "the prefix as set up passes" prefix_check
# What Wine does to a number nothing claims: it maps the first serial device it finds.
refuses "COM256 led to a device" "ln -sfn /dev/null $dev/com256" "ln -sfn $ports/com256 $dev/com256"
refuses "COM7 led elsewhere" "ln -sfn /tmp $dev/com7" "ln -sfn $ports/com7 $dev/com7"
refuses "a drive led to a device" "ln -s /dev/null $dev/d:" "rm $dev/d:"
refuses "a test's link led to a device" "ln -sfn /dev/null $ports/com3" "rm $ports/com3"
refuses "the registry mapped COM9 to a device" \
  "wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM9 /d /dev/null /f >/dev/null 2>&1" \
  "wine reg add 'HKLM\\Software\\Wine\\Ports' /v COM9 /d $ports/com9 /f >/dev/null 2>&1"
refuses "SERIALCOMM listed a name that is no COM port" \
  "wine reg add 'HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM' /v '\\Device\\Odd' /d LPT1 /f >/dev/null 2>&1" \
  "wine reg delete 'HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM' /v '\\Device\\Odd' /f >/dev/null 2>&1"
check "and passes again once mended" prefix_check
finish
