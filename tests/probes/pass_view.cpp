// The test's own report view for the real refresh pass.
#include "pass_view.h"

#include "report.h"

pass_view::pass_view()
{
    view_ = CreateWindowExW(0, L"EDIT", L"", ES_MULTILINE | ES_READONLY, 0, 0, 400, 300, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    output = view_;
}

pass_view::~pass_view()
{
    output = nullptr;
    if (view_ != nullptr) {
        DestroyWindow(view_);
    }
}

std::wstring pass_view::run_pass() const
{
    // Cleared first, so that a pass that writes nothing cannot pass for one
    // that wrote the same report again.
    SetWindowTextW(view_, L"");
    refresh_data();
    const int length = GetWindowTextLengthW(view_);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(view_, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring line_after(const std::wstring& report, const std::wstring& label, bool& found)
{
    std::size_t start = 0;
    while (start <= report.size()) {
        std::size_t end = report.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = report.size();
        }
        if (report.compare(start, label.size(), label) == 0 && start + label.size() <= end) {
            found = true;
            return report.substr(start + label.size(), end - start - label.size());
        }
        start = end + 2;
    }
    found = false;
    return {};
}
