#!/usr/bin/env bash
# Fails when a Windows binary imports a DLL that is not part of every 64-bit Windows
# (for example the MinGW runtime DLLs, which must be linked statically).
set -u
objdump=$1
shift
allowed='^(kernel32|user32|advapi32|ole32|oleaut32|winmm|setupapi|version|msvcrt|gdi32|shell32|comctl32|avrt|ksuser)\.dll$'
status=0
for binary in "$@"; do
  imports=$("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | tr -d '\r')
  if [ -z "$imports" ]; then
    echo "no import table read from $binary"
    status=1
  fi
  for dll in $imports; do
    if ! [[ $dll =~ $allowed ]]; then
      echo "$(basename "$binary") imports $dll, which a plain 64-bit Windows does not have"
      status=1
    fi
  done
  echo "$(basename "$binary"): $(echo $imports)"
done
exit $status
