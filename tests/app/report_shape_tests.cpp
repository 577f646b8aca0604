// The recogniser of complete reports that the window tests rely on: it
// accepts what the report layout really produces, for several sets of
// readings, and rejects texts that differ from one in a single place.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "report.h"
#include "report_shape.h"

namespace {

void fill(wchar_t* target, std::size_t capacity, const wchar_t* text)
{
    wcsncpy_s(target, capacity, text, _TRUNCATE);
}

std::wstring composed(system_readings& readings)
{
    wchar_t report[report_capacity];
    compose_report(report, readings, nullptr, nullptr);
    return report;
}

system_readings fallback_readings()
{
    return system_readings{};
}

system_readings full_readings()
{
    system_readings readings{};
    fill(readings.cpu_name, cpu_name_capacity, L"Processeur d'essai 3,2 GHz");
    fill(readings.gpu_names, gpu_names_capacity,
         L"Carte A\r\n                     Carte B\r\n                     Carte C");
    readings.memory.ullTotalPhys = 17179869184ULL;
    readings.memory.ullAvailPhys = 2415919104ULL;
    readings.memory.dwMemoryLoad = 100;
    readings.has_acpi_temp = true;
    readings.acpi_celsius = -4.5;
    readings.has_nvidia_temp = true;
    readings.nvidia_celsius = 61;
    return readings;
}

TEST(report_shape, accepts_the_reports_that_the_layout_produces)
{
    system_readings (*const makers[])() = {fallback_readings, full_readings};
    for (auto make : makers) {
        system_readings readings = make();
        const std::wstring report = composed(readings);
        EXPECT_EQ(report_problem(report), L"") << testing::PrintToString(report);
    }
}

struct edit_case {
    const char* name;
    const wchar_t* find;
    const wchar_t* replace;
};

// Each edit changes the fallback report in one place.
const edit_case edit_cases[] = {
    {"header", L"QEL SYSTEM MONITOR", L"QEL System Monitor"},
    {"section heading", L"PROCESSEUR", L"PROCESSOR"},
    {"label padding", L"Nom                 : Processeur", L"Nom                : Processeur"},
    {"empty processor name", L"Processeur non identifi\u00e9", L""},
    {"ACPI line", L"non expos\u00e9e par Windows\r\n\r\nCARTE", L"inconnue\r\n\r\nCARTE"},
    {"NVIDIA line", L"sonde fabricant non disponible", L"sonde absente"},
    {"capacity without decimal", L"Capacit\u00e9            : 0.0 Go",
     L"Capacit\u00e9            : 0 Go"},
    {"load without percent", L": 0 %", L": 0"},
    {"available with two decimals", L"Disponible          : 0.0 Go",
     L"Disponible          : 0.00 Go"},
    {"memory heading", L"M\u00c9MOIRE RAM", L"MEMOIRE RAM"},
    {"lone LF", L"PROCESSEUR\r\n", L"PROCESSEUR\n"},
    {"missing empty line", L"\r\n\r\nActualisation", L"\r\nActualisation"},
    {"footer", L"toutes les 3 secondes.", L"toutes les 3 secondes"},
    {"line end after the footer", L"3 secondes.", L"3 secondes.\r\n"},
};

TEST(report_shape, rejects_a_report_changed_in_one_place)
{
    system_readings readings{};
    const std::wstring report = composed(readings);
    for (const edit_case& c : edit_cases) {
        SCOPED_TRACE(c.name);
        const std::size_t at = report.find(c.find);
        ASSERT_NE(at, std::wstring::npos);
        std::wstring changed = report;
        changed.replace(at, std::wcslen(c.find), c.replace);
        EXPECT_NE(report_problem(changed), L"");
    }
    for (const wchar_t* text : {L"", L"marqueur du test", L"QEL SYSTEM MONITOR\r\n\r\n"}) {
        EXPECT_NE(report_problem(text), L"") << testing::PrintToString(std::wstring(text));
    }
}

} // namespace
