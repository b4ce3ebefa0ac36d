; A product's installer that must restart Windows in the middle of its setup
; and carry on afterwards. It installs HANDBACK.EXE of the Windows' own width
; and the product's SETUP.EXE, then has include/handback.nsh choose how setup
; resumes after the restart: the hand-back where it can complete (HANDBACK.EXE
; is the shell for one start of Windows, gives the shell back to Explorer and
; starts SETUP.EXE again), else RunOnce. Its uninstaller undoes what is still
; armed, so that a product removed before the restart leaves no shell behind
; that is gone.
;
; One 32-bit installer for both widths, which installs the x64 build on
; 64-bit Windows:
;   makensis -DHANDBACK_X86=/path/to/x86/handback.exe
;            -DHANDBACK_X64=/path/to/x64/handback.exe -DSETUP=/path/to/SETUP.EXE
;            [-DOUTFILE=dorvanix-setup.exe] dorvanix-setup.nsi
; (relative paths are taken from this script's folder). "-XTarget
; amd64-unicode" before the script makes it a 64-bit installer, which runs
; on 64-bit Windows only.

; Unicode, so that it installs into a directory outside the ANSI code page
; too (the include then has setup resume through RunOnce).
Unicode true

!include LogicLib.nsh
; include/ beside examples/, in a checkout and in the release archive alike
; (makensis works in the script's own folder).
!addincludedir "../../include"
!include "handback.nsh"

!ifndef HANDBACK_X86 | HANDBACK_X64 | SETUP
  !error "Define HANDBACK_X86, HANDBACK_X64 and SETUP: the files it installs."
!endif
!define /ifndef OUTFILE "dorvanix-setup.exe"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dorvanix 4"

Name "Dorvanix 4"
OutFile "${OUTFILE}"
; Winlogon's key, RunOnce and the list of programs may be written by
; administrators only.
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\Dorvanix 4"

Page directory
Page instfiles

Var Resume ; how setup resumes after the restart

; A box, or exit code 2 when silent.
!macro FailOnError WHAT
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Setup could not ${WHAT}." /SD IDOK
    Abort
  ${EndIf}
!macroend

; A 64-bit product is listed in the native view, whatever the installer's
; width.
Function .onInit
  ${If} ${HandBackOn64BitWindows}
    SetRegView 64
  ${EndIf}
FunctionEnd

Function un.onInit
  ${If} ${HandBackOn64BitWindows}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section
  SetOutPath "$INSTDIR\Setup"
  File "/oname=SETUP.EXE" "${SETUP}"
  SetOutPath "$INSTDIR"
  ; Winlogon of 64-bit Windows starts the shell from the native view, which
  ; only the x64 build reads and gives back.
  ${If} ${HandBackOn64BitWindows}
    File "/oname=HANDBACK.EXE" "${HANDBACK_X64}"
  ${Else}
    File "/oname=HANDBACK.EXE" "${HANDBACK_X86}"
  ${EndIf}

  ; Listed as Windows lists programs, for Control Panel and deployment tools.
  ClearErrors
  WriteUninstaller "$INSTDIR\UNINSTALL.EXE"
  WriteRegStr HKLM "${UNINSTALL}" "DisplayName" "Dorvanix 4"
  WriteRegStr HKLM "${UNINSTALL}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL}" "UninstallString" '"$INSTDIR\UNINSTALL.EXE"'
  WriteRegStr HKLM "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\UNINSTALL.EXE" /S'
  !insertmacro FailOnError "register its uninstaller"

  ${HandBackArm} "$INSTDIR\HANDBACK.EXE" "$INSTDIR\Setup" "Dorvanix 4 Setup" $0
  !insertmacro FailOnError "prepare to resume after the restart"
  DetailPrint "Setup resumes after the restart by: $0"
  StrCpy $Resume $0
  ; A silent install shows nothing: the answer and why stay with the
  ; listing, for whoever must later tell why setup did or did not resume.
  WriteRegStr HKLM "${UNINSTALL}" "HandBackWay" $0
  WriteRegStr HKLM "${UNINSTALL}" "HandBackWhy" $HandBackWhy
  ; Others may change the files here: the user starts setup by hand.
  ${If} $0 == "none"
    MessageBox MB_OK|MB_ICONINFORMATION "Setup cannot start again by itself \
        after the restart, as users other than administrators may change \
        its files in $INSTDIR. Once Windows has restarted, start \
        $INSTDIR\Setup\SETUP.EXE to go on with setup." /SD IDOK
  ${EndIf}
  SetRebootFlag true
SectionEnd

Section "Uninstall"
  ; Before any file goes: HANDBACK.EXE stays while it is still the shell.
  ${HandBackDisarm} "$INSTDIR\HANDBACK.EXE" "Dorvanix 4 Setup"
  !insertmacro FailOnError "give the shell back to Explorer"

  Delete "$INSTDIR\Setup\SETUP.EXE"
  RMDir "$INSTDIR\Setup"
  Delete "$INSTDIR\HANDBACK.EXE"
  DeleteRegKey HKLM "${UNINSTALL}"
  Delete "$INSTDIR\UNINSTALL.EXE"
  RMDir "$INSTDIR"
SectionEnd

Function .onInstSuccess
  StrCpy $0 "Setup continues once Windows has restarted. Restart now?"
  ${If} $Resume == "none"
    StrCpy $0 "Windows must restart. Restart now?"
  ${EndIf}
  MessageBox MB_YESNO|MB_ICONQUESTION $0 /SD IDNO IDNO +2
    Reboot
FunctionEnd
