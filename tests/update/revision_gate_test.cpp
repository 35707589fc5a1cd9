// The revision gate: exact comparison with the accepted table, then the
// family character against the image's revision.
#include "update/revision_gate.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/firmware_image.hpp"

namespace zev {
namespace {

class RevisionGate : public ::testing::Test {
 protected:
  std::wstring imageRevision = buildPackageIdentity().imageRevision;
};

DiskInfo withRevision(std::wstring revision, DriverKind kind = DriverKind::Inbox) {
  DiskInfo disk;
  disk.driverKind = kind;
  disk.devicePath = L"\\\\.\\PHYSICALDRIVE0";
  disk.modelNumber = L"KELDORA TQ270c 1TB";
  disk.serialNumber = L"SN";
  disk.firmwareRevision = std::move(revision);
  return disk;
}

struct GateCase {
  std::wstring revision;
  bool selected;
};

TEST_F(RevisionGate, ComparesTheWholeRevisionExactly) {
  const std::vector<GateCase> cases = {
      {L"KTW1LMZB", true},
      {L"KTW3LMZB", true},
      {L"KTW7LMZB", true},
      {L"KTW8LMZB", true},  // the image's own revision is updated again
      {L"KTW9LMZB", false},
      {L"KTW0LMZB", false},
      {L"KTW3LMZA", false},
      {L"ktw3lmzb", false},
      {L"KTW3LMZB ", false},
      {L" KTW3LMZB", false},
      {L"KTW3LMZ", false},
      {L"", false},
      {std::wstring(L"KTW3LMZB\0", 9), false},
      {std::wstring(L"KTW3\0\0\0\0", 8), false},
      {L"KTW3LMZBKTW3LMZB", false},
  };
  for (const GateCase& c : cases) {
    DiskList updateList;
    EXPECT_EQ(selectUpdateDisks({withRevision(c.revision)}, imageRevision, updateList),
              (c.selected ? std::vector<std::size_t>{0} : std::vector<std::size_t>{}));
    EXPECT_EQ(updateList.size(), c.selected ? 1u : 0u)
        << std::string(c.revision.begin(), c.revision.end());
  }
}

TEST_F(RevisionGate, CodeUnitsAboveAsciiDoNotMatchByLowByte) {
  // 0x14B narrows to 'K' (0x4B) but is another code unit.
  std::wstring revision = L"KTW3LMZB";
  revision[0] = static_cast<wchar_t>(0x14B);
  DiskList updateList;
  selectUpdateDisks({withRevision(revision)}, imageRevision, updateList);
  EXPECT_TRUE(updateList.empty());
}

TEST_F(RevisionGate, FamilyCharacterComesFromTheImage) {
  // An image of another family (index 5 'X') accepts no table row.
  imageRevision = L"KTW8LXZB";
  DiskList updateList;
  selectUpdateDisks({withRevision(L"KTW3LMZB")}, imageRevision, updateList);
  EXPECT_TRUE(updateList.empty());
  // An image revision too short to have a family character accepts nothing.
  imageRevision = L"KTW8L";
  selectUpdateDisks({withRevision(L"KTW3LMZB")}, imageRevision, updateList);
  EXPECT_TRUE(updateList.empty());
  // Only index 5 counts: other characters of the image's revision may differ.
  imageRevision = L"XXXXXMXX";
  selectUpdateDisks({withRevision(L"KTW3LMZB")}, imageRevision, updateList);
  EXPECT_EQ(updateList.size(), 1u);
}

TEST_F(RevisionGate, KeepsOrderKindsDuplicatesAndEveryField) {
  DiskInfo inbox = withRevision(L"KTW2LMZB", DriverKind::Inbox);
  inbox.updateGranularity = 8;
  DiskInfo vroc = withRevision(L"KTW5LMZB", DriverKind::VrocRaid);
  vroc.vrocDiskId = 7;
  vroc.modelNumber = L"OTHER MAKER SSD";
  DiskInfo irst = withRevision(L"KTW6LMZB", DriverKind::IrstRaid);
  irst.pathId = 3;
  const DiskList identified = {inbox, withRevision(L"KTW9LMZB"), vroc, irst, inbox};
  DiskList updateList = {withRevision(L"already there")};
  EXPECT_EQ(selectUpdateDisks(identified, imageRevision, updateList),
            (std::vector<std::size_t>{0, 2, 3, 4}));
  ASSERT_EQ(updateList.size(), 5u);
  EXPECT_EQ(updateList[0].firmwareRevision, L"already there");
  EXPECT_EQ(updateList[1].driverKind, DriverKind::Inbox);
  EXPECT_EQ(updateList[1].updateGranularity, 8);
  EXPECT_EQ(updateList[2].driverKind, DriverKind::VrocRaid);
  EXPECT_EQ(updateList[2].vrocDiskId, 7u);
  EXPECT_EQ(updateList[2].modelNumber, L"OTHER MAKER SSD");
  EXPECT_EQ(updateList[3].driverKind, DriverKind::IrstRaid);
  EXPECT_EQ(updateList[3].pathId, 3);
  EXPECT_EQ(updateList[4].firmwareRevision, L"KTW2LMZB");
}

TEST_F(RevisionGate, NothingAcceptedLeavesTheListEmpty) {
  DiskList updateList;
  EXPECT_TRUE(
      selectUpdateDisks({withRevision(L"ABCDEFGH"), withRevision(L"")}, imageRevision, updateList)
          .empty());
  EXPECT_TRUE(updateList.empty());
  EXPECT_TRUE(selectUpdateDisks({}, imageRevision, updateList).empty());
  EXPECT_TRUE(updateList.empty());
}

}  // namespace
}  // namespace zev
