// libFuzzer's entry; FUZZ_ENTRY names the fuzzed function of fuzz_entries.h.
#include "tests/fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::FUZZ_ENTRY(data, size);
}
