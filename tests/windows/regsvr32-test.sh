#!/usr/bin/env bash
# The platform's registration tool of the DLL's bitness registers and unregisters it; reg query
# reads back the entries under SOFTWARE\ASIO and the class key in the DLL's own registry view,
# finds none in the other view, and finds them gone afterwards.
#   regsvr32-test.sh WINE_RUN DLL x64|x86
set -u
wine_run=$1
dll=$2
bits=$3
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
driver_key='HKLM\SOFTWARE\ASIO\NORVA KX-7 ASIO Driver'
server_key="HKCR\\CLSID\\$clsid\\InprocServer32"
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"
case "$bits" in
  x64) regsvr32='C:\windows\system32\regsvr32.exe' own=/reg:64 other=/reg:32 ;;
  x86) regsvr32='C:\windows\syswow64\regsvr32.exe' own=/reg:32 other=/reg:64 ;;
  *) fail "bitness $bits is neither x64 nor x86" ;;
esac

win_dll=$(wine_text winepath -w "$dll")
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"

"$wine_run" "$regsvr32" /s "$win_dll" || fail "regsvr32 returned $?"
out=$(wine_text reg query "$driver_key" /v CLSID "$own")
grep -q "$clsid" <<<"$out" || fail "driver key CLSID ($own): $out"
out=$(wine_text reg query "$driver_key" /v Description "$own")
grep -q 'NORVA KX-7 ASIO' <<<"$out" || fail "driver key Description ($own): $out"
out=$(wine_text reg query "$server_key" "$own")
grep -qi "norva-kx-7-asio-$bits.dll" <<<"$out" || fail "InprocServer32 ($own): $out"
grep -q 'Apartment' <<<"$out" || fail "ThreadingModel ($own): $out"
wine_key_exists "$driver_key" "$other" && fail "driver key in the other view ($other)"
wine_key_exists "HKCR\\CLSID\\$clsid" "$other" && fail "class key in the other view ($other)"

"$wine_run" "$regsvr32" /u /s "$win_dll" || fail "regsvr32 /u returned $?"
wine_key_exists "$driver_key" "$own" && fail "driver key still there"
wine_key_exists "HKCR\\CLSID\\$clsid" "$own" && fail "class key still there"
echo "regsvr32 registration and unregistration of the $bits DLL in its own view: ok"
