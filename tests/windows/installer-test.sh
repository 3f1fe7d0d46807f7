#!/usr/bin/env bash
# The installer run silently puts the DLL under the 64-bit Program Files folder and registers it
# there; its uninstaller, run silently, takes the registration, the files and its own key away.
set -u -o pipefail
wine_run=$1
setup=$2
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
driver_key='HKLM\SOFTWARE\ASIO\NORVA KX-7 ASIO Driver'
server_key="HKCR\\CLSID\\$clsid\\InprocServer32"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NORVA KX-7 ASIO'
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"

win_setup=$(wine_text winepath -w "$setup")
[ -n "$win_setup" ] || fail "winepath gave no path for $setup"
program_files=$(wine_text cmd /c echo %ProgramW6432%)
[ -n "$program_files" ] || fail "no 64-bit Program Files folder"
install_dir="$program_files\\Norva\\KX-7 ASIO"
installed_dll="$install_dir\\NORVA-KX-7-ASIO-x64.dll"

"$wine_run" "$win_setup" /S || fail "the installer returned $?"

# The folder exists now, so that its Unix path names a real folder.
unix_dir=$(wine_text winepath -u "$install_dir")
[ -n "$unix_dir" ] || fail "winepath gave no Unix path for $install_dir"
[ -f "$unix_dir/NORVA-KX-7-ASIO-x64.dll" ] || fail "no DLL in $unix_dir"
[ -f "$unix_dir/Uninstall.exe" ] || fail "no uninstaller in $unix_dir"
out=$(wine_text reg query "$driver_key" /v CLSID)
grep -q "$clsid" <<<"$out" || fail "driver key CLSID: $out"
out=$(wine_text reg query "$driver_key" /v Description)
grep -q 'NORVA KX-7 ASIO' <<<"$out" || fail "driver key Description: $out"
out=$(wine_text reg query "$server_key" /ve)
grep -qiF "$installed_dll" <<<"$out" || fail "InprocServer32 is not $installed_dll: $out"
grep -qi 'x86' <<<"$out" && fail "InprocServer32 points into the 32-bit folder: $out"
out=$(wine_text reg query "$server_key" /v ThreadingModel)
grep -q 'Apartment' <<<"$out" || fail "ThreadingModel: $out"
out=$(wine_text reg query "$uninstall_key" /v UninstallString)
grep -qiF "$install_dir\\Uninstall.exe" <<<"$out" || fail "UninstallString: $out"

# _?= keeps the uninstaller in place, so it returns only when it is done. It must end the
# command line unquoted, which a batch file gives it.
batch=$(mktemp --suffix=.bat)
trap 'rm -f "$batch"' EXIT
printf '@"%s\\Uninstall.exe" /S _?=%s\r\n' "$install_dir" "$install_dir" >"$batch"
"$wine_run" cmd /c "$(wine_text winepath -w "$batch")" ||
  fail "the uninstaller returned $?"

wine_key_exists "$driver_key" && fail "driver key still there"
wine_key_exists "HKCR\\CLSID\\$clsid" && fail "class key still there"
wine_key_exists "$uninstall_key" && fail "uninstall key still there"
[ -e "$unix_dir/NORVA-KX-7-ASIO-x64.dll" ] && fail "the DLL is still installed"
# An uninstaller run in place cannot delete itself on Windows; it is removed here.
rm -f "$unix_dir/Uninstall.exe"
rmdir "$unix_dir" "$(dirname "$unix_dir")" 2>/dev/null
echo "silent installation and uninstallation: ok"
