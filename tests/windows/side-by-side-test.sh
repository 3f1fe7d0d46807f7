#!/usr/bin/env bash
# Both DLLs registered at once, each by the registration tool of its bitness: each view holds its
# own DLL, and each DLL's unregistration takes away its own entries only.
#   side-by-side-test.sh WINE_RUN X64_DLL X86_DLL
set -u
wine_run=$1
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
driver_key='HKLM\SOFTWARE\ASIO\NORVA KX-7 ASIO Driver'
server_key="HKCR\\CLSID\\$clsid\\InprocServer32"
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"
need_32bit "the 32-bit regsvr32"

dll64=$(wine_text winepath -w "$2")
dll32=$(wine_text winepath -w "$3")
[ -n "$dll64" ] && [ -n "$dll32" ] || fail "winepath gave no paths"
regsvr64() { "$wine_run" 'C:\windows\system32\regsvr32.exe' /s "$@" || fail "regsvr32 $* returned $?"; }
regsvr32() { "$wine_run" 'C:\windows\syswow64\regsvr32.exe' /s "$@" || fail "regsvr32 (32-bit) $* returned $?"; }

# Registered in the view, with the server path naming the DLL of that bitness.
expect_registered() {
  local view=$1 bits=$2 out
  out=$(wine_text reg query "$driver_key" /v CLSID "$view")
  grep -q "$clsid" <<<"$out" || fail "no driver key in $view: $out"
  out=$(wine_text reg query "$server_key" /ve "$view")
  grep -qi "norva-kx-7-asio-$bits.dll" <<<"$out" || fail "InprocServer32 in $view: $out"
}
expect_gone() {
  wine_key_exists "$driver_key" "$1" && fail "driver key still in $1"
  wine_key_exists "HKCR\\CLSID\\$clsid" "$1" && fail "class key still in $1"
}

regsvr64 "$dll64"
regsvr32 "$dll32"
expect_registered /reg:64 x64
expect_registered /reg:32 x86
regsvr32 /u "$dll32"
expect_gone /reg:32
expect_registered /reg:64 x64
regsvr32 "$dll32"
regsvr64 /u "$dll64"
expect_gone /reg:64
expect_registered /reg:32 x86
regsvr32 /u "$dll32"
expect_gone /reg:32
echo "x64 and x86 DLLs registered side by side, each unregistering its own: ok"
