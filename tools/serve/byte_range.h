// The Range header of a GET, applied to a file of known size.
//
// Policy: a single range "bytes=N-", "bytes=N-M" or "bytes=-N" is honoured (206); a range that
// starts at or beyond the end is unsatisfiable (416 with "bytes */size"); a header that is
// malformed or asks for several ranges is ignored and the whole file is sent (200), which a
// server may always do.
#pragma once

#include <cstdint>
#include <string>

namespace serve {

struct RangeAnswer {
  enum class Kind { kWhole, kPartial, kUnsatisfiable };
  Kind kind = Kind::kWhole;
  std::uint64_t first = 0;   // first byte sent
  std::uint64_t length = 0;  // bytes sent
};

// `header` is the Range header's value, empty when the request had none.
RangeAnswer AnswerRange(const std::string& header, std::uint64_t size);

// "bytes first-last/size" for a partial answer, "bytes */size" for an unsatisfiable one.
std::string ContentRangeValue(const RangeAnswer& answer, std::uint64_t size);

}  // namespace serve
