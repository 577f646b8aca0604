// Reads what a leaking pass would make grow: private memory, kernel handles,
// GDI and USER objects, loaded modules.
#include "process_figures.h"

#include <psapi.h>
#include <winternl.h>

#include <vector>

namespace {

// One entry of SystemExtendedHandleInformation (class 64), which lists the
// handles of every process. Wine answers it, though its
// GetProcessHandleCount reports 0 for any process.
struct handle_entry {
    PVOID object;
    ULONG_PTR process_id;
    ULONG_PTR handle_value;
    ULONG granted_access;
    USHORT creator_back_trace_index;
    USHORT object_type_index;
    ULONG handle_attributes;
    ULONG reserved;
};

struct handle_information {
    ULONG_PTR count;
    ULONG_PTR reserved;
    handle_entry handles[1];
};

constexpr ULONG system_extended_handle_information = 64;

std::int64_t count_handles_from_system_list(DWORD process_id)
{
    using query_function = NTSTATUS(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<query_function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status = query(system_extended_handle_information, buffer.data(),
                                      static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* list = reinterpret_cast<const handle_information*>(buffer.data());
            std::int64_t count = 0;
            for (ULONG_PTR i = 0; i < list->count; ++i) {
                if (list->handles[i].process_id == process_id) {
                    ++count;
                }
            }
            return count;
        }
        buffer.resize(buffer.size() * 4);
    }
    return -1;
}

} // namespace

process_figures read_process_figures(HANDLE process)
{
    process_figures figures{-1, -1, -1, -1, -1};

    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof memory)) {
        // Wine leaves PrivateUsage at 0; its commit charge is the same figure.
        const SIZE_T private_bytes =
            memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
        if (private_bytes != 0) {
            figures.private_bytes = static_cast<std::int64_t>(private_bytes);
        }
    }

    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles) && handles != 0) {
        figures.handles = handles;
    } else {
        figures.handles = count_handles_from_system_list(GetProcessId(process));
    }

    // Zero from GetGuiResources means "not reported" under Wine, whose
    // implementation is a stub; a real process with a window has objects.
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    if (gdi != 0) {
        figures.gdi_objects = gdi;
    }
    const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    if (user != 0) {
        figures.user_objects = user;
    }

    HMODULE modules[1];
    DWORD needed = 0;
    if (EnumProcessModulesEx(process, modules, sizeof modules, &needed, LIST_MODULES_ALL)) {
        figures.modules = static_cast<std::int64_t>(needed / sizeof(HMODULE));
    }
    return figures;
}
