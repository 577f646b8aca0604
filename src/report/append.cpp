// The bounded append. It formats by itself rather than through the C
// runtime's swprintf family: msvcrt rounds %.1f ties away from zero and leaves
// truncated output unterminated, glibc fails outright on truncation, so only
// our own formatting gives the same report on every runtime.
#include "append.h"

#include "one_decimal.h"

#include <charconv>
#include <cstdarg>

namespace {

// Where formatted characters go: stops silently at the last cell, which is
// kept for the terminator.
struct bounded_writer {
    wchar_t* next;
    wchar_t* last;

    void put(wchar_t c)
    {
        if (next < last) {
            *next++ = c;
        }
    }

    void put_ascii(const char* first, const char* end)
    {
        for (; first != end; ++first) {
            put(static_cast<wchar_t>(static_cast<unsigned char>(*first)));
        }
    }

    void put_wide(const wchar_t* text)
    {
        for (; *text != L'\0' && next < last; ++text) {
            put(*text);
        }
    }
};

template <typename Number> void put_number(bounded_writer& out, Number value)
{
    char digits[24] = {};
    const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    out.put_ascii(digits, result.ptr);
}

void put_one_decimal(bounded_writer& out, double value)
{
    char digits[one_decimal_capacity] = {};
    const std::size_t length = format_one_decimal(value, digits);
    out.put_ascii(digits, digits + length);
}

// Reads the conversion that starts just after a '%' and returns the first
// character after it. Anything that is not one of our conversions is copied
// as it stands, so a stray '%' can never consume an argument.
const wchar_t* put_conversion(bounded_writer& out, const wchar_t* conversion, va_list& args)
{
    if (conversion[0] == L'%') {
        out.put(L'%');
        return conversion + 1;
    }
    if (conversion[0] == L'u') {
        put_number(out, va_arg(args, unsigned int));
        return conversion + 1;
    }
    if (conversion[0] == L'l' && conversion[1] == L'u') {
        put_number(out, va_arg(args, unsigned long));
        return conversion + 2;
    }
    if (conversion[0] == L'l' && conversion[1] == L's') {
        const wchar_t* text = va_arg(args, const wchar_t*);
        out.put_wide(text != nullptr ? text : L"(null)");
        return conversion + 2;
    }
    if (conversion[0] == L'.' && conversion[1] == L'1' && conversion[2] == L'f') {
        put_one_decimal(out, va_arg(args, double));
        return conversion + 3;
    }
    out.put(L'%');
    return conversion;
}

} // namespace

void append(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...)
{
    if (buffer == nullptr || capacity == 0 || format == nullptr) {
        return;
    }
    // A bounded scan: a buffer that holds no terminator within its capacity
    // counts as full and is left alone.
    std::size_t used = 0;
    while (used < capacity && buffer[used] != L'\0') {
        ++used;
    }
    if (used + 1 >= capacity) {
        return;
    }

    bounded_writer out{buffer + used, buffer + capacity - 1};
    va_list args;
    va_start(args, format);
    const wchar_t* cursor = format;
    while (*cursor != L'\0' && out.next < out.last) {
        if (*cursor == L'%') {
            cursor = put_conversion(out, cursor + 1, args);
        } else {
            out.put(*cursor++);
        }
    }
    va_end(args);
    *out.next = L'\0';
}
