#!/usr/bin/env bash
# Both programs carry the project's version in their version resource and a manifest that runs them with the
# user's rights, on Windows 10/11 as themselves, with UTF-8 as the ANSI code page; the window is system-DPI-
# aware. Read back from the executables with the resource compiler.
# usage: resources.sh WINDRES VERSION UPDATER.exe CLI.exe
windres=$1 version=$2
failures=0
expect() {  # EXE WHAT PATTERN
  if grep -qF -- "$3" <<<"$("$windres" -i "$1" -O rc 2>/dev/null)"; then echo "ok: $(basename "$1"): $2"
  else echo "FAILED: $(basename "$1"): $2"; failures=$((failures + 1)); fi
}
IFS=. read -r major minor patch <<<"$version"
for exe in "$3" "$4"; do
  expect "$exe" "version $version" "FILEVERSION $major, $minor, $patch, 0"
  expect "$exe" "file version text" "VALUE \"FileVersion\", \"$version\""
  expect "$exe" "product version text" "VALUE \"ProductVersion\", \"$version\""
  expect "$exe" "runs as invoked" 'level=""asInvoker""'
  expect "$exe" "made for Windows 10 and 11" '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'
  expect "$exe" "UTF-8 code page" '>UTF-8</activeCodePage>'
done
expect "$3" "system-DPI-aware" '>system</dpiAwareness>'
echo "$failures failed"
[ "$failures" -eq 0 ]
