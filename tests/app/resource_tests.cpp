// The executable as built: its resources, read through the platform's
// resource functions with the file loaded as data (icon group 1 and its seven
// PNG images, the manifest and nothing else), and the DLLs it imports, read
// from the file's import directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app_process.h"

namespace {

constexpr WORD english_us = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
static_assert(english_us == 0x0409, "English (United States)");
constexpr WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr ULONG_PTR manifest_type = 24;

const wchar_t* program()
{
    static wchar_t path[MAX_PATH];
    static const bool found = app_program_path(path);
    return found ? path : nullptr;
}

// A resource type or name: an integer identifier, or a text.
struct resource_id {
    ULONG_PTR number;
    std::wstring text;

    bool operator==(const resource_id& other) const
    {
        return number == other.number && text == other.text;
    }
    bool operator<(const resource_id& other) const
    {
        return number != other.number ? number < other.number : text < other.text;
    }
};

resource_id id_of(LPCWSTR id)
{
    if (IS_INTRESOURCE(id)) {
        return {reinterpret_cast<ULONG_PTR>(id), std::wstring()};
    }
    return {0, id};
}

LPCWSTR as_resource(ULONG_PTR number)
{
    return MAKEINTRESOURCEW(number);
}

void PrintTo(const resource_id& id, std::ostream* out)
{
    if (id.text.empty()) {
        *out << "#" << id.number;
    } else {
        *out << testing::PrintToString(id.text);
    }
}

BOOL CALLBACK collect_type(HMODULE /*module*/, LPWSTR type, LONG_PTR l_param)
{
    reinterpret_cast<std::vector<resource_id>*>(l_param)->push_back(id_of(type));
    return TRUE;
}

BOOL CALLBACK collect_name(HMODULE /*module*/, LPCWSTR /*type*/, LPWSTR name, LONG_PTR l_param)
{
    reinterpret_cast<std::vector<resource_id>*>(l_param)->push_back(id_of(name));
    return TRUE;
}

BOOL CALLBACK collect_language(HMODULE /*module*/, LPCWSTR /*type*/, LPCWSTR /*name*/,
                               WORD language, LONG_PTR l_param)
{
    reinterpret_cast<std::vector<WORD>*>(l_param)->push_back(language);
    return TRUE;
}

std::vector<resource_id> numbers(std::initializer_list<ULONG_PTR> values)
{
    std::vector<resource_id> ids;
    for (const ULONG_PTR value : values) {
        ids.push_back({value, std::wstring()});
    }
    return ids;
}

// The data of one resource in one language, empty when there is none.
std::vector<std::uint8_t> resource_data(HMODULE module, ULONG_PTR type, ULONG_PTR name,
                                        WORD language)
{
    const HRSRC found = FindResourceExW(module, as_resource(type), as_resource(name), language);
    if (found == nullptr) {
        return {};
    }
    const HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    if (bytes == nullptr) {
        return {};
    }
    return {bytes, bytes + size};
}

std::uint16_t le16(const std::vector<std::uint8_t>& data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

std::uint32_t le32(const std::vector<std::uint8_t>& data, std::size_t at)
{
    return static_cast<std::uint32_t>(le16(data, at)) |
           static_cast<std::uint32_t>(le16(data, at + 2)) << 16;
}

std::uint32_t be32(const std::vector<std::uint8_t>& data, std::size_t at)
{
    return static_cast<std::uint32_t>(data[at]) << 24 |
           static_cast<std::uint32_t>(data[at + 1]) << 16 |
           static_cast<std::uint32_t>(data[at + 2]) << 8 | data[at + 3];
}

std::string lower(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

class built_program : public testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        if (program() != nullptr) {
            module = LoadLibraryExW(program(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        }
    }

    static void TearDownTestSuite()
    {
        if (module != nullptr) {
            FreeLibrary(module);
            module = nullptr;
        }
    }

    void SetUp() override
    {
        ASSERT_NE(program(), nullptr) << "the test needs the program's path as its argument";
        ASSERT_NE(module, nullptr) << "the program cannot be loaded as data";
    }

    static std::vector<resource_id> names(ULONG_PTR type)
    {
        std::vector<resource_id> found;
        EnumResourceNamesW(module, as_resource(type), collect_name,
                           reinterpret_cast<LONG_PTR>(&found));
        std::sort(found.begin(), found.end());
        return found;
    }

    static std::vector<WORD> languages(ULONG_PTR type, ULONG_PTR name)
    {
        std::vector<WORD> found;
        EnumResourceLanguagesW(module, as_resource(type), as_resource(name), collect_language,
                               reinterpret_cast<LONG_PTR>(&found));
        return found;
    }

    static HMODULE module;
};

HMODULE built_program::module = nullptr;

TEST_F(built_program, carries_only_icons_an_icon_group_and_a_manifest)
{
    std::vector<resource_id> types;
    ASSERT_TRUE(EnumResourceTypesW(module, collect_type, reinterpret_cast<LONG_PTR>(&types)));
    std::sort(types.begin(), types.end());
    const ULONG_PTR icon = reinterpret_cast<ULONG_PTR>(RT_ICON);
    const ULONG_PTR group_icon = reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON);
    EXPECT_EQ(types, numbers({icon, group_icon, manifest_type}));

    // Named outright, so that a failure says which one appeared.
    for (LPCWSTR unwanted : {RT_VERSION, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR}) {
        EXPECT_TRUE(names(reinterpret_cast<ULONG_PTR>(unwanted)).empty())
            << "type " << reinterpret_cast<ULONG_PTR>(unwanted);
    }
}

TEST_F(built_program, icon_group_1_lists_seven_png_images_in_english_us)
{
    const ULONG_PTR group_icon = reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON);
    const ULONG_PTR icon = reinterpret_cast<ULONG_PTR>(RT_ICON);
    EXPECT_EQ(names(group_icon), numbers({1}));
    EXPECT_EQ(languages(group_icon, 1), std::vector<WORD>{english_us});
    EXPECT_EQ(names(icon), numbers({1, 2, 3, 4, 5, 6, 7}));

    // GRPICONDIR: reserved 0, type 1 (icons), count; then one 14-byte
    // GRPICONDIRENTRY per image, a width or height of 0 meaning 256.
    const std::vector<std::uint8_t> group = resource_data(module, group_icon, 1, english_us);
    ASSERT_EQ(group.size(), 6u + 7u * 14u);
    EXPECT_EQ(le16(group, 0), 0);
    EXPECT_EQ(le16(group, 2), 1);
    ASSERT_EQ(le16(group, 4), 7);

    const unsigned sizes[] = {16, 24, 32, 48, 64, 128, 256};
    const std::uint8_t png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (std::size_t i = 0; i < 7; ++i) {
        const unsigned size = sizes[i];
        SCOPED_TRACE(testing::Message() << size << " px");
        const std::size_t entry = 6 + i * 14;
        EXPECT_EQ(group[entry] == 0 ? 256u : group[entry], size);
        EXPECT_EQ(group[entry + 1] == 0 ? 256u : group[entry + 1], size);
        EXPECT_EQ(group[entry + 2], 0) << "colour count";
        EXPECT_EQ(le16(group, entry + 4), 1) << "planes";
        EXPECT_EQ(le16(group, entry + 6), 32) << "bits per pixel";
        const std::uint32_t bytes = le32(group, entry + 8);
        const std::uint16_t id = le16(group, entry + 12);
        EXPECT_EQ(id, i + 1);

        EXPECT_EQ(languages(icon, id), std::vector<WORD>{english_us});
        const std::vector<std::uint8_t> image = resource_data(module, icon, id, english_us);
        ASSERT_GE(image.size(), 33u);
        EXPECT_EQ(image.size(), bytes);
        EXPECT_EQ(std::memcmp(image.data(), png_signature, sizeof png_signature), 0);
        // The first chunk is IHDR: width, height, bit depth 8, colour type 6
        // (truecolour with alpha), so 32 bits per pixel.
        EXPECT_EQ(be32(image, 8), 13u);
        EXPECT_EQ(std::memcmp(image.data() + 12, "IHDR", 4), 0);
        EXPECT_EQ(be32(image, 16), size);
        EXPECT_EQ(be32(image, 20), size);
        EXPECT_EQ(image[24], 8);
        EXPECT_EQ(image[25], 6);
    }
}

TEST_F(built_program, the_icon_loads_in_every_size)
{
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(testing::Message() << size << " px");
        auto* const icon = static_cast<HICON>(
            LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        ASSERT_NE(info.hbmColor, nullptr);
        ASSERT_NE(GetObjectW(info.hbmColor, sizeof colour, &colour), 0);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        EXPECT_EQ(colour.bmBitsPixel, 32);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST_F(built_program, has_exactly_one_manifest_as_invoker_without_dpi_or_common_controls)
{
    EXPECT_EQ(names(manifest_type), numbers({1}));
    EXPECT_EQ(languages(manifest_type, 1), std::vector<WORD>{neutral});

    const std::vector<std::uint8_t> data = resource_data(module, manifest_type, 1, neutral);
    ASSERT_FALSE(data.empty());
    const std::string manifest = lower(std::string(data.begin(), data.end()));
    EXPECT_NE(manifest.find("<requestedexecutionlevel level=\"asinvoker\""), std::string::npos);
    const char* const supported_os[] = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // 10 and 11
    };
    std::size_t declared = 0;
    for (std::size_t at = manifest.find("<supportedos"); at != std::string::npos;
         at = manifest.find("<supportedos", at + 1)) {
        ++declared;
    }
    EXPECT_EQ(declared, std::size(supported_os));
    for (const char* id : supported_os) {
        EXPECT_NE(manifest.find(std::string("<supportedos id=\"") + id + "\""), std::string::npos)
            << id;
    }
    for (const char* absent : {"dpiaware", "dpiawareness", "microsoft.windows.common-controls",
                               "<dependency", "requireadministrator", "highestavailable"}) {
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
    }
}

// The program's file as bytes.
std::vector<std::uint8_t> file_bytes(const wchar_t* path)
{
    std::vector<std::uint8_t> bytes;
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        return bytes;
    }
    std::uint8_t buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    static_cast<void>(std::fclose(file));
    return bytes;
}

// The file offset of a relative virtual address, through the section table;
// 0 when no section holds it.
std::size_t file_offset(const std::vector<std::uint8_t>& image, std::size_t sections,
                        unsigned section_count, std::uint32_t rva)
{
    for (unsigned i = 0; i < section_count; ++i) {
        const std::size_t section = sections + i * sizeof(IMAGE_SECTION_HEADER);
        const std::uint32_t virtual_address = le32(image, section + 12);
        const std::uint32_t raw_size = le32(image, section + 16);
        const std::uint32_t raw_offset = le32(image, section + 20);
        if (rva >= virtual_address && rva < virtual_address + raw_size) {
            return raw_offset + (rva - virtual_address);
        }
    }
    return 0;
}

TEST(built_program_imports, only_system_dlls_and_no_delay_loads)
{
    ASSERT_NE(program(), nullptr);
    const std::vector<std::uint8_t> image = file_bytes(program());
    ASSERT_GT(image.size(), 4096u);
    ASSERT_EQ(le16(image, 0), IMAGE_DOS_SIGNATURE);
    const std::size_t nt = le32(image, 0x3C);
    ASSERT_EQ(le32(image, nt), IMAGE_NT_SIGNATURE);
    const std::size_t file_header = nt + 4;
    EXPECT_EQ(le16(image, file_header), IMAGE_FILE_MACHINE_AMD64);
    const unsigned section_count = le16(image, file_header + 2);
    const std::size_t optional = file_header + sizeof(IMAGE_FILE_HEADER);
    ASSERT_EQ(le16(image, optional), IMAGE_NT_OPTIONAL_HDR64_MAGIC);
    EXPECT_EQ(le16(image, optional + offsetof(IMAGE_OPTIONAL_HEADER64, Subsystem)),
              IMAGE_SUBSYSTEM_WINDOWS_GUI);
    const std::size_t directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    const std::size_t sections = optional + le16(image, file_header + 16);

    const auto directory_rva = [&](unsigned index) {
        return le32(image, directories + index * sizeof(IMAGE_DATA_DIRECTORY));
    };
    EXPECT_EQ(directory_rva(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT), 0u);

    std::size_t descriptor =
        file_offset(image, sections, section_count, directory_rva(IMAGE_DIRECTORY_ENTRY_IMPORT));
    ASSERT_NE(descriptor, 0u);
    std::vector<std::string> dlls;
    for (;; descriptor += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const std::uint32_t name_rva =
            le32(image, descriptor + offsetof(IMAGE_IMPORT_DESCRIPTOR, Name));
        if (name_rva == 0) {
            break;
        }
        const std::size_t name = file_offset(image, sections, section_count, name_rva);
        ASSERT_NE(name, 0u);
        dlls.push_back(lower(reinterpret_cast<const char*>(image.data() + name)));
    }
    std::sort(dlls.begin(), dlls.end());

    // The platform's own DLLs; the C and C++ runtimes of the compiler are
    // linked in statically, and NVML is loaded only at run time.
    const std::vector<std::string> system_dlls = {"advapi32.dll", "gdi32.dll", "kernel32.dll",
                                                  "msvcrt.dll",   "ole32.dll", "oleaut32.dll",
                                                  "user32.dll"};
    for (const std::string& dll : dlls) {
        EXPECT_TRUE(std::binary_search(system_dlls.begin(), system_dlls.end(), dll)) << dll;
    }
    for (const char* needed : {"kernel32.dll", "user32.dll", "gdi32.dll"}) {
        EXPECT_TRUE(std::binary_search(dlls.begin(), dlls.end(), needed)) << needed;
    }
}

} // namespace
