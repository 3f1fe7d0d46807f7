#!/usr/bin/env bash
# The DLL with the virtual KX-7 inside streams in a Windows process under Wine: kx7-host.exe
# finds it through SOFTWARE\ASIO and CoCreateInstance and runs it for a few seconds, by default
# at 128 frames and 48000 Hz duplex, input-only (recording both inputs) and output-only; each
# further argument names one run instead, "INPUTS OUTPUTS BUFFER RATE". The figures are checked
# loosely: the buffer-switch count against the time the run took, and the sample positions for
# continuity; each run's figures are printed.
set -u -o pipefail
wine_run=$1
dll=$2
host=$3
shift 3
runs=("$@")
[ ${#runs[@]} -gt 0 ] || runs=("2 2 128 48000" "2 0 128 48000" "0 2 128 48000")
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
inputs, outputs, buffer, rate = (int(a) for a in sys.argv[1:5])
wav = sys.argv[5]
problems = []
def expect(what, ok, detail):
    if not ok:
        problems.append(f"{what}: {detail}")
switches = report["bufferSwitches"]["count"]
implied = report["secondsRun"] * rate / buffer
positions = report["samplePosition"]
intervals = report["intervalUs"]
print(f"{buffer} frames at {rate} Hz, {inputs} in, {outputs} out: "
      f"{switches} switches in {report['secondsRun']:.2f} s (about {implied:.0f} implied), "
      f"interval mean {intervals['mean']:.1f} us, p99 {intervals['p99']:.1f} us, "
      f"max {intervals['max']:.1f} us, {positions['discontinuities']} position breaks, {report['dropOuts']} drop-outs")
expect("bufferSize", report["bufferSize"] == buffer, report["bufferSize"])
expect("sampleRate", report["sampleRate"] == rate, report["sampleRate"])
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
    expect("recorded frames", record["frames"] >= 0.9 * switches * buffer, record)
    expect("recording size", size == 44 + record["frames"] * 3 * inputs, size)
for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PY
)

for run in "${runs[@]}"; do
  read -r inputs outputs buffer rate <<<"$run"
  record=()
  wav=""
  if [ "$outputs" -eq 0 ]; then
    record=(--record "$win_recording")
    wav="$recording/in.wav"
  fi
  what="stream --buffer $buffer --rate $rate --inputs $inputs --outputs $outputs"
  out=$("$wine_run" "$host" stream --seconds 3 --buffer "$buffer" --rate "$rate" \
          --inputs "$inputs" --outputs "$outputs" "${record[@]}" --json | tr -d '\r') ||
    fail "$what exited $?: $out"
  python3 -c "$checker" "$inputs" "$outputs" "$buffer" "$rate" "$wav" <<<"$out" ||
    fail "$what --json: $out"
done
echo "stream through the DLL with the virtual KX-7: ok"
