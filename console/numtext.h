// Conversions between numbers and text shared by all programs. No conversion adds a blank, a
// sign that the number does not have, a leading zero, grouping or a line end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// Decimal digits of the value read as unsigned 64-bit.
std::string IntegerToText(uint64_t value);

// A double with at most 15 significant digits; whole numbers of up to ten digits come out
// exactly, without a decimal point. Large and small magnitudes use an exponent.
std::string RealToText(double value);

// The unsigned decimal number at the start of the text, modulo 2^64; 0 when none.
uint64_t TextToInteger(std::string_view text);

// A typed number: blanks and tabs skipped, &H hex, &O octal, sign, integer part, fraction.
double TextToReal(std::string_view text);

// The largest 32-bit integer not above the value.
int32_t FloorToInt32(double value);

// x to the power y; whole exponents by repeated squaring, so Power(x, 2) == x * x exactly.
double Power(double x, double y);

// Truncation toward zero that saturates at the type's limits (NaN gives 0), so that any
// typed answer converts safely.
int32_t TruncateToInt32(double value);
int64_t TruncateToInt64(double value);

// Compares the digits of a decimal number (leading zeros allowed) with a limit, by exact value.
bool DigitsAbove(std::string_view digits, uint64_t limit);

}  // namespace kv
