#!/usr/bin/env bash
# kx7-host.exe meets the DLL as a DAW does under Wine: regsvr32 registers it, `list` finds it
# under SOFTWARE\ASIO, `probe` creates it through CoCreateInstance and asks it everything.
# With the virtual KX-7 inside the DLL (mode "device") init succeeds; the release DLL on a
# machine without a KX-7 (mode "no-device") refuses init with the open failure message.
set -u -o pipefail
wine_run=$1
dll=$2
host=$3
mode=$4
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

win_dll=$(wine_text winepath -w "$dll")
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"
"$wine_run" regsvr32 /s "$win_dll" || fail "regsvr32 returned $?"
trap '"$wine_run" regsvr32 /u /s "$win_dll"' EXIT

out=$("$wine_run" "$host" list | tr -d '\r') || fail "list exited $?: $out"
grep -q '^NORVA KX-7 ASIO Driver$' <<<"$out" || fail "list: $out"
grep -q "CLSID *$clsid" <<<"$out" || fail "list: $out"

out=$("$wine_run" "$host" probe --json | tr -d '\r') || fail "probe exited $?: $out"
if [ "$mode" = device ]; then
  init=1 message='ASIO OK'
else
  init=0 message='ASIO Driver open Failure!'
fi
# Reads the probe's JSON on standard input; prints what differs from the expected answers.
checker=$(cat <<'PY'
import json, sys
report = json.load(sys.stdin)
init, message = int(sys.argv[1]), sys.argv[2]
problems = []
def expect(what, got, wanted):
    if got != wanted:
        problems.append(f"{what} is {got!r}, expected {wanted!r}")
expect("driver.CLSID", report["driver"]["CLSID"], "{C8817D90-B773-48F1-8708-4ECD6D913F64}")
expect("getDriverName", report["getDriverName"], "NORVA KX-7 ASIO")
expect("init", report["init"], init)
expect("getErrorMessage", report["getErrorMessage"], message)
expect("numInputChannels", report["getChannels"].get("numInputChannels"), 2)
expect("numOutputChannels", report["getChannels"].get("numOutputChannels"), 2)
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
)
python3 -c "$checker" "$init" "$message" <<<"$out" || fail "probe --json: $out"
echo "list and probe through SOFTWARE\\ASIO and CoCreateInstance ($mode): ok"
