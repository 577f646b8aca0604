// The refresh pass: gathers one set of readings, lays out the report and
// puts it into the report view.
#pragma once

#include <windows.h>

#include <cstddef>

#include "readings.h"

constexpr std::size_t report_capacity = 4096;

// The report view; set once by the main window when it creates the view.
extern HWND output;

// Runs one complete pass. Called by the main window procedure only.
void refresh_data();

// A temperature probe: fills its own fields of the readings, or leaves them.
using temperature_probe = void (*)(system_readings& readings);

// Lays out the report for `readings`, whose name and memory fields are
// already read, putting the fallback names in place of empty ones. Each probe
// runs at its place in the report; a null probe leaves its reading as it is.
void compose_report(wchar_t (&report)[report_capacity], system_readings& readings,
                    temperature_probe probe_acpi, temperature_probe probe_nvidia);
