# Runs kx7-host as a user does, with HOME and XDG_CONFIG_HOME in a folder of its own so that the
# emulated registry starts empty. Variables: HOST (the program), WORK (a scratch folder) and,
# optionally, DRIVER (the driver library) for the round of register, list, probe, unregister.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/home")
set(ENV{HOME} "${WORK}/home")
set(ENV{XDG_CONFIG_HOME} "${WORK}/home/.config")

# Runs kx7-host with the given arguments; fails unless it exits with `expected`. Leaves its
# output in `out` and `err`.
function(host expected)
  execute_process(COMMAND "${HOST}" ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE stdout
                  ERROR_VARIABLE stderr TIMEOUT 60)
  if(NOT status STREQUAL "${expected}")
    message(FATAL_ERROR "kx7-host ${ARGN}: exit ${status}, expected ${expected}\n"
                        "stdout:\n${stdout}\nstderr:\n${stderr}")
  endif()
  set(out "${stdout}" PARENT_SCOPE)
  set(err "${stderr}" PARENT_SCOPE)
endfunction()

function(expect_match text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: no match for '${regex}' in:\n${text}")
  endif()
endfunction()

# Compares the member at a JSON path of `out` with the expected value; `mode` is GET or LENGTH.
function(expect_json_of mode expected)
  string(JSON value ERROR_VARIABLE problem ${mode} "${out}" ${ARGN})
  if(problem)
    message(FATAL_ERROR "probe --json: ${mode} ${ARGN}: ${problem}\n${out}")
  elseif(NOT value STREQUAL "${expected}")
    message(FATAL_ERROR "probe --json: ${mode} ${ARGN} is '${value}', expected '${expected}'\n"
                        "${out}")
  endif()
endfunction()

function(expect_json expected)
  expect_json_of(GET "${expected}" ${ARGN})
endfunction()

# Bad arguments: usage and exit status 2.
host(2 frobnicate)
expect_match("${err}" "usage: kx7-host" "unknown command")
host(2 probe --driver)
expect_match("${err}" "usage: kx7-host" "probe --driver without a name")

# Nothing registered yet.
host(1 list)
expect_match("${err}" "no ASIO driver is registered" "list without drivers")
host(1 probe --json)
expect_match("${err}" "no ASIO driver is registered" "probe without drivers")
if(NOT out STREQUAL "")
  message(FATAL_ERROR "probe without drivers printed:\n${out}")
endif()

# diagnose needs no driver: it reaches the virtual KX-7 through the KS layer. A short run at one
# rate on the real-time clock; its figures are not judged here, only what it reports and writes.
host(0 diagnose --seconds 0.2 --rates 48000 --out "${WORK}/diagnose.json" --json)
expect_json(ON verdict kx7Found)
expect_json("single-filter" verdict layout)
expect_json_of(LENGTH 1 filters)
expect_json(ON filters 0 pickedForCapture)
expect_json(48000 runs 0 rate)
expect_json("extensible 24-bit" runs 0 render streamedFormat)
string(JSON completions GET "${out}" runs 0 capture summary completions)
if(completions LESS 10)
  message(FATAL_ERROR "diagnose: ${completions} capture completions\n${out}")
endif()
string(JSON logged ERROR_VARIABLE problem GET "${out}" runs 0 capture log)
if(NOT problem)
  message(FATAL_ERROR "diagnose --json printed the completion log, which only the file holds")
endif()
file(READ "${WORK}/diagnose.json" written)
string(JSON logged LENGTH "${written}" runs 0 capture log)
if(NOT logged EQUAL completions)
  message(FATAL_ERROR "diagnose: the file logs ${logged} of ${completions} completions")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "diagnose drew on a standard error that is no terminal:\n${err}")
endif()
host(0 diagnose --seconds 0.1 --rates 44100 --device-scenario two-filter,pin-in-use
     --out "${WORK}/diagnose.json")
expect_match("${out}" "layout +two-filter" "diagnose as text")
expect_match("${out}" "At 44100 Hz the render pin is in use by another application"
             "diagnose of a held pin")
expect_match("${out}" "please send us that file" "diagnose as text")
host(2 diagnose --out "${WORK}/no-such-folder/d.json")
expect_match("${err}" "cannot create" "diagnose to an unwritable file")
host(2 diagnose --rates 48000,x)
expect_match("${err}" "--rates 'x' is not a sample rate" "diagnose with a bad rate")

if(NOT DRIVER)
  return()
endif()

host(0 register "${DRIVER}")
expect_match("${out}" "DllRegisterServer in .*NORVA-KX-7-ASIO-x64.* succeeded" "register")

host(0 list)
expect_match("${out}" "NORVA KX-7 ASIO Driver\n +CLSID +{[0-9A-F-]+}\n +Description +NORVA KX-7 ASIO"
             "list after register")

host(0 probe --json)
expect_json("NORVA KX-7 ASIO Driver" driver name)
expect_json("NORVA KX-7 ASIO" getDriverName)
expect_json(1 getDriverVersion)
expect_json(2 getChannels numInputChannels)
expect_json(2 getChannels numOutputChannels)
expect_json_of(LENGTH 4 getChannelInfo)
expect_json("Microphone L" getChannelInfo 0 name)
expect_json("Output R" getChannelInfo 3 name)
expect_json(18 getChannelInfo 0 type)
expect_json(64 getBufferSize minSize)
expect_json(2048 getBufferSize maxSize)
expect_json(128 getBufferSize preferredSize)
expect_json(-1 getBufferSize granularity)
expect_json(-995 canSampleRate 32000)
expect_json(0 canSampleRate 44100)
expect_json(0 canSampleRate 96000)
expect_json(-995 canSampleRate 192000)
expect_json("Internal" getClockSources 0 name)

host(0 probe --driver "norva kx-7 asio driver")
expect_match("${out}" "getDriverName +NORVA KX-7 ASIO\n" "probe as text")
expect_match("${out}" "Microphone L" "probe as text")

# Streaming through the virtual KX-7 in loopback: a short run with a recording.
host(0 stream --seconds 1 --buffer 128 --rate 48000 --record "${WORK}/in.wav" --json)
expect_json("NORVA KX-7 ASIO Driver" driver name)
expect_json(128 bufferSize)
expect_json(48000 sampleRate)
expect_json("device" bufferSwitches clock)
expect_json(ON samplePosition continuous)
expect_json(0 badHalfIndexes)
expect_json(128 latencies input)
expect_json(256 latencies output)
expect_json(24 record bits)
string(JSON switches GET "${out}" bufferSwitches count)
string(JSON recorded GET "${out}" record frames)
if(switches LESS 3 OR recorded LESS 384)
  message(FATAL_ERROR "stream: ${switches} buffer switches, ${recorded} frames recorded\n${out}")
endif()
file(SIZE "${WORK}/in.wav" size)
math(EXPR expected "44 + ${recorded} * 6")
if(NOT size EQUAL expected)
  message(FATAL_ERROR "stream: the recording has ${size} bytes, expected ${expected}")
endif()
if(NOT err STREQUAL "")
  message(FATAL_ERROR "stream drew on a standard error that is no terminal:\n${err}")
endif()
host(0 stream --seconds 0.5 --device silence --wav "${WORK}/in.wav")
expect_match("${out}" "buffer switches +[0-9]+, device time implies" "stream as text")
expect_match("${out}" "microphone: silence" "stream as text")
expect_match("${out}" "render underruns" "stream as text")

# The round trip through the loopback is found at every click.
host(0 latency --buffer 256 --json)
expect_json(8 clicksFound)
expect_json(40 loopbackDelayFrames)
expect_json(256 reported input)
string(JSON roundTrip GET "${out}" roundTrip frames)
if(roundTrip LESS 552)  # at least the reported latencies, the loopback and one more half
  message(FATAL_ERROR "latency: a round trip of ${roundTrip} frames\n${out}")
endif()

# What the driver or the host cannot use: a clear message, exit status 2, and the driver let go
# (the next run creates it again).
host(2 stream --buffer 100)
expect_match("${err}" "does not offer a buffer of 100 frames; it offers 64 to 2048 frames in powers of two"
             "buffer size refused")
host(2 latency --rate 32000)
expect_match("${err}" "cannot run at 32000 Hz" "rate refused")
host(2 stream --wav "${WORK}/missing.wav")
expect_match("${err}" "cannot play the WAV file: cannot open" "missing WAV")
file(WRITE "${WORK}/text.wav" "this is no RIFF file at all")
host(2 stream --wav "${WORK}/text.wav")
expect_match("${err}" "text.wav: not a RIFF/WAVE file" "unreadable WAV")
host(2 stream --seconds 0.2 --record "${WORK}/no-such-folder/x.wav")
expect_match("${err}" "cannot record: cannot create" "unwritable recording")
host(2 stream --tone 30000 --rate 48000)
expect_match("${err}" "not below half" "tone above Nyquist")
host(2 stream --seconds 1 --bogus)
expect_match("${err}" "unexpected argument '--bogus'" "unknown option")
host(0 stream --seconds 0.2)

host(0 unregister "${DRIVER}")
expect_match("${out}" "DllUnregisterServer in .* succeeded" "unregister")
host(1 list)
expect_match("${err}" "SOFTWARE.ASIO has no entries" "list after unregister")
if(NOT out STREQUAL "")
  message(FATAL_ERROR "list after unregister printed:\n${out}")
endif()
host(1 probe)

file(REMOVE_RECURSE "${WORK}")
