// The tests' own reading of the platform.
#include "expected_readings.h"

#include <windows.h>

#include "adapter_list.h"

std::wstring gibibytes_text(std::uint64_t bytes)
{
    constexpr std::uint64_t unit = std::uint64_t{1} << 30;
    const std::uint64_t whole = bytes / unit;
    const std::uint64_t rest_tenths = (bytes % unit) * 10; // below 2^34: no overflow
    std::uint64_t tenths = whole * 10 + rest_tenths / unit;
    const std::uint64_t remainder = rest_tenths % unit;
    if (remainder * 2 > unit || (remainder * 2 == unit && tenths % 2 == 1)) {
        ++tenths;
    }
    return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10);
}

std::wstring expected_adapter_list()
{
    wchar_t list[gpu_names_capacity] = {};
    DISPLAY_DEVICEW device{};
    device.cb = sizeof device;
    for (DWORD i = 0; EnumDisplayDevicesW(nullptr, i, &device, 0) != 0; ++i) {
        add_adapter(list, device.DeviceString, static_cast<std::uint32_t>(device.StateFlags));
        device = DISPLAY_DEVICEW{};
        device.cb = sizeof device;
    }
    return list;
}

std::wstring registry_processor_name()
{
    wchar_t name[1024] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     L"ProcessorNameString", RRF_RT_REG_SZ, nullptr, name,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return name;
}
