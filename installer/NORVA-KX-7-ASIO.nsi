; Installer of the NORVA KX-7 ASIO driver: puts the 64-bit DLL under the 64-bit Program Files
; folder, registers it with the system's 64-bit registration tool, and leaves an uninstaller that
; unregisters it and removes its files and keys. Built by the Windows build:
;   makensis -DDLL_PATH=<built DLL> -DOUT_FILE=<setup exe> -DPRODUCT_VERSION=<a.b.c.d>
;            -DPRODUCT=<product name> -DCOMPANY=<company> -DDLL_NAME=<DLL file name> <this file>
Unicode true
; A 64-bit installer: it runs where the 64-bit DLL can run, and it sees the 64-bit folders,
; registry and registration tool without redirection.
Target amd64-unicode

!ifndef DLL_PATH
  !error "DLL_PATH must name the built driver DLL"
!endif
!ifndef OUT_FILE
  !error "OUT_FILE must name the installer to write"
!endif
; The version and names come from the build, which reads them from the product's facts.
!ifndef PRODUCT_VERSION
  !error "PRODUCT_VERSION must give the version"
!endif
!ifndef PRODUCT
  !error "PRODUCT must give the product name"
!endif
!ifndef COMPANY
  !error "COMPANY must give the company name"
!endif
!ifndef DLL_NAME
  !error "DLL_NAME must give the installed DLL's file name"
!endif

!include "LogicLib.nsh"

!define CLSID "{C8817D90-B773-48F1-8708-4ECD6D913F64}"
!define DRIVER_KEY "SOFTWARE\ASIO\${PRODUCT} Driver"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${COMPANY}\KX-7 ASIO"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${PRODUCT_VERSION}"
VIFileVersion "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} driver setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COMPANY}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Driver"
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "/oname=${DLL_NAME}" "${DLL_PATH}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The DLL writes its own keys: SOFTWARE\ASIO and the class key with InprocServer32.
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\${DLL_NAME}"' $0
  ${If} $0 != 0
    DetailPrint "Registering ${DLL_NAME} failed (regsvr32 returned $0)."
    MessageBox MB_OK|MB_ICONSTOP "The ${PRODUCT} driver could not be registered." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} Driver"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ${If} ${FileExists} "$INSTDIR\${DLL_NAME}"
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\${DLL_NAME}"' $0
    DetailPrint "regsvr32 /u returned $0"
  ${EndIf}
  ; Whatever the DLL left behind (or could not remove because it would not load) goes too.
  DeleteRegKey HKLM "${DRIVER_KEY}"
  DeleteRegKey HKCR "CLSID\${CLSID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\${DLL_NAME}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${COMPANY}"
SectionEnd
