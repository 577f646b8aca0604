// Entry point and main window: registers the window class, builds the report
// view and the "Actualiser" button, and runs a refresh pass at creation, on
// every tick of the 3-second timer and on every press of the button.
#include <windows.h>

#include "report.h"

namespace {

constexpr const wchar_t* window_class_name = L"QELSystemMonitorWindow";
constexpr const wchar_t* window_title = L"QEL System Monitor";

constexpr int IDI_APPLICATION_ICON = 1;
constexpr int IDC_REFRESH = 101;
constexpr int IDC_OUTPUT = 102;
constexpr UINT_PTR IDT_REFRESH = 1;
constexpr UINT refresh_period_ms = 3000;

// Title bar, system menu and minimise box only: the window has a fixed size.
constexpr DWORD main_window_style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int main_window_width = 800;
constexpr int main_window_height = 520;

// A very dark blue.
constexpr COLORREF background_colour = RGB(17, 19, 29);

// Returned when GetMessageW itself fails: the program did not end as asked.
constexpr int message_loop_error_exit_code = 1;

void create_controls(HWND window)
{
    const HFONT report_font = CreateFontW(19, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                          DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                          CLEARTYPE_QUALITY, FIXED_PITCH, L"Consolas");

    output = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", L"",
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 20, 20, 740, 390, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OUTPUT)), nullptr, nullptr);
    SendMessageW(output, WM_SETFONT, reinterpret_cast<WPARAM>(report_font), TRUE);

    const HWND refresh_button = CreateWindowExW(
        0, L"BUTTON", L"Actualiser", WS_CHILD | WS_VISIBLE, 620, 425, 140, 38, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_REFRESH)), nullptr, nullptr);
    SendMessageW(refresh_button, WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
}

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param)
{
    switch (message) {
    case WM_CREATE:
        create_controls(window);
        SetTimer(window, IDT_REFRESH, refresh_period_ms, nullptr);
        refresh_data();
        return 0;
    case WM_TIMER:
        refresh_data();
        return 0;
    case WM_COMMAND:
        if (LOWORD(w_param) == IDC_REFRESH) {
            refresh_data();
        }
        return 0;
    case WM_DESTROY:
        KillTimer(window, IDT_REFRESH);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, w_param, l_param);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous_instance, PWSTR command_line,
                    int show_state)
{
    static_cast<void>(previous_instance);
    static_cast<void>(command_line);

    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    window_class.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = CreateSolidBrush(background_colour);
    window_class.lpszClassName = window_class_name;
    if (RegisterClassExW(&window_class) == 0) {
        return 1;
    }

    const HWND window = CreateWindowExW(0, window_class_name, window_title, main_window_style,
                                        CW_USEDEFAULT, CW_USEDEFAULT, main_window_width,
                                        main_window_height, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, show_state);
    UpdateWindow(window);

    MSG message;
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (result < 0) {
        return message_loop_error_exit_code;
    }
    return static_cast<int>(message.wParam);
}
