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

host(0 unregister "${DRIVER}")
expect_match("${out}" "DllUnregisterServer in .* succeeded" "unregister")
host(1 list)
expect_match("${err}" "SOFTWARE.ASIO has no entries" "list after unregister")
if(NOT out STREQUAL "")
  message(FATAL_ERROR "list after unregister printed:\n${out}")
endif()
host(1 probe)

file(REMOVE_RECURSE "${WORK}")
