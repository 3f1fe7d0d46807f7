#!/usr/bin/env bash
# kx7-host.exe diagnose under Wine. The build with the virtual KX-7 carries the device inside
# kx7-host.exe as its DLL does (mode "device"): the run finds it through the KS layer, streams
# it and writes its report and file. The release build (mode "no-device") reaches Wine's own
# device enumeration, which has no audio filters: it says there is no KX-7, exits 1 and still
# writes its file.
set -u -o pipefail
wine_run=$1
host=$2
mode=$3
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win_file=$(wine_text winepath -w "$work/diagnose.json")
[ -n "$win_file" ] || fail "winepath gave no path for $work/diagnose.json"

out=$("$wine_run" "$host" diagnose --seconds 0.5 --rates 48000 --out "$win_file" 2>"$work/err" |
  tr -d '\r')
status=$?
err=$(tr -d '\r' <"$work/err")
[ -f "$work/diagnose.json" ] || fail "no file written (exit $status): $out $err"

if [ "$mode" = device ]; then
  [ "$status" -eq 0 ] || fail "exit $status: $out $err"
  grep -q '^  layout  *single-filter$' <<<"$out" || fail "no single-filter layout: $out"
  grep -q 'please send us that file' <<<"$out" || fail "no closing line: $out"
else
  [ "$status" -eq 1 ] || fail "exit $status without a KX-7: $out $err"
  grep -q 'No NORVA KX-7 was found' <<<"$out" || fail "no verdict: $out"
  grep -q 'no NORVA KX-7 found' <<<"$err" || fail "standard error: $err"
fi

# Reads the file on standard input; prints what differs from what the mode expects.
checker=$(cat <<'PY'
import json, sys
report = json.load(sys.stdin)
device = sys.argv[1] == "device"
problems = []
def expect(what, ok, detail):
    if not ok:
        problems.append(f"{what}: {detail}")
verdict = report["verdict"]
expect("kx7Found", verdict["kx7Found"] == device, verdict)
if device:
    expect("layout", verdict["layout"] == "single-filter", verdict["layout"])
    expect("filters", len(report["filters"]) == 1 and report["filters"][0]["kx7"], report["filters"])
    run = report["runs"][0]
    expect("rate", run["rate"] == 48000, run["rate"])
    for direction in ("capture", "render"):
        pin = run[direction]
        completions = pin["summary"]["completions"]
        # Half a second at 48000 Hz is 375 packets; Wine's scheduling may lose some.
        expect(direction + " completions", completions >= 100, completions)
        expect(direction + " log", len(pin["log"]) == completions, len(pin["log"]))
        expect(direction + " format", pin["streamedFormat"] == "extensible 24-bit", pin)
        expect(direction + " states", [s["state"] for s in pin["states"]] ==
               ["KSSTATE_ACQUIRE", "KSSTATE_PAUSE", "KSSTATE_RUN", "KSSTATE_PAUSE", "KSSTATE_STOP"],
               pin["states"])
else:
    expect("filters", report["filters"] == [], report["filters"])
    expect("runs", report["runs"] == [], report["runs"])
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
)
python3 -c "$checker" "$mode" <"$work/diagnose.json" || fail "diagnose file"
echo "diagnose under Wine ($mode): ok"
