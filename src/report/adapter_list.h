// Turns the display-device enumeration into one list of distinct adapter
// names, one per line. Needs no platform service.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t gpu_names_capacity = 1024;

// The DISPLAY_DEVICE_MIRRORING_DRIVER state flag.
constexpr std::uint32_t mirroring_driver_flag = 0x00000008;

// Adds one enumerated device to `gpu_names`: mirroring drivers and empty
// descriptions are skipped, and a description already found anywhere in the
// list is not listed again.
void add_adapter(wchar_t (&gpu_names)[gpu_names_capacity], const wchar_t* description,
                 std::uint32_t state_flags);
