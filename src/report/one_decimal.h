// Fixed-point text of a double with exactly one decimal, as "%.1f" prints it
// in the "C" locale: the exact binary value rounded half to even. Needs no
// platform service and no C runtime formatting.
#pragma once

#include <cstddef>

// Room for the widest result: a sign, 309 integer digits, the point, one
// decimal and a NUL.
constexpr std::size_t one_decimal_capacity = 320;

// Writes the text of `value` and its terminator into `text`; returns its
// length. Infinities and NaNs come out as "inf", "-inf" and "nan".
std::size_t format_one_decimal(double value, char (&text)[one_decimal_capacity]);
