// The main window of the real executable, observed from this separate
// process as any other program on the machine could: its class, title,
// styles and size, its two controls, the report it shows from the start, the
// passes that the timer and the button run (seen as a marker text in the view
// being replaced by a fresh report), minimising, closing and a second
// instance.
#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

#include "app_process.h"
#include "report_shape.h"

namespace {

constexpr DWORD expected_style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static_assert(expected_style == 0x00CA0000, "title bar, system menu, minimise box");
// Added by the platform, not by the program: every top-level window gets
// WS_CLIPSIBLINGS at creation, ShowWindow adds WS_VISIBLE, and a window with
// a title bar gets the WS_EX_WINDOWEDGE frame.
constexpr DWORD platform_style_bits = WS_CLIPSIBLINGS | WS_VISIBLE;
constexpr DWORD platform_ex_style_bits = WS_EX_WINDOWEDGE;
// A sizing frame or a maximise box would let the user change the size.
constexpr DWORD resizing_style_bits = WS_THICKFRAME | WS_MAXIMIZEBOX;
constexpr COLORREF background_colour = 0x001D1311;

// The timer runs every 3000 ms. The bounds are loose: they only have to tell
// a tick from no tick, and a 3-second rhythm from a restarted one.
constexpr DWORD first_tick_limit_ms = 4500;
constexpr DWORD tick_interval_min_ms = 2000;
constexpr DWORD tick_interval_max_ms = 4000;
// Observations that must fall between two ticks are made within this time
// after a tick, or made again after the next one.
constexpr DWORD quiet_window_ms = 1500;
constexpr DWORD poll_ms = 20;

const wchar_t* const marker = L"marqueur du test";

const wchar_t* program()
{
    static wchar_t path[MAX_PATH];
    static const bool found = app_program_path(path);
    return found ? path : nullptr;
}

std::wstring text_of(HWND window)
{
    std::wstring text;
    if (!read_window_text(window, text)) {
        return L"(no answer)";
    }
    return text;
}

bool same_class(const std::wstring& actual, const wchar_t* expected)
{
    const std::wstring wanted = expected;
    if (actual.size() != wanted.size()) {
        return false;
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (std::towlower(actual[i]) != std::towlower(wanted[i])) {
            return false;
        }
    }
    return true;
}

// The child's rectangle in client coordinates of its parent.
RECT client_rect_in_parent(HWND child)
{
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Puts the marker into the view and waits until a pass has replaced it.
// The tick time is the moment the replacement was seen.
bool wait_for_tick(const app_process& app, DWORD timeout_ms, ULONGLONG& tick_at)
{
    if (!set_window_text(app.view(), marker)) {
        return false;
    }
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < timeout_ms) {
        if (text_of(app.view()) != marker) {
            tick_at = GetTickCount64();
            return true;
        }
        Sleep(poll_ms);
    }
    return false;
}

// Runs `observe` right after a timer tick, so that no tick can fall inside
// it; when it took too long to be sure, once more after the next tick.
template <typename Observe> bool between_ticks(const app_process& app, Observe observe)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONGLONG tick_at = 0;
        if (!wait_for_tick(app, first_tick_limit_ms, tick_at)) {
            return false;
        }
        observe();
        if (GetTickCount64() - tick_at < quiet_window_ms) {
            return true;
        }
    }
    return false;
}

class running_app : public testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_NE(program(), nullptr) << "the test needs the program's path as its argument";
        ASSERT_TRUE(app.start(program())) << "no visible main window";
        ASSERT_NE(app.view(), nullptr);
        ASSERT_NE(app.button(), nullptr);
    }

    void TearDown() override
    {
        if (app.process() != nullptr) {
            DWORD exit_code = 0;
            EXPECT_TRUE(app.close(exit_code));
            EXPECT_EQ(exit_code, 0u);
        }
    }

    app_process app;
};

TEST_F(running_app, main_window_has_its_class_title_styles_and_size)
{
    const HWND window = app.window();
    EXPECT_EQ(window_class_name(window), L"QELSystemMonitorWindow");

    wchar_t title[64] = L"";
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"QEL System Monitor");
    EXPECT_EQ(text_of(window), L"QEL System Monitor");

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_EQ(style & ~platform_style_bits, expected_style);
    EXPECT_EQ(style, expected_style | platform_style_bits);
    EXPECT_EQ(style & resizing_style_bits, 0u);
    const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    EXPECT_EQ(ex_style & ~platform_ex_style_bits, 0u);

    RECT rect{};
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(rect.right - rect.left, 800);
    EXPECT_EQ(rect.bottom - rect.top, 520);

    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
    EXPECT_EQ(GetMenu(window), nullptr);
}

// The class's brush cannot be looked at from another process (Wine answers
// GetClassLongPtrW(GCLP_HBRBACKGROUND) of a foreign class with 0, and GDI
// handles are per process), so the painted client area is read off the
// screen instead, where no control covers it.
TEST_F(running_app, client_area_is_painted_with_the_dark_background)
{
    const HWND window = app.window();
    ASSERT_TRUE(send_app_message(window, WM_NULL, 0, 0)) << "the message loop runs";
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    const POINT points[] = {{5, 5},
                            {400, 440},
                            {10, client.bottom - 5},
                            {client.right - 5, client.bottom - 5},
                            {client.right - 5, 5}};
    const HDC screen = GetDC(nullptr);
    ASSERT_NE(screen, nullptr);
    for (const POINT& point : points) {
        POINT on_screen = point;
        ClientToScreen(window, &on_screen);
        // Painting may still be under way just after the window appeared.
        COLORREF colour = CLR_INVALID;
        for (int i = 0; i < 100 && colour != background_colour; ++i) {
            colour = GetPixel(screen, on_screen.x, on_screen.y);
            Sleep(poll_ms);
        }
        EXPECT_EQ(colour, background_colour) << "client point " << point.x << "," << point.y;
    }
    ReleaseDC(nullptr, screen);
}

struct child_case {
    const char* name;
    int id;
    const wchar_t* class_name;
    DWORD style;
    DWORD ex_style;
    RECT rect; // left, top, right, bottom in the parent's client area
};

const child_case child_cases[] = {
    {"report view", 102, L"EDIT", 0x50200804, WS_EX_CLIENTEDGE, {20, 20, 20 + 740, 20 + 390}},
    {"refresh button", 101, L"BUTTON", 0x50000000, 0, {620, 425, 620 + 140, 425 + 38}},
};

TEST_F(running_app, has_exactly_the_two_controls_as_laid_out)
{
    static_assert(0x50200804 == (WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY),
                  "report view style");
    static_assert(0x50000000 == (WS_CHILD | WS_VISIBLE), "plain push button");
    for (const child_case& c : child_cases) {
        SCOPED_TRACE(c.name);
        const HWND child = GetDlgItem(app.window(), c.id);
        ASSERT_NE(child, nullptr);
        EXPECT_TRUE(same_class(window_class_name(child), c.class_name))
            << "class " << testing::PrintToString(window_class_name(child));
        EXPECT_EQ(GetWindowLongPtrW(child, GWLP_ID), c.id);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(child, GWL_STYLE)), c.style);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrW(child, GWL_EXSTYLE)), c.ex_style);
        EXPECT_EQ(GetParent(child), app.window());
        const RECT rect = client_rect_in_parent(child);
        EXPECT_EQ(rect.left, c.rect.left);
        EXPECT_EQ(rect.top, c.rect.top);
        EXPECT_EQ(rect.right, c.rect.right);
        EXPECT_EQ(rect.bottom, c.rect.bottom);
    }

    std::vector<HWND> children;
    for (HWND child = GetWindow(app.window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    EXPECT_EQ(children.size(), 2u);
    EXPECT_EQ(text_of(app.button()), L"Actualiser");
}

struct show_case {
    const char* name;
    WORD show_state;
    bool iconic;
    bool zoomed;
};

const show_case show_cases[] = {
    {"normal", SW_SHOWNORMAL, false, false},
    {"minimised", SW_SHOWMINNOACTIVE, true, false},
    {"maximised", SW_SHOWMAXIMIZED, false, true},
};

// The first tick comes 3000 ms after the window was created, which is after
// CreateProcessW returned; a text read completely within that time comes
// from the pass run during creation.
TEST(app_start, view_holds_a_complete_report_before_the_first_tick_in_every_show_state)
{
    ASSERT_NE(program(), nullptr);
    for (const show_case& c : show_cases) {
        SCOPED_TRACE(c.name);
        app_process app;
        ASSERT_TRUE(app.start(program(), c.show_state));
        std::wstring text;
        ASSERT_TRUE(read_window_text(app.view(), text));
        const DWORD read_by_ms = app.elapsed_ms();
        ASSERT_LT(read_by_ms, 3000u) << "start-up too slow to tell the first pass from a tick";
        EXPECT_EQ(report_problem(text), L"");
        EXPECT_EQ(IsIconic(app.window()) != FALSE, c.iconic);
        EXPECT_EQ(IsZoomed(app.window()) != FALSE, c.zoomed);
        DWORD exit_code = 1;
        ASSERT_TRUE(app.close(exit_code));
        EXPECT_EQ(exit_code, 0u);
    }
}

TEST_F(running_app, timer_ticks_replace_the_marker_about_every_three_seconds)
{
    std::vector<ULONGLONG> ticks;
    for (int i = 0; i < 4; ++i) {
        ULONGLONG tick_at = 0;
        ASSERT_TRUE(wait_for_tick(app, first_tick_limit_ms, tick_at)) << "tick " << i;
        EXPECT_EQ(report_problem(text_of(app.view())), L"") << "tick " << i;
        ticks.push_back(tick_at);
    }
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const ULONGLONG interval = ticks[i] - ticks[i - 1];
        EXPECT_GE(interval, tick_interval_min_ms) << "interval " << i;
        EXPECT_LE(interval, tick_interval_max_ms) << "interval " << i;
    }
}

enum class trigger { command, button_click };

struct command_case {
    const char* name;
    trigger how;
    WORD id;
    WORD notification;
    bool runs_pass;
};

const command_case command_cases[] = {
    {"button click", trigger::button_click, 0, 0, true},
    {"button BN_CLICKED", trigger::command, 101, BN_CLICKED, true},
    {"button BN_DOUBLECLICKED", trigger::command, 101, BN_DOUBLECLICKED, true},
    {"101 with any notification", trigger::command, 101, 0x7777, true},
    {"view EN_CHANGE", trigger::command, 102, EN_CHANGE, false},
    {"view EN_SETFOCUS", trigger::command, 102, EN_SETFOCUS, false},
    {"view without notification", trigger::command, 102, 0, false},
    {"unknown identifier", trigger::command, 103, BN_CLICKED, false},
    {"identifier 0", trigger::command, 0, 0, false},
};

struct command_observation {
    bool sent = false;
    LRESULT result = -1;
    std::wstring text;
};

TEST_F(running_app, only_commands_from_the_button_run_a_pass)
{
    std::vector<command_observation> seen(std::size(command_cases));
    ASSERT_TRUE(between_ticks(app, [&] {
        for (std::size_t i = 0; i < std::size(command_cases); ++i) {
            const command_case& c = command_cases[i];
            command_observation& o = seen[i];
            if (!set_window_text(app.view(), marker)) {
                continue;
            }
            if (c.how == trigger::button_click) {
                o.sent = app.press_button();
                o.result = 0;
            } else {
                const HWND from = c.id == 101 ? app.button() : c.id == 102 ? app.view() : nullptr;
                o.sent =
                    send_app_message(app.window(), WM_COMMAND, MAKEWPARAM(c.id, c.notification),
                                     reinterpret_cast<LPARAM>(from), &o.result);
            }
            o.text = text_of(app.view());
        }
    }));
    for (std::size_t i = 0; i < std::size(command_cases); ++i) {
        const command_case& c = command_cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(seen[i].sent);
        EXPECT_EQ(seen[i].result, 0);
        if (c.runs_pass) {
            EXPECT_EQ(report_problem(seen[i].text), L"");
        } else {
            EXPECT_EQ(seen[i].text, marker);
        }
    }
}

// Two presses right after each other run two passes, and the ticks keep
// their rhythm: pressed half-way between two ticks, a restarted timer would
// tick 4.5 s after the previous tick instead of 3 s.
TEST_F(running_app, two_presses_run_two_passes_and_the_timer_keeps_its_rhythm)
{
    ULONGLONG previous_tick = 0;
    ASSERT_TRUE(wait_for_tick(app, first_tick_limit_ms, previous_tick));
    Sleep(1500);
    std::wstring after_press[2];
    for (std::wstring& text : after_press) {
        ASSERT_TRUE(set_window_text(app.view(), marker));
        ASSERT_TRUE(app.press_button());
        text = text_of(app.view());
    }
    const ULONGLONG pressed_at = GetTickCount64();
    ULONGLONG next_tick = 0;
    ASSERT_TRUE(wait_for_tick(app, first_tick_limit_ms, next_tick));
    ASSERT_LT(pressed_at - previous_tick, 2500u) << "presses came too late to tell anything";
    for (const std::wstring& text : after_press) {
        EXPECT_EQ(report_problem(text), L"");
    }
    EXPECT_GE(next_tick - previous_tick, tick_interval_min_ms);
    EXPECT_LE(next_tick - previous_tick, tick_interval_max_ms);
}

struct minimise_case {
    const char* name;
    bool by_system_command;
};

const minimise_case minimise_cases[] = {
    {"ShowWindow", false},
    {"WM_SYSCOMMAND", true},
};

bool set_minimised(const app_process& app, bool minimised, bool by_system_command)
{
    if (by_system_command) {
        return send_app_message(app.window(), WM_SYSCOMMAND, minimised ? SC_MINIMIZE : SC_RESTORE,
                                0);
    }
    ShowWindow(app.window(), minimised ? SW_MINIMIZE : SW_RESTORE);
    return true;
}

TEST_F(running_app, minimising_and_restoring_keep_the_report_and_passes_go_on)
{
    for (const minimise_case& c : minimise_cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(set_minimised(app, true, c.by_system_command));
        EXPECT_TRUE(IsIconic(app.window()));
        EXPECT_EQ(report_problem(text_of(app.view())), L"");

        ULONGLONG tick_at = 0;
        EXPECT_TRUE(wait_for_tick(app, first_tick_limit_ms, tick_at)) << "no pass while minimised";
        EXPECT_TRUE(IsIconic(app.window()));
        EXPECT_EQ(report_problem(text_of(app.view())), L"");

        ASSERT_TRUE(set_minimised(app, false, c.by_system_command));
        EXPECT_FALSE(IsIconic(app.window()));
        EXPECT_EQ(report_problem(text_of(app.view())), L"");
        RECT rect{};
        ASSERT_TRUE(GetWindowRect(app.window(), &rect));
        EXPECT_EQ(rect.right - rect.left, 800);
        EXPECT_EQ(rect.bottom - rect.top, 520);
    }
}

struct close_case {
    const char* name;
    UINT message;
    WPARAM w_param;
};

const close_case close_cases[] = {
    {"WM_CLOSE", WM_CLOSE, 0},
    {"system menu Close", WM_SYSCOMMAND, SC_CLOSE},
};

TEST(app_close, closing_the_window_ends_the_process_with_exit_code_0)
{
    ASSERT_NE(program(), nullptr);
    for (const close_case& c : close_cases) {
        SCOPED_TRACE(c.name);
        app_process app;
        ASSERT_TRUE(app.start(program()));
        const HWND window = app.window();
        ASSERT_TRUE(PostMessageW(window, c.message, c.w_param, 0));
        DWORD exit_code = 1;
        ASSERT_TRUE(app.wait_for_exit(exit_code));
        EXPECT_EQ(exit_code, 0u);
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST(app_instances, a_second_instance_opens_a_window_of_its_own)
{
    ASSERT_NE(program(), nullptr);
    app_process first;
    app_process second;
    ASSERT_TRUE(first.start(program()));
    ASSERT_TRUE(second.start(program()));
    EXPECT_NE(first.process_id(), second.process_id());
    EXPECT_NE(first.window(), second.window());
    EXPECT_EQ(find_app_window(second.process_id(), true), second.window());
    for (const app_process* app : {&first, &second}) {
        EXPECT_EQ(report_problem(text_of(app->view())), L"");
    }

    DWORD exit_code = 1;
    ASSERT_TRUE(second.close(exit_code));
    EXPECT_EQ(exit_code, 0u);

    // The first one goes on by itself: its window answers and its button
    // still runs a pass.
    ASSERT_TRUE(IsWindow(first.window()));
    ASSERT_TRUE(set_window_text(first.view(), marker));
    ASSERT_TRUE(first.press_button());
    EXPECT_EQ(report_problem(text_of(first.view())), L"");
    exit_code = 1;
    ASSERT_TRUE(first.close(exit_code));
    EXPECT_EQ(exit_code, 0u);
}

} // namespace
