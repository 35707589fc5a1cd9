// The firmware revision gate: a drive may receive the image when its revision
// equals a row of acceptedRevisions exactly (8 code units, case-sensitive, no
// trimming) and its family character (index 5) is the image's.
#include "update/revision_gate.hpp"

#include <algorithm>
#include <string_view>

namespace zev {

namespace {

constexpr std::size_t kFamilyCharacterIndex = 5;

}  // namespace

bool revisionAccepted(std::wstring_view revision, std::wstring_view imageRevision) {
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

std::vector<std::size_t> selectUpdateDisks(const DiskList& identified,
                                           std::wstring_view imageRevision, DiskList& updateList) {
  std::vector<std::size_t> selected;
  for (std::size_t i = 0; i < identified.size(); ++i) {
    if (revisionAccepted(identified[i].firmwareRevision, imageRevision)) {
      updateList.push_back(identified[i]);
      selected.push_back(i);
    }
  }
  return selected;
}

}  // namespace zev
