#!/usr/bin/env bash
# Runs the control panel's tests under Wine (they need an X display) and turns the screenshot
# that they leave next to the test program into a PNG in the build folder.
set -u
wine_run=$1
program=$2
convert=$3
png=$4
bmp=$(dirname "$program")/control-panel.bmp
fail() { echo "FAIL: $*"; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: no X display; run inside Xvfb (scripts/test does)"
  exit 77
fi
rm -f "$bmp" "$png"
# Wine's helper processes outlive the program: they get a log file, not the caller's pipe.
log=$(mktemp)
"$wine_run" "$program" >"$log" 2>&1 </dev/null
status=$?
tr -d '\r' <"$log"
rm -f "$log"
[ "$status" -eq 0 ] || fail "the panel tests returned $status"
[ -s "$bmp" ] || fail "no screenshot was taken"
"$convert" "$bmp" "$png" || fail "converting the screenshot"
echo "screenshot of the control panel: $png"
