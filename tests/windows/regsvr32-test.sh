#!/usr/bin/env bash
# The platform's registration tool registers and unregisters the DLL; reg query reads back the
# entries under SOFTWARE\ASIO and the class key, and finds them gone afterwards.
set -u
wine_run=$1
dll=$2
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
driver_key='HKLM\SOFTWARE\ASIO\NORVA KX-7 ASIO Driver'
server_key="HKCR\\CLSID\\$clsid\\InprocServer32"
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

win_dll=$(wine_text winepath -w "$dll")
[ -n "$win_dll" ] || fail "winepath gave no path for $dll"

"$wine_run" regsvr32 /s "$win_dll" || fail "regsvr32 returned $?"
out=$(wine_text reg query "$driver_key" /v CLSID)
grep -q "$clsid" <<<"$out" || fail "driver key CLSID: $out"
out=$(wine_text reg query "$driver_key" /v Description)
grep -q 'NORVA KX-7 ASIO' <<<"$out" || fail "driver key Description: $out"
out=$(wine_text reg query "$server_key")
grep -qi 'norva-kx-7-asio-x64.dll' <<<"$out" || fail "InprocServer32: $out"
grep -q 'Apartment' <<<"$out" || fail "ThreadingModel: $out"

"$wine_run" regsvr32 /u /s "$win_dll" || fail "regsvr32 /u returned $?"
wine_key_exists "$driver_key" && fail "driver key still there"
wine_key_exists "HKCR\\CLSID\\$clsid" && fail "class key still there"
echo "regsvr32 registration and unregistration: ok"
