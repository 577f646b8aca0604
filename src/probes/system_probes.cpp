// The plain platform reads of a pass: processor name, display adapters and
// memory status.
#include "probes.h"

void read_cpu_name(wchar_t (&cpu_name)[cpu_name_capacity])
{
    static_cast<void>(cpu_name);
}

void enumerate_display_adapters(wchar_t (&gpu_names)[gpu_names_capacity])
{
    static_cast<void>(gpu_names);
}

void read_memory_status(MEMORYSTATUSEX& memory)
{
    static_cast<void>(memory);
}
