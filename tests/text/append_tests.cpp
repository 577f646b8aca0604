// The bounded append: capacity boundaries, truncation, termination and the
// number formatting, identical on every C runtime the build links.
#include <gtest/gtest.h>

#include <cstddef>
#include <cwchar>
#include <string>

#include "append.h"

namespace {

constexpr wchar_t canary = L'\x2603';

// A buffer whose cells past the capacity given to append hold a canary, so
// that any write past the capacity shows.
template <std::size_t Capacity> struct guarded_buffer {
    wchar_t cells[Capacity + 8];

    explicit guarded_buffer(const std::wstring& text)
    {
        for (wchar_t& cell : cells) {
            cell = canary;
        }
        text.copy(cells, text.size());
        cells[text.size()] = L'\0';
    }

    [[nodiscard]] bool guard_intact() const
    {
        for (std::size_t i = Capacity; i < Capacity + 8; ++i) {
            if (cells[i] != canary) {
                return false;
            }
        }
        return true;
    }
};

TEST(Append, FullBufferIsLeftUnchanged)
{
    guarded_buffer<1024> buffer(std::wstring(1023, L'a'));
    const guarded_buffer<1024> before = buffer;

    append(buffer.cells, 1024, L"x%ls", L"yz");

    EXPECT_EQ(0, std::wmemcmp(before.cells, buffer.cells, 1024 + 8));
}

TEST(Append, OneFreeCellTakesOneCharacterAndTheTerminator)
{
    guarded_buffer<1024> buffer(std::wstring(1022, L'a'));

    append(buffer.cells, 1024, L"%ls", L"xyz");

    EXPECT_EQ(std::wstring(1022, L'a') + L"x", std::wstring(buffer.cells));
    EXPECT_EQ(L'\0', buffer.cells[1023]);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(Append, LongTextKeepsItsBeginningAndStaysTerminated)
{
    struct truncation_case {
        const wchar_t* start;
        const wchar_t* format;
        const wchar_t* argument;
        const wchar_t* expected;
    };
    const truncation_case cases[] = {
        {L"ab", L"%ls", L"cdefghijk", L"abcdefg"},
        {L"", L"0123456789", nullptr, L"0123456"},
        {L"abcdef", L"%ls!", L"x", L"abcdefx"},
        {L"abcde", L"%%%%%%", nullptr, L"abcde%%"},
    };
    for (const truncation_case& c : cases) {
        guarded_buffer<8> buffer(c.start);
        append(buffer.cells, 8, c.format, c.argument);
        EXPECT_EQ(std::wstring(c.expected), std::wstring(buffer.cells)) << c.format;
        EXPECT_EQ(L'\0', buffer.cells[7]);
        EXPECT_TRUE(buffer.guard_intact());
    }
}

TEST(Append, NumberTruncatedInsideItsDigits)
{
    guarded_buffer<6> buffer(L"ab");
    append(buffer.cells, 6, L"%u", 1234567U);
    EXPECT_EQ(std::wstring(L"ab123"), std::wstring(buffer.cells));

    guarded_buffer<6> decimal(L"");
    append(decimal.cells, 6, L"%.1f", 123456.75);
    EXPECT_EQ(std::wstring(L"12345"), std::wstring(decimal.cells));
    EXPECT_TRUE(decimal.guard_intact());
}

TEST(Append, UnterminatedBufferCountsAsFull)
{
    guarded_buffer<4> buffer(L"");
    buffer.cells[0] = buffer.cells[1] = buffer.cells[2] = buffer.cells[3] = L'z';

    append(buffer.cells, 4, L"x");

    EXPECT_EQ(0, std::wmemcmp(L"zzzz", buffer.cells, 4));
    EXPECT_TRUE(buffer.guard_intact());
}

std::wstring formatted_decimal(double value)
{
    wchar_t buffer[64] = L"";
    append(buffer, 64, L"%.1f", value);
    return buffer;
}

TEST(Append, OneDecimalRoundsTheExactValueHalfToEven)
{
    struct decimal_case {
        double value;
        const wchar_t* expected;
    };
    const decimal_case cases[] = {
        {2.25, L"2.2"},   // exact tie: to the even digit
        {0.75, L"0.8"},   // exact tie: to the even digit
        {-2.25, L"-2.2"}, // exact tie, negative
        {0.25, L"0.2"},   // exact tie
        {2.35, L"2.4"},   // stored just above the tie
        {0.35, L"0.3"},   // stored just below the tie
        {0.05, L"0.1"},   // stored just above the tie
        {26.850000000000023, L"26.9"},
        {-0.049999999999954525, L"-0.0"},
        {0.0, L"0.0"},
        {16.0, L"16.0"},
        {9.95, L"9.9"},    // 9.949999999999999289...
        {99.95, L"100.0"}, // 99.950000000000002842...
        {17179869184.0, L"17179869184.0"},
        {429496456.34999996, L"429496456.3"},
    };
    for (const decimal_case& c : cases) {
        EXPECT_EQ(std::wstring(c.expected), formatted_decimal(c.value)) << c.value;
    }
}

TEST(Append, IntegersStringsAndPercent)
{
    wchar_t buffer[128] = L"";
    append(buffer, 128, L"%u|%u|%lu|%lu|%%|%ls|%ls", 0U, 4294967295U, 100UL, 4294967295UL,
           L"\u00e9\u00c9\u00b0", L"");
    EXPECT_EQ(std::wstring(L"0|4294967295|100|4294967295|%|\u00e9\u00c9\u00b0|"),
              std::wstring(buffer));
}

TEST(Append, TextOutsideTheKnownConversionsIsCopiedAsItStands)
{
    struct literal_case {
        const wchar_t* format;
        const wchar_t* expected;
    };
    const literal_case cases[] = {
        {L"100%", L"100%"},
        {L"%d and %s", L"%d and %s"},
        {L"%.2f", L"%.2f"},
        {L"%l", L"%l"},
    };
    for (const literal_case& c : cases) {
        wchar_t buffer[32] = L"";
        append(buffer, 32, c.format);
        EXPECT_EQ(std::wstring(c.expected), std::wstring(buffer)) << c.format;
    }
}

TEST(Append, NullStringArgumentIsShownAsNull)
{
    wchar_t buffer[32] = L"[";
    const wchar_t* missing = nullptr;
    append(buffer, 32, L"%ls]", missing);
    EXPECT_EQ(std::wstring(L"[(null)]"), std::wstring(buffer));
}

} // namespace
