// "%.1f" done by hand from the double's bits. The C runtimes disagree (msvcrt
// rounds 2.25 up to "2.3"), and std::to_chars brings some 100 KiB of tables
// into a static executable, so the rounding is computed here exactly: a
// finite double is m * 2^e with m below 2^53, and for every negative e the
// tenths m * 10 / 2^-e fit in 64 bits.
#include "one_decimal.h"

#include <cstdint>
#include <cstring>

namespace {

std::size_t put_text(char (&text)[one_decimal_capacity], std::size_t at, const char* piece)
{
    const std::size_t length = std::strlen(piece);
    std::memcpy(text + at, piece, length + 1);
    return at + length;
}

// Writes `value` in decimal at `at` and returns the new end.
std::size_t put_unsigned(char (&text)[one_decimal_capacity], std::size_t at, std::uint64_t value)
{
    char digits[20];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count != 0) {
        text[at++] = digits[--count];
    }
    text[at] = '\0';
    return at;
}

// An integer m * 2^shift of up to 1024 bits, written in decimal through
// base-10^9 limbs.
std::size_t put_large_integer(char (&text)[one_decimal_capacity], std::size_t at,
                              std::uint64_t mantissa, int shift)
{
    constexpr std::uint32_t limb_base = 1000000000U;
    std::uint32_t limbs[36] = {};
    std::size_t used = 0;
    for (; mantissa != 0; mantissa /= limb_base) {
        limbs[used++] = static_cast<std::uint32_t>(mantissa % limb_base);
    }
    while (shift > 0) {
        // At most 2^29 at a time, so that a limb times the factor fits.
        const int step = shift < 29 ? shift : 29;
        shift -= step;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < used; ++i) {
            const std::uint64_t product = (std::uint64_t{limbs[i]} << step) + carry;
            limbs[i] = static_cast<std::uint32_t>(product % limb_base);
            carry = product / limb_base;
        }
        for (; carry != 0; carry /= limb_base) {
            limbs[used++] = static_cast<std::uint32_t>(carry % limb_base);
        }
    }
    at = put_unsigned(text, at, limbs[used - 1]);
    for (std::size_t i = used - 1; i-- > 0;) {
        std::uint32_t limb = limbs[i];
        for (int digit = 8; digit >= 0; --digit) {
            text[at + static_cast<std::size_t>(digit)] = static_cast<char>('0' + limb % 10);
            limb /= 10;
        }
        at += 9;
    }
    text[at] = '\0';
    return at;
}

} // namespace

std::size_t format_one_decimal(double value, char (&text)[one_decimal_capacity])
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);

    std::size_t at = 0;
    if (biased_exponent == 0x7FF) {
        if (mantissa != 0) {
            return put_text(text, 0, "nan");
        }
        return put_text(text, 0, negative ? "-inf" : "inf");
    }
    if (negative) {
        text[at++] = '-';
    }

    int exponent = 0;
    if (biased_exponent == 0) {
        exponent = 1 - 1075; // subnormal or zero
    } else {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased_exponent - 1075;
    }

    if (exponent >= 0) {
        // An integer: its decimal is 0.
        if (exponent <= 11) {
            at = put_unsigned(text, at, mantissa << exponent);
        } else {
            at = put_large_integer(text, at, mantissa, exponent);
        }
        return put_text(text, at, ".0");
    }

    // value = mantissa / 2^shift. Past 2^-58 the tenths m * 10 / 2^shift stay
    // below 1/4, so the rounded result is 0.0.
    const int shift = -exponent;
    std::uint64_t tenths = 0;
    if (shift <= 58) {
        const std::uint64_t scaled = mantissa * 10;
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        const std::uint64_t remainder = scaled & ((half << 1) - 1);
        tenths = scaled >> shift;
        if (remainder > half || (remainder == half && (tenths & 1) != 0)) {
            ++tenths;
        }
    }
    at = put_unsigned(text, at, tenths / 10);
    text[at++] = '.';
    text[at++] = static_cast<char>('0' + tenths % 10);
    text[at] = '\0';
    return at;
}
