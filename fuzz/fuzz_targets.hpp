// The fuzz entry functions. Each libFuzzer program calls one of them from its
// LLVMFuzzerTestOneInput; the seed replay test calls them all on the committed
// seeds. Each returns 0; a broken invariant goes to invariantBroken
// (fuzz_machine.hpp), which aborts unless the replay has installed its handler.
#pragma once

#include <cstddef>
#include <cstdint>

int zevFuzzIdentifyText(const std::uint8_t* data, std::size_t size);
int zevFuzzCsmiReply(const std::uint8_t* data, std::size_t size);
int zevFuzzVrocLists(const std::uint8_t* data, std::size_t size);
int zevFuzzInboxUpdate(const std::uint8_t* data, std::size_t size);
int zevFuzzIntelUpdate(const std::uint8_t* data, std::size_t size);
int zevFuzzPackageMain(const std::uint8_t* data, std::size_t size);
