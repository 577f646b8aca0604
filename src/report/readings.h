// The readings of one refresh pass, created afresh for each pass.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "adapter_list.h"

constexpr std::size_t cpu_name_capacity = 256;

struct system_readings {
    wchar_t cpu_name[cpu_name_capacity];
    wchar_t gpu_names[gpu_names_capacity];
    MEMORYSTATUSEX memory;
    bool has_acpi_temp;
    double acpi_celsius;
    bool has_nvidia_temp;
    std::uint32_t nvidia_celsius;
};
