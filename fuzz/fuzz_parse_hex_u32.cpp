// parse_hex_u32 on arbitrary text, checked against a plain reading of the rules: at most one "0x" or
// "0X" prefix, an optional "+", then hex digits up to 0xFFFFFFFF; the first problem from the left
// gives the reason.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "quillmarsh/tools/dat_shard.hpp"

namespace {

struct Expected {
  bool ok = false;
  std::uint32_t value = 0;
  std::string_view reason;
};

Expected reference(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (text.starts_with("+")) text.remove_prefix(1);
  if (text.empty()) return {false, 0, "invalid digit found in string"};  // a lone "+"
  std::uint64_t value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return {false, 0, "invalid digit found in string"};
    value = value * 16 + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFU) return {false, 0, "number too large to fit in target type"};
  }
  return {true, static_cast<std::uint32_t>(value), {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = quillmarsh::tools::parse_hex_u32(text);
  std::string_view stripped = text;
  if (stripped.starts_with("0x") || stripped.starts_with("0X")) stripped.remove_prefix(2);
  Expected want = reference(text);
  if (stripped.empty()) want.reason = "cannot parse integer from empty string";

  QM_FUZZ_CHECK(parsed.has_value() == want.ok);
  if (parsed) {
    QM_FUZZ_CHECK(*parsed == want.value);
  } else {
    const std::string& message = parsed.error();
    QM_FUZZ_CHECK(message.starts_with("invalid hex u32 \""));
    QM_FUZZ_CHECK(message.ends_with("\": " + std::string(want.reason)));
  }
  return 0;
}
