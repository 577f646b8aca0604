// The refresh pass and the exact layout of the report. Every label is padded
// to 20 characters so that, in the view's monospaced font, all values start
// in the same column.
#include "report.h"

#include <cstdint>

#include "append.h"
#include "probes.h"

HWND output = nullptr;

namespace {

constexpr const wchar_t* header = L"QEL SYSTEM MONITOR\r\n\r\n";

// 2^-30: a "Go" figure counts units of 2^30 bytes.
constexpr double bytes_to_gibibytes = 1.0 / 1073741824.0;

double gibibytes(std::uint64_t bytes)
{
    return static_cast<double>(bytes) * bytes_to_gibibytes;
}

} // namespace

void compose_report(wchar_t (&report)[report_capacity], system_readings& readings,
                    temperature_probe probe_acpi, temperature_probe probe_nvidia)
{
    report[0] = L'\0';
    append(report, report_capacity, header);
    if (readings.cpu_name[0] == L'\0') {
        append(readings.cpu_name, cpu_name_capacity, L"Processeur non identifié");
    }
    if (readings.gpu_names[0] == L'\0') {
        append(readings.gpu_names, gpu_names_capacity, L"Carte graphique non identifiée");
    }

    append(report, report_capacity, L"PROCESSEUR\r\nNom                 : %ls\r\n",
           readings.cpu_name);
    if (probe_acpi != nullptr) {
        probe_acpi(readings);
    }
    if (readings.has_acpi_temp) {
        append(report, report_capacity, L"Sonde thermique ACPI: %.1f °C\r\n",
               readings.acpi_celsius);
    } else {
        append(report, report_capacity, L"Température         : non exposée par Windows\r\n");
    }

    append(report, report_capacity, L"\r\nCARTE GRAPHIQUE\r\nNom                 : %ls\r\n",
           readings.gpu_names);
    if (probe_nvidia != nullptr) {
        probe_nvidia(readings);
    }
    if (readings.has_nvidia_temp) {
        append(report, report_capacity, L"Température NVIDIA  : %u °C\r\n",
               static_cast<unsigned int>(readings.nvidia_celsius));
    } else {
        append(report, report_capacity,
               L"Température         : sonde fabricant non disponible\r\n");
    }

    append(report, report_capacity,
           L"\r\nMÉMOIRE RAM\r\n"
           L"Capacité            : %.1f Go\r\n"
           L"Utilisation         : %lu %%\r\n"
           L"Disponible          : %.1f Go\r\n"
           L"Température         : non exposée par Windows\r\n",
           gibibytes(readings.memory.ullTotalPhys),
           static_cast<unsigned long>(readings.memory.dwMemoryLoad),
           gibibytes(readings.memory.ullAvailPhys));
    append(report, report_capacity, L"\r\nActualisation automatique toutes les 3 secondes.");
}

void refresh_data()
{
    wchar_t report[report_capacity] = {};
    system_readings readings{};

    read_cpu_name(readings.cpu_name);
    enumerate_display_adapters(readings.gpu_names);
    read_memory_status(readings.memory);
    compose_report(report, readings, probe_acpi_temperature, probe_nvidia_temperature);

    SetWindowTextW(output, report);
}
