// The hand-made "%.1f": checked against std::to_chars, which rounds the exact
// value half to even on every runtime, over doubles of every magnitude.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "one_decimal.h"

namespace {

std::string ours(double value)
{
    char text[one_decimal_capacity];
    const std::size_t length = format_one_decimal(value, text);
    EXPECT_EQ(std::strlen(text), length);
    return {text, length};
}

std::string reference(double value)
{
    char text[400];
    const std::to_chars_result result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return {text, result.ptr};
}

TEST(OneDecimal, EdgesOfTheDoubleRange)
{
    const double values[] = {
        0.0,
        -0.0,
        0.05,
        0.15,
        0.25,
        -0.25,
        0.95,
        9.95,
        99.95,
        1.0 / 3.0,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        std::ldexp(1.0, -58),
        std::ldexp(1.0, -59),
        std::ldexp(3.0, -5),
        4503599627370495.5,
        4503599627370496.0,
        9007199254740993.0,
        18446744073709551615.0,
        std::ldexp(1.0, 64),
        std::ldexp(1.0, 100),
        1e300,
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
    };
    for (const double value : values) {
        EXPECT_EQ(reference(value), ours(value)) << value;
    }
}

TEST(OneDecimal, InfinitiesAndNaN)
{
    EXPECT_EQ("inf", ours(std::numeric_limits<double>::infinity()));
    EXPECT_EQ("-inf", ours(-std::numeric_limits<double>::infinity()));
    EXPECT_EQ("nan", ours(std::numeric_limits<double>::quiet_NaN()));
}

TEST(OneDecimal, AgreesWithTheReferenceOnPseudoRandomDoubles)
{
    // Every bit pattern is as likely, so all exponents are covered; a second
    // run keeps to the magnitudes that the report shows.
    std::uint64_t state = 0x9E3779B97F4A7C15U;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t bits = next();
        if (i % 2 == 1) {
            // Exponents of 2^-8 to 2^40: 0.004 to 10^12.
            bits = (bits & 0x800FFFFFFFFFFFFFU) | (std::uint64_t{1015 + next() % 48} << 52);
        }
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isnan(value) || std::isinf(value)) {
            continue;
        }
        if (reference(value) != ours(value) && ++mismatches <= 5) {
            ADD_FAILURE() << "value " << value << ": " << reference(value) << " vs " << ours(value);
        }
    }
    EXPECT_EQ(0, mismatches);
}

TEST(OneDecimal, TiesAtTheTenthGoToTheEvenDigit)
{
    // n + k/10 + 1/20 is exact when it is a multiple of 1/4: x.25 and x.75.
    for (int n = 0; n < 1000; ++n) {
        EXPECT_EQ(std::to_string(n) + ".2", ours(n + 0.25));
        EXPECT_EQ(std::to_string(n) + ".8", ours(n + 0.75));
    }
}

} // namespace
