// What the report should show for the platform the tests run on, worked out
// by the tests themselves rather than by the code under test.
#pragma once

#include <cstdint>
#include <string>

// One decimal of `bytes` / 2^30, ties to even, computed on integers: the
// exact figure that the report's "Go" values stand for.
std::wstring gibibytes_text(std::uint64_t bytes);

// The adapter list for what EnumDisplayDevicesW enumerates now, each entry
// handed to the adapter list by the test's own enumeration.
std::wstring expected_adapter_list();

// The processor name value as the registry holds it (REG_SZ only), or an
// empty text.
std::wstring registry_processor_name();
