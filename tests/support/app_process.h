// Starts the real QEL System Monitor executable in a process of its own and
// looks at it from outside, as another program on the user's machine would:
// finds its main window, reads and sets the text of its controls, sends it
// messages and closes it. Every wait has a time-out, and a process that is
// still running when its app_process goes away is terminated, so that a
// failing test leaves nothing behind.
//
// The test program receives the executable's path as a command-line argument
// (in CMake: `ARGS $<TARGET_FILE:qel_system_monitor>`); under Wine that is a
// Unix path, which app_program_path turns into a Windows one.
//
//     wchar_t program[MAX_PATH];
//     ASSERT_TRUE(app_program_path(program));
//     app_process app;
//     ASSERT_TRUE(app.start(program));          // waits for the visible window
//     std::wstring text;
//     ASSERT_TRUE(read_window_text(app.view(), text));
//     DWORD exit_code = 0;
//     ASSERT_TRUE(app.close(exit_code));        // WM_CLOSE, then waits
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// The main window's class and the control identifiers of its children.
constexpr const wchar_t* app_window_class = L"QELSystemMonitorWindow";
constexpr int app_refresh_button_id = 101;
constexpr int app_report_view_id = 102;

// Long enough for a slow Wine start or a pass that waits for WMI; short
// enough that a hang fails the test well within CTest's own time-out.
constexpr DWORD app_default_timeout_ms = 15000;

// The program path handed to the test program: the first command-line
// argument that is not a GoogleTest option. A Unix path ("/a/b") becomes the
// DOS path Wine maps it to ("Z:\a\b"); any other path is copied unchanged.
// False when there is no such argument or it does not fit.
bool app_program_path(wchar_t (&path)[MAX_PATH]);

// Converts one path as app_program_path does. False when it does not fit.
bool to_windows_path(const wchar_t* path, wchar_t* windows_path, std::size_t capacity);

// The main window of process `process_id`: its top-level window of class
// app_window_class, or null. With `visible_only`, hidden windows are skipped.
HWND find_app_window(DWORD process_id, bool visible_only);

// The whole text of `window`, read with WM_GETTEXTLENGTH and WM_GETTEXT, which
// also work across processes. False when the window does not answer in time.
bool read_window_text(HWND window, std::wstring& text, DWORD timeout_ms = app_default_timeout_ms);

// Replaces the text of `window` with WM_SETTEXT. False when it does not
// answer in time or refuses.
bool set_window_text(HWND window, const wchar_t* text, DWORD timeout_ms = app_default_timeout_ms);

// Sends `message` and waits until the window has handled it (so a refresh
// pass that it starts has finished). False on time-out; `result`, when
// given, receives the window procedure's result.
bool send_app_message(HWND window, UINT message, WPARAM w_param, LPARAM l_param,
                      LRESULT* result = nullptr, DWORD timeout_ms = app_default_timeout_ms);

// The class name of `window`, or an empty text.
std::wstring window_class_name(HWND window);

// One running instance of the program. Not copyable; the destructor
// terminates the process when it is still running.
class app_process {
  public:
    app_process() = default;
    ~app_process();
    app_process(const app_process&) = delete;
    app_process& operator=(const app_process&) = delete;

    // Starts `program` with the show state `show_state` in its start-up
    // information (STARTF_USESHOWWINDOW) and waits until its main window is
    // visible, which happens only after the first refresh pass has run.
    // False, with the process terminated, when it exits or shows no window
    // within `timeout_ms`; exited() and exit_code() then tell whether it
    // ended by itself.
    bool start(const wchar_t* program, WORD show_state = SW_SHOWNORMAL,
               DWORD timeout_ms = app_default_timeout_ms);

    HANDLE process() const { return process_; }
    DWORD process_id() const { return process_id_; }
    HWND window() const { return window_; }
    // The report view (child 102) and the refresh button (child 101).
    HWND view() const;
    HWND button() const;
    // Milliseconds from the CreateProcessW call to the moment start() saw
    // the visible window.
    DWORD start_ms() const { return start_ms_; }
    // Milliseconds from the CreateProcessW call until now.
    DWORD elapsed_ms() const;

    // Presses the button the way a click does (BM_CLICK to the button) and
    // waits until the pass it starts has finished.
    bool press_button(DWORD timeout_ms = app_default_timeout_ms) const;

    // Posts WM_CLOSE to the main window and waits for the process to end.
    // False on time-out (the process is then terminated).
    bool close(DWORD& exit_code, DWORD timeout_ms = app_default_timeout_ms);

    // Waits for the process to end by itself. False on time-out.
    bool wait_for_exit(DWORD& exit_code, DWORD timeout_ms = app_default_timeout_ms);

    bool exited() const { return exited_; }
    DWORD exit_code() const { return exit_code_; }

    // Ends the process at once (exit code 255) and waits for it.
    void terminate();

  private:
    void release();

    HANDLE process_ = nullptr;
    DWORD process_id_ = 0;
    HWND window_ = nullptr;
    DWORD start_ms_ = 0;
    ULONGLONG started_at_ = 0;
    bool exited_ = false;
    DWORD exit_code_ = 0;
};
