// The test side of the stand-in NVIDIA management libraries.
#include "nvml_standin_control.h"

#include <cstring>
#include <cwctype>

namespace {

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (const wchar_t c : text) {
        result += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return result;
}

bool same_path(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) {
            return false;
        }
    }
    return true;
}

const char* call_name(standin_call call)
{
    switch (call) {
    case standin_call::load:
        return "load";
    case standin_call::unload:
        return "unload";
    case standin_call::init:
        return "init";
    case standin_call::shutdown:
        return "shutdown";
    case standin_call::get_count:
        return "get_count";
    case standin_call::get_handle:
        return "get_handle";
    case standin_call::get_temperature:
        return "get_temperature";
    default:
        return "?";
    }
}

} // namespace

std::wstring program_folder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : 0);
    const std::size_t slash = folder.find_last_of(L'\\');
    return slash == std::wstring::npos ? folder : folder.substr(0, slash);
}

std::wstring system_folder()
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return {path, length < MAX_PATH ? length : 0};
}

std::wstring file_name_of(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring standin_file(standin_variant variant)
{
    const wchar_t* suffix = L"";
    switch (variant) {
    case standin_variant::full:
        break;
    case standin_variant::without_init:
        suffix = L"_without_nvmlInit_v2";
        break;
    case standin_variant::without_shutdown:
        suffix = L"_without_nvmlShutdown";
        break;
    case standin_variant::without_count:
        suffix = L"_without_nvmlDeviceGetCount_v2";
        break;
    case standin_variant::without_handle:
        suffix = L"_without_nvmlDeviceGetHandleByIndex_v2";
        break;
    case standin_variant::without_temperature:
        suffix = L"_without_nvmlDeviceGetTemperature";
        break;
    }
    return program_folder() + L"\\qel_nvml_standin" + suffix + L".dll";
}

standin_script default_script()
{
    standin_script script{};
    script.count = 1;
    script.temperatures[0] = 64;
    script.temperatures[1] = 71;
    return script;
}

standin_log::standin_log()
{
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(standin_block), standin_block_name);
    if (mapping_ == nullptr) {
        return;
    }
    block_ = static_cast<standin_block*>(
        MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(standin_block)));
    if (block_ != nullptr) {
        reset(default_script());
    }
}

standin_log::~standin_log()
{
    if (block_ != nullptr) {
        UnmapViewOfFile(block_);
    }
    if (mapping_ != nullptr) {
        CloseHandle(mapping_);
    }
}

void standin_log::reset(const standin_script& script)
{
    std::memset(static_cast<void*>(block_), 0, sizeof(standin_block));
    block_->script = script;
    MemoryBarrier();
}

std::vector<standin_event> standin_log::events() const
{
    MemoryBarrier();
    long count = block_->event_count;
    if (count > static_cast<long>(standin_event_capacity)) {
        count = static_cast<long>(standin_event_capacity);
    }
    return {block_->events, block_->events + static_cast<std::size_t>(count)};
}

long standin_log::event_count() const
{
    MemoryBarrier();
    return block_->event_count;
}

long standin_log::count(standin_call call) const
{
    MemoryBarrier();
    return block_->call_counts[static_cast<std::uint32_t>(call)];
}

installed_file::installed_file(const std::wstring& source, const std::wstring& destination)
    : destination_(destination)
{
    installed_ = CopyFileW(source.c_str(), destination.c_str(), FALSE) != 0;
}

installed_file::~installed_file()
{
    if (installed_) {
        remove_file(destination_);
    }
}

bool remove_file(const std::wstring& path)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (DeleteFileW(path.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        Sleep(100);
    }
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string describe(const std::vector<standin_event>& events)
{
    const std::wstring system = system_folder() + L"\\";
    std::string text;
    for (const standin_event& event : events) {
        if (!text.empty()) {
            text += ", ";
        }
        text += call_name(event.call);
        if (event.call == standin_call::load || event.call == standin_call::unload) {
            const std::wstring module = event.module;
            const std::wstring folder =
                module.substr(0, module.size() - file_name_of(module).size());
            text += " " + narrow(same_path(folder, system) ? file_name_of(module) : module);
        } else if (event.call == standin_call::get_handle) {
            text += " " + std::to_string(event.argument);
        }
    }
    return text;
}
