; The per-user installer of Kestrix and the add-ons that ship with it.
; Built by the build when makensis is found:
;   makensis -DVERSION=1.0.0.26 -DBIN=<build>/bin -DICON=<repo>/resources/kestrix.ico
;            -DOUTFILE=<build>/bin/KestrixSetup.exe -DADDONS_NSH=<build>/generated/Addons.nsh
;            Kestrix.nsi
; The add-ons' lines (files, registration, removal) come from Addons.nsh,
; which the build writes from its list of add-ons.
; No administrator rights: everything goes to the user's own programs
; folder, the user's Start menu and the user's uninstall list. /S installs
; and uninstalls silently; installing over an installation upgrades it. An
; installation ends by starting Kestrix, never elevated (Kestrix registers
; itself at every start): with the installer's own rights when they are not
; elevated, else with those of the user's shell; where neither can be done it
; starts nothing, and its last page says to start Kestrix from the Start menu.

!ifndef VERSION | BIN | ICON | OUTFILE | ADDONS_NSH
  !error "Define VERSION, BIN, ICON, OUTFILE and ADDONS_NSH (see the head of this script)"
!endif

Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"
!include "nsDialogs.nsh"
!include "${ADDONS_NSH}"

!define PRODUCT "Kestrix"
!define PUBLISHER "Orvane"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrix"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define PLUGINS_KEY "Software\Orvane\Kestrix\Plugins"
; The program's hidden main window.
!define MAIN_WINDOW_CLASS "TKestrixWnd"
; Where an unfinished capture's picture is kept (the user's, not ours).
!define RECOVERY_DIR "$LOCALAPPDATA\Kestrix\Recovery"

; 1 once Kestrix was started at the end of the installation.
Var Started

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
Page custom LastPage
UninstPage uninstConfirm
UninstPage instfiles

; Asks a running Kestrix to exit and waits until its process has ended, so
; that its files can be replaced or removed; aborts when it does not end and
; the user gives up.
!macro CloseKestrix un
Function ${un}CloseKestrix
  again:
    FindWindow $0 "${MAIN_WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
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

; Runs a registration step that shows nothing (regsvr32 /s); a failure
; stops the installation with its name (no message box when silent).
!macro Register command what
  ClearErrors
  ExecWait '${command}' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "Cannot register ${what} (exit code $0)." /SD IDOK
    Abort "Cannot register ${what}."
  ${EndIf}
!macroend

; Starts the installed Kestrix with the rights of the user's shell, never
; the installer's: an elevated Kestrix would load in-process plug-ins named
; in the user's own key from folders any of the user's unelevated programs
; can write. An installer that is not elevated has the user's own rights,
; so it starts Kestrix itself (a standard user may not start a process with
; another token). Otherwise, where the shell's token cannot be had or used,
; nothing is started and Started stays 0.
Function StartKestrix
  StrCpy $Started 0
  Call StartIfNotElevated
  ${If} $Started == 1
    Return
  ${EndIf}
  System::Call 'user32::GetShellWindow() p .r0'
  ${If} $0 P<> 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r1) p .r2'
    ${If} $2 P<> 0
      ; TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY
      System::Call 'advapi32::OpenProcessToken(p r2, i 0x000B, *p .r3) i .r4'
      ${If} $4 <> 0
        ; MAXIMUM_ALLOWED, SecurityImpersonation, TokenPrimary
        System::Call 'advapi32::DuplicateTokenEx(p r3, i 0x02000000, p 0, i 2, i 1, *p .r5) i .r4'
        ${If} $4 <> 0
          ; STARTUPINFOW (68 bytes, cb first) and PROCESS_INFORMATION.
          System::Alloc 68
          Pop $6
          System::Call '*$6(i 68)'
          System::Call '*(p 0, p 0, i 0, i 0) p .r7'
          System::Call 'advapi32::CreateProcessWithTokenW(p r5, i 0, w "$INSTDIR\kestrix.exe", \
            w `"$INSTDIR\kestrix.exe"`, i 0, p 0, w "$INSTDIR", p r6, p r7) i .r4'
          ${If} $4 <> 0
            StrCpy $Started 1
            System::Call '*$7(p .r8, p .r9)'
            System::Call 'kernel32::CloseHandle(p r8)'
            System::Call 'kernel32::CloseHandle(p r9)'
          ${EndIf}
          System::Free $6
          System::Free $7
          System::Call 'kernel32::CloseHandle(p r5)'
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r3)'
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${EndIf}
FunctionEnd

; A plain start when this installer's token is not elevated (TokenElevation
; says so; where it cannot be read, nothing is started).
Function StartIfNotElevated
  System::Call 'kernel32::GetCurrentProcess() p .r0'
  ; TOKEN_QUERY
  System::Call 'advapi32::OpenProcessToken(p r0, i 0x0008, *p .r1) i .r2'
  ${If} $2 <> 0
    System::Call '*(i 1) p .r3'
    ; TokenElevation
    System::Call 'advapi32::GetTokenInformation(p r1, i 20, p r3, i 4, *i .r4) i .r2'
    System::Call '*$3(i .r5)'
    System::Free $3
    System::Call 'kernel32::CloseHandle(p r1)'
    ${If} $2 <> 0
    ${AndIf} $5 == 0
      Exec '"$INSTDIR\kestrix.exe"'
      StrCpy $Started 1
    ${EndIf}
  ${EndIf}
FunctionEnd

; Says where Kestrix is; a silent installation shows no page.
Function LastPage
  nsDialogs::Create 1018
  Pop $0
  ${If} $Started == 1
    StrCpy $1 "Kestrix is installed and running: its icon is in the notification area."
  ${Else}
    StrCpy $1 "Kestrix is installed. Start it from the Start menu (Kestrix); its icon then appears in the notification area."
  ${EndIf}
  ${NSD_CreateLabel} 0 0 100% 40u $1
  Pop $0
  nsDialogs::Show
FunctionEnd

Section "Kestrix"
  Call CloseKestrix
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${BIN}\kestrix.exe"
  !insertmacro AddonFiles
  WriteUninstaller "$INSTDIR\uninstall.exe"

  SetShellVarContext current
  CreateShortCut "$SMPROGRAMS\Kestrix.lnk" "$INSTDIR\kestrix.exe" "" "$INSTDIR\kestrix.exe" 0

  ; The uninstall entry first: what is on the disk can be removed even when
  ; a registration below stops the installation.
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

  DetailPrint "Registering the add-ons"
  !insertmacro RegisterAddons

  ; Kestrix registers itself at every start, and says so in its own window
  ; when it cannot: run here with /RegServer, its message would hold a
  ; silent installation for ever, and it would run with the installer's
  ; rights. So the installation ends by starting it, which also gives an
  ; upgrade back the Kestrix it had to close.
  Call StartKestrix
SectionEnd

Section "Uninstall"
  Call un.CloseKestrix
  ; The add-ons remove their classes and their plug-in keys; the program
  ; its class and type library. The user's settings stay.
  !insertmacro UnregisterAddons
  ExecWait '"$INSTDIR\kestrix.exe" /UnregServer'
  ; The add-ons' plug-in keys, should an unregistration have left them, and
  ; their files.
  !insertmacro RemoveAddons
  DeleteRegKey /ifempty HKCU "${PLUGINS_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "Kestrix"

  Delete "$INSTDIR\kestrix.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  SetShellVarContext current
  Delete "$SMPROGRAMS\Kestrix.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
  ; The pictures Open in image editor handed to the editor.
  RMDir /r "$TEMP\Kestrix"
  ; A picture kept from a capture that ended unexpectedly may be the only
  ; copy: it goes only when the user says so, never silently.
  ${If} ${FileExists} "${RECOVERY_DIR}\Picture-*"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Kestrix kept pictures of captures that did not end normally in ${RECOVERY_DIR}. Remove them too?" \
      /SD IDNO IDNO keep_pictures
    RMDir /r "${RECOVERY_DIR}"
    RMDir "$LOCALAPPDATA\Kestrix"
    keep_pictures:
  ${EndIf}
SectionEnd
