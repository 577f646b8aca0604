// The real program end to end with the stand-in WMI provider registered in
// the test prefix: the reading that the stand-in gives, scripted from this
// process through the shared block, is the one the window shows.
#include <gtest/gtest.h>

#include <windows.h>

#include <wbemcli.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app_process.h"
#include "wmi_test_support.h"

namespace {

// The processor section's temperature line: the report's fifth line.
std::wstring acpi_line(const std::wstring& report)
{
    std::size_t start = 0;
    for (int line = 0; line < 4 && start != std::wstring::npos; ++line) {
        start = report.find(L"\r\n", start);
        start = start == std::wstring::npos ? start : start + 2;
    }
    if (start == std::wstring::npos) {
        return report;
    }
    return report.substr(start, report.find(L"\r\n", start) - start);
}

stand_in_script one_zone(std::int64_t tenths_of_kelvin)
{
    stand_in_script script{};
    script.zone_count = 1;
    script.zones[0] = {VT_I4, tenths_of_kelvin};
    return script;
}

TEST(WmiInTheProgram, ShowsTheStandInReadingOnEveryPass)
{
    wchar_t program[MAX_PATH];
    ASSERT_TRUE(app_program_path(program));
    shared_block shared;
    ASSERT_TRUE(shared.ok());
    shared.reset(one_zone(3000));
    stand_in_registration registration(stand_in_dll_path());
    ASSERT_TRUE(registration.ok());

    app_process app;
    ASSERT_TRUE(app.start(program));
    std::wstring report;
    ASSERT_TRUE(read_window_text(app.view(), report));
    EXPECT_EQ(L"Sonde thermique ACPI: 26.9 \u00b0C", acpi_line(report)) << report;
    // The stand-in answered inside the program's process.
    const stand_in_record& record = shared.block().record;
    EXPECT_GE(record.objects[locator_object].created, 1);
    EXPECT_GE(record.objects[first_zone_object].created, 1);

    // A new script is read by the next pass.
    shared.block().script.zones[0].number = 3002;
    ASSERT_TRUE(app.press_button());
    ASSERT_TRUE(read_window_text(app.view(), report));
    EXPECT_EQ(L"Sonde thermique ACPI: 27.1 \u00b0C", acpi_line(report));

    shared.block().script.next_short_result = static_cast<HRESULT>(WBEM_S_FALSE);
    shared.block().script.zone_count = 0;
    ASSERT_TRUE(app.press_button());
    ASSERT_TRUE(read_window_text(app.view(), report));
    EXPECT_EQ(L"Temp\u00e9rature         : non expos\u00e9e par Windows", acpi_line(report));

    DWORD exit_code = 1;
    ASSERT_TRUE(app.close(exit_code));
    EXPECT_EQ(0U, exit_code);
    // Every pass released everything it obtained.
    for (std::uint32_t object = 0; object < object_count; ++object) {
        const object_counts& counts = record.objects[object];
        if (counts.created > 0) {
            EXPECT_EQ(0, counts.count) << "object " << object;
            EXPECT_EQ(counts.add_refs + 1, counts.releases) << "object " << object;
        }
    }
    std::printf("    passes that created a locator: %ld, calls recorded: %ld\n",
                static_cast<long>(record.objects[locator_object].created),
                static_cast<long>(record.calls_made));
}

// Once the registration is undone the program reaches Wine's own WMI again,
// which has no thermal zone.
TEST(WmiInTheProgram, ShowsTheFallbackWithWineOwnWmi)
{
    wchar_t program[MAX_PATH];
    ASSERT_TRUE(app_program_path(program));
    shared_block shared;
    ASSERT_TRUE(shared.ok());
    shared.reset(one_zone(3000));

    app_process app;
    ASSERT_TRUE(app.start(program));
    std::wstring report;
    ASSERT_TRUE(read_window_text(app.view(), report));
    EXPECT_EQ(L"Temp\u00e9rature         : non expos\u00e9e par Windows", acpi_line(report));
    EXPECT_EQ(0, shared.block().record.calls_made);
    DWORD exit_code = 1;
    ASSERT_TRUE(app.close(exit_code));
    EXPECT_EQ(0U, exit_code);
}

} // namespace
