// Pass benchmark: runs refresh_data many times without a main window (the
// report goes to a hidden edit control) and times the whole pass and each of
// its steps, next to the same platform calls made bare as the floor that no
// pass can go below. Also times the start of the real program up to its
// first complete report when given its path.
//
//   pass_benchmark.exe [ITERATIONS] [PROGRAM]
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "app_process.h"
#include "probes.h"
#include "report.h"

namespace {

double ticks_per_us = 0.0;

double now_us()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticks_per_us;
}

struct timing {
    const char* name;
    std::vector<double> samples;

    double percentile(double p)
    {
        std::sort(samples.begin(), samples.end());
        const auto at = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1));
        return samples[at];
    }
};

template <typename Step> void time_step(timing& t, Step step)
{
    const double start = now_us();
    step();
    t.samples.push_back(now_us() - start);
}

void print(timing& t)
{
    std::printf("  %-26s %12.1f %12.1f\n", t.name, t.percentile(0.5), t.percentile(0.99));
}

// The floor: the probes' platform calls without any of our own handling.
void bare_registry()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        wchar_t name[256];
        DWORD size = sizeof name;
        RegQueryValueExW(key, L"ProcessorNameString", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(key);
    }
}

void bare_display_devices()
{
    DISPLAY_DEVICEW device{};
    device.cb = sizeof device;
    for (DWORD i = 0; EnumDisplayDevicesW(nullptr, i, &device, 0); ++i) {
        device.cb = sizeof device;
    }
}

void bare_memory()
{
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
}

void bare_wmi()
{
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    IEnumWbemClassObject* enumerator = nullptr;
    IWbemClassObject* object = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWbemLocator, reinterpret_cast<void**>(&locator)))) {
        BSTR wmi_namespace = SysAllocString(L"ROOT\\WMI");
        locator->ConnectServer(wmi_namespace, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                               &services);
        SysFreeString(wmi_namespace);
    }
    if (services != nullptr &&
        SUCCEEDED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                    RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                    EOAC_NONE))) {
        BSTR language = SysAllocString(L"WQL");
        BSTR query =
            SysAllocString(L"SELECT CurrentTemperature FROM MSAcpi_ThermalZoneTemperature");
        services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                            nullptr, &enumerator);
        SysFreeString(language);
        SysFreeString(query);
    }
    ULONG returned = 0;
    if (enumerator != nullptr && SUCCEEDED(enumerator->Next(2500, 1, &object, &returned)) &&
        returned == 1) {
        VARIANT value;
        VariantInit(&value);
        object->Get(L"CurrentTemperature", 0, &value, nullptr, nullptr);
        VariantClear(&value);
    }
    for (IUnknown* held : {static_cast<IUnknown*>(object), static_cast<IUnknown*>(enumerator),
                           static_cast<IUnknown*>(services), static_cast<IUnknown*>(locator)}) {
        if (held != nullptr) {
            held->Release();
        }
    }
    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
}

using nvml_call = int (*)();
using nvml_count = int (*)(unsigned int*);
using nvml_handle = int (*)(unsigned int, void**);
using nvml_temperature = int (*)(void*, int, unsigned int*);

template <typename Function> Function export_of(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void bare_nvml()
{
    HMODULE library = LoadLibraryExW(L"nvml.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        library = LoadLibraryExW(L"nvml64.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    if (library == nullptr) {
        return;
    }
    const auto init = export_of<nvml_call>(library, "nvmlInit_v2");
    const auto shutdown = export_of<nvml_call>(library, "nvmlShutdown");
    const auto count = export_of<nvml_count>(library, "nvmlDeviceGetCount_v2");
    const auto handle = export_of<nvml_handle>(library, "nvmlDeviceGetHandleByIndex_v2");
    const auto temperature = export_of<nvml_temperature>(library, "nvmlDeviceGetTemperature");
    if (init != nullptr && shutdown != nullptr && count != nullptr && handle != nullptr &&
        temperature != nullptr && init() == 0) {
        unsigned int devices = 0;
        void* device = nullptr;
        unsigned int celsius = 0;
        if (count(&devices) == 0 && devices != 0 && handle(0, &device) == 0) {
            temperature(device, 0, &celsius);
        }
        shutdown();
    }
    FreeLibrary(library);
}

void report_start_up(const wchar_t* program_argument)
{
    wchar_t program[MAX_PATH];
    if (!to_windows_path(program_argument, program, MAX_PATH)) {
        return;
    }
    timing start_up{"start to first report (ms)", {}};
    for (int run = 0; run < 5; ++run) {
        app_process app;
        if (!app.start(program)) {
            std::printf("start-up: the program did not start\n");
            return;
        }
        std::wstring text;
        if (!read_window_text(app.view(), text) ||
            text.find(L"Actualisation automatique toutes les 3 secondes.") == std::wstring::npos) {
            std::printf("start-up: no complete report in the view\n");
            return;
        }
        start_up.samples.push_back(static_cast<double>(app.start_ms()));
        DWORD exit_code = 0;
        app.close(exit_code);
    }
    std::printf("\n%-28s %12s %12s\n", "start-up, 5 runs", "median", "max");
    std::printf("  %-26s %12.0f %12.0f\n", start_up.name, start_up.percentile(0.5),
                start_up.percentile(1.0));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticks_per_us = static_cast<double>(frequency.QuadPart) / 1e6;
    const int iterations = argc > 1 ? static_cast<int>(std::wcstol(argv[1], nullptr, 10)) : 1000;

    output = CreateWindowExW(0, L"EDIT", L"", ES_MULTILINE, 0, 0, 100, 100, nullptr, nullptr,
                             nullptr, nullptr);

    timing pass{"whole pass", {}};
    timing cpu{"processor name", {}};
    timing adapters{"display adapters", {}};
    timing memory{"memory status", {}};
    timing acpi{"ACPI probe (WMI)", {}};
    timing nvidia{"NVIDIA probe (NVML)", {}};
    timing composition{"text composition", {}};
    timing shown{"text replacement", {}};
    timing floor_registry{"registry", {}};
    timing floor_display{"display devices", {}};
    timing floor_memory{"memory status", {}};
    timing floor_wmi{"WMI calls", {}};
    timing floor_nvml{"NVML calls", {}};
    timing floor_text{"SetWindowTextW", {}};
    timing floor{"floor, all calls", {}};

    wchar_t report[report_capacity];
    for (int i = 0; i < iterations; ++i) {
        time_step(pass, [] { refresh_data(); });

        system_readings readings{};
        time_step(cpu, [&] { read_cpu_name(readings.cpu_name); });
        time_step(adapters, [&] { enumerate_display_adapters(readings.gpu_names); });
        time_step(memory, [&] { read_memory_status(readings.memory); });
        time_step(acpi, [&] { probe_acpi_temperature(readings); });
        time_step(nvidia, [&] { probe_nvidia_temperature(readings); });
        time_step(composition, [&] { compose_report(report, readings, nullptr, nullptr); });
        time_step(shown, [&] { SetWindowTextW(output, report); });

        const double floor_start = now_us();
        time_step(floor_registry, bare_registry);
        time_step(floor_display, bare_display_devices);
        time_step(floor_memory, bare_memory);
        time_step(floor_wmi, bare_wmi);
        time_step(floor_nvml, bare_nvml);
        time_step(floor_text, [&] { SetWindowTextW(output, report); });
        floor.samples.push_back(now_us() - floor_start);
    }

    std::printf("%d iterations; microseconds\n", iterations);
    std::printf("%-28s %12s %12s\n", "pass and its steps", "median", "p99");
    for (timing* t : {&pass, &cpu, &adapters, &memory, &acpi, &nvidia, &composition, &shown}) {
        print(*t);
    }
    std::printf("%-28s %12s %12s\n", "bare platform calls", "median", "p99");
    for (timing* t : {&floor_registry, &floor_display, &floor_memory, &floor_wmi, &floor_nvml,
                      &floor_text, &floor}) {
        print(*t);
    }
    const double pass_median = pass.percentile(0.5);
    const double floor_median = floor.percentile(0.5);
    std::printf("pass / floor (medians): %.3f (%+.1f%%)\n", pass_median / floor_median,
                (pass_median / floor_median - 1.0) * 100.0);
    std::printf("text composition median %.2f us (target under 20 us)\n",
                composition.percentile(0.5));

    DestroyWindow(output);
    if (argc > 2) {
        report_start_up(argv[2]);
    }
    return 0;
}
