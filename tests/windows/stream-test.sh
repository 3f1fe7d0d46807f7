#!/usr/bin/env bash
# The DLL with the virtual KX-7 inside streams in a Windows process under Wine: kx7-host.exe
# finds it through SOFTWARE\ASIO and CoCreateInstance and runs it for a few seconds at 128
# frames and 48000 Hz, duplex, input-only (recording both inputs) and output-only. The figures
# are checked loosely: the buffer-switch count against the time the run took, and the sample
# positions for continuity; each run's figures are printed.
set -u -o pipefail
wine_run=$1
dll=$2
host=$3
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

win_dll=$(wine_text winepath -w "$dll")
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"
recording=$(mktemp -d)
"$wine_run" regsvr32 /s "$win_dll" || fail "regsvr32 returned $?"
trap '"$wine_run" regsvr32 /u /s "$win_dll"; rm -rf "$recording"' EXIT
win_recording=$(wine_text winepath -w "$recording/in.wav")

# Reads the stream report on standard input; prints its figures, and what is out of bounds.
checker=$(cat <<'PY'
import json, os, sys
report = json.load(sys.stdin)
inputs, outputs, wav = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
problems = []
def expect(what, ok, detail):
    if not ok:
        problems.append(f"{what}: {detail}")
switches = report["bufferSwitches"]["count"]
implied = report["secondsRun"] * 48000 / 128
positions = report["samplePosition"]
intervals = report["intervalUs"]
print(f"{inputs} in, {outputs} out: {switches} switches in {report['secondsRun']:.2f} s "
      f"(about {implied:.0f} implied), interval mean {intervals['mean']:.1f} us, "
      f"p99 {intervals['p99']:.1f} us, max {intervals['max']:.1f} us, "
      f"{positions['discontinuities']} position breaks, {report['dropOuts']} drop-outs")
expect("bufferSize", report["bufferSize"] == 128, report["bufferSize"])
expect("sampleRate", report["sampleRate"] == 48000, report["sampleRate"])
expect("channels", (report["inputs"], report["outputs"]) == (inputs, outputs),
       (report["inputs"], report["outputs"]))
# The switches prove that the stream ran for the whole run; how close they come to real time
# depends on the machine's load (a starved loop lets the device underrun), which the figures
# above show and the benchmarks measure, so the bound is loose.
expect("buffer switches", 0.5 * implied <= switches <= 1.1 * implied + 4,
       f"{switches} in {report['secondsRun']} s, about {implied:.0f} implied")
expect("sample positions", positions["continuous"] and positions["discontinuities"] == 0,
       positions)
expect("positions checked", positions["stepsChecked"] >= 0.9 * switches, positions)
expect("half indexes", report["badHalfIndexes"] == 0, report["badHalfIndexes"])
cpu = report["streamingThread"]
expect("streaming thread measured", cpu is not None and cpu["switches"] >= 0.9 * switches, cpu)
if cpu:
    print(f"  streaming thread {cpu['percentOfCore']:.2f} % of a core, "
          f"{cpu['callbackUsPerSwitch']:.1f} us callback + {cpu['restUsPerSwitch']:.1f} us rest "
          f"per switch (callbacks timed by {cpu['callbackMeasure']})")
if wav:
    record = report["record"]
    size = os.path.getsize(wav)
    print(f"  recorded {record['frames']} frames of {record['channels']} channels, {size} bytes")
    expect("recorded channels", record["channels"] == inputs, record)
    expect("recorded frames", record["frames"] >= 0.9 * switches * 128, record)
    expect("recording size", size == 44 + record["frames"] * 3 * inputs, size)
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
)

for channels in "2 2" "2 0" "0 2"; do
  read -r inputs outputs <<<"$channels"
  record=()
  wav=""
  if [ "$outputs" -eq 0 ]; then
    record=(--record "$win_recording")
    wav="$recording/in.wav"
  fi
  out=$("$wine_run" "$host" stream --seconds 3 --buffer 128 --rate 48000 --inputs "$inputs" \
          --outputs "$outputs" "${record[@]}" --json | tr -d '\r') ||
    fail "stream --inputs $inputs --outputs $outputs exited $?: $out"
  python3 -c "$checker" "$inputs" "$outputs" "$wav" <<<"$out" ||
    fail "stream --inputs $inputs --outputs $outputs --json: $out"
done
echo "stream through the DLL with the virtual KX-7: ok"
