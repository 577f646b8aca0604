// Starts the real executable and observes it from another process; see
// app_process.h.
#include "app_process.h"

#include <shellapi.h>

#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD poll_interval_ms = 20;
constexpr UINT terminated_exit_code = 255;

// Wine's own export that maps a Unix path to the DOS path of its drive
// mapping; absent on Windows, where the path is a Windows path already.
using wine_get_dos_file_name_function = WCHAR*(CDECL*)(const char*);

bool copy_path(const wchar_t* source, wchar_t* target, std::size_t capacity)
{
    const std::size_t length = std::wcslen(source);
    if (length + 1 > capacity) {
        return false;
    }
    std::wmemcpy(target, source, length + 1);
    return true;
}

bool wine_dos_path(const wchar_t* path, wchar_t* windows_path, std::size_t capacity)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    const FARPROC address = GetProcAddress(kernel, "wine_get_dos_file_name");
    if (address == nullptr) {
        return false;
    }
    wine_get_dos_file_name_function function;
    static_assert(sizeof function == sizeof address, "function pointers of one size");
    std::memcpy(&function, &address, sizeof function);

    char unix_path[MAX_PATH * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, unix_path, static_cast<int>(sizeof unix_path),
                            nullptr, nullptr) == 0) {
        return false;
    }
    WCHAR* dos_path = function(unix_path);
    if (dos_path == nullptr) {
        return false;
    }
    const bool copied = copy_path(dos_path, windows_path, capacity);
    HeapFree(GetProcessHeap(), 0, dos_path);
    return copied;
}

bool is_gtest_option(const wchar_t* argument)
{
    return std::wcsncmp(argument, L"--gtest", 7) == 0 || std::wcsncmp(argument, L"-gtest", 6) == 0;
}

struct window_search {
    DWORD process_id;
    bool visible_only;
    HWND found;
};

BOOL CALLBACK match_window(HWND window, LPARAM l_param)
{
    auto* search = reinterpret_cast<window_search*>(l_param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id) {
        return TRUE;
    }
    if (search->visible_only && !IsWindowVisible(window)) {
        return TRUE;
    }
    if (window_class_name(window) != app_window_class) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

} // namespace

bool to_windows_path(const wchar_t* path, wchar_t* windows_path, std::size_t capacity)
{
    if (path[0] != L'/') {
        return copy_path(path, windows_path, capacity);
    }
    if (wine_dos_path(path, windows_path, capacity)) {
        return true;
    }
    // Wine's default drive mapping: Z: is the Unix root.
    const std::size_t length = std::wcslen(path);
    if (length + 3 > capacity) {
        return false;
    }
    windows_path[0] = L'Z';
    windows_path[1] = L':';
    for (std::size_t i = 0; i <= length; ++i) {
        windows_path[i + 2] = path[i] == L'/' ? L'\\' : path[i];
    }
    return true;
}

bool app_program_path(wchar_t (&path)[MAX_PATH])
{
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return false;
    }
    bool found = false;
    for (int i = 1; i < count && !found; ++i) {
        if (!is_gtest_option(arguments[i])) {
            found = to_windows_path(arguments[i], path, MAX_PATH);
            break;
        }
    }
    LocalFree(arguments);
    return found;
}

HWND find_app_window(DWORD process_id, bool visible_only)
{
    window_search search{process_id, visible_only, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring window_class_name(HWND window)
{
    wchar_t name[256];
    const int length = GetClassNameW(window, name, 256);
    return length > 0 ? std::wstring(name, static_cast<std::size_t>(length)) : std::wstring();
}

bool send_app_message(HWND window, UINT message, WPARAM w_param, LPARAM l_param, LRESULT* result,
                      DWORD timeout_ms)
{
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, w_param, l_param, SMTO_NORMAL, timeout_ms, &answer) ==
        0) {
        return false;
    }
    if (result != nullptr) {
        *result = static_cast<LRESULT>(answer);
    }
    return true;
}

bool read_window_text(HWND window, std::wstring& text, DWORD timeout_ms)
{
    LRESULT length = 0;
    if (!send_app_message(window, WM_GETTEXTLENGTH, 0, 0, &length, timeout_ms) || length < 0) {
        return false;
    }
    // A pass may replace the text between the two messages, so there is
    // spare room and the length actually copied is the one kept.
    std::wstring buffer(static_cast<std::size_t>(length) + 4096, L'\0');
    LRESULT copied = 0;
    if (!send_app_message(window, WM_GETTEXT, buffer.size(),
                          reinterpret_cast<LPARAM>(buffer.data()), &copied, timeout_ms) ||
        copied < 0) {
        return false;
    }
    buffer.resize(static_cast<std::size_t>(copied));
    text = buffer;
    return true;
}

bool set_window_text(HWND window, const wchar_t* text, DWORD timeout_ms)
{
    LRESULT result = 0;
    return send_app_message(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), &result,
                            timeout_ms) &&
           result != 0;
}

app_process::~app_process()
{
    terminate();
}

bool app_process::start(const wchar_t* program, WORD show_state, DWORD timeout_ms)
{
    terminate();
    exited_ = false;
    exit_code_ = 0;
    start_ms_ = 0;

    // CreateProcessW may write into the command line.
    wchar_t command_line[MAX_PATH + 2];
    const int length = std::swprintf(command_line, MAX_PATH + 2, L"\"%ls\"", program);
    if (length < 0 || static_cast<std::size_t>(length) != std::wcslen(program) + 2) {
        return false;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show_state;
    PROCESS_INFORMATION information{};
    const ULONGLONG started = GetTickCount64();
    started_at_ = started;
    if (!CreateProcessW(program, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &information)) {
        return false;
    }
    CloseHandle(information.hThread);
    process_ = information.hProcess;
    process_id_ = information.dwProcessId;

    // The window is made visible only after creation, whose WM_CREATE has
    // run the first pass; a minimised start is visible too.
    for (;;) {
        window_ = find_app_window(process_id_, true);
        const ULONGLONG now = GetTickCount64();
        if (window_ != nullptr) {
            start_ms_ = static_cast<DWORD>(now - started);
            return true;
        }
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            exited_ = true;
            GetExitCodeProcess(process_, &exit_code_);
            return false;
        }
        if (now - started > timeout_ms) {
            terminate();
            return false;
        }
        Sleep(poll_interval_ms);
    }
}

DWORD app_process::elapsed_ms() const
{
    return static_cast<DWORD>(GetTickCount64() - started_at_);
}

HWND app_process::view() const
{
    return window_ != nullptr ? GetDlgItem(window_, app_report_view_id) : nullptr;
}

HWND app_process::button() const
{
    return window_ != nullptr ? GetDlgItem(window_, app_refresh_button_id) : nullptr;
}

bool app_process::press_button(DWORD timeout_ms) const
{
    const HWND refresh_button = button();
    return refresh_button != nullptr &&
           send_app_message(refresh_button, BM_CLICK, 0, 0, nullptr, timeout_ms);
}

bool app_process::close(DWORD& exit_code, DWORD timeout_ms)
{
    if (window_ == nullptr || !PostMessageW(window_, WM_CLOSE, 0, 0)) {
        return false;
    }
    return wait_for_exit(exit_code, timeout_ms);
}

bool app_process::wait_for_exit(DWORD& exit_code, DWORD timeout_ms)
{
    if (process_ == nullptr) {
        return false;
    }
    if (WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) {
        terminate();
        return false;
    }
    exited_ = true;
    GetExitCodeProcess(process_, &exit_code_);
    exit_code = exit_code_;
    release();
    return true;
}

void app_process::terminate()
{
    if (process_ == nullptr) {
        return;
    }
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_, terminated_exit_code);
        WaitForSingleObject(process_, app_default_timeout_ms);
    }
    release();
}

void app_process::release()
{
    if (process_ != nullptr) {
        CloseHandle(process_);
    }
    process_ = nullptr;
    window_ = nullptr;
}
