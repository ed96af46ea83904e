// The text functions on arbitrary input: the number conversions agree with
// each other and read back what they write, and the review time label stays
// a short, well-formed text in any decimal separator.  (The checked 32-bit
// arithmetic is left out: its only reference would be its own code.)
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "base/convert.h"
#include "fuzz_check.h"
#include "base/errors.h"

using namespace velmora;
using fuzzing::check;
using fuzzing::raised;

namespace {

void numbers(std::string_view text) {
    const bool numeric = isNumeric(text);
    double v = 0;
    const std::string error = raised([&] { v = toDouble(text); });
    check(numeric ? error.empty() || error == kErrOverflow : error == kErrTypeMismatch,
          "isNumeric and toDouble disagree");
    if (numeric) {
        // The C library's reader, in the C locale, is the reference.
        const std::string copy(text);
        const double expected = std::strtod(copy.c_str(), nullptr);
        check(error.empty() ? v == expected : std::isinf(expected), "toDouble misreads a number");
    }
    if (!error.empty()) return;
    check(std::isfinite(v), "toDouble gave a number that is not finite");

    // The general format reads back to the same number within its 15 digits.
    const std::string general = formatGeneral(v);
    double back = 0;
    check(raised([&] { back = toDouble(general); }).empty(), "formatGeneral wrote an unreadable number");
    check(std::fabs(back - v) <= std::fabs(v) * 1e-14, "formatGeneral does not read back");

    float single = 0;
    if (raised([&] { single = toSingle(text); }).empty()) {
        float again = 0;
        check(raised([&] { again = toSingle(singleToText(single)); }).empty(),
              "singleToText wrote an unreadable number");
        check(again == single, "singleToText does not read back");
    }

    // Integers: the nearest, halves to even, or Overflow.
    const double r = roundHalfEven(v);
    check(std::fabs(r - v) <= 0.5 && r == std::floor(r), "roundHalfEven is not the nearest integer");
    if (std::fabs(r - v) == 0.5) check(std::fmod(r, 2.0) == 0, "roundHalfEven rounded a half to odd");
    std::int32_t i32 = 0;
    const std::string e32 = raised([&] { i32 = toInt32(v); });
    const bool fits32 = r >= std::numeric_limits<std::int32_t>::min() && r <= std::numeric_limits<std::int32_t>::max();
    check(fits32 ? e32.empty() && i32 == r : e32 == kErrOverflow, "toInt32 is wrong");
    std::int16_t i16 = 0;
    const std::string e16 = raised([&] { i16 = toInt16(v); });
    check(std::fabs(r) <= 32767 || r == -32768 ? e16.empty() && i16 == r : e16 == kErrOverflow,
          "toInt16 is wrong");
}

void ageLabel(std::int32_t perFrameMs, int age, std::string_view separator) {
    std::string label;
    if (!raised([&] { label = reviewTimeCaption(perFrameMs, age, separator); }).empty()) return;
    const std::string_view suffix = " sec";
    check(label.size() > suffix.size() && label.ends_with(suffix), "the label does not end in \" sec\"");
    const std::string_view number = std::string_view(label).substr(0, label.size() - suffix.size());
    if (fuzzing::decodeUtf8(separator)) {
        const auto chars = fuzzing::decodeUtf8(number);
        check(chars.has_value(), "the label cuts a character in two");
        check(chars && chars->size() <= 4, "the label is longer than four characters");
    }
    const std::string full = formatGeneral(-static_cast<double>(perFrameMs) * age / 1000.0, separator);
    check(std::string_view(full).starts_with(number), "the label is not the start of the time");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 3 != 2) {
        numbers(rest);
    } else if (rest.size() >= 5) {
        std::int32_t perFrame;
        std::memcpy(&perFrame, rest.data(), 4);
        ageLabel(perFrame, static_cast<unsigned char>(rest[4]) % 52, rest.substr(5));
    }
    return 0;
}
