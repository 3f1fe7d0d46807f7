#!/usr/bin/env bash
# The DLL with the virtual KX-7 inside streams duplex at 64 frames and 96000 Hz in a Windows
# process under Wine, the host of the DLL's bitness reading the registry view of that bitness.
# The buffer switches against the count the run's time implies and the drop-outs are reported;
# only the size, the rate and that the stream ran are checked.
set -u -o pipefail
wine_run=$1
dll=$2
host=$3
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

win_dll=$(wine_text winepath -w "$dll")
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"
"$wine_run" regsvr32 /s "$win_dll" || fail "regsvr32 returned $?"
trap '"$wine_run" regsvr32 /u /s "$win_dll"' EXIT

report=$("$wine_run" "$host" stream --seconds 3 --buffer 64 --rate 96000 --json | tr -d '\r')
checker=$(cat <<'PY'
import json, sys
report = json.load(sys.stdin)
switches = report["bufferSwitches"]["count"]
implied = report["secondsRun"] * 96000 / 64
intervals = report["intervalUs"]
print(f"64 frames at 96000 Hz, {report['inputs']} in, {report['outputs']} out: "
      f"{switches} switches in {report['secondsRun']:.2f} s (about {implied:.0f} implied), "
      f"interval mean {intervals['mean']:.1f} us, max {intervals['max']:.1f} us, "
      f"{report['dropOuts']} drop-outs")
problems = []
if report["bufferSize"] != 64:
    problems.append(f"bufferSize {report['bufferSize']}")
if report["sampleRate"] != 96000:
    problems.append(f"sampleRate {report['sampleRate']}")
if switches < 100:
    problems.append(f"only {switches} buffer switches")
if problems:
    sys.exit("FAIL: " + ", ".join(problems))
PY
)
python3 -c "$checker" <<<"$report" || fail "stream report: $report"
echo "stream at 64 frames and 96000 Hz: ok"
