// A stand-in for NVIDIA's management library: the five exports that the
// probe uses, answering as the test's script in the shared block says and
// logging every call, and its own loading and unloading, into that block.
// Built in variants that each lack one export (QEL_STANDIN_WITHOUT names
// it by its place in the list below; 0 lacks none). It takes nothing that
// could keep it loaded, so that an unload really unloads it.
#include <windows.h>

#include <cstdint>

#include "nvml_standin_block.h"

#ifndef QEL_STANDIN_WITHOUT
#define QEL_STANDIN_WITHOUT 0
#endif

namespace {

// The library's return codes that the stand-in gives on its own.
constexpr int nvml_error_uninitialized = 1;
constexpr int nvml_error_invalid_argument = 2;

struct device_record {
    std::uint32_t index;
};

device_record devices[standin_device_capacity] = {{0}, {1}, {2}, {3}};

HMODULE self = nullptr;
HANDLE block_mapping = nullptr;
standin_block* block = nullptr;

void log_event(standin_call call, std::uint32_t argument, std::uint64_t value_in,
               std::uint64_t value_out, bool with_module)
{
    if (block == nullptr) {
        return;
    }
    InterlockedIncrement(&block->call_counts[static_cast<std::uint32_t>(call)]);
    const LONG slot = InterlockedIncrement(&block->event_count) - 1;
    if (slot < 0 || static_cast<std::uint32_t>(slot) >= standin_event_capacity) {
        return;
    }
    standin_event& event = block->events[slot];
    event.call = call;
    event.argument = argument;
    event.value_in = value_in;
    event.value_out = value_out;
    event.module[0] = L'\0';
    if (with_module) {
        const DWORD length = GetModuleFileNameW(self, event.module, MAX_PATH);
        event.module[length < MAX_PATH ? length : MAX_PATH - 1] = L'\0';
    }
}

void attach(HMODULE module)
{
    self = module;
    block_mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, standin_block_name);
    if (block_mapping != nullptr) {
        block = static_cast<standin_block*>(MapViewOfFile(
            block_mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(standin_block)));
    }
    log_event(standin_call::load, 0, 0, 0, true);
}

void detach()
{
    log_event(standin_call::unload, 0, 0, 0, true);
    if (block != nullptr) {
        UnmapViewOfFile(block);
        block = nullptr;
    }
    if (block_mapping != nullptr) {
        CloseHandle(block_mapping);
        block_mapping = nullptr;
    }
}

std::uint64_t as_number(const void* pointer)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    static_cast<void>(reserved);
    if (reason == DLL_PROCESS_ATTACH) {
        attach(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        detach();
    }
    return TRUE;
}

// Without a block (no test is listening) the library never initialises, so
// that a stray stand-in can never pass for a GPU.

#if QEL_STANDIN_WITHOUT != 1
extern "C" __declspec(dllexport) int nvmlInit_v2()
{
    log_event(standin_call::init, 0, 0, 0, false);
    return block == nullptr ? nvml_error_uninitialized : block->script.init_result;
}
#endif

#if QEL_STANDIN_WITHOUT != 2
extern "C" __declspec(dllexport) int nvmlShutdown()
{
    log_event(standin_call::shutdown, 0, 0, 0, false);
    return block == nullptr ? nvml_error_uninitialized : block->script.shutdown_result;
}
#endif

#if QEL_STANDIN_WITHOUT != 3
extern "C" __declspec(dllexport) int nvmlDeviceGetCount_v2(unsigned int* device_count)
{
    if (device_count == nullptr) {
        log_event(standin_call::get_count, 0, UINT64_MAX, 0, false);
        return nvml_error_invalid_argument;
    }
    log_event(standin_call::get_count, 0, *device_count, 0, false);
    if (block == nullptr) {
        return nvml_error_uninitialized;
    }
    *device_count = block->script.count;
    return block->script.count_result;
}
#endif

#if QEL_STANDIN_WITHOUT != 4
extern "C" __declspec(dllexport) int nvmlDeviceGetHandleByIndex_v2(unsigned int index,
                                                                   device_record** device)
{
    if (device == nullptr || index >= standin_device_capacity) {
        log_event(standin_call::get_handle, index, UINT64_MAX, 0, false);
        return nvml_error_invalid_argument;
    }
    log_event(standin_call::get_handle, index, as_number(*device), as_number(&devices[index]),
              false);
    if (block == nullptr) {
        return nvml_error_uninitialized;
    }
    *device = &devices[index];
    return block->script.handle_result;
}
#endif

#if QEL_STANDIN_WITHOUT != 5
extern "C" __declspec(dllexport) int nvmlDeviceGetTemperature(device_record* device,
                                                              int sensor_type,
                                                              unsigned int* temperature)
{
    const bool ours = device >= devices && device < devices + standin_device_capacity;
    const std::uint32_t given =
        ours && block != nullptr ? block->script.temperatures[device->index] : 0;
    log_event(standin_call::get_temperature, static_cast<std::uint32_t>(sensor_type),
              as_number(device), given, false);
    if (block == nullptr) {
        return nvml_error_uninitialized;
    }
    if (!ours || temperature == nullptr) {
        return nvml_error_invalid_argument;
    }
    *temperature = given;
    return block->script.temperature_result;
}
#endif
