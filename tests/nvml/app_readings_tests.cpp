// End to end: the real program under Wine, looked at from outside. Its
// report carries the real processor name, adapter list and memory capacity,
// and the NVIDIA line when a stand-in management library is installed in
// the prefix's system folder (the fallback line when none is). The
// stand-in's log also counts the refresh passes: one per press of the
// button and one per timer tick, and none once the window is destroyed.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app_process.h"
#include "expected_readings.h"
#include "nvml_standin_control.h"
#include "pass_view.h"

namespace {

const std::wstring nvidia_label = L"\r\nTemp\u00e9rature NVIDIA  : ";
const std::wstring nvidia_fallback =
    L"\r\nTemp\u00e9rature         : sonde fabricant non disponible\r\n";
constexpr const wchar_t* name_label = L"Nom                 : ";

// Long enough for several 3-second ticks on a slow machine.
constexpr DWORD tick_timeout_ms = 15000;

class app_readings : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(app_program_path(program_));
        ASSERT_TRUE(log_.valid());
        for (const wchar_t* name : {L"nvml.dll", L"nvml64.dll"}) {
            ASSERT_TRUE(remove_file(system_folder() + L"\\" + name));
        }
    }

    // The number of probe runs that have finished: each refresh pass runs
    // the probe once, and a run ends with the library's unload.
    [[nodiscard]] long finished_passes() const
    {
        const long unloads = log_.count(standin_call::unload);
        const long loads = log_.count(standin_call::load);
        return unloads < loads ? unloads : loads;
    }

    // Waits until more than `passes` passes have finished; false on time-out.
    [[nodiscard]] bool wait_for_pass_after(long passes, DWORD timeout_ms) const
    {
        const ULONGLONG deadline = GetTickCount64() + timeout_ms;
        while (finished_passes() <= passes) {
            if (GetTickCount64() > deadline) {
                return false;
            }
            Sleep(20);
        }
        return true;
    }

    wchar_t program_[MAX_PATH] = {};
    standin_log log_;
};

void expect_real_readings(const std::wstring& report)
{
    const std::wstring cpu = registry_processor_name();
    ASSERT_FALSE(cpu.empty());
    bool found = false;
    EXPECT_EQ(line_after(report, name_label, found), cpu);
    EXPECT_TRUE(found);

    const std::wstring adapters = expected_adapter_list();
    ASSERT_FALSE(adapters.empty());
    EXPECT_NE(
        report.find(L"\r\nCARTE GRAPHIQUE\r\n" + std::wstring(name_label) + adapters + L"\r\n"),
        std::wstring::npos)
        << testing::PrintToString(report);

    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    ASSERT_NE(GlobalMemoryStatusEx(&memory), 0);
    EXPECT_EQ(line_after(report, L"Capacit\u00e9            : ", found),
              gibibytes_text(memory.ullTotalPhys) + L" Go");
    EXPECT_TRUE(found);
}

TEST_F(app_readings, shows_the_real_readings_and_the_nvidia_temperature)
{
    installed_file library(standin_file(standin_variant::full), system_folder() + L"\\nvml.dll");
    ASSERT_TRUE(library.valid());
    standin_script script = default_script();
    script.temperatures[0] = 57;
    log_.reset(script);

    app_process app;
    ASSERT_TRUE(app.start(program_));
    std::wstring report;
    ASSERT_TRUE(read_window_text(app.view(), report));
    expect_real_readings(report);
    EXPECT_NE(report.find(nvidia_label + L"57 \u00b0C\r\n"), std::wstring::npos)
        << testing::PrintToString(report);
    EXPECT_EQ(report.find(nvidia_fallback), std::wstring::npos);
    EXPECT_GE(finished_passes(), 1);

    DWORD exit_code = 1;
    ASSERT_TRUE(app.close(exit_code));
    EXPECT_EQ(exit_code, 0U);
}

TEST_F(app_readings, shows_the_fallback_without_the_library)
{
    app_process app;
    ASSERT_TRUE(app.start(program_));
    std::wstring report;
    ASSERT_TRUE(read_window_text(app.view(), report));
    expect_real_readings(report);
    EXPECT_NE(report.find(nvidia_fallback), std::wstring::npos) << testing::PrintToString(report);
    EXPECT_EQ(report.find(nvidia_label), std::wstring::npos);
    EXPECT_EQ(log_.event_count(), 0);

    DWORD exit_code = 1;
    ASSERT_TRUE(app.close(exit_code));
    EXPECT_EQ(exit_code, 0U);
}

// The stand-in's log as a pass counter. Each check starts right after a
// timer pass has finished, so that the next tick is about 3 seconds away
// and cannot fall among the presses or the close.
TEST_F(app_readings, passes_run_on_presses_and_ticks_and_stop_at_destroy)
{
    installed_file library(standin_file(standin_variant::full), system_folder() + L"\\nvml.dll");
    ASSERT_TRUE(library.valid());
    log_.reset(default_script());

    app_process app;
    ASSERT_TRUE(app.start(program_));
    // The pass at creation has run before the window is shown.
    EXPECT_GE(finished_passes(), 1);

    // Ticks: with nothing pressed, passes keep coming, one per tick, and
    // not back to back.
    ASSERT_TRUE(wait_for_pass_after(finished_passes(), tick_timeout_ms));
    const long after_first_tick = finished_passes();
    const ULONGLONG first_tick_ms = GetTickCount64();
    ASSERT_TRUE(wait_for_pass_after(after_first_tick, tick_timeout_ms));
    const ULONGLONG second_tick_ms = GetTickCount64();
    EXPECT_EQ(finished_passes(), after_first_tick + 1);
    EXPECT_GE(second_tick_ms - first_tick_ms, 2000U) << "passes ran without waiting for a tick";

    // Presses: each runs exactly one pass, finished when the press returns.
    const long before_presses = finished_passes();
    for (long press = 1; press <= 3; ++press) {
        ASSERT_TRUE(app.press_button());
        EXPECT_EQ(finished_passes(), before_presses + press);
    }

    // Closing: WM_CLOSE, sent so that it returns once the window, and with
    // it WM_DESTROY, has been handled. No pass runs from then on.
    ASSERT_TRUE(wait_for_pass_after(finished_passes(), tick_timeout_ms));
    const long before_close = finished_passes();
    ASSERT_TRUE(send_app_message(app.window(), WM_CLOSE, 0, 0));
    EXPECT_EQ(finished_passes(), before_close);
    DWORD exit_code = 1;
    ASSERT_TRUE(app.wait_for_exit(exit_code));
    EXPECT_EQ(exit_code, 0U);
    EXPECT_EQ(finished_passes(), before_close);
    // Every pass loaded and unloaded the library, initialised it and shut
    // it down.
    EXPECT_EQ(log_.count(standin_call::load), log_.count(standin_call::unload));
    EXPECT_EQ(log_.count(standin_call::init), log_.count(standin_call::load));
    EXPECT_EQ(log_.count(standin_call::shutdown), log_.count(standin_call::init));
    EXPECT_EQ(log_.count(standin_call::get_temperature), log_.count(standin_call::init));
}

} // namespace
