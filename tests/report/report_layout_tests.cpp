// The report as laid out for given readings, compared as whole texts. The
// expected texts spell accented letters and the degree sign as escapes, so
// they also prove the code units that the built program carries.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "report.h"

namespace {

struct report_lines {
    std::wstring cpu = L"Processeur non identifi\u00e9";
    std::wstring acpi = L"Temp\u00e9rature         : non expos\u00e9e par Windows";
    std::wstring gpu = L"Carte graphique non identifi\u00e9e";
    std::wstring nvidia = L"Temp\u00e9rature         : sonde fabricant non disponible";
    std::wstring capacity = L"0.0";
    std::wstring load = L"0";
    std::wstring available = L"0.0";
};

std::wstring expected_report(const report_lines& l)
{
    return L"QEL SYSTEM MONITOR\r\n"
           L"\r\n"
           L"PROCESSEUR\r\n"
           L"Nom                 : " +
           l.cpu + L"\r\n" + l.acpi +
           L"\r\n"
           L"\r\n"
           L"CARTE GRAPHIQUE\r\n"
           L"Nom                 : " +
           l.gpu + L"\r\n" + l.nvidia +
           L"\r\n"
           L"\r\n"
           L"M\u00c9MOIRE RAM\r\n"
           L"Capacit\u00e9            : " +
           l.capacity +
           L" Go\r\n"
           L"Utilisation         : " +
           l.load +
           L" %\r\n"
           L"Disponible          : " +
           l.available +
           L" Go\r\n"
           L"Temp\u00e9rature         : non expos\u00e9e par Windows\r\n"
           L"\r\n"
           L"Actualisation automatique toutes les 3 secondes.";
}

std::wstring composed(system_readings& readings)
{
    wchar_t report[report_capacity];
    compose_report(report, readings, nullptr, nullptr);
    return report;
}

void copy_into(wchar_t* buffer, const std::wstring& text)
{
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
}

TEST(ReportLayout, StartingReadingsShowEveryFallback)
{
    system_readings readings{};
    const std::wstring report = composed(readings);

    EXPECT_EQ(expected_report(report_lines{}), report);
    EXPECT_EQ(455U, report.size());
    std::size_t line_ends = 0;
    for (std::size_t at = report.find(L"\r\n"); at != std::wstring::npos;
         at = report.find(L"\r\n", at + 2)) {
        ++line_ends;
    }
    EXPECT_EQ(16U, line_ends); // 17 lines, the last without a line end
    EXPECT_EQ(L'.', report.back());
}

constexpr std::uint64_t gib = std::uint64_t{1} << 30;

TEST(ReportLayout, GivenReadings)
{
    struct layout_case {
        const char* name;
        std::function<void(system_readings&)> set;
        std::function<void(report_lines&)> expect;
    };
    const std::wstring long_cpu(255, L'P');
    const std::wstring two_gpus = L"Wine Adapter\r\n                     NVIDIA GeForce RTX 4090";
    const layout_case cases[] = {
        {"processor name as read",
         [](system_readings& r) { copy_into(r.cpu_name, L"  Intel(R) Core(TM) i7  "); },
         [](report_lines& l) { l.cpu = L"  Intel(R) Core(TM) i7  "; }},
        {"255-character processor name",
         [&](system_readings& r) { copy_into(r.cpu_name, long_cpu); },
         [&](report_lines& l) { l.cpu = long_cpu; }},
        {"several adapters", [&](system_readings& r) { copy_into(r.gpu_names, two_gpus); },
         [&](report_lines& l) { l.gpu = two_gpus; }},
        {"ACPI temperature",
         [](system_readings& r) {
             r.has_acpi_temp = true;
             r.acpi_celsius = 3000 / 10.0 - 273.15;
         },
         [](report_lines& l) { l.acpi = L"Sonde thermique ACPI: 26.9 \u00b0C"; }},
        {"ACPI temperature just below zero",
         [](system_readings& r) {
             r.has_acpi_temp = true;
             r.acpi_celsius = 2731 / 10.0 - 273.15;
         },
         [](report_lines& l) { l.acpi = L"Sonde thermique ACPI: -0.0 \u00b0C"; }},
        {"ACPI temperature on a tie",
         [](system_readings& r) {
             r.has_acpi_temp = true;
             r.acpi_celsius = 40.25;
         },
         [](report_lines& l) { l.acpi = L"Sonde thermique ACPI: 40.2 \u00b0C"; }},
        {"ACPI temperature negative",
         [](system_readings& r) {
             r.has_acpi_temp = true;
             r.acpi_celsius = -12.75;
         },
         [](report_lines& l) { l.acpi = L"Sonde thermique ACPI: -12.8 \u00b0C"; }},
        {"NVIDIA temperature",
         [](system_readings& r) {
             r.has_nvidia_temp = true;
             r.nvidia_celsius = 64;
         },
         [](report_lines& l) { l.nvidia = L"Temp\u00e9rature NVIDIA  : 64 \u00b0C"; }},
        {"NVIDIA temperature of 0", [](system_readings& r) { r.has_nvidia_temp = true; },
         [](report_lines& l) { l.nvidia = L"Temp\u00e9rature NVIDIA  : 0 \u00b0C"; }},
        {"NVIDIA temperature, widest",
         [](system_readings& r) {
             r.has_nvidia_temp = true;
             r.nvidia_celsius = 4294967295U;
         },
         [](report_lines& l) { l.nvidia = L"Temp\u00e9rature NVIDIA  : 4294967295 \u00b0C"; }},
        {"16 GiB, load 100, tie in the available amount",
         [](system_readings& r) {
             r.memory.ullTotalPhys = 16 * gib;
             r.memory.dwMemoryLoad = 100;
             r.memory.ullAvailPhys = 2 * gib + gib / 4;
         },
         [](report_lines& l) {
             l.capacity = L"16.0";
             l.load = L"100";
             l.available = L"2.2";
         }},
        {"largest counts, converted as unsigned",
         [](system_readings& r) {
             r.memory.ullTotalPhys = UINT64_MAX;
             r.memory.dwMemoryLoad = 4294967295U;
             r.memory.ullAvailPhys = std::uint64_t{1} << 63;
         },
         [](report_lines& l) {
             l.capacity = L"17179869184.0";
             l.load = L"4294967295";
             l.available = L"8589934592.0";
         }},
    };
    for (const layout_case& c : cases) {
        system_readings readings{};
        c.set(readings);
        report_lines lines;
        c.expect(lines);
        EXPECT_EQ(expected_report(lines), composed(readings)) << c.name;
    }
}

TEST(ReportLayout, LongestReportIsNeverTruncated)
{
    system_readings readings{};
    copy_into(readings.cpu_name, std::wstring(255, L'P'));
    copy_into(readings.gpu_names, std::wstring(1023, L'G'));
    readings.memory.ullTotalPhys = UINT64_MAX;
    readings.memory.dwMemoryLoad = 4294967295U;
    readings.memory.ullAvailPhys = UINT64_MAX;

    report_lines lines;
    lines.cpu = std::wstring(255, L'P');
    lines.gpu = std::wstring(1023, L'G');
    lines.capacity = lines.available = L"17179869184.0";
    lines.load = L"4294967295";

    const std::wstring report = composed(readings);
    EXPECT_EQ(1708U, report.size());
    EXPECT_EQ(expected_report(lines), report);
}

// The probes run at their place: the ACPI probe after the processor name is
// laid out, the NVIDIA probe after the adapter list.
system_readings* probed = nullptr;
wchar_t* probed_report = nullptr;
std::wstring report_at_acpi;
std::wstring report_at_nvidia;

TEST(ReportLayout, ProbesRunAtTheirPlaceAndFillTheirLines)
{
    system_readings readings{};
    wchar_t report[report_capacity];
    probed = &readings;
    probed_report = report;
    compose_report(
        report, readings,
        [](system_readings& r) {
            EXPECT_EQ(probed, &r);
            report_at_acpi = probed_report;
            r.has_acpi_temp = true;
            r.acpi_celsius = 3002 / 10.0 - 273.15;
        },
        [](system_readings& r) {
            report_at_nvidia = probed_report;
            r.has_nvidia_temp = true;
            r.nvidia_celsius = 0;
        });

    EXPECT_EQ(L"QEL SYSTEM MONITOR\r\n\r\nPROCESSEUR\r\nNom                 : "
              L"Processeur non identifi\u00e9\r\n",
              report_at_acpi);
    EXPECT_EQ(std::wstring::npos, report_at_nvidia.find(L"NVIDIA"));
    EXPECT_EQ(L"Nom                 : Carte graphique non identifi\u00e9e\r\n",
              report_at_nvidia.substr(report_at_nvidia.size() - 54));
    report_lines lines;
    lines.acpi = L"Sonde thermique ACPI: 27.1 \u00b0C";
    lines.nvidia = L"Temp\u00e9rature NVIDIA  : 0 \u00b0C";
    EXPECT_EQ(expected_report(lines), std::wstring(report));
}

} // namespace
