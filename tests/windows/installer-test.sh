#!/usr/bin/env bash
# The installer run silently puts the x64 DLL under the 64-bit Program Files folder and the x86
# DLL under the 32-bit one and registers each in its own registry view; its uninstaller, run
# silently, takes both registrations, the files and its own key away. Both views are printed
# after each step.
set -u -o pipefail
wine_run=$1
setup=$2
clsid='{C8817D90-B773-48F1-8708-4ECD6D913F64}'
driver_key='HKLM\SOFTWARE\ASIO\NORVA KX-7 ASIO Driver'
class_key="HKCR\\CLSID\\$clsid"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\NORVA KX-7 ASIO'
# shellcheck source=tests/windows/wine-lib.sh
source "$(dirname "$0")/wine-lib.sh"
need_32bit "the installer (a 32-bit NSIS program)"

show_views() {
  local view
  for view in /reg:64 /reg:32; do
    echo "--- $1, view $view"
    "$wine_run" reg query 'HKLM\SOFTWARE\ASIO' /s "$view" 2>/dev/null | tr -d '\r' | grep -v '^$'
    "$wine_run" reg query "$class_key" /s "$view" 2>/dev/null | tr -d '\r' | grep -v '^$'
  done
}

# The entries of one DLL in one view: driver key, class key, lower-cased server path.
check_view() {
  local view=$1 dll=$2 out
  out=$(wine_text reg query "$driver_key" /v CLSID "$view")
  grep -q "$clsid" <<<"$out" || fail "driver key CLSID ($view): $out"
  out=$(wine_text reg query "$driver_key" /v Description "$view")
  grep -q 'NORVA KX-7 ASIO' <<<"$out" || fail "driver key Description ($view): $out"
  out=$(wine_text reg query "$class_key\\InprocServer32" /ve "$view")
  grep -qiF "$dll" <<<"$out" || fail "InprocServer32 ($view) is not $dll: $out"
  out=$(wine_text reg query "$class_key\\InprocServer32" /v ThreadingModel "$view")
  grep -q 'Apartment' <<<"$out" || fail "ThreadingModel ($view): $out"
}

win_setup=$(wine_text winepath -w "$setup")
[ -n "$win_setup" ] || fail "winepath gave no path for $setup"
program_files=$(wine_text cmd /c echo %ProgramW6432%)
[ -n "$program_files" ] || fail "no 64-bit Program Files folder"
program_files_x86=$(wine_text cmd /c echo '%ProgramFiles(x86)%')
[ -n "$program_files_x86" ] || fail "no 32-bit Program Files folder"
install_dir="$program_files\\Norva\\KX-7 ASIO"
install_dir_x86="$program_files_x86\\Norva\\KX-7 ASIO"

"$wine_run" "$win_setup" /S || fail "the installer returned $?"
show_views "after installation"

# The folders exist now, so that their Unix paths name real folders.
unix_dir=$(wine_text winepath -u "$install_dir")
unix_dir_x86=$(wine_text winepath -u "$install_dir_x86")
[ -n "$unix_dir" ] && [ -n "$unix_dir_x86" ] || fail "winepath gave no Unix paths"
[ -f "$unix_dir/NORVA-KX-7-ASIO-x64.dll" ] || fail "no x64 DLL in $unix_dir"
[ -f "$unix_dir_x86/NORVA-KX-7-ASIO-x86.dll" ] || fail "no x86 DLL in $unix_dir_x86"
[ -f "$unix_dir/Uninstall.exe" ] || fail "no uninstaller in $unix_dir"
check_view /reg:64 "$install_dir\\NORVA-KX-7-ASIO-x64.dll"
check_view /reg:32 "$install_dir_x86\\NORVA-KX-7-ASIO-x86.dll"
out=$(wine_text reg query "$uninstall_key" /v UninstallString /reg:64)
grep -qiF "$install_dir\\Uninstall.exe" <<<"$out" || fail "UninstallString: $out"

# _?= keeps the uninstaller in place, so it returns only when it is done. It must end the
# command line unquoted, which a batch file gives it.
batch=$(mktemp --suffix=.bat)
trap 'rm -f "$batch"' EXIT
printf '@"%s\\Uninstall.exe" /S _?=%s\r\n' "$install_dir" "$install_dir" >"$batch"
"$wine_run" cmd /c "$(wine_text winepath -w "$batch")" ||
  fail "the uninstaller returned $?"
show_views "after uninstallation"

for view in /reg:64 /reg:32; do
  wine_key_exists "$driver_key" "$view" && fail "driver key still there ($view)"
  wine_key_exists "$class_key" "$view" && fail "class key still there ($view)"
done
wine_key_exists "$uninstall_key" /reg:64 && fail "uninstall key still there"
[ -e "$unix_dir/NORVA-KX-7-ASIO-x64.dll" ] && fail "the x64 DLL is still installed"
[ -e "$unix_dir_x86/NORVA-KX-7-ASIO-x86.dll" ] && fail "the x86 DLL is still installed"
[ -e "$unix_dir_x86" ] && fail "the 32-bit folder is still there"
# An uninstaller run in place cannot delete itself on Windows; it is removed here.
rm -f "$unix_dir/Uninstall.exe"
rmdir "$unix_dir" "$(dirname "$unix_dir")" 2>/dev/null
echo "silent installation and uninstallation of both DLLs in both views: ok"
