// Owners and DACLs read byte by byte, each length checked against what holds
// it, so that no descriptor Windows (or the fuzzer) hands over is read past.
#include <cstring>

#include "Check.h"

namespace check {

namespace {

constexpr uint8_t InheritOnly = 0x08;  // INHERIT_ONLY_ACE
constexpr uint8_t AccessAllowed = 0;
constexpr std::size_t AclHeaderSize = 8;
constexpr std::size_t AceHeaderSize = 4;
constexpr std::size_t AllowedSidOffset = 8;  // after the header and the mask
constexpr unsigned MaxSubAuthorities = 15;   // SID_MAX_SUB_AUTHORITIES

const char16_t* const TrustedSids[] = {
    u"S-1-5-18",      // SYSTEM
    u"S-1-5-32-544",  // Administrators
    u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    // TrustedInstaller
    u"S-1-3-0",  // CREATOR OWNER
    u"S-1-3-4",  // OWNER RIGHTS: the owner, who must be trusted anyway
};
// Windows XP gives Power Users Modify on Program Files, and documents them
// as able to become administrators; from Vista on they are not.
constexpr char16_t PowerUsers[] = u"S-1-5-32-547";

uint16_t Word16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }
uint32_t Dword32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 |
         uint32_t(at[3]) << 24;
}

// Where `pointer` lies in [start, start + size): its offset, or size.
std::size_t OffsetIn(const uint8_t* start, std::size_t size,
                     const void* pointer) {
  const auto from = reinterpret_cast<uintptr_t>(start);
  const auto at = reinterpret_cast<uintptr_t>(pointer);
  return at >= from && at - from < size ? at - from : size;
}

// Why the ACL of `size` bytes lets someone untrusted change the object, or
// "".
Text AclOpen(const uint8_t* acl, std::size_t size, Dword rights,
             const Trustees& trust) {
  if (size < AclHeaderSize) return u"its DACL cannot be read";
  const std::size_t aclSize = Word16(acl + 2);
  const unsigned count = Word16(acl + 4);
  if (aclSize < AclHeaderSize || aclSize > size)
    return u"its DACL cannot be read";
  std::size_t at = AclHeaderSize;
  for (unsigned index = 0; index < count; ++index) {
    const auto unreadable = [index] {
      return u"its entry " + Decimal(index) + u" cannot be read";
    };
    if (aclSize - at < AceHeaderSize) return unreadable();
    const uint8_t* ace = acl + at;
    const uint8_t type = ace[0], flags = ace[1];
    const std::size_t aceSize = Word16(ace + 2);
    if (aceSize < AceHeaderSize || aceSize > aclSize - at) return unreadable();
    at += aceSize;
    if ((flags & InheritOnly) != 0) continue;  // not about the object itself
    // ACCESS_DENIED_ACE_TYPE, its object and callback forms: a deny entry
    // never makes an object safer for this rule, so it is ignored.
    if (type == 1 || type == 6 || type == 10 || type == 12) continue;
    if (type != AccessAllowed)
      return u"it has an entry of type " + Hex(type, 2) +
             u" that is not understood";
    if (aceSize < AllowedSidOffset) return unreadable();
    const Dword mask = Dword32(ace + 4);
    const Text sid =
        SidText(ace + AllowedSidOffset, aceSize - AllowedSidOffset);
    if ((mask & rights) != 0 && !Trusted(sid, trust))
      return sid + u" may change it (rights " + Hex(mask, 8) + u")";
  }
  return u"";
}

}  // namespace

Text Decimal(uint64_t value) {
  Text digits;
  do {
    digits.insert(digits.begin(), static_cast<Wchar>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

Text Hex(uint64_t value, int digits) {
  Text text(static_cast<std::size_t>(digits), u'0');
  for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = u"0123456789ABCDEF"[value & 0xF];
  return u"0x" + text;
}

Text SidText(const uint8_t* sid, std::size_t size) {
  // Revision, sub-authority count, 6-byte authority (big-endian), then the
  // sub-authorities (little-endian).
  if (size < 8 || sid[0] != 1 || sid[1] > MaxSubAuthorities ||
      size < 8 + 4 * std::size_t{sid[1]})
    return u"?";
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
  // Windows writes an authority of more than 32 bits in hexadecimal.
  Text text = u"S-1-" +
              (authority >> 32 != 0 ? Hex(authority, 12) : Decimal(authority));
  for (unsigned i = 0; i < sid[1]; ++i)
    text += u"-" + Decimal(Dword32(sid + 8 + 4 * i));
  return text;
}

bool Trusted(const Text& sid, const Trustees& trust) {
  for (const char16_t* trusted : TrustedSids)
    if (sid == trusted) return true;
  if (trust.PowerUsers && sid == PowerUsers) return true;
  return !trust.User.empty() && sid == trust.User;
}

Text DescriptorOpen(const uint8_t* start, std::size_t size, const void* owner,
                    const void* dacl, Dword rights, const Trustees& trust) {
  if (owner == nullptr) return u"it has no owner";
  if (dacl == nullptr) return u"it has no DACL, so anyone may change it";
  const std::size_t ownerAt = OffsetIn(start, size, owner);
  const std::size_t daclAt = OffsetIn(start, size, dacl);
  if (ownerAt == size || daclAt == size)
    return u"its descriptor cannot be read";
  const Text ownerSid = SidText(start + ownerAt, size - ownerAt);
  if (!Trusted(ownerSid, trust)) return u"its owner is " + ownerSid;
  return AclOpen(start + daclAt, size - daclAt, rights, trust);
}

}  // namespace check
