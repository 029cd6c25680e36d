; The per-user installer of Kestrix and the add-ons that ship with it.
; Built by the build when makensis is found:
;   makensis -DVERSION=1.0.0.26 -DBIN=<build>/bin -DICON=<repo>/resources/kestrix.ico
;            -DOUTFILE=<build>/bin/KestrixSetup.exe Kestrix.nsi
; No administrator rights: everything goes to the user's own programs
; folder, the user's Start menu and the user's uninstall list. /S installs
; and uninstalls silently; installing over an installation upgrades it.

!ifndef VERSION | BIN | ICON | OUTFILE
  !error "Define VERSION, BIN, ICON and OUTFILE (see the head of this script)"
!endif

Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define PRODUCT "Kestrix"
!define PUBLISHER "Orvane"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrix"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define PLUGINS_KEY "Software\Orvane\Kestrix\Plugins"
; The plug-in identifiers of the add-ons, as they register them.
!define SAVE_TO_FILE_ID "{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}"
!define OPEN_IN_EDITOR_ID "{EBF88A31-EC36-482D-8518-3E012816A534}"
; The program's hidden main window.
!define MAIN_WINDOW_CLASS "TKestrixWnd"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\Kestrix"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (C) ${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var WasRunning

; Asks a running Kestrix to exit and waits until its process has ended, so
; that its files can be replaced or removed. Sets $WasRunning to 1 when it
; had been running; aborts when it does not end and the user gives up.
!macro CloseKestrix un
Function ${un}CloseKestrix
  StrCpy $WasRunning 0
  again:
    FindWindow $0 "${MAIN_WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    StrCpy $WasRunning 1
    DetailPrint "Asking the running Kestrix to exit"
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    StrCpy $3 1
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i 20000) i .r3'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
    ; Ended: look again, for a second instance started for an automation
    ; client.
    ${If} $3 == 0
      Goto again
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
      "Kestrix is still running. Close it (right-click its icon, Exit), then choose Retry." \
      /SD IDCANCEL IDRETRY again
    Abort "Kestrix is still running."
FunctionEnd
!macroend
!insertmacro CloseKestrix ""
!insertmacro CloseKestrix "un."

; Runs a registration step; a failure stops the installation with its name.
!macro Register command what
  ClearErrors
  ExecWait '${command}' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "Cannot register ${what} (exit code $0)." /SD IDOK
    Abort "Cannot register ${what}."
  ${EndIf}
!macroend

Section "Kestrix"
  Call CloseKestrix
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${BIN}\kestrix.exe"
  File "${BIN}\KestrixSaveToFile.dll"
  File "${BIN}\KestrixOpenInEditor.dll"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  DetailPrint "Registering the program and its add-ons"
  !insertmacro Register '"$INSTDIR\kestrix.exe" /RegServer' "Kestrix"
  !insertmacro Register '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\KestrixSaveToFile.dll"' "the Save to file add-on"
  !insertmacro Register '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\KestrixOpenInEditor.dll"' "the Open in image editor add-on"

  SetShellVarContext current
  CreateShortCut "$SMPROGRAMS\Kestrix.lnk" "$INSTDIR\kestrix.exe" "" "$INSTDIR\kestrix.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kestrix.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1

  ; An upgrade gives back the Kestrix it had to close.
  ${If} $WasRunning == 1
    Exec '"$INSTDIR\kestrix.exe"'
  ${EndIf}
SectionEnd

Section "Uninstall"
  Call un.CloseKestrix
  ; The add-ons remove their classes and their plug-in keys; the program
  ; its class and type library. The user's settings stay.
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\KestrixSaveToFile.dll"'
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\KestrixOpenInEditor.dll"'
  ExecWait '"$INSTDIR\kestrix.exe" /UnregServer'
  DeleteRegKey HKCU "${PLUGINS_KEY}\${SAVE_TO_FILE_ID}"
  DeleteRegKey HKCU "${PLUGINS_KEY}\${OPEN_IN_EDITOR_ID}"
  DeleteRegKey /ifempty HKCU "${PLUGINS_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "Kestrix"

  Delete "$INSTDIR\kestrix.exe"
  Delete "$INSTDIR\KestrixSaveToFile.dll"
  Delete "$INSTDIR\KestrixOpenInEditor.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext current
  Delete "$SMPROGRAMS\Kestrix.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
