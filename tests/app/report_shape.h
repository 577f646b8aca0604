// Recognises a complete report as the window shows it, whatever the machine's
// readings: the fixed lines and labels exactly, the values by their form.
#pragma once

#include <string>

// An empty text when `text` is a complete report; otherwise a description
// of its first difference, for the test's failure message.
std::wstring report_problem(const std::wstring& text);
