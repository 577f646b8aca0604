// libFuzzer target for the bounded append. An input decodes to a buffer
// capacity, how full the buffer already is (possibly with no terminator at
// all), and a series of appends whose formats are put together from the
// conversions and texts the report uses, stray '%' included, with arguments
// taken from the input. After every append the whole buffer, and the guard
// cells around it, must equal what a plain std::wstring rendition of the same
// format predicts.
//
// Input layout (every read past the end gives zero):
//   capacity: 1 byte kind, 2 bytes value; fill: 1 byte kind, 2 bytes value;
//   fill text: 2 bytes; then per append: 1 byte piece count, per piece
//   1 byte kind and its own bytes, then the arguments in conversion order.
//   Capacity kinds from 0xF8 give capacity 0; a piece count of 0xF0 passes a
//   null buffer, 0xF8 a null format.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <limits>
#include <string>
#include <vector>

#include "append.h"
#include "fuzz_input.h"

namespace {

constexpr std::size_t largest_capacity = 4096;
constexpr std::size_t guard_cells = 16;
constexpr std::size_t total_cells = guard_cells + largest_capacity + guard_cells;
constexpr wchar_t guard_value = static_cast<wchar_t>(0x5EADBEEF);
// The program's appends take at most three arguments.
constexpr std::size_t most_arguments = 4;
constexpr std::size_t most_appends = 48;

// The formats and texts the program appends, and its separator of adapters.
const wchar_t* const real_formats[] = {
    L"QEL SYSTEM MONITOR\r\n\r\n",
    L"Processeur non identifi\u00e9",
    L"Carte graphique non identifi\u00e9e",
    L"PROCESSEUR\r\nNom                 : %ls\r\n",
    L"Sonde thermique ACPI: %.1f \u00b0C\r\n",
    L"Temp\u00e9rature         : non expos\u00e9e par Windows\r\n",
    L"\r\nCARTE GRAPHIQUE\r\nNom                 : %ls\r\n",
    L"Temp\u00e9rature NVIDIA  : %u \u00b0C\r\n",
    L"Temp\u00e9rature         : sonde fabricant non disponible\r\n",
    L"\r\nM\u00c9MOIRE RAM\r\n"
    L"Capacit\u00e9            : %.1f Go\r\n"
    L"Utilisation         : %lu %%\r\n"
    L"Disponible          : %.1f Go\r\n"
    L"Temp\u00e9rature         : non expos\u00e9e par Windows\r\n",
    L"\r\nActualisation automatique toutes les 3 secondes.",
    L"\r\n                     ",
    L"%ls",
};

// Near misses of the conversions: each must come out as text and take no
// argument.
const wchar_t* const stray_percents[] = {
    L"%",   L"%l",  L"%.",   L"%.1",  L"%.2f", L"%d",  L"%s",   L"%lf",   L"%1f",
    L"%L",  L"%U",  L"%.1F", L"%lls", L"%lU",  L"%c",  L"%ld",  L"%.0f",  L"%.1lf",
    L"%-u", L"%5u", L"% u",  L"%%%",  L"%l%",  L"%.%", L"%.1%", L"%\r\n",
};

// Code units beyond printable ASCII: letters of the report, surrogates on
// their own and in pairs, non-characters, the largest code points and values
// that are not code points at all (wchar_t is 32 bits wide here), the letters
// of the conversions, and the terminator.
const wchar_t special_units[] = {
    L'\0',
    L'\r',
    L'\n',
    L'%',
    L'\u00e9',
    L'\u00c9',
    L'\u00b0',
    L'\u0080',
    L'\u00ff',
    L'\u2603',
    static_cast<wchar_t>(0xD800),
    static_cast<wchar_t>(0xDBFF),
    static_cast<wchar_t>(0xDC00),
    static_cast<wchar_t>(0xDFFF),
    static_cast<wchar_t>(0xD83D),
    static_cast<wchar_t>(0xDE00),
    L'\uFFFD',
    static_cast<wchar_t>(0xFFFE),
    static_cast<wchar_t>(0xFFFF),
    static_cast<wchar_t>(0x1F600),
    static_cast<wchar_t>(0x10FFFF),
    static_cast<wchar_t>(0x110000),
    static_cast<wchar_t>(0x7FFFFFFF),
    static_cast<wchar_t>(-1),
    static_cast<wchar_t>(std::numeric_limits<std::int32_t>::min()),
    L'l',
    L'u',
    L'.',
    L'1',
    L'f',
    L's',
};

const double special_doubles[] = {
    0.0,
    -0.0,
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::signaling_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    DBL_MAX,
    -DBL_MAX,
    DBL_MIN,
    -DBL_MIN,
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    0.05,
    0.25,
    0.75,
    2.25,
    -2.25,
    0.35,
    9.95,
    99.95,
    -0.05,
    -0.049999999999954525,
    26.850000000000023,
    4503599627370495.5,
    4503599627370496.5,
    9007199254740993.0,
    1e22,
    1e23,
    17179869184.0,
    16.0,
};

wchar_t code_unit(std::uint8_t byte)
{
    if (byte < 0x60) {
        return static_cast<wchar_t>(0x20 + byte);
    }
    return special_units[(byte - 0x60U) % std::size(special_units)];
}

wchar_t nonzero_code_unit(std::uint8_t byte)
{
    const wchar_t unit = code_unit(byte);
    return unit != L'\0' ? unit : L'z';
}

enum class conversion { text, decimal, unsigned_int, unsigned_long };

struct argument {
    conversion kind;
    const wchar_t* text;
    double decimal;
    unsigned int unsigned_int;
    unsigned long unsigned_long;
};

// One piece of the format as the reference reads it: text, or a conversion.
struct format_token {
    bool is_conversion;
    conversion kind;
    wchar_t literal;
    std::size_t position; // in the format
};

// The conversion rules, read from the format as a C string (it ends at its
// first NUL): %ls %.1f %u %lu %%; a '%' that starts none of them stands for
// itself and what follows it is read afresh.
std::vector<format_token> tokenize(const std::wstring& format)
{
    const std::wstring text = format.substr(0, format.find(L'\0'));
    std::vector<format_token> tokens;
    tokens.reserve(text.size());
    const auto next_is = [&text](std::size_t at, const wchar_t* name) {
        return text.compare(at + 1, std::wcslen(name), name) == 0;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t start = i;
        if (text[i] != L'%') {
            tokens.push_back({false, conversion::text, text[i], start});
        } else if (next_is(i, L"%")) {
            tokens.push_back({false, conversion::text, L'%', start});
            i += 1;
        } else if (next_is(i, L"u")) {
            tokens.push_back({true, conversion::unsigned_int, L'\0', start});
            i += 1;
        } else if (next_is(i, L"lu")) {
            tokens.push_back({true, conversion::unsigned_long, L'\0', start});
            i += 2;
        } else if (next_is(i, L"ls")) {
            tokens.push_back({true, conversion::text, L'\0', start});
            i += 2;
        } else if (next_is(i, L".1f")) {
            tokens.push_back({true, conversion::decimal, L'\0', start});
            i += 3;
        } else {
            tokens.push_back({false, conversion::text, L'%', start});
        }
    }
    return tokens;
}

template <typename Number> std::wstring integer_text(Number value)
{
    char digits[32];
    const std::to_chars_result result = std::to_chars(digits, digits + sizeof digits, value);
    return {digits, result.ptr};
}

// The standard library's exact fixed-point conversion. Every NaN is "nan",
// whatever its sign bit, as the program documents.
std::wstring decimal_text(double value)
{
    if (std::isnan(value)) {
        return L"nan";
    }
    char digits[400];
    const std::to_chars_result result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 1);
    require(result.ec == std::errc(), "the reference conversion of a double failed");
    return {digits, result.ptr};
}

std::wstring reference_text(const std::vector<format_token>& tokens,
                            const std::vector<argument>& arguments)
{
    std::wstring text;
    std::size_t next_argument = 0;
    for (const format_token& token : tokens) {
        if (!token.is_conversion) {
            text += token.literal;
            continue;
        }
        const argument& value = arguments[next_argument++];
        switch (token.kind) {
        case conversion::text:
            text += value.text != nullptr ? value.text : L"(null)";
            break;
        case conversion::decimal:
            text += decimal_text(value.decimal);
            break;
        case conversion::unsigned_int:
            text += integer_text(value.unsigned_int);
            break;
        case conversion::unsigned_long:
            text += integer_text(value.unsigned_long);
            break;
        }
    }
    return text;
}

// The variadic call needs its argument types at compile time: each level
// picks the type of one more argument, up to most_arguments of them.
template <typename... Passed>
void call_append(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                 const argument* arguments, std::size_t count, Passed... passed)
{
    if constexpr (sizeof...(Passed) == most_arguments) {
        append(buffer, capacity, format, passed...);
    } else {
        if (count == 0) {
            append(buffer, capacity, format, passed...);
            return;
        }
        const argument& value = arguments[0];
        switch (value.kind) {
        case conversion::text:
            call_append(buffer, capacity, format, arguments + 1, count - 1, passed..., value.text);
            break;
        case conversion::decimal:
            call_append(buffer, capacity, format, arguments + 1, count - 1, passed...,
                        value.decimal);
            break;
        case conversion::unsigned_int:
            call_append(buffer, capacity, format, arguments + 1, count - 1, passed...,
                        value.unsigned_int);
            break;
        case conversion::unsigned_long:
            call_append(buffer, capacity, format, arguments + 1, count - 1, passed...,
                        value.unsigned_long);
            break;
        }
    }
}

std::size_t decode_capacity(fuzz_input& input)
{
    const std::uint8_t kind = input.byte();
    const std::uint16_t value = input.u16();
    if (kind >= 0xF8) {
        return 0; // outside what the program passes, and must change nothing
    }
    switch (kind % 6) {
    case 0:
        return 1024;
    case 1:
        return 4096;
    case 2:
        return 256;
    case 3:
        return 1 + value % 16U; // where every boundary is close
    case 4:
        return 1 + value % 128U;
    default:
        return 1 + value % largest_capacity;
    }
}

// Characters in use before the first append; `capacity` means no terminator
// within the capacity at all.
std::size_t decode_fill(fuzz_input& input, std::size_t capacity)
{
    const std::uint8_t kind = input.byte();
    const std::uint16_t value = input.u16();
    if (capacity == 0) {
        return 0;
    }
    switch (kind % 6) {
    case 0:
        return 0;
    case 1:
        return capacity;
    case 2:
        return capacity - 1;
    case 3:
        return capacity - 1 - std::min<std::size_t>(capacity - 1, value % 8U);
    default:
        return value % (capacity + 1);
    }
}

void append_units(fuzz_input& input, std::wstring& text, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        text += code_unit(input.byte());
    }
}

std::wstring decode_format(fuzz_input& input, std::uint8_t piece_count)
{
    std::wstring format;
    const std::size_t pieces = 1 + piece_count % 8U;
    for (std::size_t piece = 0; piece < pieces; ++piece) {
        const std::uint8_t kind = input.byte();
        switch (kind % 10) {
        case 0:
            format += L"%ls";
            break;
        case 1:
            format += L"%.1f";
            break;
        case 2:
            format += L"%u";
            break;
        case 3:
            format += L"%lu";
            break;
        case 4:
            format += L"%%";
            break;
        case 5:
            append_units(input, format, input.byte() % 16U);
            break;
        case 6:
            format += stray_percents[input.byte() % std::size(stray_percents)];
            break;
        case 7:
            format += real_formats[input.byte() % std::size(real_formats)];
            break;
        case 8: {
            // A long run, to overflow any room.
            const std::size_t length = input.u16() % 5000U;
            format.append(length, nonzero_code_unit(input.byte()));
            break;
        }
        default:
            format += nonzero_code_unit(input.byte());
            break;
        }
    }
    return format;
}

double decode_double(fuzz_input& input)
{
    const std::uint8_t kind = input.byte();
    switch (kind % 5) {
    case 0: {
        // Any bit pattern: subnormals, NaN payloads, both zeros, both infinities.
        const std::uint64_t bits = input.u64();
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case 1:
        // Multiples of 1/4 and 1/20: exact ties and their near misses.
        return static_cast<double>(static_cast<std::int32_t>(input.u32())) /
               ((kind & 0x80U) != 0 ? 4.0 : 20.0);
    case 2:
        // The memory figures: a byte count in units of 2^30.
        return static_cast<double>(input.u64()) * (1.0 / 1073741824.0);
    case 3:
        // Temperatures as the ACPI probe computes them, from tenths of kelvin.
        return (static_cast<double>(input.u32()) - 2731.5) / 10.0;
    default:
        return special_doubles[input.byte() % std::size(special_doubles)];
    }
}

// Wide strings are kept in storage of their exact length, so that a read past
// their terminator is reported by AddressSanitizer.
const wchar_t* decode_text(fuzz_input& input, std::vector<std::vector<wchar_t>>& storage)
{
    const std::uint8_t kind = input.byte();
    if (kind % 8 == 0) {
        return nullptr;
    }
    std::wstring text;
    if (kind % 8 == 1) {
        text.append(input.u16() % 5000U, nonzero_code_unit(input.byte()));
    } else {
        append_units(input, text, input.byte() % 64U);
    }
    storage.emplace_back(text.c_str(), text.c_str() + text.size() + 1);
    return storage.back().data();
}

std::vector<argument> decode_arguments(fuzz_input& input, const std::vector<format_token>& tokens,
                                       std::vector<std::vector<wchar_t>>& storage)
{
    std::vector<argument> arguments;
    for (const format_token& token : tokens) {
        if (!token.is_conversion) {
            continue;
        }
        argument value{token.kind, nullptr, 0.0, 0U, 0UL};
        switch (token.kind) {
        case conversion::text:
            value.text = decode_text(input, storage);
            break;
        case conversion::decimal:
            value.decimal = decode_double(input);
            break;
        case conversion::unsigned_int:
            value.unsigned_int = input.u32();
            break;
        case conversion::unsigned_long:
            // The program passes 32-bit values; the host's unsigned long is wider.
            value.unsigned_long = (input.byte() & 1U) != 0 ? input.u64() : input.u32();
            break;
        }
        arguments.push_back(value);
    }
    return arguments;
}

// Cuts the format just before the conversion that would need one argument too
// many, and returns the conversions that remain.
std::vector<format_token> limit_arguments(std::wstring& format)
{
    std::vector<format_token> tokens = tokenize(format);
    std::size_t conversions = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].is_conversion && ++conversions > most_arguments) {
            format.resize(tokens[i].position);
            tokens.resize(i);
            break;
        }
    }
    return tokens;
}

// The checks below compare whole images with the C library, not cell by cell
// in code the fuzzer instruments: that keeps the checks off the profile.
std::size_t bounded_length(const wchar_t* buffer, std::size_t capacity)
{
    const wchar_t* const terminator = std::wmemchr(buffer, L'\0', capacity);
    return terminator != nullptr ? static_cast<std::size_t>(terminator - buffer) : capacity;
}

alignas(8) wchar_t cells[total_cells];
wchar_t before[total_cells];
wchar_t expected[total_cells];
wchar_t guard_image[total_cells];

bool same_cells(const wchar_t* left, const wchar_t* right, std::size_t count)
{
    return std::memcmp(left, right, count * sizeof(wchar_t)) == 0;
}

bool guards_intact(std::size_t capacity)
{
    return same_cells(cells, guard_image, guard_cells) &&
           same_cells(cells + guard_cells + capacity, guard_image,
                      total_cells - guard_cells - capacity);
}

// Calls the program never makes, but which append must survive unchanged.
enum class call_kind { normal, null_buffer, null_format };

void check_one_append(std::size_t capacity, const std::wstring& format,
                      const std::vector<format_token>& tokens,
                      const std::vector<argument>& arguments, call_kind kind)
{
    wchar_t* const buffer = cells + guard_cells;
    std::memcpy(before, cells, sizeof cells);
    const std::size_t length_before = bounded_length(buffer, capacity);
    const bool ignored = kind != call_kind::normal || length_before + 1 >= capacity;

    // The guard cells are poisoned during the call: a read or a write of any
    // of them stops the fuzzer at once.
    ASAN_POISON_MEMORY_REGION(cells, guard_cells * sizeof(wchar_t));
    ASAN_POISON_MEMORY_REGION(buffer + capacity,
                              (total_cells - guard_cells - capacity) * sizeof(wchar_t));
    call_append(kind == call_kind::null_buffer ? nullptr : buffer, capacity,
                kind == call_kind::null_format ? nullptr : format.c_str(), arguments.data(),
                arguments.size());
    ASAN_UNPOISON_MEMORY_REGION(cells, sizeof cells);

    require(guards_intact(capacity), "a cell outside the capacity was written");
    if (ignored) {
        require(same_cells(before, cells, total_cells),
                "a full, unterminated or null buffer, or a null format, changed the buffer");
        return;
    }
    const std::size_t length_after = bounded_length(buffer, capacity);
    require(length_after < capacity, "the buffer is not terminated within its capacity");
    require(same_cells(before, cells, guard_cells + length_before),
            "the text already in the buffer was changed");
    require(length_after >= length_before, "the text got shorter");

    const std::wstring full = reference_text(tokens, arguments);
    const std::size_t added = length_after - length_before;
    require(added <= full.size() && same_cells(buffer + length_before, full.data(), added),
            "the appended text is not the beginning of the formatted text");
    const std::size_t room = capacity - 1 - length_before;
    require(added == std::min(room, full.size()),
            "the appended text does not fill the room it could");

    // Finally the exact picture: cells past the new terminator keep their old
    // contents too.
    std::memcpy(expected, before, sizeof before);
    std::memcpy(expected + guard_cells + length_before, full.data(), added * sizeof(wchar_t));
    expected[guard_cells + length_after] = L'\0';
    require(same_cells(expected, cells, total_cells),
            "the buffer differs from the reference rendition");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz_input input{data, data + size};
    const std::size_t capacity = decode_capacity(input);
    const std::size_t fill = decode_fill(input, capacity);
    const std::uint8_t text_seed = input.byte();
    const std::uint8_t junk_seed = input.byte();

    wchar_t* const buffer = cells + guard_cells;
    std::fill(std::begin(guard_image), std::end(guard_image), guard_value);
    std::memcpy(cells, guard_image, sizeof cells);
    // The text, and the leftovers past it, repeat every 256 cells: built once
    // and copied, because a fill loop of 4096 cells would dominate the run.
    wchar_t text_pattern[256];
    wchar_t junk_pattern[256];
    for (std::size_t i = 0; i < 256; ++i) {
        const auto step = static_cast<std::uint8_t>(i * 7U);
        text_pattern[i] = nonzero_code_unit(static_cast<std::uint8_t>(text_seed + step));
        junk_pattern[i] = nonzero_code_unit(static_cast<std::uint8_t>(junk_seed + step));
    }
    for (std::size_t at = 0; at < capacity; at += 256) {
        const std::size_t count = std::min<std::size_t>(256, capacity - at);
        std::memcpy(buffer + at, junk_pattern, count * sizeof(wchar_t));
    }
    for (std::size_t at = 0; at < fill; at += 256) {
        const std::size_t count = std::min<std::size_t>(256, fill - at);
        std::memcpy(buffer + at, text_pattern, count * sizeof(wchar_t));
    }
    if (fill < capacity) {
        buffer[fill] = L'\0';
    }

    for (std::size_t call = 0; call < most_appends && !input.exhausted(); ++call) {
        const std::uint8_t piece_count = input.byte();
        const call_kind kind = piece_count == 0xF0   ? call_kind::null_buffer
                               : piece_count == 0xF8 ? call_kind::null_format
                                                     : call_kind::normal;
        std::wstring format = decode_format(input, piece_count);
        const std::vector<format_token> tokens = limit_arguments(format);
        std::vector<std::vector<wchar_t>> storage;
        const std::vector<argument> arguments = decode_arguments(input, tokens, storage);
        check_one_append(capacity, format, tokens, arguments, kind);
    }
    return 0;
}
