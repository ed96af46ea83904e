// Number and text conversions with the integer widths and errors the program relies on.
#pragma once

#include <cstdint>
#include "base/errors.h"
#include <string>
#include <string_view>

namespace velmora {

// `s` without the blanks and tabs around it.
std::string_view trimBlanks(std::string_view s);

// x rounded to the nearest integer, halves to even.
double roundHalfEven(double x);

// Checked conversions to 16- and 32-bit integers (rounding halves to even);
// a value outside the range raises "Overflow" at the caller's line.
std::int16_t toInt16(double x, SourceLocation where = SourceLocation::current());
std::int32_t toInt32(double x, SourceLocation where = SourceLocation::current());

// 32-bit integer arithmetic that raises "Overflow" instead of wrapping.
std::int32_t mul32(std::int64_t a, std::int64_t b, SourceLocation where = SourceLocation::current());
std::int32_t add32(std::int64_t a, std::int64_t b, SourceLocation where = SourceLocation::current());

// Whether a text reads as a number the way users expect: "12", " 12 ",
// "-3", "+4", "1.5", ".5", "1e3" are numbers; "", "abc", "12abc", "1.2.3" are not.
bool isNumeric(std::string_view text);

// Text to a double / single-precision number; a text that is not a number
// raises "Type mismatch", a single beyond its range raises "Overflow".
double toDouble(std::string_view text, SourceLocation where = SourceLocation::current());
float toSingle(std::string_view text, SourceLocation where = SourceLocation::current());

// A single-precision number as decimal text ("8880", "9.5").
std::string singleToText(float value);

// A number in the general format: at most 15 significant digits, no trailing
// zeros, a leading zero before the decimal separator, no exponent for the
// magnitudes the program shows ("-0.05", "-12.5", "-125").
std::string formatGeneral(double value, std::string_view decimalSeparator = ".");

// The review label for the frame `age` frames back at `perFrameMs` per frame:
// the (negative) time in seconds in the general format, cut to four
// characters, and " sec" ("-0.1 sec", "-1.2 sec").  Raises "Overflow" when the
// time does not fit in 32 bits of milliseconds.
std::string reviewTimeCaption(std::int32_t perFrameMs, long age, std::string_view decimalSeparator);

// Appends the UTF-8 form of c. Surrogates are encoded like any other code,
// so a lone one read from a damaged UTF-16 file is written back as it was.
void appendUtf8(std::string& out, char32_t c);

}  // namespace velmora
