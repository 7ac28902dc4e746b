#!/usr/bin/env bash
# phone-updater.exe under Wine on a virtual X display, worked by panel_driver.exe as a user would: the layout
# and the start-up state, the COM tooltips, About, Load SW (files named in Japanese, Polish, Russian), a file
# dropped on the window, a whole session against the simulated phone on COM1, Abort before and after the
# phone answered, closing; then the window at 144 DPI with a Polish FILE argument, and under a taller
# caption: its client area is the layout's every time. Leaves screenshots (BMP, and PNG where python3 is) in
# SHOTS_DIR.
# usage: window-session.sh UPDATER.exe DRIVER.exe MAKE_SAMPLE_IMAGE SHOTS_DIR
source "$(dirname "$0")/wine-test-lib.sh"
updater=$1 driver=$2 make_image=$3 shots=$4
hint="You will have to remove the battery and put it back before restarting"
mkdir -p "$shots"

start_display

# The updater with these arguments; a virtual desktop gives the window its frame and caption without a
# window manager.
window() {
  wine explorer /desktop=updater,1024x768 "$updater" "$@" >/dev/null 2>&1 &
  background+=($!)
}
drive() { timeout 120 wine "$driver" "desktop updater" "$@"; }

"$make_image" "$work/demo.final.shex" 300
"$make_image" "$work/large.shex" 3000
# Image files where technicians keep them: in their own folders, named in their own languages.
users="$WINEPREFIX/drive_c/users"
mkdir -p "$users/Łukasz" "$users/Дмитрий" "$users/山田"
"$make_image" "$users/Łukasz/żółw.final.shex" 300
"$make_image" "$users/Дмитрий/прошивка.shex" 300
"$make_image" "$users/山田/ファームウェア.shex" 300

# COM1 on the board; the cable's FTDI adapter got COM7.
serial_ports 'Serial0 COM1' 'VCP0 COM7'
port_device 'USB\VID_0403&PID_6001\A1B2C3' COM7 "USB Serial Port" FTDI FTDIBUS

window
check "the window opens centred with the layout's client area, laid out, in its start-up state" \
  drive "client 341 197" layout "lights dark" "field 1052 Ready" "field 1003 CLOSED" "field 1060" "field 1011" \
  "enabled 1051 0" "checked 1018 1" "checked 1021 0" "visible 1076 0" "visible 1060 1"
check "the window icon's animation repaints no control" drive "paints 1057 0" "paints 1021 0"
check "the COM tooltips say which port is which, and where the adapter is instead" \
  drive "tooltip 1018 COM1: ready" \
  "tooltip 1021 COM4: absent; your adapter is COM7: renumber it COM4 in Device Manager, or use phone-updater-cli"
check "About shows its pane and comes back" \
  drive "click 1053" "visible 1076 1" "visible 1078 1" "visible 1060 0" "field 1053 Data Info" \
  "field 1077 ABOUT BUILD FROM" "click 1053" "visible 1076 0" "visible 1060 1" "field 1053 About"
check "Load SW of a missing file says so, naming it, and loads nothing" \
  drive "click 1056" 'open C:\users\Дмитрий\żaden.shex' \
  $'box Error Unable to open flash image\n\nC:\\users\\Дмитрий\\żaden.shex: no such file or directory' \
  "enabled 1051 0"
check "Load SW shows the image's particulars and enables Update" \
  drive "click 1056" "open $(win_path "$work/demo.final.shex")" "field 1060  DEMO" "field 1063 SHEX" \
  "field 1057  CXC123456" "field 1061 OK" "field 1059  12033 bytes" "field 1011 300" "enabled 1051 1" \
  "field 1052 Ready" "screenshot $(win_path "$shots/loaded.bmp")"
check "Load SW of files named in Japanese, Polish and Russian, in the users' own folders" \
  drive "click 1056" "open C:\users\山田\ファームウェア.shex" "field 1060  ファームウェア" "field 1011 300" \
  "click 1056" "open C:\users\Łukasz\żółw.final.shex" "field 1060  ŻÓŁW" "field 1063 SHEX" \
  "click 1056" "open C:\users\Дмитрий\прошивка.shex" "field 1060  ПРОШИВКА" \
  "sleep 1000" "screenshot $(win_path "$shots/unicode-96dpi.bmp")"
check "a file dropped on the window loads as Load SW loads it" \
  drive "drop $(win_path "$work/large.shex")" "field 1060  LARGE" "field 1011 3000" \
  "drop $(win_path "$work/demo.final.shex")" "field 1060  DEMO" "field 1011 300"

phone ok --model T1x --image "$work/demo.final.shex"
check "a whole session: locked while it runs, the success box, then idle with the phone's fields" \
  drive "click 1051" "field 1051 Abort" "enabled 1056 0" "enabled 1018 0" "field 1003 9600" "lights lit" \
  "field 1058  T1x detected" "field 1003 115200" "field 1052 Updating software ..." \
  "screenshot $(win_path "$shots/streaming.bmp")" "box Success Software updated completed" \
  "field 1051 Update" "field 1003 CLOSED" "field 1004" "field 1007" "field 1052 Ready" \
  "field 1002  490154-20-323751-8" "enabled 1056 1" "enabled 1018 1"
check "the phone checked every byte" grep -q "success: 300 frames" <(verdict ok)

phone early --model T1x --image "$work/demo.final.shex" --fault silent:power-on
check "Abort before the phone answered: back to idle without the hint" \
  drive "click 1051" "field 1052 Power ON the phone ..." "field 1058" "field 1002" "click 1051" \
  "field 1051 Update" "field 1003 CLOSED" "no-box Abort 1500"

phone late --model A1018s --image "$work/large.shex"
check "Abort in the frame stream: the hint box, then idle" \
  drive "click 1056" "open $(win_path "$work/large.shex")" "field 1011 3000" "click 1051" \
  "field 1052 Updating software ..." "sleep 1000" "click 1051" "box Abort $hint" "field 1051 Update" \
  "field 1003 CLOSED" "field 1052 Ready" "screenshot $(win_path "$shots/aborted.bmp")"
check "the phone saw the line close in the frame stream" \
  grep -q "closed the line while the phone waited at frames" <(verdict late)

check "closing the window ends the program" drive close

# At 144 DPI (150 %) the window grows with its fonts; a FILE named on the command line loads at start.
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f
window 'C:\users\Łukasz\żółw.final.shex'
check "at 144 DPI the client area is the layout's, scaled, and a Polish FILE argument loads" \
  drive "client 512 296" layout "field 1060  ŻÓŁW" "field 1011 300" "lights dark" \
  "sleep 1000" "screenshot $(win_path "$shots/unicode-144dpi.bmp")" close
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f

# A caption 30 pixels tall, as Windows 10 and 11 have at their scalings, costs the client area nothing.
reg add 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionHeight /d -450 /f
window
check "under a taller caption the client area is still the layout's" drive "client 341 197" close
reg delete 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionHeight /f
if command -v python3 >/dev/null; then "$(dirname "$0")/bmp-to-png" "$shots"/*.bmp; fi
finish
