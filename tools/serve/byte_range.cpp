#include "tools/serve/byte_range.h"

#include <charconv>
#include <optional>

namespace serve {
namespace {

constexpr std::string_view kUnit = "bytes=";

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

RangeAnswer Whole(std::uint64_t size) { return {RangeAnswer::Kind::kWhole, 0, size}; }
RangeAnswer Unsatisfiable() { return {RangeAnswer::Kind::kUnsatisfiable, 0, 0}; }

}  // namespace

RangeAnswer AnswerRange(const std::string& header, std::uint64_t size) {
  std::string_view rangeSet(header);
  if (rangeSet.substr(0, kUnit.size()) != kUnit) return Whole(size);
  rangeSet.remove_prefix(kUnit.size());
  if (rangeSet.find(',') != std::string_view::npos) return Whole(size);
  const auto dash = rangeSet.find('-');
  if (dash == std::string_view::npos) return Whole(size);
  const std::string_view firstText = rangeSet.substr(0, dash);
  const std::string_view lastText = rangeSet.substr(dash + 1);

  if (firstText.empty()) {  // suffix range: the last N bytes
    const auto suffix = ParseNumber(lastText);
    if (!suffix) return Whole(size);
    if (*suffix == 0 || size == 0) return Unsatisfiable();
    const std::uint64_t length = *suffix < size ? *suffix : size;
    return {RangeAnswer::Kind::kPartial, size - length, length};
  }
  const auto first = ParseNumber(firstText);
  if (!first) return Whole(size);
  std::uint64_t last = size == 0 ? 0 : size - 1;
  if (!lastText.empty()) {
    const auto askedLast = ParseNumber(lastText);
    if (!askedLast || *askedLast < *first) return Whole(size);
    if (*askedLast < last) last = *askedLast;
  }
  if (*first >= size) return Unsatisfiable();
  return {RangeAnswer::Kind::kPartial, *first, last - *first + 1};
}

std::string ContentRangeValue(const RangeAnswer& answer, std::uint64_t size) {
  if (answer.kind == RangeAnswer::Kind::kUnsatisfiable) return "bytes */" + std::to_string(size);
  return "bytes " + std::to_string(answer.first) + "-" + std::to_string(answer.first + answer.length - 1) + "/" +
         std::to_string(size);
}

}  // namespace serve
