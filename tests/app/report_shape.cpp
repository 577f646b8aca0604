// Line-by-line recognition of a complete report; see report_shape.h.
#include "report_shape.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

const std::wstring name_label = L"Nom                 : ";
const std::wstring acpi_label = L"Sonde thermique ACPI: ";
const std::wstring acpi_fallback = L"Temp\u00e9rature         : non expos\u00e9e par Windows";
const std::wstring nvidia_label = L"Temp\u00e9rature NVIDIA  : ";
const std::wstring nvidia_fallback = L"Temp\u00e9rature         : sonde fabricant non disponible";
const std::wstring capacity_label = L"Capacit\u00e9            : ";
const std::wstring load_label = L"Utilisation         : ";
const std::wstring available_label = L"Disponible          : ";
const std::wstring memory_temperature = L"Temp\u00e9rature         : non expos\u00e9e par Windows";
const std::wstring footer = L"Actualisation automatique toutes les 3 secondes.";
const std::wstring adapter_indent(21, L' ');

std::vector<std::wstring> split_lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

bool starts_with(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool is_digits(const std::wstring& text)
{
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// "%.1f" output: digits, a full stop and exactly one digit; a minus sign
// only where `signed_value` allows it.
bool is_one_decimal(std::wstring text, bool signed_value)
{
    if (signed_value && !text.empty() && text[0] == L'-') {
        text.erase(0, 1);
    }
    const std::size_t point = text.find(L'.');
    return point != std::wstring::npos && point + 2 == text.size() &&
           is_digits(text.substr(0, point)) && is_digits(text.substr(point + 1));
}

// `line` is `label`, a value accepted by `value_ok`, then `suffix`.
template <typename Predicate>
bool is_labelled(const std::wstring& line, const std::wstring& label, const std::wstring& suffix,
                 Predicate value_ok)
{
    if (line.size() < label.size() + suffix.size() || !starts_with(line, label) ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    return value_ok(line.substr(label.size(), line.size() - label.size() - suffix.size()));
}

std::wstring line_problem(std::size_t index, const std::wstring& line, const wchar_t* expected)
{
    return L"line " + std::to_wstring(index + 1) + L" is \"" + line + L"\", expected " + expected;
}

} // namespace

std::wstring report_problem(const std::wstring& text)
{
    // Every line break is CR LF; a lone CR or LF is a fault.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            ++i;
        } else if (text[i] == L'\r' || text[i] == L'\n') {
            return L"a lone CR or LF at character " + std::to_wstring(i);
        }
    }
    const std::vector<std::wstring> lines = split_lines(text);
    if (lines.size() < 17) {
        return L"only " + std::to_wstring(lines.size()) + L" lines in \"" + text + L"\"";
    }
    const std::wstring fixed_head[] = {L"QEL SYSTEM MONITOR", L"", L"PROCESSEUR"};
    for (std::size_t i = 0; i < 3; ++i) {
        if (lines[i] != fixed_head[i]) {
            return line_problem(i, lines[i], fixed_head[i].c_str());
        }
    }
    if (!starts_with(lines[3], name_label) || lines[3].size() == name_label.size()) {
        return line_problem(3, lines[3], L"the processor name");
    }
    const auto temperature_with_decimal = [](const std::wstring& v) {
        return is_one_decimal(v, true);
    };
    if (lines[4] != acpi_fallback &&
        !is_labelled(lines[4], acpi_label, L" \u00b0C", temperature_with_decimal)) {
        return line_problem(4, lines[4], L"the ACPI temperature line");
    }
    if (!lines[5].empty() || lines[6] != L"CARTE GRAPHIQUE") {
        return line_problem(5, lines[5] + L"|" + lines[6], L"an empty line and CARTE GRAPHIQUE");
    }
    if (!starts_with(lines[7], name_label) || lines[7].size() == name_label.size()) {
        return line_problem(7, lines[7], L"the first adapter name");
    }
    // Further adapters, each on a line of its own, indented.
    std::size_t i = 8;
    while (i < lines.size() && starts_with(lines[i], adapter_indent)) {
        ++i;
    }
    const std::size_t rest = i;
    if (lines.size() - rest != 9) {
        return L"expected 9 lines after the adapter list, found " +
               std::to_wstring(lines.size() - rest);
    }
    if (lines[rest] != nvidia_fallback &&
        !is_labelled(lines[rest], nvidia_label, L" \u00b0C", is_digits)) {
        return line_problem(rest, lines[rest], L"the NVIDIA temperature line");
    }
    if (!lines[rest + 1].empty() || lines[rest + 2] != L"M\u00c9MOIRE RAM") {
        return line_problem(rest + 1, lines[rest + 1] + L"|" + lines[rest + 2],
                            L"an empty line and the memory heading");
    }
    const auto amount = [](const std::wstring& v) { return is_one_decimal(v, false); };
    if (!is_labelled(lines[rest + 3], capacity_label, L" Go", amount)) {
        return line_problem(rest + 3, lines[rest + 3], L"the capacity line");
    }
    if (!is_labelled(lines[rest + 4], load_label, L" %", is_digits)) {
        return line_problem(rest + 4, lines[rest + 4], L"the load line");
    }
    if (!is_labelled(lines[rest + 5], available_label, L" Go", amount)) {
        return line_problem(rest + 5, lines[rest + 5], L"the available line");
    }
    if (lines[rest + 6] != memory_temperature) {
        return line_problem(rest + 6, lines[rest + 6], L"the memory temperature line");
    }
    if (!lines[rest + 7].empty()) {
        return line_problem(rest + 7, lines[rest + 7], L"an empty line");
    }
    if (lines[rest + 8] != footer) {
        return line_problem(rest + 8, lines[rest + 8], L"the footer, with no line end after it");
    }
    return {};
}
