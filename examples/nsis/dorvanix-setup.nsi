; A product's installer that must restart Windows in the middle of its setup
; and carry on afterwards. It installs HANDBACK.EXE and the product's
; SETUP.EXE, then chooses how setup resumes after the restart:
; - where the shell that runs after the restart may give itself back (Windows
;   before Vista, or UAC off), it arms the hand-back: for the next start of
;   Windows, HANDBACK.EXE is the shell; it gives the shell back to Explorer
;   and starts SETUP.EXE again from the directory recorded here;
; - everywhere else it leaves the shell alone and has Windows start SETUP.EXE
;   once through RunOnce.
; Its uninstaller undoes what is still armed, so that a product removed
; before the restart leaves no shell behind that is gone.
;
; One script, one installer for each kind of Windows:
;   makensis -DHANDBACK=x86/handback.exe -DSETUP=SETUP.EXE dorvanix-setup.nsi
;   makensis -DWIN64 -DHANDBACK=x64/handback.exe -DSETUP=SETUP.EXE dorvanix-setup.nsi
; OUTFILE names the installer it writes.
;
; Both entries are written through the profile API (WriteINIStr), never into
; the text of SYSTEM.INI: Windows 9x keeps [boot] in the file, but the NT
; family (XP to 11) maps it to the registry, with `shell` in Winlogon's own
; value. The profile API writes where the Windows it runs on keeps each
; entry, in the registry view of the installer itself. That is why each
; Windows gets an installer of its own width: on 64-bit Windows, a 32-bit
; installer would arm the 32-bit view, which Winlogon never reads.

!ifdef WIN64
  Target amd64-unicode
!endif
; The 32-bit installer keeps NSIS's default, ANSI, like HANDBACK.EXE itself,
; so it runs on Windows 9x too.

!include LogicLib.nsh
!include WinVer.nsh
!include x64.nsh

!ifndef HANDBACK | SETUP
  !error "Define HANDBACK and SETUP: the paths of handback.exe and SETUP.EXE."
!endif
!ifndef OUTFILE
  !ifdef WIN64
    !define OUTFILE "dorvanix-setup-x64.exe"
  !else
    !define OUTFILE "dorvanix-setup-x86.exe"
  !endif
!endif
!define POLICIES "Software\Microsoft\Windows\CurrentVersion\Policies\System"
!define RUNONCE "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dorvanix 4"

Name "Dorvanix 4"
OutFile "${OUTFILE}"
; Winlogon's key, RunOnce and the list of programs may be written by
; administrators only.
RequestExecutionLevel admin
!ifdef WIN64
  InstallDir "$PROGRAMFILES64\Dorvanix 4"
!else
  InstallDir "$PROGRAMFILES\Dorvanix 4"
!endif

Page directory
Page instfiles

; After a failed write nothing more is armed, and the installer fails: a box,
; or exit code 2 when silent.
!macro FailOnError WHAT
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Setup could not ${WHAT}." /SD IDOK
    Abort
  ${EndIf}
!macroend

Function .onInit
!ifndef WIN64
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This is the installer for 32-bit Windows. \
        Please run the 64-bit one." /SD IDOK
    Abort
  ${EndIf}
!endif
FunctionEnd

Section
  SetOutPath "$INSTDIR\Setup"
  File "/oname=SETUP.EXE" "${SETUP}"
  SetOutPath "$INSTDIR"
  File "/oname=HANDBACK.EXE" "${HANDBACK}"

  ; Listed as Windows lists programs, for Control Panel and deployment tools.
  ClearErrors
  WriteUninstaller "$INSTDIR\UNINSTALL.EXE"
  WriteRegStr HKLM "${UNINSTALL}" "DisplayName" "Dorvanix 4"
  WriteRegStr HKLM "${UNINSTALL}" "UninstallString" '"$INSTDIR\UNINSTALL.EXE"'
  WriteRegStr HKLM "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\UNINSTALL.EXE" /S'
  !insertmacro FailOnError "register its uninstaller"

  ; With UAC on (Vista and later; a missing EnableLUA means on), Windows
  ; starts an administrator's shell with the filtered token: HANDBACK.EXE
  ; could not give Winlogon's value back, and would be the shell at every
  ; logon. So the hand-back is armed only before Vista or with EnableLUA 0,
  ; read in the native view (each installer runs only on Windows of its own
  ; width). This assumes the account that installs is the one that logs on
  ; next, and errs on the safe side: the built-in Administrator, whose shell
  ; UAC leaves unfiltered by default, resumes through RunOnce too.
  ReadRegDWORD $0 HKLM "${POLICIES}" "EnableLUA"
  ClearErrors
  ${IfNot} ${AtLeastWinVista}
  ${OrIf} $0 == 0
    ; The directory HANDBACK.EXE starts SETUP.EXE from. The key ends in a
    ; blank, and a registry value of the NT mapping is found only by its
    ; exact name, so it is written exactly as the program reads it.
    WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir " "$INSTDIR\Setup"
    !insertmacro FailOnError "record the setup directory"
    ; Last, so the shell is never armed without a directory. Unquoted: the
    ; program compares the file name at the end of the entry with its own,
    ; and a closing quote would be part of it.
    WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "shell" "$INSTDIR\HANDBACK.EXE"
    !insertmacro FailOnError "register the shell for the restart"
  ${Else}
    ; Windows starts it once, as the user who logs on, and deletes the value.
    WriteRegStr HKLM "${RUNONCE}" "Dorvanix 4 Setup" '"$INSTDIR\Setup\SETUP.EXE"'
    !insertmacro FailOnError "register setup to resume after the restart"
  ${EndIf}
  SetRebootFlag true
SectionEnd

; Undoes what the installer armed, through the same calls, in the same view.
Section "Uninstall"
  ; Explorer back first, and only while the shell still names HANDBACK.EXE,
  ; compared as the program compares it: the file name after the last \ or
  ; :, whatever its case. Anything else (Explorer, once the hand-back has
  ; run; another product's shell) is left alone.
  ReadINIStr $0 "$WINDIR\SYSTEM.INI" "boot" "shell"
  StrCpy $1 $0 "" -12 ; its last 12 characters
  StrCpy $2 $0 -12    ; what comes before them,
  StrCpy $2 $2 "" -1  ; and the last character of that
  ClearErrors
  ${If} $1 == "HANDBACK.EXE"
    ${If} $2 == ""
    ${OrIf} $2 == "\"
    ${OrIf} $2 == ":"
      WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "shell" "EXPLORER.EXE"
      ; HANDBACK.EXE stays while it is the shell.
      !insertmacro FailOnError "give the shell back to Explorer"
    ${EndIf}
  ${EndIf}
  DeleteRegValue HKLM "${RUNONCE}" "Dorvanix 4 Setup"
  ; The program never removes the directory's entry. A profile service may
  ; find the file's key by its name without the blank on reads only (Wine's
  ; does), so the entry is deleted under both names.
  DeleteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir "
  DeleteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir"

  Delete "$INSTDIR\Setup\SETUP.EXE"
  RMDir "$INSTDIR\Setup"
  Delete "$INSTDIR\HANDBACK.EXE"
  DeleteRegKey HKLM "${UNINSTALL}"
  Delete "$INSTDIR\UNINSTALL.EXE"
  RMDir "$INSTDIR"
SectionEnd

Function .onInstSuccess
  MessageBox MB_YESNO|MB_ICONQUESTION "Setup continues once Windows has \
      restarted. Restart now?" /SD IDNO IDNO +2
    Reboot
FunctionEnd
