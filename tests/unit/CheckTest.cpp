// The check on the paths as an installer gives them: their forms, drives,
// links, what lies beside the programs, spaces, and the caller's buffers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CheckRun.h"
#include "Decide.h"

namespace {

using namespace fake;
using Calls = std::vector<Text>;

const Text Exe = u"C:\\Apps\\Dorvanix\\HANDBACK.EXE";
const Text SetupDir = u"C:\\Apps\\Dorvanix\\Setup";
const Text AppsOpen =
    u"C:\\Apps is open to others: S-1-1-0 may change it (rights 0x001301FF)";

// What Wine makes of a directory of mode 0777.
Descriptor OpenToEveryone() {
  return Sd(InstallingUser,
            {Allow(System, FullAccess), Allow(InstallingUser, FullAccess),
             Allow(Everyone, 0x1301FF)});
}

// C:\Apps\Dorvanix with HANDBACK.EXE, and SETUP.EXE in Setup, safe, with a
// file beside each program.
FakeCheckApi InstalledProduct() {
  FakeCheckApi api;
  api.Install(u"C:\\Apps\\Dorvanix", Safe(), Safe());
  api.File(u"C:\\Apps\\Dorvanix\\README.TXT", Safe());
  api.File(u"C:\\Apps\\Dorvanix\\Setup\\VERSION.dll", Safe());
  return api;
}

// Directories whose names differ only in case, as Wine keeps them apart:
// HANDBACK.EXE in C:\Cs\x and C:\Cs\y, safe; SETUP.EXE in C:\Cs\X, open to
// everyone, and in C:\Cs\Y, beside a DLL of another user's.
void CaseTwins(FakeCheckApi& api) {
  for (const Text directory : {u"C:\\Cs\\x", u"C:\\Cs\\y"}) {
    api.Directories(directory, Safe());
    api.File(directory + u"\\HANDBACK.EXE", Safe());
  }
  api.Objects[u"C:\\Cs\\X"] = {0x10, OpenToEveryone()};
  api.Objects[u"C:\\Cs\\Y"] = {0x10, Safe()};
  api.File(u"C:\\Cs\\X\\SETUP.EXE", Safe());
  api.File(u"C:\\Cs\\Y\\SETUP.EXE", Safe());
  api.File(u"C:\\Cs\\Y\\VERSION.dll",
           Sd(OtherUser, {Allow(OtherUser, FullAccess)}));
}

struct Expected {
  int Way;
  Text Reason;
};

void ExpectAnswer(const Answer& got, const Expected& want,
                  const std::string& row) {
  EXPECT_EQ(got.Way, want.Way)
      << row << ": " << testing::PrintToString(got.Reason);
  EXPECT_EQ(got.Reason, want.Reason) << row;
}
void ExpectAnswer(const Answer& got, const Expected& want, const Text& row) {
  ExpectAnswer(got, want, testing::PrintToString(row));
}

TEST(CheckTest, PathsAreJudgedInTheFormWindowsOpens) {
  struct {
    Text Exe, SetupDir;
    bool AppsOpen;  // C:\Apps of mode 0777
    int Way;
    Text FullExe, FullSetupDir, Reason;
  } const rows[] = {
      {Exe, SetupDir, false, 2, Exe, SetupDir, u""},
      {u"C:/Apps/Dorvanix/HANDBACK.EXE", u"C:/Apps/Dorvanix/Setup", false, 2,
       Exe, SetupDir, u""},
      // The parent of each is found whatever the separator.
      {u"C:/Apps/Dorvanix/HANDBACK.EXE", u"C:\\Apps/Dorvanix\\Setup", true, 0,
       Exe, SetupDir, AppsOpen},
      {u"C:\\Apps/Dorvanix\\HANDBACK.EXE", SetupDir, true, 0, Exe, SetupDir,
       AppsOpen},
      {u"C:\\Apps\\Dorvanix\\.\\HANDBACK.EXE",
       u"C:\\Apps\\Other\\..\\Dorvanix\\Setup", false, 2, Exe, SetupDir, u""},
      {u"C:\\..\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 2, Exe,
       SetupDir, u""},
      {u"C:\\Apps\\\\Dorvanix\\\\HANDBACK.EXE",
       u"C:\\\\Apps\\Dorvanix\\Setup\\", false, 2, Exe, SetupDir + u"\\", u""},
      {Exe, u"C:\\Apps\\Dorvanix\\Setup. ", false, 2, Exe, SetupDir, u""},
      {u"c:\\apps\\dorvanix\\handback.exe", u"C:\\APPS\\DORVANIX\\SETUP", false,
       2, u"c:\\apps\\dorvanix\\handback.exe", u"C:\\APPS\\DORVANIX\\SETUP",
       u""},
      // Where names keep their case, each directory is judged by its own.
      {u"C:\\Cs\\x\\HANDBACK.EXE", u"C:\\Cs\\X", false, 0,
       u"C:\\Cs\\x\\HANDBACK.EXE", u"C:\\Cs\\X",
       u"C:\\Cs\\X is open to others: S-1-1-0 may change it (rights "
       u"0x001301FF)"},
      {u"C:\\Cs\\y\\HANDBACK.EXE", u"C:\\Cs\\Y", false, 0,
       u"C:\\Cs\\y\\HANDBACK.EXE", u"C:\\Cs\\Y",
       u"C:\\Cs\\Y\\VERSION.dll is open to others: its owner is "
       u"S-1-5-21-1-2-3-1002"},
      // Not absolute: relative, drive-relative, rooted, no drive letter.
      {u"HANDBACK.EXE", u"Setup", false, 0, u"", u"",
       u"HANDBACK.EXE is not a full path"},
      {Exe, u"Setup", false, 0, Exe, u"", u"Setup is not a full path"},
      {u"C:HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"C:HANDBACK.EXE is not a full path"},
      {u"\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"\\Apps\\Dorvanix\\HANDBACK.EXE is not a full path"},
      {u"C:", SetupDir, false, 0, u"", u"", u"C: is not a full path"},
      {u"1:\\HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"1:\\HANDBACK.EXE is not a full path"},
      // UNC and device paths.
      {u"\\\\server\\share\\HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"\\\\server\\share\\HANDBACK.EXE is not on a local drive"},
      {u"//server/share/HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"//server/share/HANDBACK.EXE is not on a local drive"},
      {Exe, u"\\\\server\\share\\Setup", false, 0, Exe, u"",
       u"\\\\server\\share\\Setup is not on a local drive"},
      {u"\\\\?\\C:\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"\\\\?\\C:\\Apps\\Dorvanix\\HANDBACK.EXE is a device path"},
      {u"\\\\.\\C:\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"\\\\.\\C:\\Apps\\Dorvanix\\HANDBACK.EXE is a device path"},
      {u"//?/C:/Apps/Dorvanix/HANDBACK.EXE", SetupDir, false, 0, u"", u"",
       u"//?/C:/Apps/Dorvanix/HANDBACK.EXE is a device path"},
      // Nothing, no file, a stream, a wildcard, a device name.
      {u"", SetupDir, false, 0, u"", u"",
       u"no path was given for HANDBACK.EXE"},
      {Exe, u"", false, 0, Exe, u"",
       u"no path was given for the setup directory"},
      {u"C:\\Apps\\Dorvanix\\", SetupDir, false, 0, u"", u"",
       u"C:\\Apps\\Dorvanix\\ names no file"},
      {Exe + u":x", SetupDir, false, 0, u"", u"",
       Exe + u":x holds a character no file name may hold"},
      {u"C:\\Apps\\Dorvanix\\*", SetupDir, false, 0, u"", u"",
       u"C:\\Apps\\Dorvanix\\* holds a character no file name may hold"},
      {u"C:\\Apps\\Dorvanix\\CON", SetupDir, false, 0, u"", u"",
       u"\\\\.\\CON is not a full path"},
      // SETUP.EXE joined as the program joins it.
      {Exe, u"C:\\", false, 0, Exe, u"C:\\",
       u"C:\\SETUP.EXE cannot be read (error 2)"},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    CaseTwins(api);
    api.FullPaths[u"C:\\Apps\\Dorvanix\\CON"] = u"\\\\.\\CON";
    if (row.AppsOpen) api.Objects[u"C:\\Apps"].Security = OpenToEveryone();
    const Answer got = Check(api, row.Exe, row.SetupDir);
    const std::string what =
        testing::PrintToString(row.Exe + u" | " + row.SetupDir);
    ExpectAnswer(got, {row.Way, row.Reason}, what);
    EXPECT_EQ(got.Exe, row.FullExe) << what;
    EXPECT_EQ(got.SetupDir, row.FullSetupDir) << what;
  }
}

// What GetFullPathNameW answers is checked too.
TEST(CheckTest, FullPathsWindowsCannotGiveAreRefused) {
  struct {
    const char* What;
    Text Full;
    std::optional<winservices::Dword> Length;
    Text Reason;
  } const rows[] = {
      {"UNC",
       u"\\\\server\\share\\HANDBACK.EXE",
       {},
       u"\\\\server\\share\\HANDBACK.EXE is not a full path"},
      {"dot left",
       u"C:\\Apps\\.\\HANDBACK.EXE",
       {},
       u"C:\\Apps\\.\\HANDBACK.EXE is not a full path"},
      {"doubled separator",
       u"C:\\Apps\\\\HANDBACK.EXE",
       {},
       u"C:\\Apps\\\\HANDBACK.EXE is not a full path"},
      {"longer than the buffer",
       u"C:\\" + Text(2000, u'x'),
       {},
       Exe + u" is too long"},
      {"reported as long as the buffer", Exe, 1024, Exe + u" is too long"},
      {"failed", Exe, 0, Exe + u" cannot be made full (error 0)"},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.FullPaths[Exe] = row.Full;
    api.FullPathLength = row.Length;
    ExpectAnswer(Check(api, Exe, SetupDir), {0, row.Reason}, row.What);
  }
  FakeCheckApi api = InstalledProduct();
  ExpectAnswer(Check(api, Text(40000, u'x'), SetupDir),
               {0, u"the path given for HANDBACK.EXE is too long"}, "40000");
  EXPECT_EQ(api.Calls, Calls{});
}

TEST(CheckTest, OnlyLocalFixedDrives) {
  struct {
    const char* What;
    Text SetupDir;
    char16_t Drive;
    winservices::Uint Type;
    Text Device;  // what QueryDosDeviceW answers; "" fails
    Expected Want;
  } const rows[] = {
      {"Windows' volume",
       SetupDir,
       u'C',
       3,
       u"\\Device\\HarddiskVolume3",
       {2, u""}},
      // What Wine answers for its C:, a link to drive_c in dosdevices.
      {"Wine's C:", SetupDir, u'C', 3, u"\\Device\\HarddiskVolume1", {2, u""}},
      {"unknown",
       SetupDir,
       u'C',
       0,
       u"",
       {0, u"C: is not a local fixed drive (type 0)"}},
      {"no root",
       SetupDir,
       u'C',
       1,
       u"",
       {0, u"C: is not a local fixed drive (type 1)"}},
      {"removable",
       SetupDir,
       u'C',
       2,
       u"",
       {0, u"C: is not a local fixed drive (type 2)"}},
      {"network",
       SetupDir,
       u'C',
       4,
       u"",
       {0, u"C: is not a local fixed drive (type 4)"}},
      {"CD",
       SetupDir,
       u'C',
       5,
       u"",
       {0, u"C: is not a local fixed drive (type 5)"}},
      {"RAM disk",
       SetupDir,
       u'C',
       6,
       u"",
       {0, u"C: is not a local fixed drive (type 6)"}},
      {"subst",
       SetupDir,
       u'C',
       3,
       u"\\??\\D:\\Dorvanix",
       {0, u"C: is not a local fixed drive: it stands for \\??\\D:\\Dorvanix"}},
      {"device unknown",
       SetupDir,
       u'C',
       3,
       u"",
       {0,
        u"C: is not a local fixed drive: its device cannot be read "
        u"(error 2)"}},
      {"device too long",
       SetupDir,
       u'C',
       3,
       Text(1023, u'x'),
       {0,
        u"C: is not a local fixed drive: its device cannot be read "
        u"(error 122)"}},
      // Setup on a drive of its own.
      {"setup on D:",
       u"D:\\Dorvanix",
       u'D',
       3,
       u"\\Device\\HarddiskVolume2",
       {2, u""}},
      {"setup on a network drive",
       u"D:\\Dorvanix",
       u'D',
       4,
       u"",
       {0, u"D: is not a local fixed drive (type 4)"}},
      {"setup on a subst drive",
       u"D:\\Dorvanix",
       u'D',
       3,
       u"\\??\\C:\\Temp",
       {0, u"D: is not a local fixed drive: it stands for \\??\\C:\\Temp"}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.Directories(u"D:\\Dorvanix", Safe());
    api.File(u"D:\\Dorvanix\\SETUP.EXE", Safe());
    api.DriveTypes[row.Drive] = row.Type;
    api.Devices[row.Drive] = row.Device;
    ExpectAnswer(Check(api, Exe, row.SetupDir), row.Want, row.What);
  }
}

// A link anywhere on either path, or beside either program, whoever owns
// its target.
TEST(CheckTest, LinksAreRefused) {
  struct {
    Text Path;
    winservices::Dword Attributes;
  } const rows[] = {
      {Exe, 0x420},
      {u"C:\\Apps\\Dorvanix", 0x410},
      {u"C:\\Apps", 0x410},
      {u"C:\\", 0x410},
      {SetupDir + u"\\SETUP.EXE", 0x420},
      {SetupDir, 0x410},
      {u"C:\\Apps\\Dorvanix\\README.TXT", 0x420},
      {SetupDir + u"\\VERSION.dll", 0x400},
      {u"C:\\Apps\\Dorvanix\\Data", 0x410},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.Objects[u"C:\\Apps\\Dorvanix\\Data"] = {0x10, Safe()};
    api.Objects[row.Path].Attributes = row.Attributes;
    ExpectAnswer(Check(api, Exe, SetupDir), {0, row.Path + u" is a link"},
                 row.Path);
  }
  // Before whether others may change what is on the path.
  FakeCheckApi api = InstalledProduct();
  api.Objects[u"C:\\Apps"].Security = OpenToEveryone();
  api.Objects[SetupDir].Attributes = 0x410;
  ExpectAnswer(Check(api, Exe, SetupDir), {0, SetupDir + u" is a link"},
               u"link and open");
  // A file that is not there.
  api = InstalledProduct();
  api.Objects.erase(SetupDir + u"\\SETUP.EXE");
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, SetupDir + u"\\SETUP.EXE cannot be read (error 2)"},
               u"no SETUP.EXE");
}

// Every entry in either program's directory gets the files' rule.
TEST(CheckTest, WhatLiesBesideTheProgramsIsJudged) {
  const Text version = SetupDir + u"\\VERSION.dll";
  struct {
    const char* What;
    Text Path;  // given `Security`, or made unreadable
    Descriptor Security;
    winservices::Dword Error;
    Expected Want;
  } const rows[] = {
      {"trusted", version, Safe(), 0, {2, u""}},
      // Mode 0666, another user's, as Wine shows it.
      {"another user's",
       version,
       Sd(OtherUser, {Allow(System, FullAccess), Allow(OtherUser, FullAccess),
                      Allow(Everyone, 0x12019F)}),
       0,
       {0, version + u" is open to others: its owner is S-1-5-21-1-2-3-1002"}},
      {"writable",
       u"C:\\Apps\\Dorvanix\\README.TXT",
       Sd(Administrators, {Allow(Everyone, 0x12019F)}),
       0,
       {0,
        u"C:\\Apps\\Dorvanix\\README.TXT is open to others: S-1-1-0 may "
        u"change it (rights 0x0012019F)"}},
      {"a directory others may add to",
       u"C:\\Apps\\Dorvanix\\Data",
       Sd(Administrators, {Allow(Users, 0x2)}),
       0,
       {0,
        u"C:\\Apps\\Dorvanix\\Data is open to others: S-1-5-32-545 may "
        u"change it (rights 0x00000002)"}},
      {"unreadable",
       version,
       Safe(),
       5,
       {0, version + u" is open to others: its security cannot be read "
                     u"(error 5)"}},
      // Names a Win32 path cannot give exactly (it drops trailing blanks and
      // dots), beside the trusted VERSION.dll: each is judged by its own.
      {"a trailing blank",
       version + u" ",
       Sd(OtherUser, {Allow(OtherUser, FullAccess)}),
       0,
       {0, u"\"" + version +
               u" \" is open to others: its owner is S-1-5-21-1-2-3-1002"}},
      {"a trailing dot, unreadable",
       version + u".",
       Safe(),
       5,
       {0, u"\"" + version +
               u".\" is open to others: its security cannot be read (error "
               u"5)"}},
      // Further down, or beside a directory above: not what starts.
      {"inside a directory beside",
       u"C:\\Apps\\Dorvanix\\Data\\X.DLL",
       Sd(OtherUser, {Allow(Everyone, FullAccess)}),
       0,
       {2, u""}},
      {"beside the directory",
       u"C:\\Apps\\X.DLL",
       Sd(OtherUser, {Allow(Everyone, FullAccess)}),
       0,
       {2, u""}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.Objects[u"C:\\Apps\\Dorvanix\\Data"] = {0x10, Safe()};
    const bool directory = row.Path == u"C:\\Apps\\Dorvanix\\Data";
    api.Objects[row.Path] = {directory ? 0x10u : 0x20u, row.Security,
                             row.Error};
    ExpectAnswer(Check(api, Exe, SetupDir), row.Want, row.What);
  }
}

TEST(CheckTest, ADirectoryThatCannotBeListedIsRefused) {
  FakeCheckApi api = InstalledProduct();
  api.ListErrors[u"C:\\Apps\\Dorvanix"] = 5;
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, u"C:\\Apps\\Dorvanix cannot be listed (error 5)"},
               u"first fails");
  api = InstalledProduct();
  api.EndOfListError = 59;
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, u"C:\\Apps\\Dorvanix cannot be listed (error 59)"},
               u"next fails");
}

// An unquoted shell with a space: whoever may add a file where the text
// before the space would be looked up as a program decides the way.
TEST(CheckTest, UnquotedSpacesWhereOthersMayAddAProgram) {
  const uint8_t below = ObjectInherit | ContainerInherit | InheritOnly;
  struct {
    Text Product;  // the directory of HANDBACK.EXE
    std::map<Text, Descriptor> Security;
    Expected Want;
  } const rows[] = {
      // Windows' defaults.
      {u"C:\\Program Files\\Dorvanix 4",
       {{u"C:\\", WindowsRoot()},
        {u"C:\\Program Files", SystemDirectory()},
        {u"C:\\Program Files\\Dorvanix 4", Installed()}},
       {2, u""}},
      {u"C:\\Windows\\Dorvanix 4",
       {{u"C:\\", WindowsRoot()}, {u"C:\\Windows", SystemDirectory()}},
       {2, u""}},
      {u"C:\\ProgramData\\Vendor Name\\Prod",
       {{u"C:\\", WindowsRoot()}, {u"C:\\ProgramData", ProgramData()}},
       {1,
        u"C:\\ProgramData is open to others: S-1-5-32-545 may change it "
        u"(rights 0x00000116), so an unquoted shell could start a program "
        u"named C:\\ProgramData\\Vendor instead"}},
      {u"C:\\ProgramData\\Vendor\\Prod",
       {{u"C:\\", WindowsRoot()}, {u"C:\\ProgramData", ProgramData()}},
       {2, u""}},
      // Everyone may add a file to C:\Apps, with a space after it or not.
      {u"C:\\Apps\\My Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {1,
        u"C:\\Apps is open to others: S-1-1-0 may change it (rights "
        u"0x00000002), so an unquoted shell could start a program named "
        u"C:\\Apps\\My instead"}},
      {u"C:\\Apps\\Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {2, u""}},
      {u"C:\\Apps\\My Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Allow(Everyone, GenericWrite)})}},
       {1,
        u"C:\\Apps is open to others: S-1-1-0 may change it (rights "
        u"0x40000000), so an unquoted shell could start a program named "
        u"C:\\Apps\\My instead"}},
      // Inherit-only, a subdirectory only, a deny entry: no file added.
      {u"C:\\Apps\\My Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2, below)})}},
       {2, u""}},
      {u"C:\\Apps\\My Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Allow(AuthenticatedUsers, 0x4)})}},
       {2, u""}},
      {u"C:\\Apps\\My Dorvanix",
       {{u"C:\\Apps", Sd(Administrators, {Deny(Everyone, 0x2)})}},
       {2, u""}},
      // At the root; two spaces in one name.
      {u"C:\\My Apps\\Dorvanix",
       {{u"C:\\", Sd(Administrators, {Allow(Users, 0x2)})}},
       {1,
        u"C:\\ is open to others: S-1-5-32-545 may change it (rights "
        u"0x00000002), so an unquoted shell could start a program named "
        u"C:\\My instead"}},
      {u"C:\\Apps\\A B C",
       {{u"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {1,
        u"C:\\Apps is open to others: S-1-1-0 may change it (rights "
        u"0x00000002), so an unquoted shell could start a program named "
        u"C:\\Apps\\A instead"}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(row.Product, Safe(), Safe());
    for (const auto& [path, security] : row.Security)
      api.Objects[path].Security = security;
    const Answer got =
        Check(api, row.Product + u"\\HANDBACK.EXE", row.Product + u"\\Setup");
    ExpectAnswer(got, row.Want, row.Product);
  }
}

// A program already where an unquoted shell would look takes its place,
// whoever may add files there now: C:\Vendor.exe for C:\Vendor Name\...,
// C:\My.App itself, with its extension; never C:\Program Files.exe's
// directory namesake.
TEST(CheckTest, UnquotedSpacesWhereAProgramIsThere) {
  struct {
    Text Product;  // the directory of HANDBACK.EXE
    Text There;    // a file already there
    Expected Want;
  } const rows[] = {
      {u"C:\\Vendor Name\\Prod",
       u"C:\\Vendor.exe",
       {1,
        u"C:\\Vendor.exe is there, so an unquoted shell would start it "
        u"instead"}},
      {u"C:\\My.App Dir\\Prod",
       u"C:\\My.App",
       {1,
        u"C:\\My.App is there, so an unquoted shell would start it "
        u"instead"}},
      {u"C:\\Vendor Name\\Prod", u"C:\\Vendor", {2, u""}},
      {u"C:\\Vendor Name\\Prod", u"C:\\Vendor Name.exe", {2, u""}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(row.Product, Safe(), Safe());
    api.Objects[row.There] = {0x20, Safe()};
    const Answer got =
        Check(api, row.Product + u"\\HANDBACK.EXE", row.Product + u"\\Setup");
    ExpectAnswer(got, row.Want, row.Product + u", " + row.There);
  }
}

// Each directory a space leads to is judged once.
TEST(CheckTest, EachDirectoryBeforeASpaceOnce) {
  FakeCheckApi api;
  api.Install(u"C:\\Apps\\A B C", Safe(), Safe());
  Check(api, u"C:\\Apps\\A B C\\HANDBACK.EXE", u"C:\\Apps\\A B C\\Setup");
  EXPECT_EQ(std::count(api.Calls.begin(), api.Calls.end(),
                       u"GetNamedSecurityInfoW(C:\\Apps, 1, 5)"),
            2);  // the directory above, then where C:\Apps\A and A B start
}

// Wide text throughout: a name whose code page 932 or 936 bytes hold 0x5C
// answers as an ASCII one.
TEST(CheckTest, DoubleBytePathsAnswerAsAsciiOnes) {
  for (const Text name : {u"Dorvanix", u"Dorvanix表", u"Dorvanix乗"}) {
    const Text product = u"C:\\" + name;
    for (const bool open : {false, true}) {
      FakeCheckApi api;
      api.Install(product, Safe(), Safe());
      api.File(product + u"\\Setup\\VERSION.dll",
               open ? Sd(OtherUser, {Allow(OtherUser, FullAccess)}) : Safe());
      const Answer got =
          Check(api, product + u"\\HANDBACK.EXE", product + u"\\Setup");
      ExpectAnswer(
          got,
          open ? Expected{0, product + u"\\Setup\\VERSION.dll is open to "
                                       u"others: its owner is "
                                       u"S-1-5-21-1-2-3-1002"}
               : Expected{2, u""},
          name);
      EXPECT_EQ(got.Exe, product + u"\\HANDBACK.EXE")
          << testing::PrintToString(name);
    }
  }
}

// The caller's buffers: always terminated, never written past, and a path
// that does not fit is not handed back.
TEST(CheckTest, BuffersGetADefinedAnswer) {
  for (unsigned chars = 1; chars <= 80; ++chars) {
    FakeCheckApi api = InstalledProduct();
    const Answer got = Check(api, Exe, SetupDir, chars);
    const bool fits = chars > Exe.size();
    EXPECT_EQ(got.Way, fits ? 2 : 0) << chars;
    EXPECT_EQ(got.Exe, fits ? Exe : u"") << chars;
    EXPECT_EQ(got.SetupDir, fits ? SetupDir : u"") << chars;
    const Text why = fits ? u""
                          : u"the full paths do not fit buffers of " +
                                Number(chars) + u" characters";
    EXPECT_EQ(got.Reason, why.substr(0, chars - 1)) << chars;
  }
  FakeCheckApi api = InstalledProduct();
  EXPECT_EQ(Check(api, u"HANDBACK.EXE", u"Setup", 8).Reason, u"HANDBAC");
}

TEST(CheckTest, MissingBuffersOrTextsGetADefinedAnswer) {
  char16_t a[64], b[64], c[64];
  const auto reset = [&] {
    for (char16_t* buffer : {a, b, c}) std::fill(buffer, buffer + 64, u'#');
  };
  struct {
    const char* What;
    const char16_t *Exe, *SetupDir;
    char16_t *FullExe, *FullSetupDir, *Reason;
    unsigned Chars;
    Text Why;  // in `c`, where it is given
  } const rows[] = {
      {"no room", Exe.c_str(), SetupDir.c_str(), a, b, c, 0, u"#"},
      {"no full path buffer", Exe.c_str(), SetupDir.c_str(), nullptr, b, c, 64,
       u"a buffer for the answer is missing"},
      {"no setup buffer", Exe.c_str(), SetupDir.c_str(), a, nullptr, c, 64,
       u"a buffer for the answer is missing"},
      {"no reason buffer", Exe.c_str(), SetupDir.c_str(), a, b, nullptr, 64,
       u"#"},
      {"no exe", nullptr, SetupDir.c_str(), a, b, c, 64,
       u"no path was given for HANDBACK.EXE"},
      {"no setup directory", Exe.c_str(), nullptr, a, b, c, 64,
       u"no path was given for the setup directory"},
  };
  for (const auto& row : rows) {
    reset();
    FakeCheckApi api = InstalledProduct();
    EXPECT_EQ(check::HandBackCheckWith(api, row.Exe, row.SetupDir, row.FullExe,
                                       row.FullSetupDir, row.Reason, row.Chars),
              0)
        << row.What;
    const Text reason(c, std::find(c, c + 64, u'\0') - c);
    EXPECT_EQ(reason.substr(0, row.Why == u"#" ? 1 : reason.size()), row.Why)
        << row.What;
    EXPECT_EQ(api.Unreleased(), "") << row.What;
    if (row.Exe != nullptr && row.SetupDir != nullptr) {
      EXPECT_EQ(api.Calls, Calls{}) << row.What;
    }
  }
}

// The whole sequence for a product in one directory, named in two cases:
// sizes, order, each name judged as given (an entry by its exact \\?\ path),
// and each descriptor, search and token released.
TEST(CheckTest, CallsInOrder) {
  FakeCheckApi api;
  api.Install(u"C:\\D", Safe(), Safe());
  api.Objects.erase(u"C:\\D\\Setup");
  api.Objects.erase(u"C:\\D\\Setup\\SETUP.EXE");
  api.File(u"C:\\D\\SETUP.EXE", Safe());
  const Answer got = Check(api, u"C:\\D\\HANDBACK.EXE", u"c:\\d");
  EXPECT_EQ(got.Way, 2) << testing::PrintToString(got.Reason);
  const std::vector<Text> objects = {u"C:\\D\\HANDBACK.EXE", u"C:\\D", u"C:\\",
                                     u"c:\\d\\SETUP.EXE",    u"c:\\d", u"c:\\"};
  Calls expected = {
      u"GetFullPathNameW(C:\\D\\HANDBACK.EXE, 1024)",
      u"GetFullPathNameW(c:\\d, 1024)",
      u"GetDriveTypeW(C:\\)",
      u"QueryDosDeviceW(C:, 1024)",
  };
  for (const Text& path : objects)
    expected.push_back(u"GetFileAttributesW(" + path + u")");
  expected.insert(expected.end(),
                  {u"GetCurrentProcess()", u"OpenProcessToken(process, 8)",
                   u"GetTokenInformation(token, 1, 256)", u"CloseHandle(token)",
                   u"GetVersion()"});
  for (const Text& path : objects)
    expected.insert(
        expected.end(),
        {u"GetNamedSecurityInfoW(" + path + u", 1, 5)",
         u"GetSecurityDescriptorLength(descriptor)", u"LocalFree(descriptor)"});
  for (const Text directory : {u"C:\\D", u"c:\\d"}) {
    expected.insert(
        expected.end(),
        {u"FindFirstFileW(" + directory + u"\\*)", u"FindNextFileW(search)",
         u"FindNextFileW(search)", u"FindNextFileW(search)",
         u"FindNextFileW(search)", u"GetLastError()", u"FindClose(search)"});
    for (const Text& path : {u"\\\\?\\" + directory + u"\\HANDBACK.EXE",
                             u"\\\\?\\" + directory + u"\\SETUP.EXE"})
      expected.insert(expected.end(),
                      {u"GetFileAttributesW(" + path + u")",
                       u"GetNamedSecurityInfoW(" + path + u", 1, 5)",
                       u"GetSecurityDescriptorLength(descriptor)",
                       u"LocalFree(descriptor)"});
  }
  EXPECT_EQ(api.Calls, expected);
}

// The way the include files take after the check, as handback-check.exe
// prints it and exits with its status: 0 hand-back, 1 RunOnce, 2 none.
TEST(CheckTest, TheWayTheIncludeFilesTake) {
  // A directory of `chars` characters, `doubles` of them 表 (two bytes).
  const auto directory = [](std::size_t chars, std::size_t doubles = 0) {
    return u"C:\\" + Text(doubles, u'表') + Text(chars - 3 - doubles, u'd');
  };
  struct {
    const char* What;
    Text Product;  // the directory of HANDBACK.EXE
    void (*Set)(FakeCheckApi&);
    int Status;
    Text Why;
  } const rows[] = {
      // The check's answer first.
      {"others may change it", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) {
         api.Objects[u"C:\\Apps"].Security = OpenToEveryone();
       },
       2, AppsOpen},
      {"an unquoted shell could start another program", u"C:\\Apps\\My Prod",
       [](FakeCheckApi& api) {
         api.Objects[u"C:\\Apps"].Security =
             Sd(Administrators, {Allow(Everyone, 0x2)});
       },
       1,
       u"C:\\Apps is open to others: S-1-1-0 may change it (rights "
       u"0x00000002), so an unquoted shell could start a program named "
       u"C:\\Apps\\My instead"},
      {"longer than the check takes", u"C:\\" + Text(2000, u'x'),
       [](FakeCheckApi&) {}, 2,
       (u"C:\\" + Text(2000, u'x') + u"\\HANDBACK.EXE is too long")
           .substr(0, 1023)},
      // Then Windows and UAC.
      {"UAC off", u"C:\\Apps\\Dorvanix", [](FakeCheckApi&) {}, 0,
       u"UAC is off"},
      {"UAC on", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) {
         api.Lua = {1, 0, 0, 0};
       },
       1, u"UAC is on"},
      {"no EnableLUA", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) { api.Lua = {}; }, 1, u"UAC is on"},
      {"EnableLUA 0 as binary", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) { api.LuaType = 3; }, 1, u"UAC is on"},
      {"EnableLUA of two bytes", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) {
         api.Lua = {0, 0};
       },
       1, u"UAC is on"},
      {"the policies key refused", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) { api.Refused = {u"RegOpenKeyExW"}; }, 1,
       u"UAC is on"},
      {"EnableLUA refused", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) { api.Refused = {u"RegQueryValueExW"}; }, 1,
       u"UAC is on"},
      {"XP", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) {
         api.Version = WindowsXp;
         api.Lua = {1, 0, 0, 0};
       },
       0, u"Windows before Vista"},
      {"Vista", u"C:\\Apps\\Dorvanix",
       [](FakeCheckApi& api) {
         api.Version = WindowsVista;
         api.Lua = {1, 0, 0, 0};
       },
       1, u"UAC is on"},
      // Then whether the program reads both paths back: under 260 bytes.
      {"SETUP.EXE's path of 259 bytes", directory(243), [](FakeCheckApi&) {}, 0,
       u"UAC is off"},
      {"SETUP.EXE's path of 260 bytes", directory(244), [](FakeCheckApi&) {}, 1,
       u"the program could not read back " + directory(244) +
           u"\\Setup\\SETUP.EXE"},
      {"HANDBACK.EXE's path of 260 bytes", directory(247), [](FakeCheckApi&) {},
       1,
       u"the program could not read back " + directory(247) +
           u"\\HANDBACK.EXE"},
      {"double-byte, 259 bytes", directory(123, 120), [](FakeCheckApi&) {}, 0,
       u"UAC is off"},
      {"double-byte, 140 characters, 261 bytes", directory(124, 121),
       [](FakeCheckApi&) {}, 1,
       u"the program could not read back " + directory(124, 121) +
           u"\\Setup\\SETUP.EXE"},
      // And unchanged through the code page.
      {"a letter the code page lacks", u"C:\\Dorvanixé", [](FakeCheckApi&) {},
       1, u"the program could not read back C:\\Dorvanixé\\HANDBACK.EXE"},
      {"UTF-8, which takes no flags", u"C:\\Dorvanix",
       [](FakeCheckApi& api) { api.AnsiCodePage = 65001; }, 0, u"UAC is off"},
      {"no conversion", u"C:\\Dorvanix",
       [](FakeCheckApi& api) { api.Refused = {u"WideCharToMultiByte"}; }, 1,
       u"the program could not read back C:\\Dorvanix\\HANDBACK.EXE"},
      {"no conversion back", u"C:\\Dorvanix",
       [](FakeCheckApi& api) { api.Refused = {u"MultiByteToWideChar"}; }, 1,
       u"the program could not read back C:\\Dorvanix\\HANDBACK.EXE"},
  };
  const Text ways[] = {u"hand-back", u"RunOnce", u"none"};
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(row.Product, Safe(), Safe());
    api.Lua = {0, 0, 0, 0};  // UAC off
    api.Console = true;
    row.Set(api);
    const Text exe = row.Product + u"\\HANDBACK.EXE",
               setup = row.Product + u"\\Setup";
    const Wchar* argv[] = {u"handback-check", exe.c_str(), setup.c_str()};
    EXPECT_EQ(check::Main(api, 3, argv), row.Status) << row.What;
    // The last line: the paths before it are the next test's matter.
    const Text want =
        u"HandBackWay: " + ways[row.Status] + u": " + row.Why + u"\r\n";
    const Text& shown = api.Shown;
    EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), want.size())),
              want)
        << row.What;
    EXPECT_EQ(api.Unreleased(), "") << row.What;
  }
}

// Both paths, then the way: UTF-8 where the output is no console, and a
// usage on standard error for a command line of other than two paths.
TEST(CheckTest, WhatHandBackCheckPrints) {
  FakeCheckApi api;
  api.Install(u"C:\\Dorvanix表", Safe(), Safe());
  api.Lua = {0, 0, 0, 0};
  const Wchar* argv[] = {u"handback-check", u"C:\\Dorvanix表\\HANDBACK.EXE",
                         u"C:\\Dorvanix表\\Setup\\", u"more"};
  EXPECT_EQ(check::Main(api, 3, argv), 0);
  EXPECT_EQ(api.Written,
            u8"HANDBACK.EXE: C:\\Dorvanix表\\HANDBACK.EXE\r\n"
            u8"SETUP.EXE: C:\\Dorvanix表\\Setup\\SETUP.EXE\r\n"
            u8"HandBackWay: hand-back: UAC is off\r\n");
  // Relative paths: the check makes neither full.
  api.Written.clear();
  const Wchar* relative[] = {u"handback-check", u"HANDBACK.EXE", u"Setup"};
  EXPECT_EQ(check::Main(api, 3, relative), 2);
  EXPECT_EQ(api.Written,
            "HandBackWay: none: HANDBACK.EXE is not a full path\r\n");
  for (const int argc : {0, 1, 2, 4}) {
    FakeCheckApi usage;
    usage.Console = true;
    EXPECT_EQ(check::Main(usage, argc, argv), 64) << argc;
    EXPECT_EQ(usage.Shown.substr(0, 22), u"usage: handback-check ") << argc;
    EXPECT_EQ(usage.Calls[0], u"GetStdHandle(error)") << argc;
  }
  // Output that cannot be written does not change the status.
  for (const Text refused : {u"GetStdHandle", u"WriteFile"}) {
    FakeCheckApi failing;
    failing.Install(u"C:\\Dorvanix", Safe(), Safe());
    failing.Lua = {0, 0, 0, 0};
    failing.Refused = {refused};
    const Wchar* paths[] = {u"handback-check", u"C:\\Dorvanix\\HANDBACK.EXE",
                            u"C:\\Dorvanix\\Setup"};
    EXPECT_EQ(check::Main(failing, 3, paths), 0)
        << testing::PrintToString(refused);
  }
}

// After the check's calls: the version, the policy in the native view, both
// paths through the code page and back, then the output.
TEST(CheckTest, TheWayCallsInOrder) {
  FakeCheckApi api;
  api.Install(u"C:\\D", Safe(), Safe());
  api.Lua = {0, 0, 0, 0};
  const Wchar* argv[] = {u"handback-check", u"C:\\D\\HANDBACK.EXE",
                         u"C:\\D\\Setup"};
  EXPECT_EQ(check::Main(api, 3, argv), 0);
  const Text report =
      u"HANDBACK.EXE: C:\\D\\HANDBACK.EXE\r\nSETUP.EXE: "
      u"C:\\D\\Setup\\SETUP.EXE\r\nHandBackWay: hand-back: UAC is off\r\n";
  const Text bytes = Number(report.size());
  Calls expected = {
      u"GetVersion()",
      u"RegOpenKeyExW(HKLM, "
      u"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System, 0, "
      u"257)",
      u"RegQueryValueExW(key, EnableLUA, 4)", u"RegCloseKey(key)"};
  for (const Text path : {u"C:\\D\\HANDBACK.EXE", u"C:\\D\\Setup\\SETUP.EXE"})
    expected.insert(expected.end(),
                    {u"WideCharToMultiByte(0, 1024, " + path + u", 0)",
                     u"WideCharToMultiByte(0, 1024, " + path + u", " +
                         Number(path.size() + 1) + u")",
                     u"MultiByteToWideChar(0, 0, 260)"});
  expected.insert(
      expected.end(),
      {u"GetStdHandle(output)", u"GetConsoleMode(output)",
       u"WideCharToMultiByte(65001, 0, " + report + u", 0)",
       u"WideCharToMultiByte(65001, 0, " + report + u", " + bytes + u")",
       u"WriteFile(output, " + bytes + u")"});
  const auto last =
      std::find(api.Calls.rbegin(), api.Calls.rend(), u"GetVersion()");
  EXPECT_EQ(Calls(last.base() - 1, api.Calls.end()), expected);
}

}  // namespace
