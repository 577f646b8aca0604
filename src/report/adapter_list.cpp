// The adapter list. Names after the first go on a new line indented by 21
// spaces, so that each sits one column left of the first name, which follows
// the 22-character "Nom" label of the report.
#include "adapter_list.h"

#include <cwchar>

#include "append.h"

namespace {

constexpr const wchar_t* separator = L"\r\n                     ";

bool listed(const wchar_t* gpu_names, const wchar_t* description)
{
    return std::wcsstr(gpu_names, description) != nullptr;
}

} // namespace

void add_adapter(wchar_t (&gpu_names)[gpu_names_capacity], const wchar_t* description,
                 std::uint32_t state_flags)
{
    if ((state_flags & mirroring_driver_flag) != 0 || description == nullptr ||
        description[0] == L'\0') {
        return;
    }
    if (gpu_names[0] != L'\0' && !listed(gpu_names, description)) {
        append(gpu_names, gpu_names_capacity, separator);
    }
    // Searched again on purpose: the separator just appended may itself
    // contain the description (one made of spaces only).
    if (!listed(gpu_names, description)) {
        append(gpu_names, gpu_names_capacity, L"%ls", description);
    }
}
