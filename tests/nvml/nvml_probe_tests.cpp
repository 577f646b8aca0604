// The NVIDIA temperature probe against stand-in libraries placed in the test
// prefix's system folder (and, to show that they are never loaded from
// there, in the program's folder, the current folder and a PATH folder).
// Each case checks the whole sequence of calls the stand-in saw, the pairing
// of load and unload and of initialisation and shutdown, that nothing stays
// loaded, and the reading, both from the probe itself and in the report of
// a real refresh pass.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "nvml_standin_control.h"
#include "pass_view.h"
#include "probes.h"

namespace {

constexpr std::uint32_t untouched_celsius = 12345;
const std::wstring nvidia_label = L"\r\nTemp\u00e9rature NVIDIA  : ";
const std::wstring nvidia_fallback =
    L"\r\nTemp\u00e9rature         : sonde fabricant non disponible\r\n";

const char* const full_sequence = "load nvml.dll, init, get_count, get_handle 0, get_temperature, "
                                  "shutdown, unload nvml.dll";

enum class place { system, program, current, path };

// Two folders of the test's own, made the current folder and the first
// folder on PATH while this object lives.
class search_places {
  public:
    search_places()
    {
        wchar_t temp[MAX_PATH];
        const DWORD length = GetTempPathW(MAX_PATH, temp);
        const std::wstring base = std::wstring(temp, length < MAX_PATH ? length : 0) +
                                  L"qel_nvml_" + std::to_wstring(GetCurrentProcessId());
        current_ = base + L"_current";
        path_ = base + L"_path";
        CreateDirectoryW(current_.c_str(), nullptr);
        CreateDirectoryW(path_.c_str(), nullptr);

        wchar_t folder[MAX_PATH];
        const DWORD folder_length = GetCurrentDirectoryW(MAX_PATH, folder);
        old_current_.assign(folder, folder_length < MAX_PATH ? folder_length : 0);
        const DWORD path_length = GetEnvironmentVariableW(L"PATH", nullptr, 0);
        std::wstring old_path(path_length, L'\0');
        GetEnvironmentVariableW(L"PATH", old_path.data(), path_length);
        old_path.resize(path_length > 0 ? path_length - 1 : 0);
        old_path_ = old_path;

        ready_ = SetCurrentDirectoryW(current_.c_str()) != 0 &&
                 SetEnvironmentVariableW(L"PATH", (path_ + L";" + old_path_).c_str()) != 0;
    }
    ~search_places()
    {
        SetEnvironmentVariableW(L"PATH", old_path_.c_str());
        SetCurrentDirectoryW(old_current_.c_str());
        RemoveDirectoryW(current_.c_str());
        RemoveDirectoryW(path_.c_str());
    }
    search_places(const search_places&) = delete;
    search_places& operator=(const search_places&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }

    [[nodiscard]] std::wstring folder(place where) const
    {
        switch (where) {
        case place::system:
            return system_folder();
        case place::program:
            return program_folder();
        case place::current:
            return current_;
        case place::path:
            return path_;
        }
        return {};
    }

  private:
    std::wstring current_;
    std::wstring path_;
    std::wstring old_current_;
    std::wstring old_path_;
    bool ready_ = false;
};

struct placed_library {
    standin_variant variant;
    place where;
    const wchar_t* name;
};

struct nvml_case {
    const char* label;
    std::vector<placed_library> libraries;
    standin_script script;
    const char* expected_calls;
    bool has_reading;
    std::uint32_t celsius;
};

const wchar_t* const library_names[] = {L"nvml.dll", L"nvml64.dll"};

std::vector<nvml_case> nvml_cases()
{
    std::vector<nvml_case> cases;
    const auto add = [&cases](const char* label, std::vector<placed_library> libraries,
                              const standin_script& script, const char* expected_calls,
                              bool has_reading, std::uint32_t celsius) {
        nvml_case c;
        c.label = label;
        c.libraries = std::move(libraries);
        c.script = script;
        c.expected_calls = expected_calls;
        c.has_reading = has_reading;
        c.celsius = celsius;
        cases.push_back(std::move(c));
    };
    const standin_script normal = default_script();
    const std::vector<placed_library> in_system = {
        {standin_variant::full, place::system, L"nvml.dll"}};
    standin_script s = normal;

    add("temperature 64", in_system, normal, full_sequence, true, 64);

    s = normal;
    s.temperatures[0] = 0;
    add("temperature 0 returned with success", in_system, s, full_sequence, true, 0);

    s = normal;
    s.init_result = 9;
    add("initialisation fails", in_system, s, "load nvml.dll, init, unload nvml.dll", false, 0);

    s = normal;
    s.count_result = 999;
    add("counting fails", in_system, s, "load nvml.dll, init, get_count, shutdown, unload nvml.dll",
        false, 0);

    s = normal;
    s.count = 0;
    add("no device", in_system, s, "load nvml.dll, init, get_count, shutdown, unload nvml.dll",
        false, 0);

    s = normal;
    s.handle_result = 2;
    add("no handle for device 0", in_system, s,
        "load nvml.dll, init, get_count, get_handle 0, shutdown, unload nvml.dll", false, 0);

    s = normal;
    s.temperature_result = 3;
    add("temperature call fails", in_system, s, full_sequence, false, 0);

    s = normal;
    s.shutdown_result = 999;
    add("shutdown fails (not consulted)", in_system, s, full_sequence, true, 64);

    const standin_variant partial[] = {
        standin_variant::without_init, standin_variant::without_shutdown,
        standin_variant::without_count, standin_variant::without_handle,
        standin_variant::without_temperature};
    const char* const partial_labels[] = {
        "no nvmlInit_v2", "no nvmlShutdown", "no nvmlDeviceGetCount_v2",
        "no nvmlDeviceGetHandleByIndex_v2", "no nvmlDeviceGetTemperature"};
    for (std::size_t i = 0; i < 5; ++i) {
        add(partial_labels[i], {{partial[i], place::system, L"nvml.dll"}}, normal,
            "load nvml.dll, unload nvml.dll", false, 0);
    }

    add("only nvml64.dll", {{standin_variant::full, place::system, L"nvml64.dll"}}, normal,
        "load nvml64.dll, init, get_count, get_handle 0, get_temperature, shutdown, "
        "unload nvml64.dll",
        true, 64);

    add("both names: nvml.dll first",
        {{standin_variant::full, place::system, L"nvml.dll"},
         {standin_variant::full, place::system, L"nvml64.dll"}},
        normal, full_sequence, true, 64);

    add("nvml.dll lacks an export, nvml64.dll complete",
        {{standin_variant::without_temperature, place::system, L"nvml.dll"},
         {standin_variant::full, place::system, L"nvml64.dll"}},
        normal, "load nvml.dll, unload nvml.dll", false, 0);

    s = normal;
    s.count = 2;
    s.temperatures[0] = 41;
    s.temperatures[1] = 88;
    add("two devices: only device 0", in_system, s, full_sequence, true, 41);

    add("no library anywhere", {}, normal, "", false, 0);

    const std::pair<place, const char*> planting_places[] = {
        {place::program, "planted in the program's folder only"},
        {place::current, "planted in the current folder only"},
        {place::path, "planted in a PATH folder only"}};
    std::vector<placed_library> planted;
    for (const auto& [where, label] : planting_places) {
        std::vector<placed_library> here;
        for (const wchar_t* name : library_names) {
            here.push_back({standin_variant::full, where, name});
            planted.push_back({standin_variant::full, where, name});
        }
        add(label, here, normal, "", false, 0);
    }
    add("planted in the program, current and PATH folders", planted, normal, "", false, 0);

    std::vector<placed_library> planted_and_system = planted;
    planted_and_system.push_back({standin_variant::full, place::system, L"nvml.dll"});
    add("planted, and in the system folder", planted_and_system, normal, full_sequence, true, 64);

    return cases;
}

// Checks that hold for every run, whatever the script: the arguments the
// probe passes, and the pairing of load with unload and of a successful
// initialisation with shutdown.
void check_calls(const standin_log& log, const standin_script& script)
{
    const std::vector<standin_event> events = log.events();
    std::uint64_t handle_given = 0;
    bool has_handle = false;
    for (const standin_event& event : events) {
        switch (event.call) {
        case standin_call::get_count:
            EXPECT_EQ(event.value_in, 0U) << "count not cleared before the call";
            break;
        case standin_call::get_handle:
            EXPECT_EQ(event.argument, 0U) << "a device other than 0 asked for";
            EXPECT_EQ(event.value_in, 0U) << "handle not cleared before the call";
            handle_given = event.value_out;
            has_handle = true;
            break;
        case standin_call::get_temperature:
            EXPECT_EQ(event.argument, 0U) << "not the GPU core sensor";
            EXPECT_TRUE(has_handle);
            EXPECT_EQ(event.value_in, handle_given) << "not the handle of device 0";
            break;
        default:
            break;
        }
    }
    EXPECT_EQ(log.count(standin_call::load), log.count(standin_call::unload));
    EXPECT_LE(log.count(standin_call::init), 1);
    EXPECT_EQ(log.count(standin_call::shutdown),
              script.init_result == 0 ? log.count(standin_call::init) : 0);
    if (!events.empty()) {
        EXPECT_EQ(events.back().call, standin_call::unload);
    }
    for (const wchar_t* name : library_names) {
        EXPECT_EQ(GetModuleHandleW(name), nullptr) << "still loaded";
    }
}

class nvml_probe : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(places_.ready());
        ASSERT_TRUE(log_.valid());
        // Wine ships no library of these names: one found is a leftover of
        // an interrupted run.
        for (const place where : {place::system, place::program}) {
            for (const wchar_t* name : library_names) {
                ASSERT_TRUE(remove_file(places_.folder(where) + L"\\" + name));
            }
        }
    }

    search_places places_;
    standin_log log_;
};

TEST_F(nvml_probe, follows_each_path_of_the_library)
{
    pass_view view;
    ASSERT_TRUE(view.valid());

    for (const nvml_case& c : nvml_cases()) {
        SCOPED_TRACE(c.label);
        std::vector<std::unique_ptr<installed_file>> files;
        for (const placed_library& library : c.libraries) {
            files.push_back(std::make_unique<installed_file>(standin_file(library.variant),
                                                             places_.folder(library.where) + L"\\" +
                                                                 library.name));
            ASSERT_TRUE(files.back()->valid()) << testing::PrintToString(files.back()->path());
        }

        // The probe itself.
        log_.reset(c.script);
        system_readings readings{};
        readings.nvidia_celsius = untouched_celsius;
        probe_nvidia_temperature(readings);
        EXPECT_EQ(describe(log_.events()), c.expected_calls);
        check_calls(log_, c.script);
        EXPECT_EQ(readings.has_nvidia_temp, c.has_reading);
        EXPECT_EQ(readings.nvidia_celsius, c.has_reading ? c.celsius : untouched_celsius);

        // The line that a real pass shows.
        log_.reset(c.script);
        const std::wstring report = view.run_pass();
        EXPECT_EQ(describe(log_.events()), c.expected_calls);
        check_calls(log_, c.script);
        if (c.has_reading) {
            EXPECT_NE(report.find(nvidia_label + std::to_wstring(c.celsius) + L" \u00b0C\r\n"),
                      std::wstring::npos)
                << testing::PrintToString(report);
        } else {
            EXPECT_NE(report.find(nvidia_fallback), std::wstring::npos)
                << testing::PrintToString(report);
            EXPECT_EQ(report.find(nvidia_label), std::wstring::npos);
        }
    }
}

// Nothing survives a run: each loads, initialises, shuts down and unloads
// the library again, and the handle is asked for afresh.
TEST_F(nvml_probe, each_run_starts_from_nothing)
{
    installed_file library(standin_file(standin_variant::full), system_folder() + L"\\nvml.dll");
    ASSERT_TRUE(library.valid());
    log_.reset(default_script());
    std::string expected;
    for (int run = 0; run < 3; ++run) {
        system_readings readings{};
        probe_nvidia_temperature(readings);
        EXPECT_TRUE(readings.has_nvidia_temp);
        expected += (run == 0 ? "" : ", ") + std::string(full_sequence);
    }
    EXPECT_EQ(describe(log_.events()), expected);
    EXPECT_EQ(log_.count(standin_call::load), 3);
    EXPECT_EQ(log_.count(standin_call::shutdown), 3);
    EXPECT_EQ(GetModuleHandleW(L"nvml.dll"), nullptr);
}

// The stand-in itself: loaded by its whole path, it logs the load with that
// path, answers as scripted, and logs its unload once it is freed.
TEST_F(nvml_probe, stand_in_logs_and_unloads)
{
    log_.reset(default_script());
    const std::wstring path = standin_file(standin_variant::full);
    const HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr);
    const auto init = reinterpret_cast<int (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "nvmlInit_v2")));
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(init(), 0);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);

    const std::vector<standin_event> events = log_.events();
    ASSERT_EQ(events.size(), 3U);
    EXPECT_EQ(events[0].call, standin_call::load);
    EXPECT_EQ(std::wstring(events[0].module), path);
    EXPECT_EQ(events[1].call, standin_call::init);
    EXPECT_EQ(events[2].call, standin_call::unload);

    for (const standin_variant variant :
         {standin_variant::without_init, standin_variant::without_shutdown,
          standin_variant::without_count, standin_variant::without_handle,
          standin_variant::without_temperature}) {
        const HMODULE partial = LoadLibraryW(standin_file(variant).c_str());
        ASSERT_NE(partial, nullptr);
        int missing = 0;
        for (const char* name : {"nvmlInit_v2", "nvmlShutdown", "nvmlDeviceGetCount_v2",
                                 "nvmlDeviceGetHandleByIndex_v2", "nvmlDeviceGetTemperature"}) {
            missing += GetProcAddress(partial, name) == nullptr ? 1 : 0;
        }
        EXPECT_EQ(missing, 1) << testing::PrintToString(standin_file(variant));
        FreeLibrary(partial);
    }
}

} // namespace
