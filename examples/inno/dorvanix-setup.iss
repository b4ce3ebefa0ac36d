; A product's installer that must restart Windows in the middle of its setup
; and carry on afterwards, for Inno Setup 6. It installs HANDBACK.EXE and the
; product's SETUP.EXE, then chooses how setup resumes after the restart:
; - with UAC off (EnableLUA 0), it arms the hand-back: for the next start of
;   Windows, HANDBACK.EXE is the shell; it gives the shell back to Explorer
;   and starts SETUP.EXE again from the directory recorded here;
; - with UAC on, it leaves the shell alone and has Windows start SETUP.EXE
;   once through RunOnce.
; Its uninstaller (Setup's own, listed in Control Panel, silent with the
; QuietUninstallString Setup registers) undoes what is still armed, so that
; a product removed before the restart leaves no shell behind that is gone.
;
; One installer for both widths; the files it bundles come in as defines:
;   ISCC /DHANDBACK_X86=x86\handback.exe /DHANDBACK_X64=x64\handback.exe
;        /DSETUP=SETUP.EXE /Ooutput /Fdorvanix-setup dorvanix-setup.iss
;
; Every Inno Setup installer is a 32-bit program. On 64-bit Windows, in
; 64-bit install mode, its registry entries reach the native view, where
; Winlogon and the x64 build look; but its [INI] entries go through its own
; profile API, which sends entries that the NT family maps to the registry
; into the 32-bit view, where nothing reads them. So there each entry is
; written where the native mapping sends it, as a registry entry, and only
; what the mapping leaves in the file is an [INI] entry. On 32-bit Windows
; the profile API finds the place itself.

#ifndef HANDBACK_X86
  #error Define HANDBACK_X86, HANDBACK_X64 and SETUP: the files it installs.
#endif

#define Mapping "Software\Microsoft\Windows NT\CurrentVersion\IniFileMapping\system.ini\boot"
#define Policies "Software\Microsoft\Windows\CurrentVersion\Policies\System"
#define RunOnce "Software\Microsoft\Windows\CurrentVersion\RunOnce"

[Setup]
AppName=Dorvanix 4
AppVersion=4.0
DefaultDirName={commonpf}\Dorvanix 4
DisableProgramGroupPage=yes
; Winlogon's key and RunOnce may be written by administrators only.
PrivilegesRequired=admin
; The x64 build wherever Windows runs x64 programs, the x86 build on 32-bit
; Windows; never the x86 build on other 64-bit Windows.
ArchitecturesAllowed=x86os or x64compatible
ArchitecturesInstallIn64BitMode=x64compatible
AlwaysRestart=yes

[Messages]
FinishedRestartLabel=Setup continues once Windows has restarted. Restart now?

[Files]
Source: "{#HANDBACK_X64}"; DestDir: "{app}"; DestName: "HANDBACK.EXE"; Check: Is64BitInstallMode
Source: "{#HANDBACK_X86}"; DestDir: "{app}"; DestName: "HANDBACK.EXE"; Check: not Is64BitInstallMode
Source: "{#SETUP}"; DestDir: "{app}\Setup"; DestName: "SETUP.EXE"

; Setup writes [INI] entries before [Registry] entries, each in the order
; given, so the directory is always recorded before the shell is armed. A
; failed write stops the install and rolls it back (exit code 5 when silent).
; The uninstaller deletes the directory's entry and the RunOnce value
; (uninsdelete flags); the shell it gives back in [Code] below.
; The key of the directory ends in a blank: the program asks for it so, and
; a registry value of the mapping is found only by its exact name. The shell
; is the unquoted path: the program compares the file name at its end.
[INI]
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "DorvanixSetupDir "; String: "{app}\Setup"; Check: ArmsInFile('DorvanixSetupDir '); Flags: uninsdeleteentry
Filename: "{win}\SYSTEM.INI"; Section: "boot"; Key: "shell"; String: "{app}\HANDBACK.EXE"; Check: ArmsInFile('shell')

[Registry]
Root: HKLM; Subkey: "{code:MappedKey|DorvanixSetupDir }"; ValueType: string; ValueName: "DorvanixSetupDir "; ValueData: "{app}\Setup"; Check: ArmsInRegistry('DorvanixSetupDir '); Flags: uninsdeletevalue
Root: HKLM; Subkey: "{code:MappedKey|shell}"; ValueType: string; ValueName: "shell"; ValueData: "{app}\HANDBACK.EXE"; Check: ArmsInRegistry('shell')
; Windows starts it once, as the user who logs on, and deletes the value.
Root: HKLM; Subkey: "{#RunOnce}"; ValueType: string; ValueName: "Dorvanix 4 Setup"; ValueData: """{app}\Setup\SETUP.EXE"""; Check: not HandBackCanComplete; Flags: uninsdeletevalue

[Code]
{ With UAC on (EnableLUA not 0, or missing, which means on), Windows starts
  an administrator's shell with the filtered token: HANDBACK.EXE could not
  give Winlogon's value back, and would be the shell at every logon. Inno
  Setup 6 runs on Windows 7 and later only, so the policy alone decides. This
  assumes the account that installs is the one that logs on next, and errs
  on the safe side: the built-in Administrator, whose shell UAC leaves
  unfiltered by default, resumes through RunOnce too. }
function HandBackCanComplete: Boolean;
var
  EnableLua: Cardinal;
begin
  Result := RegQueryDWordValue(HKLM, '{#Policies}', 'EnableLUA', EnableLua)
    and (EnableLua = 0);
end;

{ The key under HKLM where the NT mapping of 64-bit Windows sends an entry
  of the boot section: its own value of the mapping, else the default, such
  as SYS:Microsoft\Windows NT\CurrentVersion\Winlogon for the shell; ''
  where the entry stays in the file, or where the profile API finds it. }
function MappedKey(Key: String): String;
var
  Target: String;
begin
  Result := '';
  if Is64BitInstallMode and
     (RegQueryStringValue(HKLM, '{#Mapping}', Key, Target) or
      RegQueryStringValue(HKLM, '{#Mapping}', '', Target)) then
    Result := 'Software\' + Copy(Target, Pos(':', Target) + 1, MaxInt);
end;

function ArmsInFile(Key: String): Boolean;
begin
  Result := HandBackCanComplete and (MappedKey(Key) = '');
end;

function ArmsInRegistry(Key: String): Boolean;
begin
  Result := HandBackCanComplete and (MappedKey(Key) <> '');
end;

function SystemIni: String;
begin
  Result := ExpandConstant('{win}\SYSTEM.INI');
end;

{ An entry of the boot section, where the installer wrote it. }
function BootEntry(Key: String): String;
begin
  Result := '';
  if MappedKey(Key) <> '' then
    RegQueryStringValue(HKLM, MappedKey(Key), Key, Result)
  else
    Result := GetIniString('boot', Key, '', SystemIni);
end;

function SetBootEntry(Key, Value: String): Boolean;
begin
  if MappedKey(Key) <> '' then
    Result := RegWriteStringValue(HKLM, MappedKey(Key), Key, Value)
  else
    Result := SetIniString('boot', Key, Value, SystemIni);
end;

{ Explorer back first, and only while the shell still names HANDBACK.EXE,
  compared as the program compares it: the file name after the last \ or :,
  whatever its case. Anything else (Explorer, once the hand-back has run;
  another product's shell) is left alone. }
procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
begin
  if CurUninstallStep <> usUninstall then
    Exit;
  if (CompareText(ExtractFileName(BootEntry('shell')), 'HANDBACK.EXE') = 0)
     and not SetBootEntry('shell', 'EXPLORER.EXE') then
  begin
    SuppressibleMsgBox('Setup could not give the shell back to Explorer.',
      mbCriticalError, MB_OK, IDOK);
    Abort;  { HANDBACK.EXE stays while it is the shell }
  end;
  { A profile service may find the file's key by its name without the blank
    on reads only (Wine's does): delete that name too. }
  DeleteIniEntry('boot', 'DorvanixSetupDir', SystemIni);
end;
