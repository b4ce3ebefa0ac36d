; handback.nsh: arms HANDBACK.EXE as the shell for the next start of Windows
; where it can complete the hand-back, and has Windows start SETUP.EXE once
; through RunOnce everywhere else; and undoes what is still armed when the
; product is removed. docs/include.md has the whole of it.
;
;   !addincludedir "${HANDBACK}/include"   (makensis -DHANDBACK=<the archive>)
;   !include "handback.nsh"
;   ${HandBackArm} "<installed HANDBACK.EXE>" "<directory holding SETUP.EXE>" "<RunOnce value name>" $R0
;       $R0 = "hand-back" or "RunOnce"; "none", with nothing armed, where a
;       user who is not trusted may change what the next logon would start
;       (handback-check.dll judges it, beside include/ in the archive, or
;       named by HANDBACK_CHECK_X86 and HANDBACK_CHECK_X64); a failed write
;       sets the error flag, gives "" and leaves the shell unarmed. Both
;       paths are armed made full. The installer's log says which way and
;       why, and $HandBackWhy holds why afterwards.
;   ${HandBackDisarm} "<installed HANDBACK.EXE>" "<RunOnce value name>"
;       before files are deleted; sets the error flag if the shell could not
;       be given back, and then changes nothing else
;   ${If} ${HandBackOn64BitWindows} ... ${EndIf}
;       true on 64-bit Windows, in a 32-bit or 64-bit installer, with no
;       LogicLib label left unused in a 64-bit one (as ${RunningX64} leaves)
;
; They work in install and uninstall code, in ANSI and Unicode builds, for
; 32-bit and amd64-unicode targets, and leave the caller's registers and
; registry view as they were.

!ifndef HANDBACK_NSH_INCLUDED
!define HANDBACK_NSH_INCLUDED
!verbose push 3

!include LogicLib.nsh
!include Util.nsh
!include WinVer.nsh
!include x64.nsh

!define HANDBACK_MAPPING "Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\system.ini\boot"
!define HANDBACK_POLICIES "Software\Microsoft\Windows\CurrentVersion\Policies\System"
!define HANDBACK_RUNONCE "Software\Microsoft\Windows\CurrentVersion\RunOnce"

; The check's DLL of this installer's width: beside include/ in the release
; archive, or named by these defines (a checkout's build folders).
!ifndef HANDBACK_CHECK_X86
  !define HANDBACK_CHECK_X86 "${__FILEDIR__}/../x86/handback-check.dll"
!endif
!ifndef HANDBACK_CHECK_X64
  !define HANDBACK_CHECK_X64 "${__FILEDIR__}/../x64/handback-check.dll"
!endif
!if ${NSIS_PTR_SIZE} > 4
  !define HANDBACK_CHECK "${HANDBACK_CHECK_X64}"
!else
  !define HANDBACK_CHECK "${HANDBACK_CHECK_X86}"
!endif

!define HandBackArm '!insertmacro HandBackArmCall'
!define HandBackDisarm '!insertmacro HandBackDisarmCall'

!macro HandBackArmCall _EXE _DIR _RUNONCE _RESULT
  !verbose push 3
  Push `${_EXE}`
  Push `${_DIR}`
  Push `${_RUNONCE}`
  ${CallArtificialFunction} HandBackArm_
  Pop ${_RESULT}
  !verbose pop
!macroend

!macro HandBackDisarmCall _EXE _RUNONCE
  !verbose push 3
  Push `${_EXE}`
  Push `${_RUNONCE}`
  ${CallArtificialFunction} HandBackDisarm_
  !verbose pop
!macroend

; As x64.nsh's RunningX64, but a 64-bit installer's test names both branches,
; so that no label of LogicLib goes unused there.
!macro _HandBackOn64BitWindows _a _b _t _f
!if ${NSIS_PTR_SIZE} > 4
  StrCmp "" "" `${_t}` `${_f}`
!else
  !insertmacro _RunningX64 `${_a}` `${_b}` `${_t}` `${_f}`
!endif
!macroend
!define HandBackOn64BitWindows `"" HandBackOn64BitWindows ""`

; Windows' own view: on 64-bit Windows that of Winlogon and the x64 build,
; whatever this installer's width. Put back with SetRegView lastused, so it
; is set exactly once per call.
!macro HandBackNativeView_
  ${If} ${HandBackOn64BitWindows}
    SetRegView 64
  ${Else}
    SetRegView default
  ${EndIf}
!macroend

; key -> the key under HKLM where 64-bit Windows' NT mapping keeps that entry
; of [boot]: the mapping's value for it, else its default, after the colon
; (SYS:, and flags before it, ignored); "" where the entry stays in the file,
; and on 32-bit Windows, where the profile API finds the place itself. A
; 32-bit profile API on 64-bit Windows would write the 32-bit view, which
; Winlogon never reads. Reads in the caller's view, which is the native one.
!macro HandBackMappedKey_
  Exch $0
  Push $1
  Push $2
  StrCpy $1 ""
  ${If} ${HandBackOn64BitWindows}
    ReadRegStr $1 HKLM "${HANDBACK_MAPPING}" $0
    ${If} $1 == ""
      ReadRegStr $1 HKLM "${HANDBACK_MAPPING}" ""
    ${EndIf}
  ${EndIf}
  ${If} $1 != ""
    StrCpy $2 0
    ${Do}
      StrCpy $0 $1 1 $2
      ${If} $0 == ":"
      ${OrIf} $0 == ""
        ${ExitDo}
      ${EndIf}
      IntOp $2 $2 + 1
    ${Loop}
    ${If} $0 == ":"
      IntOp $2 $2 + 1
      StrCpy $1 $1 "" $2
    ${EndIf}
    StrCpy $1 "Software\$1"
  ${EndIf}
  StrCpy $0 $1
  Pop $2
  Pop $1
  Exch $0
!macroend

; path -> 1 where HANDBACK.EXE, an ANSI program, reads it back as it is:
; it comes back unchanged through the ANSI code page, and it is shorter than
; 260 bytes there (the program reads its own path into a 261-byte buffer,
; and a double-byte character takes two bytes); else 0.
!macro HandBackReadable_
  Exch $0
  Push $1
  Push $2
  Push $3
!if ${NSIS_CHAR_SIZE} > 1
  StrCpy $3 1024 ; WC_NO_BEST_FIT_CHARS: a letter made plain is a loss too
  System::Call 'kernel32::WideCharToMultiByte(i 0, i r3, w r0, i -1, p 0, i 0, p 0, p 0) i .r1'
  ${If} $1 = 0
    ; Code pages that take no flags (UTF-8) have no best fit either.
    StrCpy $3 0
    System::Call 'kernel32::WideCharToMultiByte(i 0, i r3, w r0, i -1, p 0, i 0, p 0, p 0) i .r1'
  ${EndIf}
  ${If} $1 > 0
    System::Alloc $1
    Pop $2
    System::Call 'kernel32::WideCharToMultiByte(i 0, i r3, w r0, i -1, p r2, i r1, p 0, p 0)'
    System::Call 'kernel32::MultiByteToWideChar(i 0, i 0, p r2, i -1, w .r3, i ${NSIS_MAX_STRLEN})'
    System::Free $2
    IntOp $1 $1 - 1 ; its bytes, without the terminating zero
  ${Else}
    StrCpy $1 260
  ${EndIf}
!else
  ; An ANSI installer's text is the program's already.
  StrLen $1 $0
  StrCpy $3 $0
!endif
  ${If} $1 < 260
  ${AndIf} $3 S== $0
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
!macroend

; path -> its file name, after the last \ or :, as the program takes it.
!macro HandBackFileName_
  Exch $0
  Push $1
  Push $2
  StrLen $1 $0
  ${Do}
    ${If} $1 = 0
      ${ExitDo}
    ${EndIf}
    IntOp $1 $1 - 1
    StrCpy $2 $0 1 $1
    ${If} $2 == "\"
    ${OrIf} $2 == ":"
      IntOp $1 $1 + 1
      ${ExitDo}
    ${EndIf}
  ${Loop}
  StrCpy $0 $0 "" $1
  Pop $2
  Pop $1
  Exch $0
!macroend

; $0 HANDBACK.EXE, $1 the setup directory, $2 the RunOnce value's name;
; $3 the way, $4 SETUP.EXE's path, $6 why.
!macro HandBackArm_
  Exch $2
  Exch
  Exch $1
  Exch 2
  Exch $0
  Push $3
  Push $4
  Push $5
  Push $6
  !insertmacro HandBackNativeView_

  ; Both ways have the next logon, usually an administrator's, start these
  ; files: handback-check.dll judges what Windows would really start, and
  ; gives both paths made full, the form to arm. Where someone else may
  ; change it, nothing is armed; where only a quoted command line is safe,
  ; RunOnce. A DLL that cannot run answers none. Windows 95, 98 and Me keep
  ; no accounts apart, and would not load it.
  StrCpy $3 ""
  StrCpy $6 ""
  ${If} ${IsNT}
    InitPluginsDir
    SetDetailsPrint none
    File "/oname=$PLUGINSDIR\handback-check.dll" "${HANDBACK_CHECK}"
    SetDetailsPrint lastused
    System::Call '$PLUGINSDIR\handback-check.dll::HandBackCheck(w r0, w r1, w .r0, w .r1, w .r6, i ${NSIS_MAX_STRLEN}) i .r5 ?u'
    ${If} $5 == 0
      StrCpy $3 "none"
    ${ElseIf} $5 == 1
      StrCpy $3 "RunOnce"
    ${ElseIf} $5 != 2
      StrCpy $3 "none"
      StrCpy $6 "handback-check.dll could not run ($5)"
    ${EndIf}
  ${EndIf}

  ; SETUP.EXE's path as the program joins it: no doubled backslash.
  StrCpy $4 $1 "" -1
  ${If} $4 == "\"
  ${OrIf} $4 == ""
    StrCpy $4 "$1SETUP.EXE"
  ${Else}
    StrCpy $4 "$1\SETUP.EXE"
  ${EndIf}

  ; With UAC on (Vista and later; a missing EnableLUA means on), Windows
  ; starts an administrator's shell with the filtered token, which cannot
  ; give Winlogon's value back: HANDBACK.EXE would be the shell at every
  ; logon. Nor can the program give the shell back or find SETUP.EXE if it
  ; cannot read both paths. RunOnce needs neither.
  ReadRegDWORD $5 HKLM "${HANDBACK_POLICIES}" "EnableLUA"
  ${If} $3 != ""
    ; as the check answered
  ${ElseIfNot} ${IsNT}
    StrCpy $3 "hand-back"
    StrCpy $6 "Windows 95, 98 or Me"
  ${ElseIfNot} ${AtLeastWinVista}
    StrCpy $3 "hand-back"
    StrCpy $6 "Windows before Vista"
  ${ElseIf} $5 == 0
    StrCpy $3 "hand-back"
    StrCpy $6 "UAC is off"
  ${Else}
    StrCpy $3 "RunOnce"
    StrCpy $6 "UAC is on"
  ${EndIf}
  ${If} $3 == "hand-back"
    Push $0
    ${CallArtificialFunction} HandBackReadable_
    Pop $5
    ${If} $5 == 1
      Push $4
      ${CallArtificialFunction} HandBackReadable_
      Pop $5
      ${If} $5 != 1
        StrCpy $6 "the program could not read back $4"
      ${EndIf}
    ${Else}
      StrCpy $6 "the program could not read back $0"
    ${EndIf}
    ${If} $5 != 1
      StrCpy $3 "RunOnce"
    ${EndIf}
  ${EndIf}
  ; So that an author reading a user's log sees why setup did or did not
  ; resume; a silent install keeps it where the author puts it.
  DetailPrint "HandBackArm: $3: $6"
  ; And for a debugger, Sysinternals' DebugView or Wine's trace (warn+seh),
  ; whatever the installer logs: try-installer reads it there.
  Push $5
  StrCpy $5 "HandBackWay: $3: $6"
  System::Call 'kernel32::OutputDebugString(t r5)'
  Pop $5
  !ifndef HANDBACK_WHY_DECLARED
    !define HANDBACK_WHY_DECLARED
    Var /GLOBAL HandBackWhy
  !endif
  StrCpy $HandBackWhy $6

  ${If} $3 == "hand-back"
    ; The directory first, so the shell is never armed without it. The key
    ; ends in a blank: the program asks for it so, and a registry value is
    ; found only by its exact name.
    Push "DorvanixSetupDir "
    ${CallArtificialFunction} HandBackMappedKey_
    Pop $5
    ClearErrors
    ${If} $5 == ""
      WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir " $1
    ${Else}
      WriteRegStr HKLM $5 "DorvanixSetupDir " $1
    ${EndIf}
    ${If} ${Errors}
      StrCpy $3 ""
    ${Else}
      ; Unquoted: the program compares the file name at its end with its own.
      Push "shell"
      ${CallArtificialFunction} HandBackMappedKey_
      Pop $5
      ClearErrors
      ${If} $5 == ""
        WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "shell" $0
      ${Else}
        WriteRegStr HKLM $5 "shell" $0
      ${EndIf}
      ${If} ${Errors}
        StrCpy $3 ""
      ${EndIf}
    ${EndIf}
  ${ElseIf} $3 == "RunOnce"
    ; Windows starts it once, as the user who logs on, and deletes the value.
    ClearErrors
    WriteRegStr HKLM "${HANDBACK_RUNONCE}" $2 '"$4"'
    ${If} ${Errors}
      StrCpy $3 ""
    ${EndIf}
  ${EndIf}
  ${If} $3 == ""
    DetailPrint "HandBackArm: a write failed; the shell is not armed"
  ${EndIf}

  SetRegView lastused
  ClearErrors
  ${If} $3 == ""
    SetErrors
  ${EndIf}
  Pop $6
  Pop $5
  Pop $4
  Exch $3
  Exch
  Pop $0
  Exch
  Pop $2
  Exch
  Pop $1
!macroend

; $0 HANDBACK.EXE, $1 the RunOnce value's name; $2 where an entry lives,
; $5 "failed" once the shell could not be given back.
!macro HandBackDisarm_
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  Push $5
  !insertmacro HandBackNativeView_
  StrCpy $5 ""

  ; Explorer back, and only while the shell still names this HANDBACK.EXE
  ; as the program compares it (file name, any case): Explorer after the
  ; hand-back and another product's shell stay.
  Push "shell"
  ${CallArtificialFunction} HandBackMappedKey_
  Pop $2
  ${If} $2 == ""
    ReadINIStr $3 "$WINDIR\SYSTEM.INI" "boot" "shell"
  ${Else}
    ReadRegStr $3 HKLM $2 "shell"
  ${EndIf}
  Push $3
  ${CallArtificialFunction} HandBackFileName_
  Pop $3
  Push $0
  ${CallArtificialFunction} HandBackFileName_
  Pop $4
  ${If} $4 != ""
  ${AndIf} $3 == $4
    ClearErrors
    ${If} $2 == ""
      WriteINIStr "$WINDIR\SYSTEM.INI" "boot" "shell" "EXPLORER.EXE"
    ${Else}
      WriteRegStr HKLM $2 "shell" "EXPLORER.EXE"
    ${EndIf}
    ${If} ${Errors}
      StrCpy $5 "failed"
    ${EndIf}
  ${EndIf}

  ; Still the shell: the hand-back stays whole, directory included, so that
  ; it completes at the next start.
  ${If} $5 == ""
    DeleteRegValue HKLM "${HANDBACK_RUNONCE}" $1
    ; The program never removes the directory's entry. A profile service may
    ; find the file's key by its name without the blank on reads only
    ; (Wine's does), so there it goes under both names.
    Push "DorvanixSetupDir "
    ${CallArtificialFunction} HandBackMappedKey_
    Pop $2
    ${If} $2 == ""
      DeleteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir "
      DeleteINIStr "$WINDIR\SYSTEM.INI" "boot" "DorvanixSetupDir"
    ${Else}
      DeleteRegValue HKLM $2 "DorvanixSetupDir "
    ${EndIf}
  ${EndIf}

  SetRegView lastused
  ClearErrors
  ${If} $5 != ""
    SetErrors
  ${EndIf}
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $0
  Pop $1
!macroend

!verbose pop
!endif
