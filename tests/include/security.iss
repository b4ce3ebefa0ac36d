; Runs the "check" cases of C:\cases.txt (three lines each: kind,
; HANDBACK.EXE's path, the setup directory) through handback-check.dll, as
; handback.iss carries and declares it, writes one answer a line to
; C:\answers.txt (the answer, both paths made full and why), and ends.

#define HandBackExe "{tmp}\HANDBACK.EXE"
#define HandBackSetupDir "{tmp}\Setup"
#define HandBackRunOnce "HandBack Test Setup"
#include "handback.iss"

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

[Setup]
AppName=HandBack Test
AppVersion=1
DefaultDirName={tmp}\HandBack Test
PrivilegesRequired=lowest
