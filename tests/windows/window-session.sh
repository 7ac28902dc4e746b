#!/usr/bin/env bash
# phone-updater.exe under Wine on a virtual X display, worked by panel_driver.exe as a user would: the layout
# and the start-up state, About, Load SW, a whole session against the simulated phone on COM1, Abort before
# and after the phone answered, closing. Leaves screenshots (BMP, and PNG where python3 is) in SHOTS_DIR.
# usage: window-session.sh UPDATER.exe DRIVER.exe MAKE_SAMPLE_IMAGE SHOTS_DIR
source "$(dirname "$0")/wine-test-lib.sh"
updater=$1 driver=$2 make_image=$3 shots=$4
hint="You will have to remove the battery and put it back before restarting"
mkdir -p "$shots"

start_display

# A virtual desktop gives the window its frame and caption without a window manager.
wine explorer /desktop=updater,1024x768 "$updater" >/dev/null 2>&1 &
background+=($!)
drive() { timeout 120 wine "$driver" "desktop updater" "$@"; }

"$make_image" "$work/demo.final.shex" 300
"$make_image" "$work/large.shex" 3000

check "the window opens centred, laid out as the layout says, in its start-up state" \
  drive "origin 339 273" layout "lights dark" "field 1052 Ready" "field 1003 CLOSED" "field 1060" "field 1011" \
  "enabled 1051 0" "checked 1018 1" "checked 1021 0" "visible 1076 0" "visible 1060 1"
check "About shows its pane and comes back" \
  drive "click 1053" "visible 1076 1" "visible 1078 1" "visible 1060 0" "field 1053 Data Info" \
  "field 1077 ABOUT BUILD FROM" "click 1053" "visible 1076 0" "visible 1060 1" "field 1053 About"
check "Load SW of a missing file says so and loads nothing" \
  drive "click 1056" "open $(win_path "$work/missing.shex")" "box Error Unable to open flash image" \
  "enabled 1051 0"
check "Load SW shows the image's particulars and enables Update" \
  drive "click 1056" "open $(win_path "$work/demo.final.shex")" "field 1060  DEMO" "field 1063 SHEX" \
  "field 1057  CXC123456" "field 1061 OK" "field 1059  12033 bytes" "field 1011 300" "enabled 1051 1" \
  "field 1052 Ready" "screenshot $(win_path "$shots/loaded.bmp")"

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
if command -v python3 >/dev/null; then "$(dirname "$0")/bmp-to-png" "$shots"/*.bmp; fi
finish
