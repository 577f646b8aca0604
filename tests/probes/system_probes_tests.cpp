// The processor name, display adapters and memory status against the real
// platform under Wine. The processor name is written by the tests into the
// test prefix's own registry (and put back afterwards, pass or fail); the
// adapters and memory are compared with what the test reads itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "adapter_list.h"
#include "expected_readings.h"
#include "pass_view.h"
#include "probes.h"

namespace {

constexpr const wchar_t* processor_key = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr const wchar_t* processor_name_value = L"ProcessorNameString";
constexpr const wchar_t* name_label = L"Nom                 : ";
constexpr const wchar_t* cpu_fallback = L"Processeur non identifi\u00e9";
constexpr wchar_t garbage = static_cast<wchar_t>(0xCCCC);

// The processor name value as it stood before a test, put back when the
// test ends however it ends: rewritten with its type and bytes, or deleted
// when it did not exist.
class saved_processor_name {
  public:
    saved_processor_name()
    {
        opened_ = RegOpenKeyExW(HKEY_LOCAL_MACHINE, processor_key, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) == ERROR_SUCCESS;
        if (!opened_) {
            return;
        }
        DWORD size = sizeof data_;
        const LSTATUS status =
            RegQueryValueExW(key_, processor_name_value, nullptr, &type_, data_, &size);
        existed_ = status == ERROR_SUCCESS;
        saved_ = existed_ || status == ERROR_FILE_NOT_FOUND;
        size_ = size;
    }
    ~saved_processor_name()
    {
        if (!opened_) {
            return;
        }
        if (saved_ && existed_) {
            RegSetValueExW(key_, processor_name_value, 0, type_, data_, size_);
        } else if (saved_) {
            RegDeleteValueW(key_, processor_name_value);
        }
        RegCloseKey(key_);
    }
    saved_processor_name(const saved_processor_name&) = delete;
    saved_processor_name& operator=(const saved_processor_name&) = delete;

    [[nodiscard]] bool ready() const { return opened_ && saved_; }
    [[nodiscard]] HKEY key() const { return key_; }
    [[nodiscard]] bool existed() const { return existed_; }
    [[nodiscard]] DWORD type() const { return type_; }
    [[nodiscard]] std::vector<BYTE> data() const { return {data_, data_ + size_}; }

  private:
    HKEY key_ = nullptr;
    bool opened_ = false;
    bool saved_ = false;
    bool existed_ = false;
    DWORD type_ = REG_NONE;
    BYTE data_[4096] = {};
    DWORD size_ = 0;
};

std::vector<BYTE> wide_bytes(const std::wstring& text, bool with_nul)
{
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return {first, first + (text.size() + (with_nul ? 1 : 0)) * sizeof(wchar_t)};
}

// Distinct printable characters, so that a shifted or cut name shows.
std::wstring name_of_length(std::size_t length)
{
    std::wstring name;
    for (std::size_t i = 0; i < length; ++i) {
        name += static_cast<wchar_t>(L'A' + i % 26);
    }
    return name;
}

struct stored_value {
    bool present;
    DWORD type;
    std::vector<BYTE> data;
};

struct name_case {
    const char* label;
    stored_value value;
    // What read_cpu_name leaves; the report shows the fallback when empty.
    std::wstring expected;
};

std::vector<BYTE> raw_bytes(const void* data, std::size_t size)
{
    const auto* first = static_cast<const BYTE*>(data);
    return {first, first + size};
}

std::vector<name_case> name_cases()
{
    const std::wstring name = L"Intel(R) Xeon(R) QEL Test CPU @ 2.40GHz";
    const std::uint32_t dword_as_text = 0x00410041; // the bytes of L"AA"
    const std::uint64_t qword_as_text = 0x0042004100420041;
    const std::wstring multi(L"Premier\0Second\0", 15);
    const std::wstring embedded(L"Avant\0Apr\u00e8s", 11);
    std::vector<BYTE> odd = wide_bytes(L"ABC", false);
    odd.pop_back();

    // Added one by one: GCC 12 warns wrongly about nested vectors in one
    // braced list.
    std::vector<name_case> cases;
    const auto add = [&cases](const char* label, bool present, DWORD type, std::vector<BYTE> data,
                              std::wstring expected) {
        name_case c;
        c.label = label;
        c.value.present = present;
        c.value.type = type;
        c.value.data = std::move(data);
        c.expected = std::move(expected);
        cases.push_back(std::move(c));
    };
    add("normal name", true, REG_SZ, wide_bytes(name, true), name);
    add("spaces kept", true, REG_SZ, wide_bytes(L"  Padded CPU  ", true), L"  Padded CPU  ");
    add("accented name", true, REG_SZ, wide_bytes(L"Processeur \u00e9prouv\u00e9", true),
        L"Processeur \u00e9prouv\u00e9");
    add("255 characters", true, REG_SZ, wide_bytes(name_of_length(255), true), name_of_length(255));
    add("256 characters with NUL (514 bytes)", true, REG_SZ, wide_bytes(name_of_length(256), true),
        L"");
    add("256 characters without NUL (512 bytes)", true, REG_SZ,
        wide_bytes(name_of_length(256), false), name_of_length(255));
    add("without NUL", true, REG_SZ, wide_bytes(L"Sans terminateur", false), L"Sans terminateur");
    add("odd byte count", true, REG_SZ, odd, L"AB");
    add("embedded NUL", true, REG_SZ, wide_bytes(embedded, true), L"Avant");
    add("empty with NUL", true, REG_SZ, wide_bytes(L"", true), L"");
    add("empty, no bytes", true, REG_SZ, {}, L"");
    add("missing", false, REG_NONE, {}, L"");
    add("600 bytes", true, REG_SZ, wide_bytes(name_of_length(299), true), L"");
    add("4000 bytes", true, REG_SZ, wide_bytes(name_of_length(1999), true), L"");
    add("REG_DWORD", true, REG_DWORD, raw_bytes(&dword_as_text, sizeof dword_as_text), L"");
    add("REG_QWORD", true, REG_QWORD, raw_bytes(&qword_as_text, sizeof qword_as_text), L"");
    add("REG_BINARY", true, REG_BINARY, wide_bytes(L"Binaire", true), L"");
    add("REG_EXPAND_SZ", true, REG_EXPAND_SZ, wide_bytes(L"CPU %PROCESSOR_LEVEL%", true), L"");
    add("REG_MULTI_SZ", true, REG_MULTI_SZ, wide_bytes(multi, true), L"");
    return cases;
}

bool store(HKEY key, const stored_value& value)
{
    if (!value.present) {
        const LSTATUS status = RegDeleteValueW(key, processor_name_value);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key, processor_name_value, 0, value.type,
                          value.data.empty() ? nullptr : value.data.data(),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

std::size_t terminated_length(const wchar_t (&name)[cpu_name_capacity])
{
    const wchar_t* end = std::wmemchr(name, L'\0', cpu_name_capacity);
    return end == nullptr ? cpu_name_capacity : static_cast<std::size_t>(end - name);
}

TEST(processor_name, reads_what_the_registry_holds)
{
    saved_processor_name saved;
    ASSERT_TRUE(saved.ready());
    pass_view view;
    ASSERT_TRUE(view.valid());

    for (const name_case& c : name_cases()) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(store(saved.key(), c.value));

        wchar_t cpu_name[cpu_name_capacity];
        std::wmemset(cpu_name, garbage, cpu_name_capacity);
        read_cpu_name(cpu_name);
        ASSERT_LT(terminated_length(cpu_name), cpu_name_capacity);
        EXPECT_EQ(std::wstring(cpu_name), c.expected);

        bool found = false;
        const std::wstring shown = line_after(view.run_pass(), name_label, found);
        EXPECT_TRUE(found);
        EXPECT_EQ(shown, c.expected.empty() ? std::wstring(cpu_fallback) : c.expected);
    }
}

TEST(processor_name, registry_value_is_put_back)
{
    std::vector<BYTE> before_data;
    DWORD before_type = REG_NONE;
    bool before_existed = false;
    {
        saved_processor_name saved;
        ASSERT_TRUE(saved.ready());
        before_data = saved.data();
        before_type = saved.type();
        before_existed = saved.existed();
        const std::uint32_t number = 1234;
        ASSERT_TRUE(store(saved.key(), {true, REG_DWORD, raw_bytes(&number, sizeof number)}));
    }
    saved_processor_name after;
    ASSERT_TRUE(after.ready());
    EXPECT_EQ(after.existed(), before_existed);
    EXPECT_EQ(after.type(), before_type);
    EXPECT_EQ(after.data(), before_data);
}

// Under Wine the key is made at start-up from the host's processor, so the
// untouched value is a real name and the pass shows it.
TEST(processor_name, shows_the_platform_value)
{
    saved_processor_name saved;
    ASSERT_TRUE(saved.ready());
    ASSERT_TRUE(saved.existed());
    ASSERT_EQ(saved.type(), static_cast<DWORD>(REG_SZ));
    std::vector<BYTE> data = saved.data();
    data.resize(data.size() + sizeof(wchar_t), 0);
    const std::wstring platform_name(reinterpret_cast<const wchar_t*>(data.data()));
    ASSERT_FALSE(platform_name.empty());

    wchar_t cpu_name[cpu_name_capacity];
    read_cpu_name(cpu_name);
    EXPECT_EQ(std::wstring(cpu_name), platform_name);

    pass_view view;
    ASSERT_TRUE(view.valid());
    bool found = false;
    EXPECT_EQ(line_after(view.run_pass(), name_label, found), platform_name);
    EXPECT_TRUE(found);
}

struct enumerated_device {
    std::wstring description;
    DWORD state_flags;
};

std::vector<enumerated_device> enumerate_devices()
{
    std::vector<enumerated_device> devices;
    DISPLAY_DEVICEW device{};
    device.cb = sizeof device;
    for (DWORD i = 0; EnumDisplayDevicesW(nullptr, i, &device, 0) != 0; ++i) {
        devices.push_back({device.DeviceString, device.StateFlags});
        device = DISPLAY_DEVICEW{};
        device.cb = sizeof device;
    }
    return devices;
}

TEST(display_adapters, list_what_the_platform_enumerates)
{
    const std::vector<enumerated_device> devices = enumerate_devices();
    ASSERT_FALSE(devices.empty()) << "the test display enumerates no adapter";

    wchar_t expected[gpu_names_capacity] = {};
    for (const enumerated_device& device : devices) {
        add_adapter(expected, device.description.c_str(),
                    static_cast<std::uint32_t>(device.state_flags));
    }
    ASSERT_NE(expected[0], L'\0');

    wchar_t gpu_names[gpu_names_capacity] = {};
    enumerate_display_adapters(gpu_names);
    EXPECT_EQ(std::wstring(gpu_names), std::wstring(expected));

    // Checked by hand too: every listed device's description is in the list.
    for (const enumerated_device& device : devices) {
        if ((device.state_flags & DISPLAY_DEVICE_MIRRORING_DRIVER) == 0 &&
            !device.description.empty()) {
            EXPECT_NE(std::wstring(gpu_names).find(device.description), std::wstring::npos)
                << "missing " << testing::PrintToString(device.description);
        }
    }

    pass_view view;
    ASSERT_TRUE(view.valid());
    const std::wstring section =
        L"\r\nCARTE GRAPHIQUE\r\n" + std::wstring(name_label) + expected + L"\r\n";
    EXPECT_NE(view.run_pass().find(section), std::wstring::npos);
}

TEST(display_adapters, each_call_enumerates_from_the_start)
{
    wchar_t first[gpu_names_capacity] = {};
    wchar_t second[gpu_names_capacity] = {};
    enumerate_display_adapters(first);
    enumerate_display_adapters(second);
    EXPECT_NE(first[0], L'\0');
    EXPECT_EQ(std::wstring(first), std::wstring(second));
}

TEST(memory_status, gibibytes_text_rounds_as_the_report_does)
{
    constexpr std::uint64_t unit = std::uint64_t{1} << 30;
    EXPECT_EQ(gibibytes_text(16 * unit), L"16.0");
    EXPECT_EQ(gibibytes_text(2 * unit + unit / 4), L"2.2");
    EXPECT_EQ(gibibytes_text(unit * 3 / 4), L"0.8");
    EXPECT_EQ(gibibytes_text(0), L"0.0");
}

TEST(memory_status, is_the_platform_record)
{
    MEMORYSTATUSEX expected{};
    expected.dwLength = sizeof expected;
    ASSERT_NE(GlobalMemoryStatusEx(&expected), 0);
    ASSERT_GT(expected.ullTotalPhys, 0U);

    MEMORYSTATUSEX memory;
    std::memset(&memory, 0xAB, sizeof memory);
    read_memory_status(memory);
    EXPECT_EQ(memory.dwLength, 64U);
    // The total never changes while the machine runs; the other figures move.
    EXPECT_EQ(memory.ullTotalPhys, expected.ullTotalPhys);
    EXPECT_LE(memory.ullAvailPhys, memory.ullTotalPhys);
    EXPECT_LE(memory.dwMemoryLoad, 100U);

    pass_view view;
    ASSERT_TRUE(view.valid());
    bool found = false;
    EXPECT_EQ(line_after(view.run_pass(), L"Capacit\u00e9            : ", found),
              gibibytes_text(expected.ullTotalPhys) + L" Go");
    EXPECT_TRUE(found);
}

} // namespace
