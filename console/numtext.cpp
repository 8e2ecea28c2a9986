// Number and text conversions. RealToText follows a fixed 15-digit loop so that every count,
// length and timing figure prints the same way on every platform.
#include "console/numtext.h"

#include <cmath>
#include <limits>

namespace kv {

std::string IntegerToText(uint64_t value) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string text;
  text.reserve(static_cast<size_t>(n));
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

std::string RealToText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  int digits[15] = {};
  int p = 0;
  bool negative = false;
  if (value != 0.0) {
    negative = value < 0;
    double x = std::fabs(value);
    p = 1;
    while (x < 0.999999999999999) {
      x *= 10;
      --p;
    }
    while (x >= 9.99999999999999) {
      x /= 10;
      ++p;
    }
    for (int i = 0; i < 15; ++i) {
      const int d = FloorToInt32(x);
      digits[i] = d;
      x = (x - d) * 10;
    }
    if (x >= 5) {
      int i = 14;
      ++digits[i];
      while (i > 0 && digits[i] >= 10) {
        digits[i] -= 10;
        ++digits[--i];
      }
      if (digits[0] >= 10) {  // cannot happen within the loop's bounds; kept safe anyway
        digits[0] = 1;
        for (int k = 1; k < 15; ++k) digits[k] = 0;
        ++p;
      }
    }
  }

  std::string text;
  if (negative) text.push_back('-');
  auto digit = [&](int i) { return static_cast<char>('0' + digits[i]); };
  if (p > 15 || p < -3) {
    text.push_back(digit(0));
    text.push_back('.');
    for (int i = 1; i < 15; ++i) text.push_back(digit(i));
    text.push_back('e');
    const int exponent = p - 1;
    std::string magnitude = std::to_string(exponent < 0 ? -exponent : exponent);
    if (exponent >= 0) {
      text.push_back('+');
      if (magnitude.size() < 3) magnitude = std::string(3 - magnitude.size(), '0') + magnitude;
    } else {
      text.push_back('-');
      if (magnitude.size() < 2) magnitude = std::string(2 - magnitude.size(), '0') + magnitude;
    }
    return text + magnitude;
  }
  if (p >= 1) {
    for (int i = 0; i < p; ++i) text.push_back(digit(i));
    text.push_back('.');
    for (int i = p; i < 15; ++i) text.push_back(digit(i));
  } else {
    text += "0.";
    text.append(static_cast<size_t>(-p), '0');
    for (int i = 0; i < 15; ++i) text.push_back(digit(i));
  }
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

uint64_t TextToInteger(std::string_view text) {
  size_t end = 0;
  while (end < text.size() && static_cast<unsigned char>(text[end]) >= '0') ++end;
  uint64_t sum = 0;
  uint64_t weight = 1;
  for (size_t i = end; i > 0; --i) {
    const unsigned v = static_cast<unsigned char>(text[i - 1]) - unsigned{'0'};
    if (v > 9) break;
    sum += v * weight;
    weight *= 10;
  }
  return sum;
}

namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  }
  return v < base ? v : -1;
}

double SumPrefixedDigits(std::string_view text, size_t from, int base) {
  size_t end = from;
  while (end < text.size() && DigitValue(text[end], base) >= 0) ++end;
  double sum = 0;
  uint64_t weight = 1;
  for (size_t i = end; i > from; --i) {
    const uint64_t product = static_cast<uint64_t>(DigitValue(text[i - 1], base)) * weight;
    sum += static_cast<double>(static_cast<int64_t>(product));
    weight *= static_cast<uint64_t>(base);
  }
  return sum;
}

}  // namespace

double TextToReal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '&') {
    if (i + 1 >= text.size()) return 0;
    const char kind = text[i + 1];
    if (kind == 'O' || kind == 'o') return SumPrefixedDigits(text, i + 2, 8);
    if (kind == 'H' || kind == 'h') return SumPrefixedDigits(text, i + 2, 16);
    return 0;
  }
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  } else if (i < text.size() && text[i] == '+') {
    ++i;
  }
  size_t end = i;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  double result = 0;
  double weight = 1;
  for (size_t k = end; k > i; --k) {
    result += (text[k - 1] - '0') * weight;
    weight *= 10;
  }
  if (end < text.size() && text[end] == '.') {
    double divisor = 10;
    for (size_t k = end + 1; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k) {
      result += (text[k] - '0') / divisor;
      divisor *= 10;
    }
  }
  return negative ? -result : result;
}

int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

int64_t TruncateToInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

int32_t FloorToInt32(double value) {
  int32_t t = TruncateToInt32(value);
  if (value < 0 && static_cast<double>(t) != value && t != std::numeric_limits<int32_t>::min()) {
    --t;
  }
  return t;
}

double Power(double x, double y) {
  if (std::floor(y) == y && y >= -2147483647.0 && y <= 2147483647.0) {
    double r = 1;
    double b = x;
    auto n = static_cast<uint32_t>(std::fabs(y));
    while (n != 0) {
      if ((n & 1u) != 0) r *= b;
      n /= 2;
      b *= b;
    }
    return y < 0 ? 1 / r : r;
  }
  if (x > 0) return std::exp(y * std::log(x));
  return 0;
}

bool DigitsAbove(std::string_view digits, uint64_t limit) {
  size_t i = 0;
  while (i < digits.size() && digits[i] == '0') ++i;
  if (digits.size() - i > 20) return true;
  uint64_t value = 0;
  for (; i < digits.size(); ++i) {
    const auto d = static_cast<uint64_t>(digits[i] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - d) / 10) return true;
    value = value * 10 + d;
  }
  return value > limit;
}

}  // namespace kv
