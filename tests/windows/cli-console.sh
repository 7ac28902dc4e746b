#!/usr/bin/env bash
# phone-updater-cli.exe where a desktop session is around it (Wine's consoles and session messages go through
# windows, so a display): the console is given back as the program found it, and a logoff or shutdown stops
# a run as SIGTERM does, its record written, before Windows would end the program anyway.
# usage: cli-console.sh CLI.exe CONSOLE_PROBE.exe MAKE_SAMPLE_IMAGE   (WINEPREFIX and PHONE_SIM in the environment)
source "$(dirname "$0")/wine-test-lib.sh"
cli=$1 probe=$2 make_image=$3
start_display
"$make_image" "$work/small.shex" 300
image=$(win_path "$work/small.shex")

# flash switches the console to UTF-8 and to escape sequences (the progress bar); COM9 has no device, so the
# run ends at once.
check "flash leaves the console's modes and code page as it found them" \
  wine "$probe" "$(winepath -w "$cli")" flash --port COM9 "$image"

# Logging off: Windows asks the programs' windows (a console program that has user32 hears of it no other
# way); Wine's end of session does the same.
phone logoff --model T1x --image "$work/small.shex" --fault silent:power-on
wine "$cli" flash --port COM1 --log "$(win_path "$work/log.jsonl")" "$image" 2>"$work/logoff.out" &
cli_pid=$!
background+=("$cli_pid")
check "the run waits for its phone" wait_for_text "$work/logoff.out" "Power ON the phone ..." 30
start=$(ms_now)
wine wineboot --end-session
timeout 10 tail --pid="$cli_pid" -f /dev/null || true
latency=$(($(ms_now) - start))
echo "end of session to exit: $latency ms"
check "the end of the session ends the run well within Windows' five seconds" [ "$latency" -lt 3000 ]
check "after writing its record: no phone had come, so idle" grep -q '"event": "end", .*"result": "idle"' "$work/log.jsonl"
check "and closing the line" grep -q "closed the line while the phone waited at power-on" <(verdict logoff)
finish
