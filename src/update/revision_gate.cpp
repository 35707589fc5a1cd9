// The firmware revision gate: a drive may receive the image when its revision
// equals a row of acceptedRevisions exactly (8 code units, case-sensitive, no
// trimming) and its family character (index 5) is the image's.
#include "update/revision_gate.hpp"

#include <algorithm>
#include <string_view>

#include "core/firmware_image.hpp"

namespace zev {

namespace {

constexpr std::size_t kFamilyCharacterIndex = 5;

}  // namespace

bool revisionAccepted(std::wstring_view revision) {
  const bool inTable = std::find(acceptedRevisions.begin(), acceptedRevisions.end(), revision) !=
                       acceptedRevisions.end();
  if (!inTable) {
    return false;
  }
  // Every table row has 8 characters, so revision has one at index 5; the
  // image's revision may not when it was never read.
  return imageRevision.size() > kFamilyCharacterIndex &&
         revision[kFamilyCharacterIndex] == imageRevision[kFamilyCharacterIndex];
}

int selectUpdateDisks(const DiskList& identified, DiskList& updateList) {
  for (const DiskInfo& disk : identified) {
    if (revisionAccepted(disk.firmwareRevision)) {
      updateList.push_back(disk);
    }
  }
  return 1;
}

}  // namespace zev
