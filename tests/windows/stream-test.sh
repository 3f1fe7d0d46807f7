#!/usr/bin/env bash
# The DLL with the virtual KX-7 inside streams in a Windows process under Wine: kx7-host.exe
# finds it through SOFTWARE\ASIO and CoCreateInstance and runs it for a few seconds at 128
# frames and 48000 Hz. The figures are checked loosely: the buffer-switch count against the
# time the run took, and the sample positions for continuity.
set -u -o pipefail
wine_run=$1
dll=$2
host=$3
fail() { echo "FAIL: $*"; exit 1; }

win_dll=$("$wine_run" winepath -w "$dll" | tr -d '\r')
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"
"$wine_run" regsvr32 /s "$win_dll" || fail "regsvr32 returned $?"
trap '"$wine_run" regsvr32 /u /s "$win_dll"' EXIT

out=$("$wine_run" "$host" stream --seconds 3 --buffer 128 --rate 48000 --json | tr -d '\r') ||
  fail "stream exited $?: $out"

# Reads the stream report on standard input; prints what is out of bounds.
checker=$(cat <<'PY'
import json, sys
report = json.load(sys.stdin)
problems = []
def expect(what, ok, detail):
    if not ok:
        problems.append(f"{what}: {detail}")
switches = report["bufferSwitches"]["count"]
implied = report["secondsRun"] * 48000 / 128
positions = report["samplePosition"]
expect("bufferSize", report["bufferSize"] == 128, report["bufferSize"])
expect("sampleRate", report["sampleRate"] == 48000, report["sampleRate"])
expect("buffer switches", abs(switches - implied) <= 0.1 * implied,
       f"{switches} in {report['secondsRun']} s, about {implied:.0f} implied")
expect("sample positions", positions["continuous"] and positions["discontinuities"] == 0,
       positions)
expect("positions checked", positions["stepsChecked"] >= 0.9 * switches, positions)
expect("half indexes", report["badHalfIndexes"] == 0, report["badHalfIndexes"])
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
)
python3 -c "$checker" <<<"$out" || fail "stream --json: $out"
echo "stream through the DLL with the virtual KX-7: ok"
