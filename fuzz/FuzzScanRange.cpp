// zn7qx-scan's range arguments: each line of the input is one command-line
// argument (which may hold several comma-separated items).
//
// Properties: either an error with no ranges, or ranges with no error; every
// range lies within the address space with first <= last; merging gives
// sorted, disjoint, non-touching ranges without 0.0.0.0 and 255.255.255.255
// that cover exactly the addresses of the input ranges; the message shown for
// bad text carries no control bytes to the terminal.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tools/zn7qx-scan/ScanRange.h"

namespace {

constexpr zn7qx::NumericAddress kLast = 4294967295;

bool Covered(const std::vector<zn7qx::scan::AddressRange>& ranges, zn7qx::NumericAddress n) {
  for (const auto& r : ranges)
    if (r.first <= n && n <= r.last) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start <= input.size() && arguments.size() < 64) {
    const auto end = input.find('\n', start);
    arguments.emplace_back(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }

  const auto parsed = zn7qx::scan::ParseRanges(arguments);
  ZN7QX_FUZZ_CHECK(parsed.error.empty() != parsed.ranges.empty() || arguments.empty());
  for (char c : parsed.error) {
    const auto u = static_cast<unsigned char>(c);
    ZN7QX_FUZZ_CHECK(u >= 0x20 && u != 0x7F);
  }
  for (const auto& r : parsed.ranges) ZN7QX_FUZZ_CHECK(0 <= r.first && r.first <= r.last && r.last <= kLast);

  const auto merged = zn7qx::scan::MergeRanges(parsed.ranges);
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    ZN7QX_FUZZ_CHECK(1 <= merged[i].first && merged[i].first <= merged[i].last && merged[i].last <= kLast - 1);
    if (i > 0) ZN7QX_FUZZ_CHECK(merged[i - 1].last + 1 < merged[i].first);
    sum += merged[i].last - merged[i].first + 1;
    // Each merged range's ends come from the input (or are clipped to 1 and
    // kLast - 1), and just outside it nothing is covered.
    ZN7QX_FUZZ_CHECK(Covered(parsed.ranges, merged[i].first) && Covered(parsed.ranges, merged[i].last));
    ZN7QX_FUZZ_CHECK(merged[i].first == 1 || !Covered(parsed.ranges, merged[i].first - 1));
    ZN7QX_FUZZ_CHECK(merged[i].last == kLast - 1 || !Covered(parsed.ranges, merged[i].last + 1));
  }
  ZN7QX_FUZZ_CHECK(zn7qx::scan::CountAddresses(merged) == sum);
  ZN7QX_FUZZ_CHECK(sum <= kLast - 1);
  for (const auto& r : parsed.ranges) {
    for (auto n : {r.first, r.last, r.first + (r.last - r.first) / 2})
      ZN7QX_FUZZ_CHECK(Covered(merged, n) == (n != 0 && n != kLast));
  }
  return 0;
}
