// A small console tool for scripts/run: waits until a running QEL System
// Monitor window shows its report, or closes it. It looks on every desktop
// of the window station, because the program may run inside a Wine virtual
// desktop of its own.
//   qel_app_window wait TIMEOUT_MS   prints "window LEFT TOP RIGHT BOTTOM" and
//                                    the report; exit 0, or 1 on time-out
//   qel_app_window close TIMEOUT_MS  closes every such window and waits until
//                                    they are gone; exit 0, or 1 on time-out
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app_process.h"

namespace {

const wchar_t* const report_header = L"QEL SYSTEM MONITOR\r\n";
const wchar_t* const report_footer = L"\r\nActualisation automatique toutes les 3 secondes.";
constexpr DWORD poll_ms = 50;

BOOL CALLBACK collect_window(HWND window, LPARAM l_param)
{
    if (window_class_name(window) == app_window_class) {
        reinterpret_cast<std::vector<HWND>*>(l_param)->push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK search_desktop(LPWSTR name, LPARAM l_param)
{
    const HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (desktop != nullptr) {
        EnumDesktopWindows(desktop, collect_window, l_param);
        CloseDesktop(desktop);
    }
    return TRUE;
}

std::vector<HWND> app_windows()
{
    std::vector<HWND> windows;
    EnumDesktopsW(GetProcessWindowStation(), search_desktop, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

void complain(const char* message)
{
    static_cast<void>(std::fputs("qel_app_window: ", stderr));
    static_cast<void>(std::fputs(message, stderr));
    static_cast<void>(std::fputs("\n", stderr));
}

bool ends_with(const std::wstring& text, const wchar_t* end)
{
    const std::size_t length = std::wcslen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

void print_utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    static_cast<void>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          bytes.data(), size, nullptr, nullptr));
    static_cast<void>(std::fwrite(bytes.data(), 1, bytes.size(), stdout));
    static_cast<void>(std::fflush(stdout));
}

int wait_for_report(DWORD timeout_ms)
{
    const ULONGLONG start = GetTickCount64();
    do {
        for (const HWND window : app_windows()) {
            std::wstring text;
            // IsWindowVisible answers FALSE for a window of another desktop,
            // so the window's own style is read.
            const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
            if ((style & WS_VISIBLE) == 0 ||
                !read_window_text(GetDlgItem(window, app_report_view_id), text) ||
                text.compare(0, std::wcslen(report_header), report_header) != 0 ||
                !ends_with(text, report_footer)) {
                continue;
            }
            // Answered only once the program is back in its message loop,
            // after painting.
            send_app_message(window, WM_NULL, 0, 0);
            RECT rect{};
            GetWindowRect(window, &rect);
            wchar_t line[80];
            static_cast<void>(std::swprintf(line, 80, L"window %ld %ld %ld %ld\n", rect.left,
                                            rect.top, rect.right, rect.bottom));
            print_utf8(line + text + L"\r\n");
            return 0;
        }
        Sleep(poll_ms);
    } while (GetTickCount64() - start < timeout_ms);
    complain("no window showing a report");
    return 1;
}

int close_windows(DWORD timeout_ms)
{
    for (const HWND window : app_windows()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    const ULONGLONG start = GetTickCount64();
    while (!app_windows().empty()) {
        if (GetTickCount64() - start > timeout_ms) {
            complain("the window is still open");
            return 1;
        }
        Sleep(poll_ms);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        complain("usage: qel_app_window wait|close TIMEOUT_MS");
        return 2;
    }
    const auto timeout_ms = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    if (std::wcscmp(argv[1], L"wait") == 0) {
        return wait_for_report(timeout_ms);
    }
    if (std::wcscmp(argv[1], L"close") == 0) {
        return close_windows(timeout_ms);
    }
    complain("unknown command");
    return 2;
}
