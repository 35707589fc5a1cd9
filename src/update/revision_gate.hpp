// The firmware revision gate: which identified drives may receive the image.
#pragma once

#include <array>
#include <string_view>

#include "core/disk_info.hpp"

namespace zev {

inline constexpr std::array<std::wstring_view, 8> acceptedRevisions{
    L"KTW1LMZB", L"KTW2LMZB", L"KTW3LMZB", L"KTW4LMZB",
    L"KTW5LMZB", L"KTW6LMZB", L"KTW7LMZB", L"KTW8LMZB"};

// True when a drive of this revision may receive the image.
bool revisionAccepted(std::wstring_view revision);

// Appends to updateList a copy of every identified record whose revision is
// accepted; returns 1.
int selectUpdateDisks(const DiskList& identified, DiskList& updateList);

}  // namespace zev
