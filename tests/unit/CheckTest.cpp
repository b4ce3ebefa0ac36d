// The check on the paths as an installer gives them: their forms, drives,
// links, what lies beside the programs, spaces, and the caller's buffers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CheckRun.h"

namespace {

using namespace fake;
using Calls = std::vector<std::string>;

const std::string Exe = "C:\\Apps\\Dorvanix\\HANDBACK.EXE";
const std::string SetupDir = "C:\\Apps\\Dorvanix\\Setup";
const std::string AppsOpen =
    "C:\\Apps is open to others: S-1-1-0 may change it (rights 0x001301FF)";

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

struct Expected {
  int Way;
  std::string Reason;
};

void ExpectAnswer(const Answer& got, const Expected& want,
                  const std::string& row) {
  EXPECT_EQ(got.Way, want.Way) << row << ": " << got.Reason;
  EXPECT_EQ(got.Reason, want.Reason) << row;
}

TEST(CheckTest, PathsAreJudgedInTheFormWindowsOpens) {
  struct {
    std::string Exe, SetupDir;
    bool AppsOpen;  // C:\Apps of mode 0777
    int Way;
    std::string FullExe, FullSetupDir, Reason;
  } const rows[] = {
      {Exe, SetupDir, false, 2, Exe, SetupDir, ""},
      {"C:/Apps/Dorvanix/HANDBACK.EXE", "C:/Apps/Dorvanix/Setup", false, 2, Exe,
       SetupDir, ""},
      // The parent of each is found whatever the separator.
      {"C:/Apps/Dorvanix/HANDBACK.EXE", "C:\\Apps/Dorvanix\\Setup", true, 0,
       Exe, SetupDir, AppsOpen},
      {"C:\\Apps/Dorvanix\\HANDBACK.EXE", SetupDir, true, 0, Exe, SetupDir,
       AppsOpen},
      {"C:\\Apps\\Dorvanix\\.\\HANDBACK.EXE",
       "C:\\Apps\\Other\\..\\Dorvanix\\Setup", false, 2, Exe, SetupDir, ""},
      {"C:\\..\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 2, Exe,
       SetupDir, ""},
      {"C:\\Apps\\\\Dorvanix\\\\HANDBACK.EXE", "C:\\\\Apps\\Dorvanix\\Setup\\",
       false, 2, Exe, SetupDir + "\\", ""},
      {Exe, "C:\\Apps\\Dorvanix\\Setup. ", false, 2, Exe, SetupDir, ""},
      {"c:\\apps\\dorvanix\\handback.exe", "C:\\APPS\\DORVANIX\\SETUP", false,
       2, "c:\\apps\\dorvanix\\handback.exe", "C:\\APPS\\DORVANIX\\SETUP", ""},
      // Not absolute: relative, drive-relative, rooted, no drive letter.
      {"HANDBACK.EXE", "Setup", false, 0, "", "",
       "HANDBACK.EXE is not a full path"},
      {Exe, "Setup", false, 0, Exe, "", "Setup is not a full path"},
      {"C:HANDBACK.EXE", SetupDir, false, 0, "", "",
       "C:HANDBACK.EXE is not a full path"},
      {"\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, "", "",
       "\\Apps\\Dorvanix\\HANDBACK.EXE is not a full path"},
      {"C:", SetupDir, false, 0, "", "", "C: is not a full path"},
      {"1:\\HANDBACK.EXE", SetupDir, false, 0, "", "",
       "1:\\HANDBACK.EXE is not a full path"},
      // UNC and device paths.
      {"\\\\server\\share\\HANDBACK.EXE", SetupDir, false, 0, "", "",
       "\\\\server\\share\\HANDBACK.EXE is not on a local drive"},
      {"//server/share/HANDBACK.EXE", SetupDir, false, 0, "", "",
       "//server/share/HANDBACK.EXE is not on a local drive"},
      {Exe, "\\\\server\\share\\Setup", false, 0, Exe, "",
       "\\\\server\\share\\Setup is not on a local drive"},
      {"\\\\?\\C:\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, "", "",
       "\\\\?\\C:\\Apps\\Dorvanix\\HANDBACK.EXE is a device path"},
      {"\\\\.\\C:\\Apps\\Dorvanix\\HANDBACK.EXE", SetupDir, false, 0, "", "",
       "\\\\.\\C:\\Apps\\Dorvanix\\HANDBACK.EXE is a device path"},
      {"//?/C:/Apps/Dorvanix/HANDBACK.EXE", SetupDir, false, 0, "", "",
       "//?/C:/Apps/Dorvanix/HANDBACK.EXE is a device path"},
      // Nothing, no file, a stream, a wildcard, a device name.
      {"", SetupDir, false, 0, "", "", "no path was given for HANDBACK.EXE"},
      {Exe, "", false, 0, Exe, "", "no path was given for the setup directory"},
      {"C:\\Apps\\Dorvanix\\", SetupDir, false, 0, "", "",
       "C:\\Apps\\Dorvanix\\ names no file"},
      {Exe + ":x", SetupDir, false, 0, "", "",
       Exe + ":x holds a character no file name may hold"},
      {"C:\\Apps\\Dorvanix\\*", SetupDir, false, 0, "", "",
       "C:\\Apps\\Dorvanix\\* holds a character no file name may hold"},
      {"C:\\Apps\\Dorvanix\\CON", SetupDir, false, 0, "", "",
       "\\\\.\\CON is not a full path"},
      // SETUP.EXE joined as the program joins it.
      {Exe, "C:\\", false, 0, Exe, "C:\\",
       "C:\\SETUP.EXE cannot be read (error 2)"},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.FullPaths[u"C:\\Apps\\Dorvanix\\CON"] = u"\\\\.\\CON";
    if (row.AppsOpen) api.Objects[u"C:\\Apps"].Security = OpenToEveryone();
    const Answer got = Check(api, row.Exe, row.SetupDir);
    const std::string what = row.Exe + " | " + row.SetupDir;
    ExpectAnswer(got, {row.Way, row.Reason}, what);
    EXPECT_EQ(got.Exe, row.FullExe) << what;
    EXPECT_EQ(got.SetupDir, row.FullSetupDir) << what;
  }
}

// What GetFullPathNameW answers is checked too.
TEST(CheckTest, FullPathsWindowsCannotGiveAreRefused) {
  const std::u16string exe = Utf16(Exe);
  struct {
    const char* What;
    std::u16string Full;
    std::optional<winservices::Dword> Length;
    std::string Reason;
  } const rows[] = {
      {"UNC",
       u"\\\\server\\share\\HANDBACK.EXE",
       {},
       "\\\\server\\share\\HANDBACK.EXE is not a full path"},
      {"dot left",
       u"C:\\Apps\\.\\HANDBACK.EXE",
       {},
       "C:\\Apps\\.\\HANDBACK.EXE is not a full path"},
      {"doubled separator",
       u"C:\\Apps\\\\HANDBACK.EXE",
       {},
       "C:\\Apps\\\\HANDBACK.EXE is not a full path"},
      {"longer than the buffer",
       u"C:\\" + std::u16string(2000, u'x'),
       {},
       Exe + " is too long"},
      {"reported as long as the buffer", exe, 1024, Exe + " is too long"},
      {"failed", exe, 0, Exe + " cannot be made full (error 0)"},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.FullPaths[exe] = row.Full;
    api.FullPathLength = row.Length;
    ExpectAnswer(Check(api, Exe, SetupDir), {0, row.Reason}, row.What);
  }
  FakeCheckApi api = InstalledProduct();
  ExpectAnswer(Check(api, std::string(40000, 'x'), SetupDir),
               {0, "the path given for HANDBACK.EXE is too long"}, "40000");
  EXPECT_EQ(api.Calls, Calls{});
}

TEST(CheckTest, OnlyLocalFixedDrives) {
  struct {
    const char* What;
    std::string SetupDir;
    char16_t Drive;
    winservices::Uint Type;
    std::u16string Device;  // what QueryDosDeviceW answers; "" fails
    Expected Want;
  } const rows[] = {
      {"Windows' volume",
       SetupDir,
       u'C',
       3,
       u"\\Device\\HarddiskVolume3",
       {2, ""}},
      // What Wine answers for its C:, a link to drive_c in dosdevices.
      {"Wine's C:", SetupDir, u'C', 3, u"\\Device\\HarddiskVolume1", {2, ""}},
      {"unknown",
       SetupDir,
       u'C',
       0,
       u"",
       {0, "C: is not a local fixed drive (type 0)"}},
      {"no root",
       SetupDir,
       u'C',
       1,
       u"",
       {0, "C: is not a local fixed drive (type 1)"}},
      {"removable",
       SetupDir,
       u'C',
       2,
       u"",
       {0, "C: is not a local fixed drive (type 2)"}},
      {"network",
       SetupDir,
       u'C',
       4,
       u"",
       {0, "C: is not a local fixed drive (type 4)"}},
      {"CD",
       SetupDir,
       u'C',
       5,
       u"",
       {0, "C: is not a local fixed drive (type 5)"}},
      {"RAM disk",
       SetupDir,
       u'C',
       6,
       u"",
       {0, "C: is not a local fixed drive (type 6)"}},
      {"subst",
       SetupDir,
       u'C',
       3,
       u"\\??\\D:\\Dorvanix",
       {0, "C: is not a local fixed drive: it stands for \\??\\D:\\Dorvanix"}},
      {"device unknown",
       SetupDir,
       u'C',
       3,
       u"",
       {0,
        "C: is not a local fixed drive: its device cannot be read "
        "(error 2)"}},
      {"device too long",
       SetupDir,
       u'C',
       3,
       std::u16string(1023, u'x'),
       {0,
        "C: is not a local fixed drive: its device cannot be read "
        "(error 122)"}},
      // Setup on a drive of its own.
      {"setup on D:",
       "D:\\Dorvanix",
       u'D',
       3,
       u"\\Device\\HarddiskVolume2",
       {2, ""}},
      {"setup on a network drive",
       "D:\\Dorvanix",
       u'D',
       4,
       u"",
       {0, "D: is not a local fixed drive (type 4)"}},
      {"setup on a subst drive",
       "D:\\Dorvanix",
       u'D',
       3,
       u"\\??\\C:\\Temp",
       {0, "D: is not a local fixed drive: it stands for \\??\\C:\\Temp"}},
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
    std::string Path;
    winservices::Dword Attributes;
  } const rows[] = {
      {Exe, 0x420},
      {"C:\\Apps\\Dorvanix", 0x410},
      {"C:\\Apps", 0x410},
      {"C:\\", 0x410},
      {SetupDir + "\\SETUP.EXE", 0x420},
      {SetupDir, 0x410},
      {"C:\\Apps\\Dorvanix\\README.TXT", 0x420},
      {SetupDir + "\\VERSION.dll", 0x400},
      {"C:\\Apps\\Dorvanix\\Data", 0x410},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.Objects[u"C:\\Apps\\Dorvanix\\Data"] = {0x10, Safe()};
    api.Objects[Utf16(row.Path)].Attributes = row.Attributes;
    ExpectAnswer(Check(api, Exe, SetupDir), {0, row.Path + " is a link"},
                 row.Path);
  }
  // Before whether others may change what is on the path.
  FakeCheckApi api = InstalledProduct();
  api.Objects[u"C:\\Apps"].Security = OpenToEveryone();
  api.Objects[Utf16(SetupDir)].Attributes = 0x410;
  ExpectAnswer(Check(api, Exe, SetupDir), {0, SetupDir + " is a link"},
               "link and open");
  // A file that is not there.
  api = InstalledProduct();
  api.Objects.erase(Utf16(SetupDir + "\\SETUP.EXE"));
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, SetupDir + "\\SETUP.EXE cannot be read (error 2)"},
               "no SETUP.EXE");
}

// Every entry in either program's directory gets the files' rule.
TEST(CheckTest, WhatLiesBesideTheProgramsIsJudged) {
  const std::string version = SetupDir + "\\VERSION.dll";
  struct {
    const char* What;
    std::string Path;  // given `Security`, or made unreadable
    Descriptor Security;
    winservices::Dword Error;
    Expected Want;
  } const rows[] = {
      {"trusted", version, Safe(), 0, {2, ""}},
      // Mode 0666, another user's, as Wine shows it.
      {"another user's",
       version,
       Sd(OtherUser, {Allow(System, FullAccess), Allow(OtherUser, FullAccess),
                      Allow(Everyone, 0x12019F)}),
       0,
       {0, version + " is open to others: its owner is S-1-5-21-1-2-3-1002"}},
      {"writable",
       "C:\\Apps\\Dorvanix\\README.TXT",
       Sd(Administrators, {Allow(Everyone, 0x12019F)}),
       0,
       {0,
        "C:\\Apps\\Dorvanix\\README.TXT is open to others: S-1-1-0 may "
        "change it (rights 0x0012019F)"}},
      {"a directory others may add to",
       "C:\\Apps\\Dorvanix\\Data",
       Sd(Administrators, {Allow(Users, 0x2)}),
       0,
       {0,
        "C:\\Apps\\Dorvanix\\Data is open to others: S-1-5-32-545 may "
        "change it (rights 0x00000002)"}},
      {"unreadable",
       version,
       Safe(),
       5,
       {0, version + " is open to others: its security cannot be read "
                     "(error 5)"}},
      // Further down, or beside a directory above: not what starts.
      {"inside a directory beside",
       "C:\\Apps\\Dorvanix\\Data\\X.DLL",
       Sd(OtherUser, {Allow(Everyone, FullAccess)}),
       0,
       {2, ""}},
      {"beside the directory",
       "C:\\Apps\\X.DLL",
       Sd(OtherUser, {Allow(Everyone, FullAccess)}),
       0,
       {2, ""}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api = InstalledProduct();
    api.Objects[u"C:\\Apps\\Dorvanix\\Data"] = {0x10, Safe()};
    const bool directory = row.Path == "C:\\Apps\\Dorvanix\\Data";
    api.Objects[Utf16(row.Path)] = {directory ? 0x10u : 0x20u, row.Security,
                                    row.Error};
    ExpectAnswer(Check(api, Exe, SetupDir), row.Want, row.What);
  }
}

TEST(CheckTest, ADirectoryThatCannotBeListedIsRefused) {
  FakeCheckApi api = InstalledProduct();
  api.ListErrors[u"C:\\Apps\\Dorvanix"] = 5;
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, "C:\\Apps\\Dorvanix cannot be listed (error 5)"},
               "first fails");
  api = InstalledProduct();
  api.EndOfListError = 59;
  ExpectAnswer(Check(api, Exe, SetupDir),
               {0, "C:\\Apps\\Dorvanix cannot be listed (error 59)"},
               "next fails");
}

// An unquoted shell with a space: whoever may add a file where the text
// before the space would be looked up as a program decides the way.
TEST(CheckTest, UnquotedSpacesWhereOthersMayAddAProgram) {
  const uint8_t below = ObjectInherit | ContainerInherit | InheritOnly;
  struct {
    std::string Product;  // the directory of HANDBACK.EXE
    std::map<std::string, Descriptor> Security;
    Expected Want;
  } const rows[] = {
      // Windows' defaults.
      {"C:\\Program Files\\Dorvanix 4",
       {{"C:\\", WindowsRoot()},
        {"C:\\Program Files", SystemDirectory()},
        {"C:\\Program Files\\Dorvanix 4", Installed()}},
       {2, ""}},
      {"C:\\Windows\\Dorvanix 4",
       {{"C:\\", WindowsRoot()}, {"C:\\Windows", SystemDirectory()}},
       {2, ""}},
      {"C:\\ProgramData\\Vendor Name\\Prod",
       {{"C:\\", WindowsRoot()}, {"C:\\ProgramData", ProgramData()}},
       {1,
        "C:\\ProgramData is open to others: S-1-5-32-545 may change it "
        "(rights 0x00000116), so an unquoted shell could start a program "
        "named C:\\ProgramData\\Vendor instead"}},
      {"C:\\ProgramData\\Vendor\\Prod",
       {{"C:\\", WindowsRoot()}, {"C:\\ProgramData", ProgramData()}},
       {2, ""}},
      // Everyone may add a file to C:\Apps, with a space after it or not.
      {"C:\\Apps\\My Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {1,
        "C:\\Apps is open to others: S-1-1-0 may change it (rights "
        "0x00000002), so an unquoted shell could start a program named "
        "C:\\Apps\\My instead"}},
      {"C:\\Apps\\Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {2, ""}},
      {"C:\\Apps\\My Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Allow(Everyone, GenericWrite)})}},
       {1,
        "C:\\Apps is open to others: S-1-1-0 may change it (rights "
        "0x40000000), so an unquoted shell could start a program named "
        "C:\\Apps\\My instead"}},
      // Inherit-only, a subdirectory only, a deny entry: no file added.
      {"C:\\Apps\\My Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2, below)})}},
       {2, ""}},
      {"C:\\Apps\\My Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Allow(AuthenticatedUsers, 0x4)})}},
       {2, ""}},
      {"C:\\Apps\\My Dorvanix",
       {{"C:\\Apps", Sd(Administrators, {Deny(Everyone, 0x2)})}},
       {2, ""}},
      // At the root; two spaces in one name.
      {"C:\\My Apps\\Dorvanix",
       {{"C:\\", Sd(Administrators, {Allow(Users, 0x2)})}},
       {1,
        "C:\\ is open to others: S-1-5-32-545 may change it (rights "
        "0x00000002), so an unquoted shell could start a program named "
        "C:\\My instead"}},
      {"C:\\Apps\\A B C",
       {{"C:\\Apps", Sd(Administrators, {Allow(Everyone, 0x2)})}},
       {1,
        "C:\\Apps is open to others: S-1-1-0 may change it (rights "
        "0x00000002), so an unquoted shell could start a program named "
        "C:\\Apps\\A instead"}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(Utf16(row.Product), Safe(), Safe());
    for (const auto& [path, security] : row.Security)
      api.Objects[Utf16(path)].Security = security;
    const Answer got =
        Check(api, row.Product + "\\HANDBACK.EXE", row.Product + "\\Setup");
    ExpectAnswer(got, row.Want, row.Product);
  }
}

// A program already where an unquoted shell would look takes its place,
// whoever may add files there now: C:\Vendor.exe for C:\Vendor Name\...,
// C:\My.App itself, with its extension; never C:\Program Files.exe's
// directory namesake.
TEST(CheckTest, UnquotedSpacesWhereAProgramIsThere) {
  struct {
    std::string Product;  // the directory of HANDBACK.EXE
    std::string There;    // a file already there
    Expected Want;
  } const rows[] = {
      {"C:\\Vendor Name\\Prod",
       "C:\\Vendor.exe",
       {1,
        "C:\\Vendor.exe is there, so an unquoted shell would start it "
        "instead"}},
      {"C:\\My.App Dir\\Prod",
       "C:\\My.App",
       {1,
        "C:\\My.App is there, so an unquoted shell would start it "
        "instead"}},
      {"C:\\Vendor Name\\Prod", "C:\\Vendor", {2, ""}},
      {"C:\\Vendor Name\\Prod", "C:\\Vendor Name.exe", {2, ""}},
  };
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(Utf16(row.Product), Safe(), Safe());
    api.Objects[Utf16(row.There)] = {0x20, Safe()};
    const Answer got =
        Check(api, row.Product + "\\HANDBACK.EXE", row.Product + "\\Setup");
    ExpectAnswer(got, row.Want, row.Product + ", " + row.There);
  }
}

// Each directory a space leads to is judged once.
TEST(CheckTest, EachDirectoryBeforeASpaceOnce) {
  FakeCheckApi api;
  api.Install(u"C:\\Apps\\A B C", Safe(), Safe());
  Check(api, "C:\\Apps\\A B C\\HANDBACK.EXE", "C:\\Apps\\A B C\\Setup");
  EXPECT_EQ(std::count(api.Calls.begin(), api.Calls.end(),
                       "GetNamedSecurityInfoW(C:\\Apps, 1, 5)"),
            2);  // the directory above, then where C:\Apps\A and A B start
}

// Wide text throughout: a name whose code page 932 or 936 bytes hold 0x5C
// answers as an ASCII one.
TEST(CheckTest, DoubleBytePathsAnswerAsAsciiOnes) {
  for (const std::string name : {"Dorvanix", "Dorvanix表", "Dorvanix乗"}) {
    const std::string product = "C:\\" + name;
    for (const bool open : {false, true}) {
      FakeCheckApi api;
      api.Install(Utf16(product), Safe(), Safe());
      api.File(Utf16(product + "\\Setup\\VERSION.dll"),
               open ? Sd(OtherUser, {Allow(OtherUser, FullAccess)}) : Safe());
      const Answer got =
          Check(api, product + "\\HANDBACK.EXE", product + "\\Setup");
      ExpectAnswer(
          got,
          open ? Expected{0, product + "\\Setup\\VERSION.dll is open to "
                                       "others: its owner is "
                                       "S-1-5-21-1-2-3-1002"}
               : Expected{2, ""},
          name);
      EXPECT_EQ(got.Exe, product + "\\HANDBACK.EXE") << name;
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
    EXPECT_EQ(got.Exe, fits ? Exe : "") << chars;
    EXPECT_EQ(got.SetupDir, fits ? SetupDir : "") << chars;
    const std::string why = fits ? ""
                                 : "the full paths do not fit buffers of " +
                                       std::to_string(chars) + " characters";
    EXPECT_EQ(got.Reason, why.substr(0, chars - 1)) << chars;
  }
  FakeCheckApi api = InstalledProduct();
  EXPECT_EQ(Check(api, "HANDBACK.EXE", "Setup", 8).Reason, "HANDBAC");
}

TEST(CheckTest, MissingBuffersOrTextsGetADefinedAnswer) {
  const std::u16string exe = Utf16(Exe), setup = Utf16(SetupDir);
  char16_t a[64], b[64], c[64];
  const auto reset = [&] {
    for (char16_t* buffer : {a, b, c}) std::fill(buffer, buffer + 64, u'#');
  };
  struct {
    const char* What;
    const char16_t *Exe, *SetupDir;
    char16_t *FullExe, *FullSetupDir, *Reason;
    unsigned Chars;
    std::string Why;  // in `c`, where it is given
  } const rows[] = {
      {"no room", exe.c_str(), setup.c_str(), a, b, c, 0, "#"},
      {"no full path buffer", exe.c_str(), setup.c_str(), nullptr, b, c, 64,
       "a buffer for the answer is missing"},
      {"no setup buffer", exe.c_str(), setup.c_str(), a, nullptr, c, 64,
       "a buffer for the answer is missing"},
      {"no reason buffer", exe.c_str(), setup.c_str(), a, b, nullptr, 64, "#"},
      {"no exe", nullptr, setup.c_str(), a, b, c, 64,
       "no path was given for HANDBACK.EXE"},
      {"no setup directory", exe.c_str(), nullptr, a, b, c, 64,
       "no path was given for the setup directory"},
  };
  for (const auto& row : rows) {
    reset();
    FakeCheckApi api = InstalledProduct();
    EXPECT_EQ(check::HandBackCheckWith(api, row.Exe, row.SetupDir, row.FullExe,
                                       row.FullSetupDir, row.Reason, row.Chars),
              0)
        << row.What;
    const std::u16string reason(c, std::find(c, c + 64, u'\0') - c);
    EXPECT_EQ(Utf8(reason.substr(0, row.Why == "#" ? 1 : reason.size())),
              row.Why)
        << row.What;
    EXPECT_EQ(api.Unreleased(), "") << row.What;
    if (row.Exe != nullptr && row.SetupDir != nullptr) {
      EXPECT_EQ(api.Calls, Calls{}) << row.What;
    }
  }
}

// The whole sequence for a product in one directory: sizes, order, and each
// descriptor, search and token released.
TEST(CheckTest, CallsInOrder) {
  FakeCheckApi api;
  api.Install(u"C:\\D", Safe(), Safe());
  api.Objects.erase(u"C:\\D\\Setup");
  api.Objects.erase(u"C:\\D\\Setup\\SETUP.EXE");
  api.File(u"C:\\D\\SETUP.EXE", Safe());
  const Answer got = Check(api, "C:\\D\\HANDBACK.EXE", "c:\\d");
  EXPECT_EQ(got.Way, 2) << got.Reason;
  Calls expected = {
      "GetFullPathNameW(C:\\D\\HANDBACK.EXE, 1024)",
      "GetFullPathNameW(c:\\d, 1024)",
      "GetDriveTypeW(C:\\)",
      "QueryDosDeviceW(C:, 1024)",
      "GetFileAttributesW(C:\\D\\HANDBACK.EXE)",
      "GetFileAttributesW(C:\\D)",
      "GetFileAttributesW(C:\\)",
      "GetFileAttributesW(c:\\d\\SETUP.EXE)",
      "GetCurrentProcess()",
      "OpenProcessToken(process, 8)",
      "GetTokenInformation(token, 1, 256)",
      "CloseHandle(token)",
  };
  for (const char* path :
       {"C:\\D\\HANDBACK.EXE", "C:\\D", "C:\\", "c:\\d\\SETUP.EXE"})
    expected.insert(
        expected.end(),
        {std::string("GetNamedSecurityInfoW(") + path + ", 1, 5)",
         "GetSecurityDescriptorLength(descriptor)", "LocalFree(descriptor)"});
  expected.insert(
      expected.end(),
      {"FindFirstFileW(C:\\D\\*)", "FindNextFileW(search)",
       "FindNextFileW(search)", "FindNextFileW(search)",
       "FindNextFileW(search)", "GetLastError()", "FindClose(search)"});
  for (const char* path : {"C:\\D\\HANDBACK.EXE", "C:\\D\\SETUP.EXE"})
    expected.insert(
        expected.end(),
        {std::string("GetFileAttributesW(") + path + ")",
         std::string("GetNamedSecurityInfoW(") + path + ", 1, 5)",
         "GetSecurityDescriptorLength(descriptor)", "LocalFree(descriptor)"});
  EXPECT_EQ(api.Calls, expected);
}

}  // namespace
