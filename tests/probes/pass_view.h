// Runs the real refresh pass inside the test program, into a report view of
// the test's own, so that a test sees the report exactly as the window would
// show it.
#pragma once

#include <windows.h>

#include <string>

// A hidden multi-line edit control that stands in for the main window's
// report view while it exists (it is `output`).
class pass_view {
  public:
    pass_view();
    ~pass_view();
    pass_view(const pass_view&) = delete;
    pass_view& operator=(const pass_view&) = delete;

    bool valid() const { return view_ != nullptr; }

    // Runs one refresh pass and returns the text it left in the view.
    std::wstring run_pass() const;

  private:
    HWND view_ = nullptr;
};

// The rest of the first line of `report` that starts with `label`, without
// its line end; empty, with `found` false, when no line starts so.
std::wstring line_after(const std::wstring& report, const std::wstring& label, bool& found);
