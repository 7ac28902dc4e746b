#!/usr/bin/env bash
# The installer under Wine: a silent install puts both programs and the README under Program Files, the Start
# menu entry in every user's menu and an entry with its uninstaller in Apps & Features; the silent uninstall
# takes all of it away again. The installer is built 64-bit here, as Wine may run no 32-bit program; the
# one shipped is the same script as a 32-bit program.
# usage: installer.sh INSTALLER.nsi UPDATER.exe CLI.exe README.txt VERSION   (WINEPREFIX in the environment)
source "$(dirname "$0")/wine-test-lib.sh"
nsi=$1 updater=$2 cli=$3 readme=$4 version=$5

stage="$work/stage"
mkdir -p "$stage"
cp "$updater" "$cli" "$stage/"
sed 's/$/\r/' "$readme" >"$stage/README.txt"
makensis -V2 -DTARGET=amd64-unicode -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$work/setup.exe" "$nsi" >/dev/null
wine "$work/setup.exe" /S

installed="$WINEPREFIX/drive_c/Program Files/Phone Flash Updater"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Phone Flash Updater.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PhoneFlashUpdater'
entry() { wine reg query "$key" /reg:64 /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"; }
check "both programs and the README are under Program Files" \
  cmp -s "$installed/phone-updater-cli.exe" "$cli"
check "the Start menu entry is every user's" [ -f "$shortcut" ]
check "Apps & Features lists it with its version and publisher" \
  [ "$(entry DisplayName)/$(entry DisplayVersion)/$(entry Publisher)" = "Phone Flash Updater/$version/The Updater Team" ]
check "and with its uninstaller" \
  [ "$(entry QuietUninstallString)" = '"C:\Program Files\Phone Flash Updater\uninstall.exe" /S' ]

# The uninstaller runs from a copy of itself, so the call returns before it is done.
wine "$installed/uninstall.exe" /S
deadline=$((SECONDS + 30))
while { [ -e "$installed" ] || [ -n "$(entry DisplayName)" ]; } && [ $SECONDS -lt $deadline ]; do sleep 0.5; done
check "the uninstaller takes the programs, the shortcut and the entry away" \
  [ ! -e "$installed" ] && [ ! -e "$shortcut" ] && [ -z "$(entry DisplayName)" ]
finish
