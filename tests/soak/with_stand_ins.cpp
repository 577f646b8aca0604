// Runs a command with the stand-in NVML library and the stand-in WMI
// provider installed in the Wine prefix, scripted to answer every pass with a
// reading (64 °C from NVML, 3000 tenths of a kelvin from WMI), and takes both
// away again when the command ends. Prints what the stand-ins saw, so that a
// long run also shows that every load, initialisation and COM reference was
// paired.
//
//   with_stand_ins.exe NVML_DLL WMI_DLL PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>

#include "app_process.h"
#include "nvml_standin_control.h"
#include "wmi_test_support.h"

namespace {

std::wstring windows_path(const wchar_t* path)
{
    wchar_t converted[MAX_PATH];
    if (!to_windows_path(path, converted, MAX_PATH)) {
        return {};
    }
    return converted;
}

// The child's command line: each argument quoted, as CommandLineToArgvW and
// the C runtime split it again (none of ours holds a quote).
std::wstring command_line(int argc, wchar_t** argv, int first)
{
    std::wstring line;
    for (int i = first; i < argc; ++i) {
        const std::wstring argument = i == first ? windows_path(argv[i]) : std::wstring(argv[i]);
        line += (i == first ? L"\"" : L" \"") + argument + L"\"";
    }
    return line;
}

int run(std::wstring line)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "with_stand_ins: cannot start the command\n");
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exit_code);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: with_stand_ins.exe NVML_DLL WMI_DLL PROGRAM [ARGUMENTS...]\n");
        return 2;
    }

    standin_log nvml;
    shared_block wmi;
    if (!nvml.valid() || !wmi.ok()) {
        std::fprintf(stderr, "with_stand_ins: cannot make the shared blocks\n");
        return 1;
    }
    nvml.reset(default_script());
    stand_in_script script{};
    script.zone_count = 1;
    script.zones[0] = zone_value{VT_I4, 3000};
    wmi.reset(script);

    const installed_file library(windows_path(argv[1]), system_folder() + L"\\nvml.dll");
    const stand_in_registration registration(windows_path(argv[2]));
    if (!library.valid() || !registration.ok()) {
        std::fprintf(stderr, "with_stand_ins: cannot install the stand-ins\n");
        return 1;
    }

    const int exit_code = run(command_line(argc, argv, 3));

    std::printf("stand-in NVML: %ld loads, %ld unloads, %ld inits, %ld shutdowns, %ld readings\n",
                nvml.count(standin_call::load), nvml.count(standin_call::unload),
                nvml.count(standin_call::init), nvml.count(standin_call::shutdown),
                nvml.count(standin_call::get_temperature));
    const stand_in_record& record = wmi.block().record;
    LONG created = 0;
    LONG outstanding = 0;
    for (const object_counts& counts : record.objects) {
        created += counts.created;
        outstanding += counts.count;
    }
    std::printf("stand-in WMI: %ld calls, %ld objects handed out, %ld references outstanding\n",
                record.calls_made, created, outstanding);
    const bool paired = nvml.count(standin_call::load) == nvml.count(standin_call::unload) &&
                        nvml.count(standin_call::init) == nvml.count(standin_call::shutdown) &&
                        outstanding == 0;
    if (!paired) {
        std::printf("FAIL: the stand-ins were left loaded, initialised or referenced\n");
        return exit_code != 0 ? exit_code : 1;
    }
    return exit_code;
}
