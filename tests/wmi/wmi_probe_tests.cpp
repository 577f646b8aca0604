// The thermal-zone probe as the refresh pass runs it: against Wine's own WMI,
// and against the stand-in provider scripted case by case, with every COM and
// string call that it makes (seen through this program's import table) and
// every call, AddRef and Release that the stand-in receives, in one log.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "probes.h"
#include "report.h"
#include "wmi_test_support.h"

namespace {

const std::wstring fallback_line = L"Temp\u00e9rature         : non expos\u00e9e par Windows";

std::wstring reading_line(const wchar_t* figure)
{
    return std::wstring(L"Sonde thermique ACPI: ") + figure + L" \u00b0C";
}

// Lays out one report with the real probe in its place (and no NVIDIA
// probe), recording while it runs, and gives the probe's line: the fifth.
std::wstring run_probe(stand_in_block& block, system_readings& readings)
{
    wchar_t report[report_capacity];
    import_hooks::arm(&block);
    compose_report(report, readings, probe_acpi_temperature, nullptr);
    import_hooks::disarm();
    std::wstring text(report);
    std::size_t start = 0;
    for (int line = 0; line < 4 && start != std::wstring::npos; ++line) {
        start = text.find(L"\r\n", start);
        start = start == std::wstring::npos ? start : start + 2;
    }
    if (start == std::wstring::npos) {
        return text;
    }
    return text.substr(start, text.find(L"\r\n", start) - start);
}

std::vector<call_entry> calls_of(const stand_in_block& block)
{
    const auto made = static_cast<std::size_t>(block.record.calls_made);
    const std::size_t kept = made < call_capacity ? made : call_capacity;
    return {block.record.calls, block.record.calls + kept};
}

std::vector<call_entry> calls_of_kind(const std::vector<call_entry>& calls, call_kind kind)
{
    std::vector<call_entry> found;
    for (const call_entry& entry : calls) {
        if (entry.kind == kind) {
            found.push_back(entry);
        }
    }
    return found;
}

std::string narrow(const wchar_t* text)
{
    std::string result;
    for (; *text != L'\0'; ++text) {
        result += *text < 128 ? static_cast<char>(*text) : '?';
    }
    return result;
}

std::string object_name(std::uint32_t object)
{
    switch (object) {
    case factory_object:
        return "factory";
    case locator_object:
        return "locator";
    case services_object:
        return "services";
    case enumerator_object:
        return "enumerator";
    case value_object:
        return "value";
    case no_object:
        return "";
    default:
        return "zone " + std::to_string(object - first_zone_object);
    }
}

const char* kind_name(call_kind kind)
{
    switch (kind) {
    case call_kind::co_initialize_ex:
        return "CoInitializeEx";
    case call_kind::co_initialize_security:
        return "CoInitializeSecurity";
    case call_kind::co_create_instance:
        return "CoCreateInstance";
    case call_kind::co_set_proxy_blanket:
        return "CoSetProxyBlanket";
    case call_kind::co_uninitialize:
        return "CoUninitialize";
    case call_kind::sys_alloc_string:
        return "SysAllocString";
    case call_kind::sys_free_string:
        return "SysFreeString";
    case call_kind::variant_init:
        return "VariantInit";
    case call_kind::variant_clear:
        return "VariantClear";
    case call_kind::dll_get_class_object:
        return "DllGetClassObject";
    case call_kind::dll_can_unload_now:
        return "DllCanUnloadNow";
    case call_kind::create_instance:
        return "CreateInstance";
    case call_kind::query_interface:
        return "QueryInterface";
    case call_kind::add_ref:
        return "AddRef";
    case call_kind::release:
        return "Release";
    case call_kind::connect_server:
        return "ConnectServer";
    case call_kind::set_blanket:
        return "SetBlanket";
    case call_kind::exec_query:
        return "ExecQuery";
    case call_kind::next:
        return "Next";
    case call_kind::get:
        return "Get";
    case call_kind::unsupported:
        return "unsupported";
    }
    return "?";
}

std::string describe(const call_entry& entry)
{
    std::string line = kind_name(entry.kind);
    if (entry.object != no_object) {
        line += " " + object_name(entry.object);
    }
    if (entry.texts[0][0] != L'\0') {
        line += " " + narrow(entry.texts[0]);
    }
    char result[32];
    static_cast<void>(std::snprintf(result, sizeof(result), " -> 0x%lx",
                                    static_cast<unsigned long>(entry.result)));
    return line + result;
}

// The whole log, one line per entry, for failure messages.
std::string log_text(const std::vector<call_entry>& calls)
{
    std::string text;
    for (const call_entry& entry : calls) {
        text += "  " + describe(entry) + "\n";
    }
    return text;
}

// The log as the probe's own steps: the platform's reference traffic
// (QueryInterface, AddRef, and Releases that leave a count) is left out, as
// the counts check it. A freed string is named by the text allocated at that
// address, so that each line shows which string was freed.
std::vector<std::string> trace_of(const std::vector<call_entry>& calls)
{
    std::map<std::uint64_t, std::string> strings;
    std::vector<std::string> trace;
    for (const call_entry& entry : calls) {
        std::string line = kind_name(entry.kind);
        switch (entry.kind) {
        case call_kind::query_interface:
        case call_kind::add_ref:
        case call_kind::dll_can_unload_now:
            continue;
        case call_kind::release:
            if (entry.result != 0) {
                continue;
            }
            line += " " + object_name(entry.object);
            break;
        case call_kind::sys_alloc_string:
            strings[entry.pointers[0]] = narrow(entry.texts[0]);
            line += " " + narrow(entry.texts[0]);
            break;
        case call_kind::sys_free_string: {
            const auto found = strings.find(entry.pointers[0]);
            line += " " + (found != strings.end() ? found->second : std::string("(foreign)"));
            break;
        }
        default:
            if (entry.object != no_object && entry.object >= first_zone_object) {
                line += " " + object_name(entry.object);
            }
            break;
        }
        trace.push_back(line);
    }
    return trace;
}

const char* const query_text = "SELECT CurrentTemperature FROM MSAcpi_ThermalZoneTemperature";

// The steps of the probe, in order; a case names the one whose call fails.
enum class step { init, class_object, create, connect, blanket, query, next, get, none };

// The apartment that the test thread is in when the probe starts.
enum class apartment { none, multithreaded, single_threaded };

struct probe_case {
    const char* name;
    apartment start;
    step failing;    // step::none when every call succeeds
    HRESULT failure; // what the failing call returns
    std::uint32_t zone_count;
    zone_value first;      // further zones are 3500, 3600, ... as VT_I4
    const wchar_t* figure; // the reading shown; null for the fallback line
    double celsius;
};

stand_in_script script_for(const probe_case& c)
{
    stand_in_script script{};
    script.zone_count = c.zone_count;
    script.zones[0] = c.first;
    for (std::uint32_t zone = 1; zone < max_zones; ++zone) {
        script.zones[zone] = {VT_I4, 3400 + 100 * zone};
    }
    switch (c.failing) {
    case step::init:
        script.init_result = c.failure;
        break;
    case step::class_object:
        script.class_object_result = c.failure;
        break;
    case step::create:
        script.create_result = c.failure;
        break;
    case step::connect:
        script.connect_result = c.failure;
        break;
    case step::blanket:
        script.blanket_result = c.failure;
        break;
    case step::query:
        script.query_result = c.failure;
        break;
    case step::next:
        // A success code here is what Next gives with fewer objects than asked.
        if (FAILED(c.failure)) {
            script.next_result = c.failure;
        } else {
            script.next_short_result = c.failure;
        }
        break;
    case step::get:
        script.get_result = c.failure;
        break;
    case step::none:
        break;
    }
    return script;
}

HRESULT expected_init_result(const probe_case& c)
{
    if (c.failing == step::init) {
        return c.failure;
    }
    switch (c.start) {
    case apartment::multithreaded:
        return S_FALSE;
    case apartment::single_threaded:
        return RPC_E_CHANGED_MODE;
    case apartment::none:
        break;
    }
    return S_OK;
}

// The interfaces that the probe obtains before the failing step, in the
// order it obtains them.
std::vector<std::uint32_t> obtained(const probe_case& c)
{
    std::vector<std::uint32_t> objects;
    if (c.failing > step::create) {
        objects.push_back(locator_object);
    }
    if (c.failing > step::connect) {
        objects.push_back(services_object);
    }
    if (c.failing > step::query) {
        objects.push_back(enumerator_object);
    }
    if (c.failing > step::next) {
        objects.push_back(first_zone_object);
    }
    return objects;
}

std::vector<std::string> expected_trace(const probe_case& c)
{
    std::vector<std::string> trace{"CoInitializeEx"};
    if (c.failing == step::init) {
        return trace;
    }
    trace.insert(trace.end(), {"CoInitializeSecurity", "CoCreateInstance", "DllGetClassObject"});
    if (c.failing > step::class_object) {
        trace.insert(trace.end(), {"CreateInstance", "Release factory"});
    }
    if (c.failing > step::create) {
        trace.insert(trace.end(),
                     {"SysAllocString ROOT\\WMI", "ConnectServer", "SysFreeString ROOT\\WMI"});
    }
    if (c.failing > step::connect) {
        trace.insert(trace.end(), {"CoSetProxyBlanket", "SetBlanket"});
    }
    if (c.failing > step::blanket) {
        trace.insert(trace.end(),
                     {"SysAllocString WQL", std::string("SysAllocString ") + query_text,
                      "ExecQuery", "SysFreeString WQL",
                      std::string("SysFreeString ") + query_text});
    }
    if (c.failing > step::query) {
        trace.emplace_back("Next");
    }
    if (c.failing > step::next) {
        trace.insert(trace.end(), {"VariantInit", "Get zone 0", "VariantClear"});
        if (c.failing != step::get && c.first.type == VT_UNKNOWN) {
            trace.emplace_back("Release value");
        }
    }
    const std::vector<std::uint32_t> objects = obtained(c);
    for (auto object = objects.rbegin(); object != objects.rend(); ++object) {
        trace.push_back("Release " + object_name(*object));
    }
    if (SUCCEEDED(expected_init_result(c))) {
        trace.emplace_back("CoUninitialize");
    }
    return trace;
}

// The order in which the probe's own interfaces reached a count of 0.
std::vector<std::uint32_t> final_releases(const stand_in_record& record)
{
    std::vector<std::uint32_t> order;
    for (LONG at = 0; at < record.final_release_count; ++at) {
        const std::uint32_t object = record.final_releases[at];
        if (object != factory_object && object != value_object) {
            order.push_back(object);
        }
    }
    return order;
}

std::string counts_text(const stand_in_record& record)
{
    std::string text;
    for (std::uint32_t object = 0; object < object_count; ++object) {
        const object_counts& counts = record.objects[object];
        if (counts.created == 0) {
            continue;
        }
        text += " " + object_name(object) + " +" + std::to_string(counts.add_refs) + "/-" +
                std::to_string(counts.releases) + "=" + std::to_string(counts.count);
    }
    return text;
}

std::string release_order_text(const std::vector<std::uint32_t>& order)
{
    std::string text;
    for (const std::uint32_t object : order) {
        text += (text.empty() ? "" : ", ") + object_name(object);
    }
    return text.empty() ? "(none)" : text;
}

const probe_case probe_cases[] = {
    // readings
    {"I4_3000", apartment::none, step::none, S_OK, 1, {VT_I4, 3000}, L"26.9", 26.850000000000023},
    {"I4_3002", apartment::none, step::none, S_OK, 1, {VT_I4, 3002}, L"27.1", 27.05000000000001},
    {"I4_2732", apartment::none, step::none, S_OK, 1, {VT_I4, 2732}, L"0.1", 0.05000000000001137},
    {"I4_2731",
     apartment::none,
     step::none,
     S_OK,
     1,
     {VT_I4, 2731},
     L"-0.0",
     -0.049999999999954525},
    {"I4_1", apartment::none, step::none, S_OK, 1, {VT_I4, 1}, L"-273.0", -273.04999999999995},
    {"I4_largest",
     apartment::none,
     step::none,
     S_OK,
     1,
     {VT_I4, 2147483647},
     L"214748091.5",
     214748091.54999998},
    {"UI4_3100", apartment::none, step::none, S_OK, 1, {VT_UI4, 3100}, L"36.9", 36.85000000000002},
    {"UI4_largest",
     apartment::none,
     step::none,
     S_OK,
     1,
     {VT_UI4, 4294967295},
     L"429496456.4",
     429496456.35},
    {"I2_3000", apartment::none, step::none, S_OK, 1, {VT_I2, 3000}, L"26.9", 26.850000000000023},
    {"I2_largest",
     apartment::none,
     step::none,
     S_OK,
     1,
     {VT_I2, 32767},
     L"3003.5",
     3003.5499999999997},
    {"several_zones_first_shown",
     apartment::none,
     step::none,
     S_OK,
     3,
     {VT_I4, 3000},
     L"26.9",
     26.850000000000023},
    // values that give no reading
    {"I4_0", apartment::none, step::none, S_OK, 1, {VT_I4, 0}, nullptr, 0.0},
    {"I4_negative", apartment::none, step::none, S_OK, 1, {VT_I4, -2731}, nullptr, 0.0},
    {"I2_negative", apartment::none, step::none, S_OK, 1, {VT_I2, -1}, nullptr, 0.0},
    {"UI2_value", apartment::none, step::none, S_OK, 1, {VT_UI2, 3000}, nullptr, 0.0},
    {"I8_value", apartment::none, step::none, S_OK, 1, {VT_I8, 3000}, nullptr, 0.0},
    {"BSTR_value", apartment::none, step::none, S_OK, 1, {VT_BSTR, 3000}, nullptr, 0.0},
    {"NULL_value", apartment::none, step::none, S_OK, 1, {VT_NULL, 0}, nullptr, 0.0},
    {"UNKNOWN_value", apartment::none, step::none, S_OK, 1, {VT_UNKNOWN, 0}, nullptr, 0.0},
    // a failure at each step
    {"init_fails", apartment::none, step::init, E_OUTOFMEMORY, 1, {VT_I4, 3000}, nullptr, 0.0},
    {"class_object_refused",
     apartment::none,
     step::class_object,
     CLASS_E_CLASSNOTAVAILABLE,
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"locator_creation_fails",
     apartment::none,
     step::create,
     E_OUTOFMEMORY,
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"connection_fails",
     apartment::none,
     step::connect,
     static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE),
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"blanket_fails",
     apartment::none,
     step::blanket,
     E_ACCESSDENIED,
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"query_fails",
     apartment::none,
     step::query,
     static_cast<HRESULT>(WBEM_E_INVALID_CLASS),
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"next_fails",
     apartment::none,
     step::next,
     static_cast<HRESULT>(WBEM_E_FAILED),
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"next_returns_none",
     apartment::none,
     step::next,
     static_cast<HRESULT>(WBEM_S_FALSE),
     0,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"next_times_out",
     apartment::none,
     step::next,
     static_cast<HRESULT>(WBEM_S_TIMEDOUT),
     0,
     {VT_I4, 3000},
     nullptr,
     0.0},
    {"get_fails",
     apartment::none,
     step::get,
     static_cast<HRESULT>(WBEM_E_NOT_FOUND),
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
    // the thread already in an apartment
    {"already_multithreaded",
     apartment::multithreaded,
     step::none,
     S_OK,
     1,
     {VT_I4, 3000},
     L"26.9",
     26.850000000000023},
    {"already_single_threaded",
     apartment::single_threaded,
     step::none,
     S_OK,
     1,
     {VT_I4, 3000},
     L"26.9",
     26.850000000000023},
    {"single_threaded_query_fails",
     apartment::single_threaded,
     step::query,
     static_cast<HRESULT>(WBEM_E_INVALID_CLASS),
     1,
     {VT_I4, 3000},
     nullptr,
     0.0},
};

// The stand-in registered, this program's imports recorded; one probe run.
class StandInProbe : public ::testing::TestWithParam<probe_case> {
  protected:
    StandInProbe() : registration_(stand_in_dll_path()) {}

    void SetUp() override
    {
        ASSERT_TRUE(shared_.ok());
        ASSERT_EQ(import_hooks::wanted, hooks_.patched());
        ASSERT_TRUE(registration_.ok());
    }

    // Runs the probe from the case's apartment; gives the line shown.
    std::wstring run(const probe_case& c, system_readings& readings)
    {
        shared_.reset(script_for(c));
        HRESULT joined = E_FAIL;
        if (c.start == apartment::multithreaded) {
            joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        } else if (c.start == apartment::single_threaded) {
            joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        }
        std::wstring line = run_probe(shared_.block(), readings);
        if (SUCCEEDED(joined)) {
            CoUninitialize();
        }
        return line;
    }

    shared_block shared_;
    import_hooks hooks_;
    stand_in_registration registration_;
};

TEST_P(StandInProbe, ShowsTheReadingOrTheFallback)
{
    const probe_case& c = GetParam();
    system_readings readings{};
    const std::wstring line = run(c, readings);
    const std::vector<call_entry> calls = calls_of(shared_.block());
    SCOPED_TRACE(log_text(calls));

    if (c.figure != nullptr) {
        EXPECT_EQ(reading_line(c.figure), line);
        EXPECT_TRUE(readings.has_acpi_temp);
        EXPECT_EQ(c.celsius, readings.acpi_celsius);
    } else {
        EXPECT_EQ(fallback_line, line);
        EXPECT_FALSE(readings.has_acpi_temp);
        EXPECT_EQ(0.0, readings.acpi_celsius);
    }
}

TEST_P(StandInProbe, MakesItsCallsInOrderAndReleasesInReverse)
{
    const probe_case& c = GetParam();
    system_readings readings{};
    run(c, readings);
    const stand_in_record& record = shared_.block().record;
    const std::vector<call_entry> calls = calls_of(shared_.block());
    SCOPED_TRACE(log_text(calls));
    ASSERT_LE(static_cast<std::size_t>(record.calls_made), call_capacity);

    EXPECT_EQ(expected_trace(c), trace_of(calls));

    const std::vector<call_entry> inits = calls_of_kind(calls, call_kind::co_initialize_ex);
    ASSERT_EQ(1U, inits.size());
    EXPECT_EQ(expected_init_result(c), inits[0].result);
    EXPECT_EQ(SUCCEEDED(inits[0].result) ? 1U : 0U,
              calls_of_kind(calls, call_kind::co_uninitialize).size());

    // Every object handed out once, released once more than it was added.
    for (std::uint32_t object = 0; object < object_count; ++object) {
        const object_counts& counts = record.objects[object];
        SCOPED_TRACE(object_name(object));
        EXPECT_LE(counts.created, 1);
        if (counts.created == 1) {
            EXPECT_EQ(counts.add_refs + 1, counts.releases);
            EXPECT_EQ(0, counts.count);
        }
    }
    const std::vector<std::uint32_t> objects = obtained(c);
    EXPECT_EQ(std::vector<std::uint32_t>(objects.rbegin(), objects.rend()), final_releases(record));
    std::printf("    %-30s counts (AddRef/Release=left):%s; released: %s\n", c.name,
                counts_text(record).c_str(), release_order_text(final_releases(record)).c_str());
}

TEST_P(StandInProbe, FreesEveryStringAndClearsTheValue)
{
    const probe_case& c = GetParam();
    system_readings readings{};
    run(c, readings);
    const std::vector<call_entry> calls = calls_of(shared_.block());
    SCOPED_TRACE(log_text(calls));

    // Walked in order: the platform's string cache may hand the address of a
    // freed string to the next allocation.
    std::map<std::uint64_t, std::string> live;
    std::size_t allocations = 0;
    for (const call_entry& entry : calls) {
        if (entry.kind == call_kind::sys_alloc_string) {
            ++allocations;
            EXPECT_NE(0U, entry.pointers[0]);
            EXPECT_EQ(0U, live.count(entry.pointers[0])) << "allocated twice without a free";
            live[entry.pointers[0]] = narrow(entry.texts[0]);
        } else if (entry.kind == call_kind::sys_free_string) {
            EXPECT_EQ(1U, live.erase(entry.pointers[0])) << "freed a string not allocated here";
        }
    }
    const std::size_t expected_strings =
        c.failing > step::blanket ? 3U : (c.failing > step::create ? 1U : 0U);
    EXPECT_EQ(expected_strings, allocations);
    for (const auto& left : live) {
        ADD_FAILURE() << "never freed: " << left.second;
    }

    const std::vector<call_entry> inits = calls_of_kind(calls, call_kind::variant_init);
    const std::vector<call_entry> gets = calls_of_kind(calls, call_kind::get);
    const std::vector<call_entry> clears = calls_of_kind(calls, call_kind::variant_clear);
    if (c.failing <= step::next) {
        EXPECT_TRUE(inits.empty());
        EXPECT_TRUE(gets.empty());
        EXPECT_TRUE(clears.empty());
        return;
    }
    ASSERT_EQ(1U, inits.size());
    ASSERT_EQ(1U, gets.size());
    ASSERT_EQ(1U, clears.size());
    EXPECT_EQ(inits[0].pointers[0], gets[0].pointers[0]);
    EXPECT_EQ(inits[0].pointers[0], clears[0].pointers[0]);
    EXPECT_EQ(static_cast<std::uint32_t>(VT_EMPTY), gets[0].numbers[3]);
    const VARTYPE handed = c.failing == step::get ? static_cast<VARTYPE>(VT_EMPTY) : c.first.type;
    EXPECT_EQ(static_cast<std::uint32_t>(handed), clears[0].numbers[0]);
    EXPECT_EQ(static_cast<std::uint32_t>(VT_EMPTY), clears[0].numbers[1]);
    EXPECT_EQ(S_OK, clears[0].result);
    if (handed == VT_BSTR || handed == VT_UNKNOWN) {
        // The clear was handed the very string or object that the stand-in made.
        EXPECT_NE(0U, gets[0].pointers[1]);
        EXPECT_EQ(gets[0].pointers[1], clears[0].pointers[1]);
    }
    if (handed == VT_UNKNOWN) {
        const object_counts& value = shared_.block().record.objects[value_object];
        EXPECT_EQ(1, value.created);
        EXPECT_EQ(0, value.count);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StandInProbe, ::testing::ValuesIn(probe_cases),
                         [](const ::testing::TestParamInfo<probe_case>& param_info) {
                             return std::string(param_info.param.name);
                         });

// The arguments of every call, on a run that gets a reading.
TEST(StandInProbeArguments, AreThoseOfTheCallTable)
{
    shared_block shared;
    ASSERT_TRUE(shared.ok());
    import_hooks hooks;
    ASSERT_EQ(import_hooks::wanted, hooks.patched());
    stand_in_registration registration(stand_in_dll_path());
    ASSERT_TRUE(registration.ok());
    stand_in_script script{};
    script.zone_count = 3;
    script.zones[0] = {VT_I4, 3000};
    script.zones[1] = {VT_I4, 3500};
    script.zones[2] = {VT_I4, 3600};
    shared.reset(script);
    system_readings readings{};
    run_probe(shared.block(), readings);
    const std::vector<call_entry> calls = calls_of(shared.block());
    SCOPED_TRACE(log_text(calls));

    const auto only = [&calls](call_kind kind) {
        const std::vector<call_entry> found = calls_of_kind(calls, kind);
        EXPECT_EQ(1U, found.size()) << kind_name(kind);
        return found.empty() ? call_entry{} : found[0];
    };
    const std::vector<call_entry> strings = calls_of_kind(calls, call_kind::sys_alloc_string);
    ASSERT_EQ(3U, strings.size());

    const call_entry init = only(call_kind::co_initialize_ex);
    EXPECT_EQ(static_cast<std::uint32_t>(COINIT_MULTITHREADED), init.numbers[0]);
    EXPECT_EQ(0U, init.numbers[1]);

    const call_entry security = only(call_kind::co_initialize_security);
    const std::uint32_t security_arguments[] = {
        0, 0xFFFFFFFFU, 0, 0, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
        0, EOAC_NONE,   0};
    for (std::size_t at = 0; at < 9; ++at) {
        EXPECT_EQ(security_arguments[at], security.numbers[at]) << "argument " << at;
    }

    const call_entry create = only(call_kind::co_create_instance);
    EXPECT_EQ("{4590F811-1D3A-11D0-891F-00AA004B2E24}", narrow(create.texts[0]));
    EXPECT_EQ("{DC12A687-737F-11CF-884D-00AA004B2E24}", narrow(create.texts[1]));
    EXPECT_EQ(0U, create.numbers[0]);
    EXPECT_EQ(static_cast<std::uint32_t>(CLSCTX_INPROC_SERVER), create.numbers[1]);

    const call_entry connect = only(call_kind::connect_server);
    EXPECT_EQ("ROOT\\WMI", narrow(connect.texts[0]));
    EXPECT_EQ(strings[0].pointers[0], connect.pointers[0]); // the BSTR allocated for it
    EXPECT_EQ(8U, connect.numbers[6]);                      // its length prefix
    for (const std::size_t at : {0U, 1U, 2U, 3U, 4U, 5U}) {
        EXPECT_EQ(0U, connect.numbers[at]) << "user, password, locale, flags, authority, context";
    }
    EXPECT_EQ(1U, connect.numbers[7]);

    const call_entry proxy = only(call_kind::co_set_proxy_blanket);
    const call_entry blanket = only(call_kind::set_blanket);
    const std::uint32_t blanket_arguments[] = {RPC_C_AUTHN_WINNT,
                                               RPC_C_AUTHZ_NONE,
                                               0,
                                               RPC_C_AUTHN_LEVEL_CALL,
                                               RPC_C_IMP_LEVEL_IMPERSONATE,
                                               0,
                                               EOAC_NONE};
    for (std::size_t at = 0; at < 7; ++at) {
        EXPECT_EQ(blanket_arguments[at], proxy.numbers[at]) << "argument " << at;
        EXPECT_EQ(blanket_arguments[at], blanket.numbers[at]) << "argument " << at;
    }
    EXPECT_EQ(proxy.pointers[0], blanket.pointers[0]);
    EXPECT_NE(0U, proxy.pointers[0]);

    const call_entry query = only(call_kind::exec_query);
    EXPECT_EQ("WQL", narrow(query.texts[0]));
    EXPECT_EQ(query_text, narrow(query.texts[1]));
    EXPECT_EQ(static_cast<std::uint32_t>(WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY),
              query.numbers[0]);
    EXPECT_EQ(0x30U, query.numbers[0]);
    EXPECT_EQ(0U, query.numbers[1]);
    EXPECT_EQ(3U, query.numbers[2]);
    EXPECT_EQ(std::string(query_text).size(), query.numbers[3]);
    EXPECT_EQ(strings[1].pointers[0], query.pointers[0]);
    EXPECT_EQ(strings[2].pointers[0], query.pointers[1]);

    const call_entry next = only(call_kind::next);
    EXPECT_EQ(2500U, next.numbers[0]);
    EXPECT_EQ(1U, next.numbers[1]);
    EXPECT_EQ(1U, next.numbers[2]);
    EXPECT_EQ(1U, next.numbers[3]);
    EXPECT_EQ(1U, next.numbers[4]);
    // Only the first zone was ever handed out.
    for (std::uint32_t zone = 1; zone < max_zones; ++zone) {
        EXPECT_EQ(0, shared.block().record.objects[first_zone_object + zone].created);
    }

    const call_entry get = only(call_kind::get);
    EXPECT_EQ(first_zone_object, get.object);
    EXPECT_EQ("CurrentTemperature", narrow(get.texts[0]));
    EXPECT_EQ(0U, get.numbers[0]);
    EXPECT_EQ(0U, get.numbers[1]); // no type asked for
    EXPECT_EQ(0U, get.numbers[2]); // no flavour asked for

    EXPECT_TRUE(calls_of_kind(calls, call_kind::unsupported).empty());
}

// The registration lasts only as long as its owner: afterwards the prefix
// holds Wine's own values again, and the probe reaches Wine's WMI.
TEST(StandInRegistration, IsUndoneAfterwards)
{
    const std::wstring server = locator_server_value(L"");
    const std::wstring threading = locator_server_value(L"ThreadingModel");
    ASSERT_FALSE(server.empty());
    EXPECT_EQ(std::wstring::npos, server.find(stand_in_dll_name));
    {
        stand_in_registration registration(stand_in_dll_path());
        ASSERT_TRUE(registration.ok());
        EXPECT_EQ(stand_in_dll_path(), locator_server_value(L""));
        EXPECT_EQ(L"Both", locator_server_value(L"ThreadingModel"));
    }
    EXPECT_EQ(server, locator_server_value(L""));
    EXPECT_EQ(threading, locator_server_value(L"ThreadingModel"));

    shared_block shared;
    ASSERT_TRUE(shared.ok());
    import_hooks hooks;
    shared.reset(stand_in_script{});
    system_readings readings{};
    run_probe(shared.block(), readings);
    const std::vector<call_entry> calls = calls_of(shared.block());
    EXPECT_TRUE(calls_of_kind(calls, call_kind::dll_get_class_object).empty()) << log_text(calls);
    const std::vector<call_entry> creates = calls_of_kind(calls, call_kind::co_create_instance);
    ASSERT_EQ(1U, creates.size());
    EXPECT_EQ(S_OK, creates[0].result);
}

// A run that died while the stand-in was registered leaves its path behind;
// the next registration then puts back Wine's own provider, not the leftover.
TEST(StandInRegistration, RepairsALeftOverRegistration)
{
    const std::wstring server = locator_server_value(L"");
    {
        stand_in_registration left_over(stand_in_dll_path());
        ASSERT_TRUE(left_over.ok());
        {
            stand_in_registration next_run(stand_in_dll_path());
            ASSERT_TRUE(next_run.ok());
        }
        EXPECT_EQ(L"C:\\windows\\system32\\wbem\\wbemprox.dll", locator_server_value(L""));
        EXPECT_EQ(L"Both", locator_server_value(L"ThreadingModel"));
    }
    EXPECT_EQ(server, locator_server_value(L""));
}

// Wine's own WMI connects and answers the query, but has no thermal zone:
// the probe goes through every step up to Next and shows the fallback, at
// once rather than after the 2.5 s that Next may wait.
TEST(WineWmi, RunsTheWholeSequenceAndShowsTheFallbackQuickly)
{
    shared_block shared;
    ASSERT_TRUE(shared.ok());
    import_hooks hooks;
    ASSERT_EQ(import_hooks::wanted, hooks.patched());
    shared.reset(stand_in_script{});
    system_readings readings{};

    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const std::wstring line = run_probe(shared.block(), readings);
    QueryPerformanceCounter(&end);
    const double milliseconds = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                                static_cast<double>(frequency.QuadPart);
    std::printf("    probe against Wine's WMI: %.1f ms\n", milliseconds);

    const std::vector<call_entry> calls = calls_of(shared.block());
    SCOPED_TRACE(log_text(calls));
    EXPECT_EQ(fallback_line, line);
    EXPECT_FALSE(readings.has_acpi_temp);
    const std::vector<std::string> expected = {
        "CoInitializeEx",          "CoInitializeSecurity",
        "CoCreateInstance",        "SysAllocString ROOT\\WMI",
        "SysFreeString ROOT\\WMI", "CoSetProxyBlanket",
        "SysAllocString WQL",      std::string("SysAllocString ") + query_text,
        "SysFreeString WQL",       std::string("SysFreeString ") + query_text,
        "CoUninitialize"};
    EXPECT_EQ(expected, trace_of(calls));
    for (const call_kind kind : {call_kind::co_initialize_ex, call_kind::co_create_instance,
                                 call_kind::co_set_proxy_blanket}) {
        const std::vector<call_entry> found = calls_of_kind(calls, kind);
        ASSERT_EQ(1U, found.size());
        EXPECT_EQ(S_OK, found[0].result) << kind_name(kind);
    }
    EXPECT_LT(milliseconds, 2000.0);
}

// What the probe meets there, step by step: the query succeeds and Next
// ends the enumeration at once with no object.
TEST(WineWmi, HasNoThermalZone)
{
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    IEnumWbemClassObject* enumerator = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IWbemLocator, reinterpret_cast<void**>(&locator)));
    BSTR wmi_namespace = SysAllocString(L"ROOT\\WMI");
    EXPECT_EQ(S_OK, locator->ConnectServer(wmi_namespace, nullptr, nullptr, nullptr, 0, nullptr,
                                           nullptr, &services));
    SysFreeString(wmi_namespace);
    if (services != nullptr) {
        BSTR language = SysAllocString(L"WQL");
        BSTR query =
            SysAllocString(L"SELECT CurrentTemperature FROM MSAcpi_ThermalZoneTemperature");
        EXPECT_EQ(S_OK, services->ExecQuery(language, query,
                                            WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                            nullptr, &enumerator));
        SysFreeString(language);
        SysFreeString(query);
    }
    if (enumerator != nullptr) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 5;
        EXPECT_EQ(static_cast<HRESULT>(WBEM_S_FALSE),
                  enumerator->Next(2500, 1, &object, &returned));
        EXPECT_EQ(0U, returned);
        EXPECT_EQ(nullptr, object);
        enumerator->Release();
    }
    if (services != nullptr) {
        services->Release();
    }
    locator->Release();
    CoUninitialize();
}

} // namespace
