// TextToReal and the other text-to-number readers on arbitrary bytes; whole numbers of up to ten
// digits must survive the way through RealToText and back.
#include <cmath>

#include "console/numtext.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double real = kv::TextToReal(text);
  const std::string shown = kv::RealToText(real);
  KV_FUZZ_CHECK(!shown.empty());
  if (std::isfinite(real) && std::fabs(real) < 1e10) {
    const double whole = std::trunc(real);
    KV_FUZZ_CHECK(kv::TextToReal(kv::RealToText(whole)) == whole);
  }
  (void)kv::TruncateToInt32(real);
  (void)kv::TruncateToInt64(real);
  (void)kv::FloorToInt32(std::isfinite(real) && std::fabs(real) < 2e9 ? real : 0);
  (void)kv::TextToInteger(text);
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits > 0) {
    const std::string_view number = text.substr(0, digits);
    // Within the 64-bit limit the exact reading and the wrapping one agree.
    if (!kv::DigitsAbove(number, 9223372036854775807ULL) && digits <= 36) {
      KV_FUZZ_CHECK(
          kv::IntegerToText(kv::TextToInteger(number)) ==
          std::string(number.substr(std::min(number.find_first_not_of('0'), number.size() - 1))));
    }
  }
  return 0;
}
