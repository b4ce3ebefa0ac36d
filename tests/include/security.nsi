; Runs the cases of C:\cases.txt (three lines each: kind, first, second)
; through handback.nsh's check of who may change what the next logon
; starts, and writes one answer a line to C:\answers.txt. Built ANSI
; (-DANSI) or Unicode, 32- or 64-bit.
!ifdef ANSI
Unicode false
!else
Unicode true
!endif
!include LogicLib.nsh
!addincludedir "../../include"
!include "handback.nsh"

OutFile "${OUTFILE}"
RequestExecutionLevel admin
SilentInstall silent

; A line of the cases, without its line end; the error flag at the end.
!macro ReadCase VAR
  FileRead $R8 ${VAR}
  ${Do}
    StrCpy $R5 ${VAR} 1 -1
    ${If} $R5 != "$\r"
    ${AndIf} $R5 != "$\n"
      ${ExitDo}
    ${EndIf}
    StrCpy ${VAR} ${VAR} -1
  ${Loop}
!macroend

Section
  FileOpen $R8 "C:\cases.txt" r
  FileOpen $R9 "C:\answers.txt" w
  ${CallArtificialFunction} HandBackUserSid_
  Pop $R7
  ${Do}
    ClearErrors
    !insertmacro ReadCase $1
    !insertmacro ReadCase $2
    !insertmacro ReadCase $3
    ${If} ${Errors}
      ${ExitDo}
    ${EndIf}
    ${If} $1 == "parent" ; path
      Push $2
      ${CallArtificialFunction} HandBackParent_
      Pop $0
    ${ElseIf} $1 == "sddl" ; strict, security descriptor
    ${OrIf} $1 == "acl" ; strict, the bytes of a DACL in hex (owner BA)
      StrCpy $0 $3
      ${If} $1 == "acl"
        StrCpy $0 "O:BA"
      ${EndIf}
      System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r0, i 1, *p .r4, p 0) i .r0'
      ${If} $0 <> 0
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r4, *p .r5, *i)'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r4, *i, *p .r6, *i)'
        ${If} $1 == "acl"
          StrLen $7 $3
          IntOp $7 $7 / 2
          System::Alloc $7
          Pop $6
          StrCpy $8 0
          ${DoWhile} $8 < $7
            IntOp $9 $8 * 2
            StrCpy $9 $3 2 $9
            IntOp $9 0x$9 + 0
            IntPtrOp $0 $6 + $8
            System::Call '*$0(&i1 r9)'
            IntOp $8 $8 + 1
          ${Loop}
        ${EndIf}
        Push $5
        Push $6
        Push $2
        Push $R7
        ${CallArtificialFunction} HandBackSecurityOpen_
        Pop $0
        ${If} $1 == "acl"
          System::Free $6
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r4)'
      ${Else}
        StrCpy $0 "no such descriptor"
      ${EndIf}
    ${ElseIf} $1 == "files" ; HANDBACK.EXE, SETUP.EXE
      Push $2
      Push $3
      ${CallArtificialFunction} HandBackOpenToOthers_
      Pop $0
    ${ElseIf} $1 == "arm" ; HANDBACK.EXE, setup directory: the whole call
      StrCpy $0 r0
      StrCpy $1 r1
      StrCpy $4 r4
      StrCpy $9 r9
      StrCpy $R0 R0
      Push sentinel
      SetErrors
      ${HandBackArm} $2 $3 "HandBack Test Setup" $R6
      StrCpy $R5 "errors clear"
      ${If} ${Errors}
        StrCpy $R5 "errors set"
      ${EndIf}
      Pop $5
      StrCpy $0 "$R6, $R5, stack $5, registers $0 $1 $4 $9 $R0"
    ${Else}
      StrCpy $0 "unknown case: $1"
    ${EndIf}
    FileWrite $R9 "$0$\r$\n"
  ${Loop}
  FileClose $R8
  FileClose $R9
SectionEnd
