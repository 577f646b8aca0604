// The platform reads behind each reading of a refresh pass. Each reads
// afresh and releases everything it acquired before it returns.
#pragma once

#include <windows.h>

#include "readings.h"

// The processor name from the registry; left empty when it cannot be read.
void read_cpu_name(wchar_t (&cpu_name)[cpu_name_capacity]);

// Hands every enumerated display adapter to the adapter list.
void enumerate_display_adapters(wchar_t (&gpu_names)[gpu_names_capacity]);

// The physical-memory status; left at zero when the call fails.
void read_memory_status(MEMORYSTATUSEX& memory);

// The first ACPI thermal zone's temperature, through WMI.
void probe_acpi_temperature(system_readings& readings);

// The first NVIDIA GPU's core temperature, through NVML when it is installed.
void probe_nvidia_temperature(system_readings& readings);
