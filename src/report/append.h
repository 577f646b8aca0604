// Bounded formatted append into a fixed-capacity wide buffer: the one way
// report text is written. Needs no platform service.
#pragma once

#include <cstddef>

// Appends the formatted text to the terminated string in `buffer`, whose
// capacity (terminator included) is `capacity` wide characters. Once
// capacity - 1 characters are used nothing is formatted; otherwise the text is
// stored up to capacity - 1 characters and always followed by a NUL.
//
// Conversions: %ls (wide string), %.1f (double), %u (unsigned int),
// %lu (unsigned long) and %%. Numbers come out as in the "C" locale, and %.1f
// rounds the exact double value half to even, whatever C runtime is linked.
void append(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
