// The ACPI thermal-zone temperature through WMI.
#include "probes.h"

void probe_acpi_temperature(system_readings& readings)
{
    static_cast<void>(readings);
}
