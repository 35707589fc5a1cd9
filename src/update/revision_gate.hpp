// The firmware revision gate: which identified drives may receive the image.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "core/disk_info.hpp"

namespace zev {

inline constexpr std::array<std::wstring_view, 8> acceptedRevisions{
    L"KTW1LMZB", L"KTW2LMZB", L"KTW3LMZB", L"KTW4LMZB",
    L"KTW5LMZB", L"KTW6LMZB", L"KTW7LMZB", L"KTW8LMZB"};

// True when a drive of this revision may receive an image of imageRevision.
bool revisionAccepted(std::wstring_view revision, std::wstring_view imageRevision);

// Appends to updateList a copy of every identified record whose revision is
// accepted; returns where each appended record stands in identified.
std::vector<std::size_t> selectUpdateDisks(const DiskList& identified,
                                           std::wstring_view imageRevision, DiskList& updateList);

}  // namespace zev
