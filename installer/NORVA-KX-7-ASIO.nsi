; Installer of the NORVA KX-7 ASIO driver. A 32-bit program, so that it runs on every Windows:
; on 64-bit Windows it puts the x64 DLL under the 64-bit Program Files folder and the x86 DLL
; under the 32-bit one, and registers each with the registration tool of its bitness, so that
; each lands in its own registry view; on 32-bit Windows it installs the x86 DLL alone. The
; uninstaller unregisters both and removes their files and keys. Built by the Windows build:
;   makensis -DDLL64_PATH=<x64 DLL> -DDLL32_PATH=<x86 DLL> -DOUT_FILE=<setup exe>
;            -DPRODUCT_VERSION=<a.b.c.d> -DPRODUCT=<product name> -DCOMPANY=<company>
;            -DDLL64_NAME=<x64 DLL file name> -DDLL32_NAME=<x86 DLL file name> <this file>
Unicode true
Target x86-unicode

!ifndef DLL64_PATH
  !error "DLL64_PATH must name the built x64 driver DLL"
!endif
!ifndef DLL32_PATH
  !error "DLL32_PATH must name the built x86 driver DLL"
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
!ifndef DLL64_NAME
  !error "DLL64_NAME must give the installed x64 DLL's file name"
!endif
!ifndef DLL32_NAME
  !error "DLL32_NAME must give the installed x86 DLL's file name"
!endif

!include "LogicLib.nsh"
!include "x64.nsh"

!define CLSID "{C8817D90-B773-48F1-8708-4ECD6D913F64}"
!define DRIVER_KEY "SOFTWARE\ASIO\${PRODUCT} Driver"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
; The folder of the uninstaller, and of the DLL of the Windows' own bitness.
InstallDir "$PROGRAMFILES\${COMPANY}\KX-7 ASIO"
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

; The x86 DLL's folder: the 32-bit Program Files folder on 64-bit Windows, else $INSTDIR.
Var Dir32

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
    ; Unless /D= named a folder: the 64-bit Program Files folder.
    ${If} $INSTDIR == "$PROGRAMFILES\${COMPANY}\KX-7 ASIO"
      StrCpy $INSTDIR "$PROGRAMFILES64\${COMPANY}\KX-7 ASIO"
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

; Runs regsvr32 ARGS with the 64-bit tool (64-bit view) or the 32-bit one (32-bit view).
!macro Regsvr32 BITS ARGS RESULT
  !if ${BITS} == 64
    ${DisableX64FSRedirection}
    ExecWait '"$SYSDIR\regsvr32.exe" ${ARGS}' ${RESULT}
    ${EnableX64FSRedirection}
  !else
    ExecWait '"$SYSDIR\regsvr32.exe" ${ARGS}' ${RESULT}
  !endif
!macroend

Section "Driver"
  ${If} ${RunningX64}
    StrCpy $Dir32 "$PROGRAMFILES32\${COMPANY}\KX-7 ASIO"
  ${Else}
    StrCpy $Dir32 "$INSTDIR"
  ${EndIf}
  SetOverwrite on
  SetOutPath "$Dir32"
  File "/oname=${DLL32_NAME}" "${DLL32_PATH}"
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "/oname=${DLL64_NAME}" "${DLL64_PATH}"
  ${EndIf}
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Each DLL writes its own keys: SOFTWARE\ASIO and the class key with InprocServer32.
  !insertmacro Regsvr32 32 '/s "$Dir32\${DLL32_NAME}"' $0
  ${If} $0 != 0
    DetailPrint "Registering ${DLL32_NAME} failed (regsvr32 returned $0)."
    MessageBox MB_OK|MB_ICONSTOP "The ${PRODUCT} driver could not be registered." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} ${RunningX64}
    !insertmacro Regsvr32 64 '/s "$INSTDIR\${DLL64_NAME}"' $0
    ${If} $0 != 0
      DetailPrint "Registering ${DLL64_NAME} failed (regsvr32 returned $0)."
      MessageBox MB_OK|MB_ICONSTOP "The ${PRODUCT} driver could not be registered." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
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
  ${If} ${RunningX64}
    StrCpy $Dir32 "$PROGRAMFILES32\${COMPANY}\KX-7 ASIO"
    ${If} ${FileExists} "$INSTDIR\${DLL64_NAME}"
      !insertmacro Regsvr32 64 '/u /s "$INSTDIR\${DLL64_NAME}"' $0
      DetailPrint "regsvr32 /u ${DLL64_NAME} returned $0"
    ${EndIf}
  ${Else}
    StrCpy $Dir32 "$INSTDIR"
  ${EndIf}
  ${If} ${FileExists} "$Dir32\${DLL32_NAME}"
    !insertmacro Regsvr32 32 '/u /s "$Dir32\${DLL32_NAME}"' $0
    DetailPrint "regsvr32 /u ${DLL32_NAME} returned $0"
  ${EndIf}
  ; Whatever a DLL left behind (or could not remove because it would not load) goes too, in
  ; both registry views.
  SetRegView 32
  DeleteRegKey HKLM "${DRIVER_KEY}"
  DeleteRegKey HKCR "CLSID\${CLSID}"
  ${If} ${RunningX64}
    SetRegView 64
    DeleteRegKey HKLM "${DRIVER_KEY}"
    DeleteRegKey HKCR "CLSID\${CLSID}"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  Delete "$INSTDIR\${DLL64_NAME}"
  Delete "$Dir32\${DLL32_NAME}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$Dir32"
  RMDir "$PROGRAMFILES64\${COMPANY}"
  RMDir "$PROGRAMFILES32\${COMPANY}"
SectionEnd
