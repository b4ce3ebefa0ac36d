// Who may change what the next logon starts: the rule on owners and DACLs,
// on descriptors Wine cannot lay out on a real file.
#include <gtest/gtest.h>

#include "CheckRun.h"

namespace {

using namespace fake;

// An entry of another type than allow or deny: its type and flags, and the
// bytes between mask and SID (an object entry's flags word).
Ace Other(uint8_t type, uint8_t flags, Bytes body = {}) {
  return {type, flags, FullAccess, Everyone, std::move(body)};
}
const Bytes NoGuids(4, 0);

// Strict: the directory holding HANDBACK.EXE; loose: the one above it. The
// row's descriptor goes on that directory; every other object is safe.
struct Row {
  bool Strict;
  Descriptor Security;
  Text Why;  // "" where only the trusted may change it
  winservices::Dword Version = Windows7;
};

void ExpectRows(const std::vector<Row>& rows) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    FakeCheckApi api;
    api.Install(u"C:\\Apps\\Dorvanix", Safe(), Safe());
    api.Version = row.Version;
    const Text target = row.Strict ? u"C:\\Apps\\Dorvanix" : u"C:\\Apps";
    api.Objects[target].Security = row.Security;
    const Answer got = Check(api, u"C:\\Apps\\Dorvanix\\HANDBACK.EXE",
                             u"C:\\Apps\\Dorvanix\\Setup");
    if (row.Why.empty()) {
      EXPECT_EQ(got.Way, check::HandBack)
          << "row " << i << ": " << testing::PrintToString(got.Reason);
      EXPECT_EQ(got.Reason, u"") << "row " << i;
    } else {
      EXPECT_EQ(got.Way, check::None) << "row " << i;
      EXPECT_EQ(got.Reason, target + u" is open to others: " + row.Why)
          << "row " << i;
    }
  }
}

// The include files' rows, each carried over.
TEST(CheckSecurityTest, TodaysRulesHold) {
  ExpectRows({
      // Adding to a directory above is harmless; to its own, not.
      {true, Sd(u"S-1-5-32-544", {Allow(Everyone, 0x6)}),
       u"S-1-1-0 may change it (rights 0x00000006)"},
      {false, Sd(Administrators, {Allow(Everyone, 0x6)}), u""},
      {true, Sd(Administrators, {Allow(Everyone, GenericWrite)}),
       u"S-1-1-0 may change it (rights 0x40000000)"},
      {false, Sd(Administrators, {Allow(Everyone, GenericWrite)}), u""},
      // Replacing what the path names, or its security, counts everywhere.
      {false, Sd(Administrators, {Allow(AuthenticatedUsers, 0x40)}),
       u"S-1-5-11 may change it (rights 0x00000040)"},
      {false, Sd(Administrators, {Allow(Users, 0x10000)}),
       u"S-1-5-32-545 may change it (rights 0x00010000)"},
      {false, Sd(Administrators, {Allow(Users, 0x40000)}),
       u"S-1-5-32-545 may change it (rights 0x00040000)"},
      {false, Sd(Administrators, {Allow(Users, 0x80000)}),
       u"S-1-5-32-545 may change it (rights 0x00080000)"},
      {false, Sd(Administrators, {Allow(Everyone, GenericAll)}),
       u"S-1-1-0 may change it (rights 0x10000000)"},
      {false, Sd(Administrators, {Allow(AuthenticatedUsers, 0x1301BF)}),
       u"S-1-5-11 may change it (rights 0x001301BF)"},
      // Reading, running, attributes: no change to what runs.
      {true, Sd(Administrators, {Allow(Everyone, 0x1201A9)}), u""},
      // Only entries about the object itself count; deny entries never help.
      {true,
       Sd(Administrators,
          {Allow(Everyone, FullAccess,
                 ObjectInherit | ContainerInherit | InheritOnly)}),
       u""},
      {true,
       Sd(Administrators,
          {Deny(Everyone, FullAccess), Allow(System, FullAccess)}),
       u""},
      {true,
       Sd(Administrators,
          {Deny(Everyone, FullAccess), Allow(Everyone, FullAccess)}),
       u"S-1-1-0 may change it (rights 0x001F01FF)"},
      // Trusted principals, as entries and as owners.
      {true,
       Sd(System, {Allow(System, FullAccess), Allow(Administrators, FullAccess),
                   Allow(CreatorOwner, FullAccess),
                   Allow(TrustedInstaller, FullAccess)}),
       u""},
      {true, Sd(TrustedInstaller, {Allow(System, FullAccess)}), u""},
      // Power Users, before Windows Vista only.
      {true, Sd(System, {Allow(PowerUsers, FullAccess)}), u"", WindowsXp},
      {true, Sd(PowerUsers, {Allow(System, FullAccess)}), u"", WindowsXp},
      {true, Sd(System, {Allow(PowerUsers, Modify)}),
       u"S-1-5-32-547 may change it (rights 0x001301BF)", WindowsVista},
      {false, Sd(PowerUsers, {Allow(System, FullAccess)}),
       u"its owner is S-1-5-32-547"},
      {false, Sd(Users, {Allow(System, FullAccess)}),
       u"its owner is S-1-5-32-545"},
      {true, Sd(std::nullopt, {Allow(System, FullAccess)}), u"it has no owner"},
      {false, Sd(Administrators, std::optional<Bytes>{}),
       u"it has no DACL, so anyone may change it"},
      // Entries Wine's SDDL does not make: an allowing entry not understood
      // counts (an object entry; a callback entry); the denying forms and
      // anything inherit-only do not.
      {false, Sd(Administrators, {Other(5, 0, NoGuids)}),
       u"it has an entry of type 0x05 that is not understood"},
      {false, Sd(Administrators, {Other(9, 0)}),
       u"it has an entry of type 0x09 that is not understood"},
      {true,
       Sd(Administrators,
          {Other(6, 0, NoGuids), Other(10, 0), Other(12, 0, NoGuids),
           Other(5, ObjectInherit | ContainerInherit | InheritOnly, NoGuids)}),
       u""},
      {true,
       Sd(Administrators,
          {Allow(Everyone, 0x1200A9), Allow(Everyone, 0x2, Inherited)}),
       u"S-1-1-0 may change it (rights 0x00000002)"},
  });
}

// What Wine cannot lay out: its descriptors follow the Unix mode.
TEST(CheckSecurityTest, DescriptorsWineCannotLayOut) {
  ExpectRows({
      // Add a file only, or a subdirectory only.
      {true, Sd(Administrators, {Allow(Everyone, 0x2)}),
       u"S-1-1-0 may change it (rights 0x00000002)"},
      {false, Sd(Administrators, {Allow(Everyone, 0x2)}), u""},
      {true, Sd(Administrators, {Allow(AuthenticatedUsers, 0x4)}),
       u"S-1-5-11 may change it (rights 0x00000004)"},
      {false, Sd(Administrators, {Allow(AuthenticatedUsers, 0x4)}), u""},
      // A deny entry in any order leaves the allowing one counted.
      {true, Sd(Administrators, {Allow(Users, 0x2), Deny(Users, FullAccess)}),
       u"S-1-5-32-545 may change it (rights 0x00000002)"},
      {true, Sd(Administrators, {Deny(Users, 0x2), Allow(Users, 0x2)}),
       u"S-1-5-32-545 may change it (rights 0x00000002)"},
      {true,
       Sd(Administrators,
          {Other(12, 0, NoGuids), Allow(Users, 0x2), Other(10, 0)}),
       u"S-1-5-32-545 may change it (rights 0x00000002)"},
      // OWNER RIGHTS stands for the owner, who is trusted.
      {true,
       Sd(Administrators,
          {Allow(OwnerRights, FullAccess), Allow(System, FullAccess)}),
       u""},
      {false, Sd(OtherUser, {Allow(OwnerRights, FullAccess)}),
       u"its owner is S-1-5-21-1-2-3-1002"},
      // Inherit-only entries are about what is made inside, not this.
      {true,
       Sd(Administrators,
          {Allow(Everyone, GenericAll, ContainerInherit | InheritOnly)}),
       u""},
      // Object and callback forms of an allowing entry are not understood,
      // even with no right that counts; inherit-only they do not matter.
      {true, Sd(Administrators, {Other(11, 0, NoGuids)}),
       u"it has an entry of type 0x0B that is not understood"},
      {false, Sd(Administrators, {Other(4, 0)}),
       u"it has an entry of type 0x04 that is not understood"},
      {true, Sd(Administrators, {Other(9, InheritOnly)}), u""},
      // Generic rights: write and all count, read and execute do not.
      {true, Sd(Administrators, {Allow(Users, GenericWrite)}),
       u"S-1-5-32-545 may change it (rights 0x40000000)"},
      {true, Sd(Administrators, {Allow(Users, GenericReadExecute)}), u""},
      {false, Sd(Administrators, {Allow(Users, GenericAll | 0x1200A9)}),
       u"S-1-5-32-545 may change it (rights 0x101200A9)"},
      // The installing user is trusted, another is not.
      {true, Sd(InstallingUser, {Allow(InstallingUser, FullAccess)}), u""},
      {true, Sd(Administrators, {Allow(OtherUser, 0x40000)}),
       u"S-1-5-21-1-2-3-1002 may change it (rights 0x00040000)"},
      // An empty DACL lets no one in.
      {true, Sd(Administrators, std::vector<Ace>{}), u""},
      // What Wine gives a directory of the installing user.
      {true, WineDefault(), u""},
  });
}

// Bytes that are not a well-formed ACL: read no further than they go.
TEST(CheckSecurityTest, MalformedDaclsAreOpen) {
  const auto with = [](Bytes acl, std::size_t at, uint8_t byte) {
    acl[at] = byte;
    return acl;
  };
  const Bytes one = AclBytes({Allow(System, FullAccess)});
  const Bytes two = AclBytes({Allow(System, FullAccess), Allow(Users, 0x2)});
  ExpectRows({
      // AclSize beyond the descriptor, below its header.
      {false, Sd(Administrators, with(one, 3, 0x7F)),
       u"its DACL cannot be read"},
      {false, Sd(Administrators, with(one, 2, 7)), u"its DACL cannot be read"},
      {false, Sd(Administrators, Bytes{2, 0, 8, 0}),
       u"its DACL cannot be read"},
      // More entries than the ACL holds.
      {false, Sd(Administrators, with(one, 4, 2)),
       u"its entry 1 cannot be read"},
      // AceSize of zero, or past the ACL.
      {false, Sd(Administrators, with(one, 10, 0)),
       u"its entry 0 cannot be read"},
      {false, Sd(Administrators, with(two, 10, 0x40)),
       u"its entry 0 cannot be read"},
      // An allowing entry too short for its mask.
      {false, Sd(Administrators, with(with(one, 10, 4), 2, 12)),
       u"its entry 0 cannot be read"},
      // A SID whose count runs past its entry, or of another revision.
      {true, Sd(Administrators, with(two, 8 + 20 + 9, 5)),
       u"? may change it (rights 0x00000002)"},
      {true, Sd(Administrators, with(two, 8 + 20 + 8, 2)),
       u"? may change it (rights 0x00000002)"},
  });
}

TEST(CheckSecurityTest, SidsAreWrittenAsWindowsWritesThem) {
  struct {
    Bytes Sid;
    Text Written;
  } const rows[] = {
      {Sid(Everyone), Everyone},
      {Sid(TrustedInstaller), TrustedInstaller},
      {Sid(u"S-1-0x123456789ABC-7"), u"S-1-0x123456789ABC-7"},
      {Sid(u"S-1-4294967295-4294967295"), u"S-1-4294967295-4294967295"},
      {Sid(u"S-1-5"), u"S-1-5"},
      {Bytes{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0}, u"?"},  // one byte short
      {Bytes{2, 0, 0, 0, 0, 0, 0, 5}, u"?"},            // revision 2
      {Bytes(8 + 4 * 16, 0), u"?"},                     // revision 0
      {Bytes{1, 0, 0, 0, 0, 0, 0}, u"?"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(check::SidText(row.Sid.data(), row.Sid.size()), row.Written)
        << testing::PrintToString(row.Written);
  Bytes sixteen = Sid(u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15");
  EXPECT_EQ(check::SidText(sixteen.data(), sixteen.size()),
            u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15");
  sixteen[1] = 16;  // more than a SID may have
  sixteen.resize(sixteen.size() + 4);
  EXPECT_EQ(check::SidText(sixteen.data(), sixteen.size()), u"?");
}

// The owner and DACL must lie inside the descriptor Windows gave.
TEST(CheckSecurityTest, PointersOutsideTheDescriptorAreNotRead) {
  const Descriptor d = Sd(Administrators, {Allow(System, FullAccess)});
  const uint8_t* start = d.Data.data();
  const auto before =
      reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(start) - 1);
  // The owner after the DACL, so that the descriptor can end inside it.
  Descriptor ownerLast = Sd(std::nullopt, {Allow(System, FullAccess)});
  ownerLast.Owner = ownerLast.Data.size();
  const Bytes owner = Sid(Administrators);
  ownerLast.Data.insert(ownerLast.Data.end(), owner.begin(), owner.end());
  const uint8_t* last = ownerLast.Data.data();
  const check::Trustees trust;
  struct {
    const uint8_t* Start;
    const void* Owner;
    const void* Dacl;
    std::size_t Size;
    Text Why;
  } const rows[] = {
      {start, start + *d.Owner, start + *d.Dacl, d.Data.size(), u""},
      {start, start + d.Data.size(), start + *d.Dacl, d.Data.size(),
       u"its descriptor cannot be read"},
      {start, start + *d.Owner, before, d.Data.size(),
       u"its descriptor cannot be read"},
      {start, start + *d.Owner, start + *d.Dacl, *d.Dacl,
       u"its descriptor cannot be read"},
      {start, start + *d.Owner, start + *d.Dacl, *d.Dacl + 7,
       u"its DACL cannot be read"},
      {last, last + *ownerLast.Owner, last + *ownerLast.Dacl,
       ownerLast.Data.size(), u""},
      {last, last + *ownerLast.Owner, last + *ownerLast.Dacl,
       *ownerLast.Owner + 15, u"its owner is ?"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(check::DescriptorOpen(row.Start, row.Size, row.Owner, row.Dacl,
                                    check::StrictRights, trust),
              row.Why)
        << testing::PrintToString(row.Why);
}

// The installing user comes from the process token; where it cannot be read
// no user is trusted but the listed principals.
TEST(CheckSecurityTest, TheInstallingUserFromTheToken) {
  struct {
    const char* What;
    Text User;
    winservices::Bool TokenResult;
    bool SidOutside;
    int Way;
  } const rows[] = {
      {"read", InstallingUser, 1, false, check::HandBack},
      {"no token", InstallingUser, 0, false, check::None},
      {"no user", u"", 1, false, check::None},
      {"SID outside TOKEN_USER", InstallingUser, 1, true, check::None},
  };
  for (const auto& row : rows) {
    FakeCheckApi api;
    api.Install(u"C:\\Dorvanix", WineDefault(), WineDefault());
    api.User = row.User;
    api.TokenResult = row.TokenResult;
    api.TokenSidOutside = row.SidOutside;
    const Answer got =
        Check(api, u"C:\\Dorvanix\\HANDBACK.EXE", u"C:\\Dorvanix\\Setup");
    EXPECT_EQ(got.Way, row.Way) << row.What;
    if (row.Way == check::None) {
      EXPECT_EQ(got.Reason,
                u"C:\\Dorvanix\\HANDBACK.EXE is open to others: its owner is "
                u"S-1-5-21-1-2-3-1001")
          << row.What;
    }
  }
}

}  // namespace
