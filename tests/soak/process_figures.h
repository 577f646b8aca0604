// Resource figures of another process, as the soak program prints them.
#pragma once

#include <windows.h>

#include <cstdint>

// A figure that the platform did not report is -1.
struct process_figures {
    std::int64_t private_bytes;
    std::int64_t handles;
    std::int64_t gdi_objects;
    std::int64_t user_objects;
    std::int64_t modules;
};

process_figures read_process_figures(HANDLE process);
