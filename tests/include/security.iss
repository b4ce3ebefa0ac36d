; Runs the cases of C:\cases.txt (three lines each: kind, first, second)
; through handback.iss's check of who may change what the next logon
; starts, writes one answer a line to C:\answers.txt, and ends.

#define HandBackExe "{tmp}\HANDBACK.EXE"
#define HandBackSetupDir "{tmp}\Setup"
#define HandBackRunOnce "HandBack Test Setup"
#include "handback.iss"

function HandBackTestSecurityDescriptor(Text: String; Revision: Cardinal;
  var Descriptor, Size: Cardinal): Cardinal;
  external 'ConvertStringSecurityDescriptorToSecurityDescriptorW@advapi32.dll stdcall';
function HandBackTestOwner(Descriptor: Cardinal; var Owner, Defaulted: Cardinal): Cardinal;
  external 'GetSecurityDescriptorOwner@advapi32.dll stdcall';
function HandBackTestDacl(Descriptor: Cardinal; var Present, Dacl, Defaulted: Cardinal): Cardinal;
  external 'GetSecurityDescriptorDacl@advapi32.dll stdcall';

procedure HandBackTestWrite(Target: Cardinal; var Value: Byte; Size: Cardinal);
  external 'RtlMoveMemory@kernel32.dll stdcall';

{ Strict; a descriptor in SDDL, or, with Acl, the owner BA and a DACL of
  these bytes in hex. }
function HandBackTestSecurity(Strict, Sddl, Acl, User: String): String;
var
  Descriptor, Size, Owner, Dacl, Flag, Index: Cardinal;
  Value: Byte;
begin
  if HandBackTestSecurityDescriptor(Sddl, 1, Descriptor, Size) = 0 then
  begin
    Result := 'no such descriptor';
    Exit;
  end;
  HandBackTestOwner(Descriptor, Owner, Flag);
  HandBackTestDacl(Descriptor, Flag, Dacl, Flag);
  if Acl <> '' then
  begin
    Dacl := HandBackLocalAlloc(0, Length(Acl) div 2);
    for Index := 0 to Length(Acl) div 2 - 1 do
    begin
      Value := StrToInt('$' + Copy(Acl, 2 * Index + 1, 2));
      HandBackTestWrite(Dacl + Index, Value, 1);
    end;
  end;
  Result := HandBackSecurityOpen(Owner, Dacl, Strict = '1', User);
  if Acl <> '' then
    HandBackLocalFree(Dacl);
  HandBackLocalFree(Descriptor);
end;

function InitializeSetup: Boolean;
var
  Cases, Answers: TArrayOfString;
  Index: Integer;
  User: String;
begin
  LoadStringsFromFile('C:\cases.txt', Cases);
  SetArrayLength(Answers, GetArrayLength(Cases) div 3);
  User := HandBackUserSid;
  for Index := 0 to GetArrayLength(Answers) - 1 do
    if Cases[3 * Index] = 'parent' then
      Answers[Index] := HandBackParent(Cases[3 * Index + 1])
    else if Cases[3 * Index] = 'sddl' then
      Answers[Index] := HandBackTestSecurity(Cases[3 * Index + 1],
                                             Cases[3 * Index + 2], '', User)
    else if Cases[3 * Index] = 'acl' then
      Answers[Index] := HandBackTestSecurity(Cases[3 * Index + 1], 'O:BA',
                                             Cases[3 * Index + 2], User)
    else if Cases[3 * Index] = 'files' then
      Answers[Index] := HandBackOpenToOthers(Cases[3 * Index + 1],
                                             Cases[3 * Index + 2])
    else
      Answers[Index] := 'unknown case: ' + Cases[3 * Index];
  SaveStringsToFile('C:\answers.txt', Answers, False);
  Result := False;
end;

[Setup]
AppName=HandBack Test
AppVersion=1
DefaultDirName={tmp}\HandBack Test
PrivilegesRequired=lowest
