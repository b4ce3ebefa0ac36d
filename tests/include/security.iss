; Runs the "check" cases of C:\cases.txt (three lines each: kind,
; HANDBACK.EXE's path, the setup directory) through handback-check.dll, as
; handback.iss carries and declares it, writes one answer a line to
; C:\answers.txt (the answer, both paths made full and why), and ends.
;
; Built with /DARM, it installs instead, as an author's installer may: it
; asks HandBackWay before its files are installed (at ssInstall), then
; installs SETUP.EXE with a permission that lets every user change it. What
; is armed must be what the include judges of the files as installed.

#ifdef ARM
  #define HandBackExe "{app}\HANDBACK.EXE"
  #define HandBackSetupDir "{app}\Setup"
#else
  #define HandBackExe "{tmp}\HANDBACK.EXE"
  #define HandBackSetupDir "{tmp}\Setup"
#endif
#define HandBackRunOnce "HandBack Test Setup"
#include "handback.iss"

#ifdef ARM
procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssInstall then
    Log('Asked before the files: ' + HandBackWay);
end;
#else
function InitializeSetup: Boolean;
var
  Cases, Answers: TArrayOfString;
  Index: Integer;
  Exe, Dir, Why: String;
begin
  LoadStringsFromFile('C:\cases.txt', Cases);
  SetArrayLength(Answers, GetArrayLength(Cases) div 3);
  for Index := 0 to GetArrayLength(Answers) - 1 do
    if Cases[3 * Index] = 'check' then
    begin
      Exe := StringOfChar(' ', 1024);
      Dir := StringOfChar(' ', 1024);
      Why := StringOfChar(' ', 1024);
      Answers[Index] := IntToStr(HandBackCheckDll(Cases[3 * Index + 1],
        Cases[3 * Index + 2], Exe, Dir, Why, 1024)) + '|'
        + HandBackWritten(Exe) + '|' + HandBackWritten(Dir) + '|'
        + HandBackWritten(Why);
    end
    else
      Answers[Index] := 'not run here: ' + Cases[3 * Index];
  SaveStringsToFile('C:\answers.txt', Answers, False);
  Result := False;
end;
#endif

[Setup]
AppName=HandBack Test
AppVersion=1
DefaultDirName={tmp}\HandBack Test
Uninstallable=no
#ifdef ARM
PrivilegesRequired=admin
ArchitecturesInstallIn64BitMode=x64compatible
#else
PrivilegesRequired=lowest
#endif

#ifdef ARM
[Files]
; Any file does for HANDBACK.EXE: the check judges who may change it.
Source: "{#HandBackCheckX86}"; DestDir: "{app}"; DestName: "HANDBACK.EXE"
Source: "{#HandBackCheckX86}"; DestDir: "{app}\Setup"; DestName: "SETUP.EXE"; Permissions: everyone-modify
#endif
