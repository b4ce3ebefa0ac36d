; Runs the cases of C:\cases.txt (three lines each: kind, HANDBACK.EXE's
; path, the setup directory) and writes one answer a line to C:\answers.txt:
; "check" asks handback-check.dll, as handback.nsh carries it, for its
; answer, both paths made full and why; "arm" makes the whole
; ${HandBackArm} call and tells its answer, the error flag, whether the
; stack and registers were kept, and why. Built ANSI (-DANSI) or Unicode, 32- or
; 64-bit.
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
  InitPluginsDir
  File "/oname=$PLUGINSDIR\handback-check.dll" "${HANDBACK_CHECK}"
  FileOpen $R8 "C:\cases.txt" r
  FileOpen $R9 "C:\answers.txt" w
  ${Do}
    ClearErrors
    !insertmacro ReadCase $1
    !insertmacro ReadCase $2
    !insertmacro ReadCase $3
    ${If} ${Errors}
      ${ExitDo}
    ${EndIf}
    ${If} $1 == "check"
      System::Call '$PLUGINSDIR\handback-check.dll::HandBackCheck(w r2, w r3, w .r4, w .r5, w .r6, i ${NSIS_MAX_STRLEN}) i .r0'
      StrCpy $0 "$0|$4|$5|$6"
    ${ElseIf} $1 == "arm"
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
      StrCpy $0 "$R6, $R5, stack $5, registers $0 $1 $4 $9 $R0, why $HandBackWhy"
    ${Else}
      StrCpy $0 "unknown case: $1"
    ${EndIf}
    FileWrite $R9 "$0$\r$\n"
  ${Loop}
  FileClose $R8
  FileClose $R9
SectionEnd
