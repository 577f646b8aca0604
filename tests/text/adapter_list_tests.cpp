// The adapter list: de-duplication by substring, skipped entries, and what
// happens when the list fills its 1024 characters.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "adapter_list.h"

namespace {

const std::wstring sep = L"\r\n" + std::wstring(21, L' ');

struct entry {
    const wchar_t* description;
    std::uint32_t flags;
};

struct list_case {
    const char* name;
    std::vector<entry> entries;
    std::wstring expected;
};

std::wstring build(const std::vector<entry>& entries)
{
    wchar_t gpu_names[gpu_names_capacity] = L"";
    for (const entry& e : entries) {
        add_adapter(gpu_names, e.description, e.flags);
    }
    return gpu_names;
}

TEST(AdapterList, Sequences)
{
    const list_case cases[] = {
        {"duplicates listed once", {{L"A", 0}, {L"A", 0}, {L"B", 0}}, L"A" + sep + L"B"},
        {"mirroring driver ignored", {{L"Mirror", 0x8}}, L""},
        {"mirroring among others",
         {{L"A", 0x1}, {L"B", 0x8 | 0x1}, {L"C", 0x4}},
         L"A" + sep + L"C"},
        {"empty descriptions ignored", {{L"", 0}, {L"", 0x1}}, L""},
        {"empty between names", {{L"A", 0}, {L"", 0}, {L"B", 0}}, L"A" + sep + L"B"},
        {"name inside an earlier one dropped", {{L"X Pro", 0}, {L"X", 0}}, L"X Pro"},
        {"name containing an earlier one listed",
         {{L"X", 0}, {L"X Pro", 0}},
         L"X" + sep + L"X Pro"},
        {"spaces only after a name leave the separator",
         {{L"Wine Adapter", 0}, {L"   ", 0}},
         L"Wine Adapter" + sep},
        {"spaces only as the first name", {{L"   ", 0}}, L"   "},
        {"case-sensitive", {{L"abc", 0}, {L"ABC", 0}}, L"abc" + sep + L"ABC"},
        {"detached devices listed", {{L"A", 0x0}, {L"B", 0x0}}, L"A" + sep + L"B"},
        {"a realistic machine",
         {{L"NVIDIA GeForce RTX 3060", 0x5},
          {L"NVIDIA GeForce RTX 3060", 0x0},
          {L"Intel(R) UHD Graphics 770", 0x1},
          {L"Microsoft Basic Render Driver", 0x0},
          {L"RDPDD Chained DD", 0x8}},
         L"NVIDIA GeForce RTX 3060" + sep + L"Intel(R) UHD Graphics 770" + sep +
             L"Microsoft Basic Render Driver"},
    };
    for (const list_case& c : cases) {
        EXPECT_EQ(c.expected, build(c.entries)) << c.name;
    }
}

TEST(AdapterList, SaturatedList)
{
    struct saturation_case {
        std::size_t used;
        const wchar_t* description;
        std::wstring added;
    };
    const std::wstring long_name(127, L'N');
    const saturation_case cases[] = {
        {1023, L"New", L""},
        {1022, L"New", L"\r"},
        {1000, long_name.c_str(), sep},
        {990, long_name.c_str(), sep + std::wstring(10, L'N')},
        {800, long_name.c_str(), sep + long_name},
    };
    for (const saturation_case& c : cases) {
        wchar_t gpu_names[gpu_names_capacity];
        const std::wstring start(c.used, L'a');
        start.copy(gpu_names, c.used);
        gpu_names[c.used] = L'\0';

        add_adapter(gpu_names, c.description, 0);
        EXPECT_EQ(start + c.added, std::wstring(gpu_names)) << c.used;
        // A further name never changes a list that has reached 1023 characters.
        if (std::wstring(gpu_names).size() == gpu_names_capacity - 1) {
            const std::wstring full = gpu_names;
            add_adapter(gpu_names, L"Other", 0);
            EXPECT_EQ(full, std::wstring(gpu_names)) << c.used;
        }
    }
}

} // namespace
