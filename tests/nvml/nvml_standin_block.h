// The shared-memory block through which a test drives the stand-in NVIDIA
// management libraries and reads back what they were asked: the script of
// return codes and figures they answer with, and an ordered log of every
// call, load and unload. The test creates the block and keeps it open; each
// stand-in maps it while it is loaded, in whatever process loads it.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr const wchar_t* standin_block_name = L"Local\\qel_nvml_standin";
constexpr std::uint32_t standin_device_capacity = 4;
constexpr std::uint32_t standin_event_capacity = 1024;

enum class standin_call : std::uint32_t {
    none,
    load,     // DllMain, DLL_PROCESS_ATTACH
    unload,   // DllMain, DLL_PROCESS_DETACH
    init,     // nvmlInit_v2
    shutdown, // nvmlShutdown
    get_count,
    get_handle,
    get_temperature,
    count_of_calls
};

// What the stand-in answers. Every figure is written through the caller's
// pointer even when the return code says failure, so that a caller that
// ignores a return code shows it.
struct standin_script {
    int init_result;
    int shutdown_result;
    int count_result;
    std::uint32_t count;
    int handle_result;
    int temperature_result;
    // Per device index.
    std::uint32_t temperatures[standin_device_capacity];
};

struct standin_event {
    standin_call call;
    // get_handle: the index asked for; get_temperature: the sensor type.
    std::uint32_t argument;
    // get_count: the count found at the pointer on entry; get_handle: the
    // handle found at the pointer on entry; get_temperature: the handle
    // received.
    std::uint64_t value_in;
    // get_handle: the handle given; get_temperature: the temperature given.
    std::uint64_t value_out;
    // load and unload: the stand-in's own file.
    wchar_t module[MAX_PATH];
};

struct standin_block {
    standin_script script;
    // Every event, also those past the log's capacity.
    volatile LONG event_count;
    volatile LONG call_counts[static_cast<std::uint32_t>(standin_call::count_of_calls)];
    standin_event events[standin_event_capacity];
};
