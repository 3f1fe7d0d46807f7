#!/usr/bin/env bash
# The driver DLL exports exactly the five entry points, by their plain names (on x86 without the
# __stdcall decoration that hosts and the registration tool do not look up), and the further
# names given (the virtual KX-7's test hook).
#   check-exports.sh OBJDUMP DLL [FURTHER_EXPORT]...
set -u
objdump=$1
dll=$2
shift 2
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n -E 's/^[[:space:]]*\[ *[0-9]+\] +//p' | tr -d '\r' | sort | tr '\n' ' ')
expected=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllMain DllRegisterServer \
  DllUnregisterServer "$@" | grep -v '^$' | sort | tr '\n' ' ')
echo "$(basename "$dll") exports: $exports"
[ "$exports" = "$expected" ] || { echo "FAIL: expected $expected"; exit 1; }
