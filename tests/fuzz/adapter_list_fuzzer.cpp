// libFuzzer target for the adapter list. An input decodes to a starting list
// (empty, or filled with text, sometimes up to the last few free cells) and a
// sequence of display-device entries whose descriptions come from a small
// alphabet, from earlier descriptions, or from pieces of the list itself, so
// that repeats and substrings are common. After every entry the list must
// hold the rule's invariants and equal a plain std::wstring model of the rule.
//
// Input layout (every read past the end gives zero):
//   start: 1 byte kind, 2 bytes length, 1 byte pattern length and the pattern;
//   per entry: 1 byte flags kind (and 4 bytes of flags for one kind), then
//   1 byte description kind and its own bytes; kind 0xFF is a null
//   description, which must be ignored like an empty one.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "adapter_list.h"
#include "fuzz_input.h"

namespace {

constexpr std::size_t most_used = gpu_names_capacity - 1;
constexpr std::size_t most_description = 127;
constexpr std::size_t most_entries = 64;
constexpr std::size_t guard_cells = 16;
constexpr wchar_t guard_value = static_cast<wchar_t>(0x5EADBEEF);

const std::wstring separator = L"\r\n" + std::wstring(21, L' ');

// Few letters, so that descriptions repeat and contain each other; spaces,
// CR and LF, so that they also match pieces of the separator.
const wchar_t alphabet[] = {L'A', L'B', L'a', L' ', L' ', L'\r', L'\n', L'\u00e9'};

const wchar_t* const real_descriptions[] = {
    L"Wine Adapter",
    L"NVIDIA GeForce RTX 3060",
    L"Intel(R) UHD Graphics 770",
    L"Microsoft Basic Render Driver",
    L"RDPDD Chained DD",
    L"Carte graphique non identifi\u00e9e",
    L" ",
    L"                     ",
    L"                      ",
    L"\r\n",
    L"\r\n                     ",
    L"\n ",
};

// The list inside guard cells, which are poisoned while the list is being
// changed.
struct guarded_list {
    wchar_t before[guard_cells];
    wchar_t names[gpu_names_capacity];
    wchar_t after[guard_cells];
};

alignas(8) guarded_list list;

bool guards_intact()
{
    return std::all_of(std::begin(list.before), std::end(list.before),
                       [](wchar_t cell) { return cell == guard_value; }) &&
           std::all_of(std::begin(list.after), std::end(list.after),
                       [](wchar_t cell) { return cell == guard_value; });
}

void add_guarded(const wchar_t* description, std::uint32_t flags)
{
    ASAN_POISON_MEMORY_REGION(list.before, sizeof list.before);
    ASAN_POISON_MEMORY_REGION(list.after, sizeof list.after);
    add_adapter(list.names, description, flags);
    ASAN_UNPOISON_MEMORY_REGION(&list, sizeof list);
}

std::size_t bounded_length()
{
    const wchar_t* const terminator = std::wmemchr(list.names, L'\0', gpu_names_capacity);
    return terminator != nullptr ? static_cast<std::size_t>(terminator - list.names)
                                 : gpu_names_capacity;
}

// Whole lists are compared with the C library, not cell by cell in code the
// fuzzer instruments, so that the checks stay off the profile.
bool same_names(const wchar_t* left, const wchar_t* right, std::size_t count)
{
    return std::memcmp(left, right, count * sizeof(wchar_t)) == 0;
}

// The rule, written plainly: skip mirroring drivers and empty descriptions;
// add the separator unless the list is empty or holds the description; then
// add the description unless the list, separator included, holds it. Every
// addition stops at 1023 characters.
void model_add(std::wstring& model, const std::wstring& description, std::uint32_t flags)
{
    if ((flags & 0x8U) != 0 || description.empty()) {
        return;
    }
    const auto add_bounded = [&model](const std::wstring& piece) {
        if (model.size() < most_used) {
            model += piece.substr(0, most_used - model.size());
        }
    };
    if (!model.empty() && model.find(description) == std::wstring::npos) {
        add_bounded(separator);
    }
    if (model.find(description) == std::wstring::npos) {
        add_bounded(description);
    }
}

std::wstring alphabet_text(fuzz_input& input, std::size_t length)
{
    std::wstring text;
    for (std::size_t i = 0; i < length; ++i) {
        text += alphabet[input.byte() % std::size(alphabet)];
    }
    return text;
}

void start_list(fuzz_input& input, std::wstring& model)
{
    const std::uint8_t kind = input.byte();
    const std::uint16_t value = input.u16();
    std::size_t used = 0;
    switch (kind % 4) {
    case 0:
    case 1:
        break;
    case 2:
        used = 1000 + value % 24U; // close to saturation, or saturated
        break;
    default:
        used = value % gpu_names_capacity;
        break;
    }
    std::wstring pattern = alphabet_text(input, 1 + input.byte() % 32U);
    if ((kind & 0x80U) != 0) {
        pattern += separator;
    }
    model.clear();
    for (std::size_t i = 0; i < used; ++i) {
        model += pattern[i % pattern.size()];
    }

    std::fill(std::begin(list.before), std::end(list.before), guard_value);
    std::fill(std::begin(list.after), std::end(list.after), guard_value);
    // The cells past the terminator hold leftovers, not zeros.
    std::fill(std::begin(list.names), std::end(list.names), L'#');
    std::copy(model.begin(), model.end(), list.names);
    list.names[used] = L'\0';
}

std::uint32_t decode_flags(fuzz_input& input)
{
    const std::uint8_t kind = input.byte();
    switch (kind % 4) {
    case 0:
        return 0;
    case 1:
        return mirroring_driver_flag | (kind >> 2U);
    case 2:
        return input.u32();
    default:
        return kind >> 2U;
    }
}

std::wstring decode_description(fuzz_input& input, const std::vector<std::wstring>& earlier,
                                const std::wstring& current, bool& is_null)
{
    const std::uint8_t kind = input.byte();
    std::wstring text;
    is_null = kind == 0xFF;
    if (is_null) {
        return text;
    }
    switch (kind % 8) {
    case 0:
    case 1:
        text = alphabet_text(input, input.byte() % (most_description + 1));
        break;
    case 2:
        if (!earlier.empty()) {
            text = earlier[input.byte() % earlier.size()];
        }
        break;
    case 3:
        if (!earlier.empty()) {
            const std::wstring& source = earlier[input.byte() % earlier.size()];
            const std::size_t start = input.byte() % (source.size() + 1);
            text = source.substr(start, input.byte() % (most_description + 1));
        }
        break;
    case 4: {
        // A piece of the list as it stands: names, separators, or both.
        const std::size_t start = input.u16() % (current.size() + 1);
        text = current.substr(start, input.byte() % (most_description + 1));
        break;
    }
    case 5:
        if (!earlier.empty()) {
            const std::wstring& source = earlier[input.byte() % earlier.size()];
            const std::wstring extra = alphabet_text(input, input.byte() % 8U);
            text = (kind & 0x80U) != 0 ? extra + source : source + extra;
        }
        break;
    case 6:
        text = real_descriptions[input.byte() % std::size(real_descriptions)];
        break;
    default:
        text.assign(input.byte() % (most_description + 1),
                    alphabet[input.byte() % std::size(alphabet)]);
        break;
    }
    text.resize(std::min(text.size(), most_description));
    return text;
}

// Without CR in any description the list's only CRs start separators, so
// splitting at them gives the names as listed; none may be listed twice.
bool names_distinct(const std::wstring& text)
{
    std::vector<std::wstring> names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        names.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) {
            break;
        }
        start = end + separator.size();
    }
    names.erase(std::remove(names.begin(), names.end(), std::wstring()), names.end());
    std::sort(names.begin(), names.end());
    return std::adjacent_find(names.begin(), names.end()) == names.end();
}

void check_one_entry(const std::wstring& description, bool is_null, std::uint32_t flags,
                     std::wstring& model, bool started_empty, bool& any_cr)
{
    const guarded_list before = list;
    const std::wstring text_before(list.names, bounded_length());
    const bool already_listed = text_before.find(description) != std::wstring::npos;

    // Stored with its exact length, so that a read past the terminator shows.
    const std::vector<wchar_t> stored(description.c_str(),
                                      description.c_str() + description.size() + 1);
    const wchar_t* const passed = is_null ? nullptr : stored.data();
    add_guarded(passed, flags);
    model_add(model, description, flags);

    require(guards_intact(), "a cell outside the list was written");
    const std::size_t length = bounded_length();
    require(length < gpu_names_capacity, "the list is not terminated within 1024 characters");
    const std::wstring text(list.names, length);
    const bool unchanged = same_names(before.names, list.names, gpu_names_capacity);

    if ((flags & mirroring_driver_flag) != 0) {
        require(unchanged, "a mirroring driver changed the list");
    }
    if (description.empty()) {
        require(unchanged, "an empty or null description changed the list");
    }
    if (text_before.size() == most_used) {
        require(unchanged, "a list of 1023 characters changed");
    }
    if (already_listed) {
        require(unchanged, "a description already in the list was listed again");
    }
    require(text.compare(0, text_before.size(), text_before) == 0,
            "the list lost or changed text it had");
    const bool counted = (flags & mirroring_driver_flag) == 0 && !description.empty();
    if (counted && text.size() < most_used) {
        require(text.find(description) != std::wstring::npos,
                "a description is missing from a list that is not full");
    }
    any_cr = any_cr || (counted && description.find(L'\r') != std::wstring::npos);
    if (started_empty && !any_cr && text.size() < most_used) {
        require(names_distinct(text), "a name is listed twice");
    }

    require(text == model, "the list differs from the model of the rule");
    // Cells past the terminator keep what they held.
    require(same_names(before.names + length + 1, list.names + length + 1,
                       gpu_names_capacity - length - 1),
            "a cell past the terminator was changed");

    // The same entry once more changes nothing.
    const guarded_list once = list;
    add_guarded(passed, flags);
    require(same_names(once.names, list.names, gpu_names_capacity),
            "a second add of the same entry changed the list");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz_input input{data, data + size};
    std::wstring model;
    start_list(input, model);
    const bool started_empty = model.empty();
    bool any_cr = false;

    std::vector<std::wstring> earlier;
    for (std::size_t entry = 0; entry < most_entries && !input.exhausted(); ++entry) {
        const std::uint32_t flags = decode_flags(input);
        bool is_null = false;
        const std::wstring description =
            decode_description(input, earlier, std::wstring(list.names, bounded_length()), is_null);
        check_one_entry(description, is_null, flags, model, started_empty, any_cr);
        earlier.push_back(description);
    }
    return 0;
}
