// The plain platform reads of a pass: processor name, display adapters and
// memory status. Each reads afresh on every pass and keeps nothing.
#include "probes.h"

#include <cstdint>

namespace {

constexpr const wchar_t* processor_key = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr const wchar_t* processor_name_value = L"ProcessorNameString";

constexpr std::size_t device_string_capacity =
    sizeof(DISPLAY_DEVICEW::DeviceString) / sizeof(wchar_t);

static_assert(sizeof(DISPLAY_DEVICEW) == 840, "DISPLAY_DEVICEW as the platform lays it out");
static_assert(sizeof(MEMORYSTATUSEX) == 64, "MEMORYSTATUSEX as the platform lays it out");
static_assert(sizeof(system_readings::cpu_name) == 512, "the name holds 512 bytes of value data");

} // namespace

// The query's result and the value's type are checked, and the name is
// terminated where the returned data ends, because bad data in the registry
// must never reach the report as garbage:
// - a missing value, or one longer than the 512 bytes of `cpu_name`
//   (ERROR_MORE_DATA, after which the buffer's contents are undefined), gives
//   an empty name;
// - only REG_SZ is taken. REG_EXPAND_SZ would be shown unexpanded and
//   REG_MULTI_SZ would hide every string after the first, and the platform
//   never stores the name that way, so both give an empty name, as do
//   REG_DWORD, REG_BINARY and every other type;
// - a string stored without its terminating NUL is terminated after the
//   last whole character returned, so that it shows as stored; one of exactly
//   512 bytes loses its 256th character to the terminator.
// An empty name is shown as "Processeur non identifié" by the pass.
void read_cpu_name(wchar_t (&cpu_name)[cpu_name_capacity])
{
    cpu_name[0] = L'\0';

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, processor_key, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = REG_NONE;
    DWORD size = sizeof cpu_name;
    const LSTATUS status = RegQueryValueExW(key, processor_name_value, nullptr, &type,
                                            reinterpret_cast<BYTE*>(cpu_name), &size);
    RegCloseKey(key);

    if (status != ERROR_SUCCESS || type != REG_SZ || size > sizeof cpu_name) {
        cpu_name[0] = L'\0';
        return;
    }
    std::size_t end = size / sizeof(wchar_t);
    if (end > cpu_name_capacity - 1) {
        end = cpu_name_capacity - 1;
    }
    cpu_name[end] = L'\0';
}

void enumerate_display_adapters(wchar_t (&gpu_names)[gpu_names_capacity])
{
    for (DWORD index = 0;; ++index) {
        DISPLAY_DEVICEW device{};
        device.cb = sizeof device;
        if (EnumDisplayDevicesW(nullptr, index, &device, 0) == 0) {
            return;
        }
        // The platform terminates the description; the list must not rely on it.
        device.DeviceString[device_string_capacity - 1] = L'\0';
        add_adapter(gpu_names, device.DeviceString, static_cast<std::uint32_t>(device.StateFlags));
    }
}

// The call's result is not tested: on failure the record stays at zero and
// the report shows figures of zero.
void read_memory_status(MEMORYSTATUSEX& memory)
{
    memory = MEMORYSTATUSEX{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
}
