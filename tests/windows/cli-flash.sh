#!/usr/bin/env bash
# phone-updater-cli.exe under Wine against the simulated phone on COM1: whole sessions on both models, a
# wrong reply, Ctrl-C in the middle of the frame stream, a port another program holds; info and convert
# agree with the Linux build, byte for byte, for files named in Cyrillic, Polish and Japanese; ports from
# the registry, and sessions on the COM7 --port auto finds and on COM12.
# usage: cli-flash.sh CLI.exe LINUX_CLI MAKE_SAMPLE_IMAGE   (WINEPREFIX and PHONE_SIM in the environment)
source "$(dirname "$0")/wine-test-lib.sh"
cli=$1 linux_cli=$2 make_image=$3
hint="You will have to remove the battery and put it back before restarting"

"$make_image" "$work/small.shex" 300
"$make_image" "$work/large.shex" 3000  # about 10 s of frames at the line rate

flash() {  # flash NAME ARGS...: the CLI's stderr to $work/NAME.out, its exit code to $work/NAME.code
  local name=$1
  shift
  set +e
  timeout 120 wine "$cli" flash "$@" 2>"$work/$name.raw" >/dev/null
  echo $? >"$work/$name.code"
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"  # the console's line ends
  set -e
}
code() { cat "$work/$1.code"; }
last_line() { tail -n 1 "$work/$1.out"; }
lines_end_with() {  # NAME LINE...: the output's last lines are exactly these
  local name=$1
  shift
  [ "$(tail -n $# "$work/$name.out")" = "$(printf '%s\n' "$@")" ] && return
  echo "--- $name printed:" && cat "$work/$name.out" && echo "--- the phone said: $(verdict "$name")"
  return 1
}

for model in T1x A1018s; do
  phone "ok-$model" --model "$model" --image "$work/small.shex" --no-throttle
  flash "ok-$model" --port COM1 "$work/small.shex"
  [ "$(code "ok-$model")" = 0 ] || { cat "$work/ok-$model.out"; verdict "ok-$model"; }
  check "$model: a whole session exits 0" [ "$(code "ok-$model")" = 0 ]
  check "$model: it ends with the success message" \
    [ "$(last_line "ok-$model")" = "Success: Software updated completed" ]
  check "$model: the phone checked every byte" grep -q "success: 300 frames" <(verdict "ok-$model")
done

phone wrong --model A1018s --image "$work/small.shex" --no-throttle --fault wrong:imei
flash wrong --port com1 "$work/small.shex"
check "a wrong reply exits 2" [ "$(code wrong)" = 2 ]
check "a wrong reply shows the message, then the hint" \
  lines_end_with wrong "Reading IMEI ..." "Error: Wrong responce" "Hint: $hint" "Link: CLOSED" "Ready"

# Ctrl-C: Wine turns SIGINT into the console's Ctrl-C event.
phone abort --model T1x --image "$work/large.shex" --save "$work/received.sbin"
wine "$cli" flash --port COM1 "$work/large.shex" 2>"$work/abort.raw" >/dev/null &
cli_pid=$!
background+=("$cli_pid")
check "the stream starts" wait_for_text "$work/abort.raw" "Updating software ..." 60
sleep 1
start=$(ms_now)
kill -INT "$cli_pid" || true
set +e
wait "$cli_pid"
abort_code=$?
set -e
latency=$(($(ms_now) - start))
tr -d '\r' <"$work/abort.raw" >"$work/abort.out"
echo "Ctrl-C to exit: $latency ms"
check "Ctrl-C exits 130" [ "$abort_code" = 130 ]
check "Ctrl-C ends the run at once ($latency ms)" [ "$latency" -lt 2000 ]
check "Ctrl-C after detection shows the abort hint" lines_end_with abort "Abort: $hint" "Link: CLOSED" "Ready"
check "the phone saw the line close in the frame stream" \
  grep -q "closed the line while the phone waited at frames" <(verdict abort)
wine "$cli" convert "$work/large.shex" "$work/large.sbin" >/dev/null
received=$(stat -c %s "$work/received.sbin")
header=$(($(od -An -tu1 -j2 -N1 "$work/large.sbin") + 3))  # the phone keeps the frames after the header
check "what the phone got ($received bytes) is the image's frames, cut clean" \
  cmp -s -n "$received" "$work/received.sbin" "$work/large.sbin" 0 "$header"
check "the stream was cut short" [ "$received" -lt $(($(stat -c %s "$work/large.sbin") - header)) ]

# Another program holds COM1: a first run waiting for a phone that never announces itself.
phone held --model T1x --image "$work/small.shex" --fault silent:power-on
wine "$cli" flash --port COM1 "$work/small.shex" 2>"$work/holder.out" >/dev/null &
holder_pid=$!
background+=("$holder_pid")
check "the first run holds the port" wait_for_text "$work/holder.out" "Power ON the phone ..." 30
flash busy --port COM1 "$work/small.shex"
check "a held port exits 1" [ "$(code busy)" = 1 ]
check "a held port is 'Port is busy', without the hint" \
  [ "$(head -n 1 "$work/busy.out")$(grep -c Hint "$work/busy.out")" = "Error: Port is busy0" ]
check "and says who holds it" [ "$(last_line busy)" = '\\.\COM1: the port is held by another program' ]
kill -INT "$holder_pid" || true
set +e
wait "$holder_pid"
holder_code=$?
set -e
check "Ctrl-C before detection exits 130 without the hint" \
  [ "$holder_code/$(grep -c Hint "$work/holder.out")" = "130/0" ]

# The file side, for names in any language: the same particulars and bytes as the Linux build (LF line
# ends), a replaced output file, and no temporary file left.
for name in "Дмитрий/прошивка.shex" "Łukasz/żółw.final.shex" "東京/ファームウェア.shex"; do
  mkdir -p "$work/$(dirname "$name")"
  "$make_image" "$work/$name" 300
  check "info of $name matches the Linux build" \
    [ "$(wine "$cli" info "$(win_path "$work/$name")" | od -c)" = "$("$linux_cli" info "$work/$name" | od -c)" ]
  check "info --json of $name matches the Linux build" \
    [ "$(wine "$cli" info --json "$work/$name" | od -c)" = "$("$linux_cli" info --json "$work/$name" | od -c)" ]
  out="$work/$(dirname "$name")/выход.sbin"
  echo "stale" >"$out"
  wine "$cli" convert "$(win_path "$work/$name")" "$(win_path "$out")" >/dev/null || true
  "$linux_cli" convert "$work/$name" "$work/linux.sbin" >/dev/null
  check "convert of $name replaces OUT with the Linux build's bytes" cmp -s "$out" "$work/linux.sbin"
  check "and leaves no temporary file" [ "$(ls "$work/$(dirname "$name")" | grep -c '^upd')" = 0 ]
done

# The ports Windows lists, described where SetupAPI knows them: USB adapters with and without a serial
# number (Windows makes up an id with '&' for one without), a driver's own bus, an on-board port, and
# values that are no COM name of 1..256, which are left out.
serial_ports 'Serial0 COM1' 'VCP0 COM7' 'VCP1 COM9' 'ProlificSerial0 COM3' 'Serial1 COM12' 'Odd0 COM256' \
  'Odd1 COM257' 'Odd2 COM0' 'Odd3 COM1000' 'Odd4 COMX' 'Odd5 COM99999999999999999999'
port_device 'USB\VID_0403&PID_6001\A1B2C3' COM7 "USB Serial Port" FTDI FTDIBUS
port_device 'FTDIBUS\VID_0403+PID_6015+DK0AB1CDA\0000' COM9 "USB Serial Port" FTDI FTDIBUS
port_device 'USB\VID_067B&PID_2303\5&2E1F3A&0&2' COM3 "USB-to-Serial Comm Port" Prolific Ser2pl
port_device 'ACPI\PNP0501\1' COM12 "Communications Port" "(Standard port types)" Serial
check "ports lists the registry's ports in order with what SetupAPI knows" \
  [ "$(wine "$cli" ports | tr -d '\r')" = "$(printf '%s\n' "COM1: ready" \
    "COM3: USB-to-Serial Comm Port 067b:2303 (Prolific), ready" '  by-id: USB\VID_067B&PID_2303\5&2E1F3A&0&2' \
    "  driver: Ser2pl" \
    "COM7: USB Serial Port 0403:6001 (FTDI), ready" '  by-id: USB\VID_0403&PID_6001\A1B2C3' \
    "  serial number: A1B2C3" "  driver: FTDIBUS" \
    "COM9: USB Serial Port 0403:6015 (FTDI), ready" '  by-id: FTDIBUS\VID_0403+PID_6015+DK0AB1CDA\0000' \
    "  serial number: DK0AB1CDA" "  driver: FTDIBUS" \
    "COM12: ready" '  by-id: ACPI\PNP0501\1' "  driver: Serial" "COM256: ready")" ]
check "ports --json gives COM7's USB particulars" grep -qF '{"name": "COM7", "path": "COM7", "com": null, "by_id": "USB\\VID_0403&PID_6001\\A1B2C3", "usb": {"vendor_id": "0403", "product_id": "6001", "manufacturer": "FTDI", "product": "USB Serial Port", "serial_number": "A1B2C3"}, "driver": "FTDIBUS", "state": "ready"' <(wine "$cli" ports --json)
serial_ports 'Serial0 COM1' 'VCP0 COM7' 'Serial1 COM12'

# --port auto takes the one USB adapter, COM7; a log named in Polish gets one LF-ended line.
PHONE_PORT=7 phone auto --model T1x --image "$work/$name" --no-throttle
log="$work/Łukasz/dziennik.jsonl"
flash auto --port auto --log "$(win_path "$log")" "$(win_path "$work/$name")"
check "--port auto updates the phone on COM7" [ "$(code auto)/$(last_line auto)" = "0/Success: Software updated completed" ]
check "and says which port it took" grep -qx "Port: COM7: USB Serial Port 0403:6001 (FTDI), ready" "$work/auto.out"
check "the log line names the Japanese file and ends in LF alone" \
  [ "$(grep -c '"file": "Z:.*ファームウェア.shex"' "$log")/$(grep -c $'\r' "$log")" = "1/0" ]
PHONE_PORT=12 phone com12 --model A1018s --image "$work/$name" --no-throttle
flash com12 --port com12 "$work/$name"
check "a port numbered past 9 is reached too" [ "$(code com12)" = 0 ]
check "and the phone on it checked every byte" grep -q "success: 300 frames" <(verdict com12)

finish
