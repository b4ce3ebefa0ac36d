; A product's installer that must restart Windows in the middle of its setup
; and carry on afterwards, for Inno Setup 6. It installs HANDBACK.EXE of the
; Windows' own width and the product's SETUP.EXE, then has
; include/handback.iss choose how setup resumes after the restart: the
; hand-back where it can complete (HANDBACK.EXE is the shell for one start of
; Windows, gives the shell back to Explorer and starts SETUP.EXE again), else
; RunOnce. Its uninstaller (Setup's own, listed in Control Panel, silent with
; the QuietUninstallString Setup registers) undoes what is still armed, so
; that a product removed before the restart leaves no shell behind that is
; gone.
;
; One installer for both widths; the files it bundles come in as defines:
;   ISCC /IC:/handback-1.0.0/include
;        /DHANDBACK_X86=C:/handback-1.0.0/x86/handback.exe
;        /DHANDBACK_X64=C:/handback-1.0.0/x64/handback.exe
;        /DSETUP=C:/path/to/SETUP.EXE /Ooutput /Fdorvanix-setup dorvanix-setup.iss
; (/I: the release archive's include/, or a checkout's).

#ifndef HANDBACK_X86
  #error Define HANDBACK_X86, HANDBACK_X64 and SETUP: the files it installs.
#endif

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

; What arms the hand-back or RunOnce, and undoes it on uninstall.
#define HandBackExe "{app}\HANDBACK.EXE"
#define HandBackSetupDir "{app}\Setup"
#define HandBackRunOnce "Dorvanix 4 Setup"
#include "handback.iss"

{ Where others may change the installed files, nothing is armed: the user
  starts setup by hand after the restart. Silent installs show nothing. }
procedure CurStepChanged(CurStep: TSetupStep);
begin
  if (CurStep = ssPostInstall) and (HandBackWay = 'none') and not WizardSilent then
    MsgBox('Setup cannot start again by itself after the restart, as users '
      + 'other than administrators may change its files in '
      + ExpandConstant('{app}') + '. Once Windows has restarted, start '
      + ExpandConstant('{app}\Setup\SETUP.EXE') + ' to go on with setup.',
      mbInformation, MB_OK);
end;

procedure CurPageChanged(CurPageID: Integer);
begin
  if (CurPageID = wpFinished) and (HandBackWay = 'none') then
    WizardForm.FinishedLabel.Caption := 'Windows must restart. Restart now?';
end;
