// libFuzzer entry for zevFuzzVrocLists.
#include "fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zevFuzzVrocLists(data, size);
}
