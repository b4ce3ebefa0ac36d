; handback.iss, for Inno Setup 6: arms HANDBACK.EXE as the shell for the next
; start of Windows where it can complete the hand-back, and has Windows start
; SETUP.EXE once through RunOnce everywhere else; its uninstaller undoes what
; is still armed. docs/include.md has the whole of it.
;
;   #define HandBackExe "{app}\HANDBACK.EXE"
;   #define HandBackSetupDir "{app}\Setup"
;   #define HandBackRunOnce "Dorvanix 4 Setup"
;   #include "handback.iss"     (ISCC /I<the archive>/include)
;
; It adds entries to [INI] and [Registry] and code to [Code], in which every
; name starts with HandBack; its uninstall step is an event attribute, so the
; script's own event functions keep working. HandBackWay gives 'hand-back'
; or 'RunOnce', or 'none' (nothing armed) where a user who is not trusted
; may change either file or a directory on their paths; it answers once the
; files are installed, and logs which way and why. The script installs the
; x64 build in 64-bit install mode and the x86 build otherwise.
;
; Every Inno Setup installer is a 32-bit program: on 64-bit Windows its [INI]
; entries go through its own profile API, which sends what the NT mapping
; takes to the registry into the 32-bit view, where Winlogon and the x64
; build never look. So there each entry that the native mapping sends to the
; registry is written there as a [Registry] entry, in the native view, and
; only what it leaves in the file is an [INI] entry.

#ifndef HandBackExe
  #error Define HandBackExe, HandBackSetupDir and HandBackRunOnce before including handback.iss.
#endif
#ifndef HandBackSetupDir
  #error Define HandBackExe, HandBackSetupDir and HandBackRunOnce before including handback.iss.
#endif
#ifndef HandBackRunOnce
  #error Define HandBackExe, HandBackSetupDir and HandBackRunOnce before including handback.iss.
#endif

#define HandBackMapping "Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\system.ini\boot"
#define HandBackPolicies "Software\Microsoft\Windows\CurrentVersion\Policies\System"
#define HandBackRunOnceKey "Software\Microsoft\Windows\CurrentVersion\RunOnce"

; Setup writes [INI] entries before [Registry] entries, each in the order
; given, so the directory is recorded before the shell is armed. A failed
; entry stops the install and rolls it back (exit code 5 when silent). The
; key of the directory ends in a blank: the program asks for it so, and a
; registry value of the mapping is found only by its exact name. The shell
; is the unquoted path: the program compares the file name at its end.
[INI]
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "DorvanixSetupDir "; String: "{#HandBackSetupDir}"; Check: HandBackArmsInFile('DorvanixSetupDir '); Flags: uninsdeleteentry
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "shell"; String: "{#HandBackExe}"; Check: HandBackArmsInFile('shell')

[Registry]
; Mapped entries exist on 64-bit Windows only, hence HKLM64.
Root: HKLM64; Subkey: "{code:HandBackMappedKey|DorvanixSetupDir }"; ValueType: string; ValueName: "DorvanixSetupDir "; ValueData: "{#HandBackSetupDir}"; Check: HandBackArmsInRegistry('DorvanixSetupDir '); Flags: uninsdeletevalue
Root: HKLM64; Subkey: "{code:HandBackMappedKey|shell}"; ValueType: string; ValueName: "shell"; ValueData: "{#HandBackExe}"; Check: HandBackArmsInRegistry('shell')
; Windows starts it once, as the user who logs on, and deletes the value.
Root: HKLM64; Subkey: "{#HandBackRunOnceKey}"; ValueType: string; ValueName: "{#HandBackRunOnce}"; ValueData: """{code:HandBackSetupPath}"""; Check: IsWin64 and HandBackResumesByRunOnce; Flags: uninsdeletevalue
Root: HKLM; Subkey: "{#HandBackRunOnceKey}"; ValueType: string; ValueName: "{#HandBackRunOnce}"; ValueData: """{code:HandBackSetupPath}"""; Check: (not IsWin64) and HandBackResumesByRunOnce; Flags: uninsdeletevalue

[Code]
{ The key under HKLM where 64-bit Windows' NT mapping keeps an entry of the
  boot section: the mapping's value for it, else its default, after the
  colon (SYS:, and the flags before it, ignored); '' where the entry stays
  in the file, and on 32-bit Windows, where the profile API finds the place
  itself. }
function HandBackMappedKey(HandBackKey: String): String;
var
  HandBackTarget: String;
begin
  HandBackTarget := '';
  if IsWin64 then
  begin
    if not RegQueryStringValue(HKLM64, '{#HandBackMapping}', HandBackKey,
                               HandBackTarget) then
      HandBackTarget := '';
    if HandBackTarget = '' then
      if not RegQueryStringValue(HKLM64, '{#HandBackMapping}', '',
                                 HandBackTarget) then
        HandBackTarget := '';
  end;
  if HandBackTarget = '' then
    Result := ''
  else
    Result := 'Software\' + Copy(HandBackTarget, Pos(':', HandBackTarget) + 1,
                                 MaxInt);
end;

{ SETUP.EXE's path as the program joins it: no doubled backslash. }
function HandBackSetupPath(HandBackParam: String): String;
var
  HandBackDir: String;
begin
  HandBackDir := ExpandConstant('{#HandBackSetupDir}');
  if (HandBackDir = '') or (Copy(HandBackDir, Length(HandBackDir), 1) = '\') then
    Result := HandBackDir + 'SETUP.EXE'
  else
    Result := HandBackDir + '\SETUP.EXE';
end;

{ True where HANDBACK.EXE, an ANSI program, reads the path back as it is: it
  comes back unchanged through the ANSI code page (which turns a letter it
  lacks into a plain one or ?), and it is shorter than 260 bytes there (the
  program reads its own path into a 261-byte buffer, and a double-byte
  character takes two bytes). }
function HandBackReadable(HandBackPath: String): Boolean;
var
  HandBackAnsi: AnsiString;
  HandBackBack: String;
begin
  HandBackAnsi := HandBackPath;
  HandBackBack := HandBackAnsi;
  Result := (HandBackBack = HandBackPath) and (Length(HandBackAnsi) < 260);
end;

type
  HandBackAclHeader = record
    Revision, Sbz1: Byte;
    Size, Count, Sbz2: Word;
  end;
  HandBackAceHeader = record
    AceType, AceFlags: Byte;
    Size: Word;
    Mask: Cardinal;
  end;

{ Setup is a 32-bit process: pointers fit a Cardinal. }
function HandBackGetNamedSecurityInfo(Name: String; ObjectType, Info: Cardinal;
  var Owner, Group, Dacl, Sacl, Descriptor: Cardinal): Cardinal;
  external 'GetNamedSecurityInfoW@advapi32.dll stdcall';
function HandBackGetAce(Acl, Index: Cardinal; var Ace: Cardinal): Cardinal;
  external 'GetAce@advapi32.dll stdcall';
function HandBackConvertSidToStringSid(Sid: Cardinal; var Text: Cardinal): Cardinal;
  external 'ConvertSidToStringSidW@advapi32.dll stdcall';
function HandBackOpenProcessToken(Process, Access: Cardinal; var Token: Cardinal): Cardinal;
  external 'OpenProcessToken@advapi32.dll stdcall';
function HandBackGetTokenInformation(Token, InfoClass, Info, Size: Cardinal;
  var Needed: Cardinal): Cardinal;
  external 'GetTokenInformation@advapi32.dll stdcall';
function HandBackGetCurrentProcess: Cardinal;
  external 'GetCurrentProcess@kernel32.dll stdcall';
function HandBackCloseHandle(Handle: Cardinal): Cardinal;
  external 'CloseHandle@kernel32.dll stdcall';
function HandBackLocalAlloc(Flags, Size: Cardinal): Cardinal;
  external 'LocalAlloc@kernel32.dll stdcall';
function HandBackLocalFree(Memory: Cardinal): Cardinal;
  external 'LocalFree@kernel32.dll stdcall';
procedure HandBackReadAcl(var Acl: HandBackAclHeader; Source, Size: Cardinal);
  external 'RtlMoveMemory@kernel32.dll stdcall';
procedure HandBackReadAce(var Ace: HandBackAceHeader; Source, Size: Cardinal);
  external 'RtlMoveMemory@kernel32.dll stdcall';
procedure HandBackReadCardinal(var Value: Cardinal; Source, Size: Cardinal);
  external 'RtlMoveMemory@kernel32.dll stdcall';
procedure HandBackReadWord(var Value: Word; Source, Size: Cardinal);
  external 'RtlMoveMemory@kernel32.dll stdcall';

{ A SID (a pointer) in its string form (S-1-...), or '?' where it has none. }
function HandBackSidText(HandBackSid: Cardinal): String;
var
  HandBackText, HandBackAt: Cardinal;
  HandBackChar: Word;
begin
  Result := '?';
  if HandBackConvertSidToStringSid(HandBackSid, HandBackText) = 0 then
    Exit;
  Result := '';
  HandBackAt := HandBackText;
  HandBackReadWord(HandBackChar, HandBackAt, 2);
  while HandBackChar <> 0 do
  begin
    Result := Result + Chr(HandBackChar);
    HandBackAt := HandBackAt + 2;
    HandBackReadWord(HandBackChar, HandBackAt, 2);
  end;
  HandBackLocalFree(HandBackText);
end;

{ The string SID of the account Setup runs as ('' if unknown). }
function HandBackUserSid: String;
var
  HandBackToken, HandBackSize, HandBackInfo, HandBackSid: Cardinal;
begin
  Result := '';
  if HandBackOpenProcessToken(HandBackGetCurrentProcess, 8 { TOKEN_QUERY },
                              HandBackToken) = 0 then
    Exit;
  HandBackSize := 0;
  HandBackGetTokenInformation(HandBackToken, 1 { TokenUser }, 0, 0, HandBackSize);
  if HandBackSize > 0 then
  begin
    HandBackInfo := HandBackLocalAlloc(0, HandBackSize);
    if (HandBackInfo <> 0) and (HandBackGetTokenInformation(HandBackToken, 1,
          HandBackInfo, HandBackSize, HandBackSize) <> 0) then
    begin
      { TOKEN_USER: the SID's pointer first }
      HandBackReadCardinal(HandBackSid, HandBackInfo, 4);
      Result := HandBackSidText(HandBackSid);
    end;
    if HandBackInfo <> 0 then
      HandBackLocalFree(HandBackInfo);
  end;
  HandBackCloseHandle(HandBackToken);
end;

{ True where that principal is trusted with what the next logon starts.
  Power Users: Windows XP gives them Modify on Program Files. }
function HandBackTrusted(HandBackSid, HandBackUser: String): Boolean;
begin
  Result := (HandBackSid = 'S-1-5-18') { SYSTEM }
    or (HandBackSid = 'S-1-5-32-544') { Administrators }
    or (HandBackSid = 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464') { TrustedInstaller }
    or (HandBackSid = 'S-1-5-32-547') { Power Users }
    or (HandBackSid = 'S-1-3-0') { CREATOR OWNER }
    or ((HandBackUser <> '') and (HandBackSid = HandBackUser));
end;

{ '' where only trusted principals may change an object of this owner and
  DACL (pointers), else why. Strict: a file or the directory holding it;
  otherwise a directory above, where adding to it is harmless and replacing
  what the path names is not. Deny entries are ignored, and an allowing
  entry not understood counts, so a doubt counts as open. }
function HandBackSecurityOpen(HandBackOwner, HandBackDacl: Cardinal;
  HandBackStrict: Boolean; HandBackUser: String): String;
var
  HandBackAcl: HandBackAclHeader;
  HandBackAce: HandBackAceHeader;
  HandBackIndex, HandBackEntry, HandBackRights: Cardinal;
  HandBackSid: String;
begin
  Result := '';
  if HandBackOwner = 0 then
  begin
    Result := 'it has no owner';
    Exit;
  end;
  if HandBackDacl = 0 then
  begin
    Result := 'it has no DACL, so anyone may change it';
    Exit;
  end;
  HandBackSid := HandBackSidText(HandBackOwner);
  if not HandBackTrusted(HandBackSid, HandBackUser) then
  begin
    Result := 'its owner is ' + HandBackSid;
    Exit;
  end;
  if HandBackStrict then
    { write, append, delete child, DELETE, WRITE_DAC, WRITE_OWNER,
      GENERIC_WRITE, GENERIC_ALL }
    HandBackRights := $500D0046
  else
    { delete child, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL }
    HandBackRights := $100D0040;
  HandBackReadAcl(HandBackAcl, HandBackDacl, 8);
  HandBackIndex := 0;
  while HandBackIndex < HandBackAcl.Count do
  begin
    if HandBackGetAce(HandBackDacl, HandBackIndex, HandBackEntry) = 0 then
    begin
      Result := 'its entry ' + IntToStr(HandBackIndex) + ' cannot be read';
      Exit;
    end;
    HandBackReadAce(HandBackAce, HandBackEntry, 8);
    { INHERIT_ONLY_ACE: not about the object itself }
    if (HandBackAce.AceFlags and $08) = 0 then
    begin
      if HandBackAce.AceType = 0 then
      begin
        { ACCESS_ALLOWED_ACE_TYPE, its SID at offset 8 }
        HandBackSid := HandBackSidText(HandBackEntry + 8);
        if not HandBackTrusted(HandBackSid, HandBackUser)
           and ((HandBackAce.Mask and HandBackRights) <> 0) then
        begin
          Result := HandBackSid + ' may change it (rights 0x'
                    + Format('%.8x', [HandBackAce.Mask]) + ')';
          Exit;
        end;
      end
      { denied entries: ACCESS_DENIED_ACE_TYPE, its object and callback forms }
      else if (HandBackAce.AceType <> 1) and (HandBackAce.AceType <> 6)
              and (HandBackAce.AceType <> 10) and (HandBackAce.AceType <> 12) then
      begin
        Result := 'it has an entry of type 0x' + Format('%.2x', [HandBackAce.AceType])
                  + ' that is not understood';
        Exit;
      end;
    end;
    HandBackIndex := HandBackIndex + 1;
  end;
end;

{ '' where no one else may change the file or directory, else why. }
function HandBackObjectOpen(HandBackPath: String; HandBackStrict: Boolean;
  HandBackUser: String): String;
var
  HandBackError, HandBackOwner, HandBackGroup, HandBackDacl, HandBackSacl,
  HandBackDescriptor: Cardinal;
begin
  { OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION of a file }
  HandBackError := HandBackGetNamedSecurityInfo(HandBackPath, 1, 5,
    HandBackOwner, HandBackGroup, HandBackDacl, HandBackSacl,
    HandBackDescriptor);
  if HandBackError <> 0 then
    Result := 'its security cannot be read (error ' + IntToStr(HandBackError) + ')'
  else
  begin
    Result := HandBackSecurityOpen(HandBackOwner, HandBackDacl, HandBackStrict,
                                   HandBackUser);
    HandBackLocalFree(HandBackDescriptor);
  end;
  if Result <> '' then
    Result := HandBackPath + ' is open to others: ' + Result;
end;

{ The directory a path is in; '' where it is a root (C:\, or the share of a
  \\server\share path) or names none. }
function HandBackParent(HandBackPath: String): String;
var
  HandBackAt: Integer;
begin
  Result := '';
  { Trailing backslashes (a doubled one, or a root) name the same place. }
  while (Length(HandBackPath) > 0)
        and (HandBackPath[Length(HandBackPath)] = '\')
        and ((Length(HandBackPath) < 2)
             or (HandBackPath[Length(HandBackPath) - 1] <> ':')) do
    HandBackPath := Copy(HandBackPath, 1, Length(HandBackPath) - 1);
  if (HandBackPath = '') or (HandBackPath[Length(HandBackPath)] = '\') then
    Exit;
  HandBackAt := Length(HandBackPath);
  while (HandBackAt > 0) and (HandBackPath[HandBackAt] <> '\') do
    HandBackAt := HandBackAt - 1;
  if HandBackAt <= 1 then
    Exit;
  Result := Copy(HandBackPath, 1, HandBackAt - 1);
  if Result[Length(Result)] = ':' then
    Result := Result + '\'
  { \\server alone is no directory: \\server\share was the root. }
  else if (Copy(Result, 1, 2) = '\\') and (Pos('\', Copy(Result, 3, MaxInt)) = 0) then
    Result := '';
end;

{ '' where no one else may change the file or a directory above it up to the
  root, else why, for the first found open. Both files' own directories get
  the stricter rule. }
function HandBackChainOpen(HandBackFile, HandBackDirA, HandBackDirB,
  HandBackUser: String): String;
var
  HandBackPath: String;
  HandBackStrict: Boolean;
begin
  HandBackPath := HandBackFile;
  HandBackStrict := True;
  repeat
    Result := HandBackObjectOpen(HandBackPath, HandBackStrict, HandBackUser);
    HandBackPath := HandBackParent(HandBackPath);
    HandBackStrict := (CompareText(HandBackPath, HandBackDirA) = 0)
                      or (CompareText(HandBackPath, HandBackDirB) = 0);
  until (Result <> '') or (HandBackPath = '');
end;

{ '' where only trusted principals may change either file or a directory on
  their paths, else why. Otherwise a user could have their own program
  started in the session of whoever logs on next, usually an administrator. }
function HandBackOpenToOthers(HandBackExePath, HandBackSetupExe: String): String;
var
  HandBackUser: String;
begin
  HandBackUser := HandBackUserSid;
  Result := HandBackChainOpen(HandBackExePath, HandBackParent(HandBackExePath),
                              HandBackParent(HandBackSetupExe), HandBackUser);
  if Result = '' then
    Result := HandBackChainOpen(HandBackSetupExe, HandBackParent(HandBackSetupExe),
                                HandBackParent(HandBackExePath), HandBackUser);
end;

{ 'hand-back' where it can complete, 'none' where someone else may change
  what the next logon starts, else 'RunOnce'; and why. Both ways have the
  next logon, usually an administrator's, start these files. With UAC on
  (EnableLUA not 0, or missing, which means on), Windows starts an
  administrator's shell with the filtered token, which cannot give
  Winlogon's value back: HANDBACK.EXE would be the shell at every logon.
  Inno Setup 6 runs on Windows 7 and later only, so the policy alone
  decides. In 32-bit install mode on 64-bit Windows the x86 build is
  installed, which cannot give the native value back either. And [INI]
  entries come first: a mapping that took the directory to the registry but
  left the shell in the file would have the shell armed before the
  directory. }
function HandBackChooseWay(var HandBackWhy: String): String;
var
  HandBackRead: Boolean;
  HandBackLua: Cardinal;
  HandBackExePath: String;
begin
  HandBackExePath := ExpandConstant('{#HandBackExe}');
  HandBackWhy := HandBackOpenToOthers(HandBackExePath, HandBackSetupPath(''));
  if HandBackWhy <> '' then
  begin
    Result := 'none';
    Exit;
  end;
  Result := 'RunOnce';
  if IsWin64 then
    HandBackRead := RegQueryDWordValue(HKLM64, '{#HandBackPolicies}',
                                       'EnableLUA', HandBackLua)
  else
    HandBackRead := RegQueryDWordValue(HKLM, '{#HandBackPolicies}',
                                       'EnableLUA', HandBackLua);
  if not HandBackRead or (HandBackLua <> 0) then
    HandBackWhy := 'UAC is on'
  else if IsWin64 and not Is64BitInstallMode then
    HandBackWhy := '32-bit install mode on 64-bit Windows'
  else if not HandBackReadable(HandBackExePath) then
    HandBackWhy := 'the program could not read back ' + HandBackExePath
  else if not HandBackReadable(HandBackSetupPath('')) then
    HandBackWhy := 'the program could not read back ' + HandBackSetupPath('')
  else if (HandBackMappedKey('DorvanixSetupDir ') <> '')
          and (HandBackMappedKey('shell') = '') then
    HandBackWhy := 'the directory would be mapped to the registry, the shell not'
  else
  begin
    Result := 'hand-back';
    HandBackWhy := 'UAC is off';
  end;
end;

var
  HandBackChosen: String;

{ The way, chosen and logged once: several entries' checks ask. }
function HandBackWay: String;
var
  HandBackWhy: String;
begin
  if HandBackChosen = '' then
  begin
    HandBackChosen := HandBackChooseWay(HandBackWhy);
    Log('HandBackWay: ' + HandBackChosen + ': ' + HandBackWhy);
  end;
  Result := HandBackChosen;
end;

function HandBackArmsInFile(HandBackKey: String): Boolean;
begin
  Result := (HandBackWay = 'hand-back') and (HandBackMappedKey(HandBackKey) = '');
end;

function HandBackArmsInRegistry(HandBackKey: String): Boolean;
begin
  Result := (HandBackWay = 'hand-back') and (HandBackMappedKey(HandBackKey) <> '');
end;

function HandBackResumesByRunOnce: Boolean;
begin
  Result := HandBackWay = 'RunOnce';
end;

function HandBackSystemIni: String;
begin
  Result := ExpandConstant('{win}\SYSTEM.INI');
end;

{ An entry of the boot section, where the installer wrote it. }
function HandBackBootEntry(HandBackKey: String): String;
begin
  if HandBackMappedKey(HandBackKey) = '' then
    Result := GetIniString('boot', HandBackKey, '', HandBackSystemIni)
  else if not RegQueryStringValue(HKLM64, HandBackMappedKey(HandBackKey),
                                  HandBackKey, Result) then
    Result := '';
end;

function HandBackSetBootEntry(HandBackKey, HandBackValue: String): Boolean;
begin
  if HandBackMappedKey(HandBackKey) = '' then
    Result := SetIniString('boot', HandBackKey, HandBackValue, HandBackSystemIni)
  else
    Result := RegWriteStringValue(HKLM64, HandBackMappedKey(HandBackKey),
                                  HandBackKey, HandBackValue);
end;

{ Before any file is deleted: Explorer back, and only while the shell still
  names this HANDBACK.EXE as the program compares it (the file name after
  the last \ or :, any case). Explorer after the hand-back and another
  product's shell stay. Still the shell, it stays whole, directory included,
  so that it completes at the next start. The directory's entry and the
  RunOnce value go with the entries' uninsdelete flags. }
<event('CurUninstallStepChanged')>
procedure HandBackCurUninstallStepChanged(HandBackStep: TUninstallStep);
var
  HandBackName: String;
begin
  if HandBackStep <> usUninstall then
    Exit;
  HandBackName := ExtractFileName(ExpandConstant('{#HandBackExe}'));
  if (HandBackName <> '')
     and (CompareText(ExtractFileName(HandBackBootEntry('shell')), HandBackName) = 0)
     and not HandBackSetBootEntry('shell', 'EXPLORER.EXE') then
  begin
    SuppressibleMsgBox('Setup could not give the shell back to Explorer.',
      mbCriticalError, MB_OK, IDOK);
    Abort;
  end;
  { A profile service may find the file's key by its name without the blank
    on reads only (Wine's does): that name goes too. }
  if HandBackMappedKey('DorvanixSetupDir ') = '' then
    DeleteIniEntry('boot', 'DorvanixSetupDir', HandBackSystemIni);
end;
