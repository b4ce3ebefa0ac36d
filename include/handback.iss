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
; may change what the next logon would start, as handback-check.dll judges
; it (beside include/ in the archive, or named by HandBackCheckX86), and
; logs which way and why (HandBackWhy). What is armed is judged at the arm
; step, once the files are installed, whatever an earlier answer said; from
; then on HandBackWay gives that. Both paths are armed made full. The script
; installs the x64 build in 64-bit install mode and the x86 build otherwise.
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

; The check's DLL: the x86 build (Setup is a 32-bit program), beside
; include/ in the release archive, or named by HandBackCheckX86 (a
; checkout's build folder).
#ifndef HandBackCheckX86
  #define HandBackCheckX86 AddBackslash(ExtractFilePath(__PATHFILENAME__)) + "..\x86\handback-check.dll"
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
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "DorvanixSetupDir "; String: "{code:HandBackArmedSetupDir}"; Check: HandBackArmsInFile('DorvanixSetupDir '); Flags: uninsdeleteentry
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "shell"; String: "{code:HandBackArmedExe}"; Check: HandBackArmsInFile('shell')

[Files]
; Put in a temporary folder for the check, never installed. With
; SolidCompression, Setup unpacks every file before it to reach it.
Source: "{#HandBackCheckX86}"; Flags: dontcopy

[Registry]
; Mapped entries exist on 64-bit Windows only, hence HKLM64.
Root: HKLM64; Subkey: "{code:HandBackMappedKey|DorvanixSetupDir }"; ValueType: string; ValueName: "DorvanixSetupDir "; ValueData: "{code:HandBackArmedSetupDir}"; Check: HandBackArmsInRegistry('DorvanixSetupDir '); Flags: uninsdeletevalue
Root: HKLM64; Subkey: "{code:HandBackMappedKey|shell}"; ValueType: string; ValueName: "shell"; ValueData: "{code:HandBackArmedExe}"; Check: HandBackArmsInRegistry('shell')
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

var
  HandBackChosen, HandBackFullExe, HandBackFullSetupDir: String;

{ The paths as they are armed: made full by the check. }
function HandBackArmedExe(HandBackParam: String): String;
begin
  Result := HandBackFullExe;
  if Result = '' then
    Result := ExpandConstant('{#HandBackExe}');
end;

function HandBackArmedSetupDir(HandBackParam: String): String;
begin
  Result := HandBackFullSetupDir;
  if Result = '' then
    Result := ExpandConstant('{#HandBackSetupDir}');
end;

{ SETUP.EXE's path as the program joins it: no doubled backslash. }
function HandBackSetupPath(HandBackParam: String): String;
var
  HandBackDir: String;
begin
  HandBackDir := HandBackArmedSetupDir('');
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

{ handback-check.dll's one function: both paths as given, three buffers of
  HandBackChars characters for both made full and why; 0, 1 or 2. }
function HandBackCheckDll(HandBackGivenExe, HandBackGivenSetupDir,
  HandBackExeBuffer, HandBackSetupDirBuffer, HandBackWhyBuffer: String;
  HandBackChars: Cardinal): Integer;
  external 'HandBackCheck@files:handback-check.dll stdcall delayload setuponly';

{ A text the DLL wrote, up to its terminating zero. Not found with Pos,
  which counts in the ANSI form of the text: one too far for each
  double-byte character under code page 932. }
function HandBackWritten(HandBackBuffer: String): String;
var
  HandBackEnd: Integer;
begin
  HandBackEnd := 1;
  while (HandBackEnd <= Length(HandBackBuffer))
        and (HandBackBuffer[HandBackEnd] <> #0) do
    HandBackEnd := HandBackEnd + 1;
  Result := Copy(HandBackBuffer, 1, HandBackEnd - 1);
end;

{ handback-check.dll's judgement of what the next logon would start: 0
  where someone else may change it (none), 1 where only a quoted command
  line is safe (RunOnce), 2 where the hand-back may be armed; and why. It
  gives both paths made full, the form that is armed. A DLL that cannot run
  answers none. }
function HandBackCheck(var HandBackReason: String): Integer;
var
  HandBackExeOut, HandBackDirOut, HandBackWhyOut: String;
begin
  HandBackExeOut := StringOfChar(' ', 1024);
  HandBackDirOut := StringOfChar(' ', 1024);
  HandBackWhyOut := StringOfChar(' ', 1024);
  try
    Result := HandBackCheckDll(ExpandConstant('{#HandBackExe}'),
      ExpandConstant('{#HandBackSetupDir}'), HandBackExeOut, HandBackDirOut,
      HandBackWhyOut, 1024);
  except
    Result := 0;
    HandBackReason := 'handback-check.dll could not run: ' + GetExceptionMessage;
    Exit;
  end;
  HandBackFullExe := HandBackWritten(HandBackExeOut);
  HandBackFullSetupDir := HandBackWritten(HandBackDirOut);
  HandBackReason := HandBackWritten(HandBackWhyOut);
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
function HandBackChooseWay(var HandBackReason: String): String;
var
  HandBackRead: Boolean;
  HandBackLua: Cardinal;
  HandBackAnswer: Integer;
  HandBackExePath: String;
begin
  HandBackAnswer := HandBackCheck(HandBackReason);
  Result := 'RunOnce';
  if HandBackAnswer = 1 then
    Exit;
  if HandBackAnswer <> 2 then
  begin
    Result := 'none';
    Exit;
  end;
  HandBackExePath := HandBackArmedExe('');
  if IsWin64 then
    HandBackRead := RegQueryDWordValue(HKLM64, '{#HandBackPolicies}',
                                       'EnableLUA', HandBackLua)
  else
    HandBackRead := RegQueryDWordValue(HKLM, '{#HandBackPolicies}',
                                       'EnableLUA', HandBackLua);
  if not HandBackRead or (HandBackLua <> 0) then
    HandBackReason := 'UAC is on'
  else if IsWin64 and not Is64BitInstallMode then
    HandBackReason := '32-bit install mode on 64-bit Windows'
  else if not HandBackReadable(HandBackExePath) then
    HandBackReason := 'the program could not read back ' + HandBackExePath
  else if not HandBackReadable(HandBackSetupPath('')) then
    HandBackReason := 'the program could not read back ' + HandBackSetupPath('')
  else if (HandBackMappedKey('DorvanixSetupDir ') <> '')
          and (HandBackMappedKey('shell') = '') then
    HandBackReason := 'the directory would be mapped to the registry, the shell not'
  else
  begin
    Result := 'hand-back';
    HandBackReason := 'UAC is off';
  end;
end;

var
  HandBackWhyChosen, HandBackAsked, HandBackWhyAsked: String;

{ The way, and why: from the arm step on (the first entry that arms, once
  Setup has installed the files), the way that was armed; asked before it,
  to tell the user what will happen, a fresh answer for the files as they
  are then, which the arm step does not keep. }
function HandBackWay: String;
begin
  if HandBackChosen <> '' then
    Result := HandBackChosen
  else
  begin
    HandBackAsked := HandBackChooseWay(HandBackWhyAsked);
    Log('HandBackWay before the arm step: ' + HandBackAsked + ': '
        + HandBackWhyAsked);
    Result := HandBackAsked;
  end;
end;

{ Why that way, as logged. }
function HandBackWhy: String;
begin
  if HandBackChosen <> '' then
    Result := HandBackWhyChosen
  else
    Result := HandBackWhyAsked;
end;

{ For a debugger, Sysinternals' DebugView or Wine's trace (warn+seh),
  whatever Setup logs: try-installer reads the answer there. }
procedure HandBackDebugLine(HandBackText: String);
  external 'OutputDebugStringW@kernel32.dll stdcall';

{ The arm step: the way chosen for the files as they are armed, once, and
  logged; every entry that arms follows it. An answer given earlier counts
  for nothing: the files may have changed since. }
function HandBackArmedWay: String;
begin
  if HandBackChosen = '' then
  begin
    HandBackChosen := HandBackChooseWay(HandBackWhyChosen);
    if (HandBackAsked <> '') and (HandBackAsked <> HandBackChosen) then
      Log('HandBackWay changed since it was asked, from ' + HandBackAsked
          + ' (' + HandBackWhyAsked + '), as the files are armed');
    Log('HandBackWay: ' + HandBackChosen + ': ' + HandBackWhyChosen);
    HandBackDebugLine('HandBackWay: ' + HandBackChosen + ': '
                      + HandBackWhyChosen);
  end;
  Result := HandBackChosen;
end;

function HandBackArmsInFile(HandBackKey: String): Boolean;
begin
  Result := (HandBackArmedWay = 'hand-back') and (HandBackMappedKey(HandBackKey) = '');
end;

function HandBackArmsInRegistry(HandBackKey: String): Boolean;
begin
  Result := (HandBackArmedWay = 'hand-back') and (HandBackMappedKey(HandBackKey) <> '');
end;

function HandBackResumesByRunOnce: Boolean;
begin
  Result := HandBackArmedWay = 'RunOnce';
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

{ What is armed for the directory goes, where it was written. }
procedure HandBackDeleteSetupDir;
begin
  if HandBackMappedKey('DorvanixSetupDir ') = '' then
  begin
    DeleteIniEntry('boot', 'DorvanixSetupDir ', HandBackSystemIni);
    DeleteIniEntry('boot', 'DorvanixSetupDir', HandBackSystemIni);
  end
  else
    RegDeleteValue(HKLM64, HandBackMappedKey('DorvanixSetupDir '),
                   'DorvanixSetupDir ');
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
    on reads only (Wine's does): both names go. }
  HandBackDeleteSetupDir;
end;
