// Soak run: starts the real program and drives refresh passes as fast as
// they complete by pressing its button (its own 3-second timer keeps running
// too), printing the process's resource figures as it goes and a verdict
// that compares the last figures with those after the first 100 passes.
//
//   soak.exe PROGRAM PASSES [ROW_EVERY] [--check]
//
// With --check, the exit code is 1 when handles, GDI or USER objects or
// loaded modules grew; private bytes are printed for the reader to judge.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app_process.h"
#include "process_figures.h"

namespace {

constexpr unsigned long baseline_pass = 100;

// The program's own timer can start a pass at any moment, and a pass holds
// a library, COM objects and a registry key while it runs. The lowest of a
// few readings spread over more than a pass's length is what stays between
// passes, which is what a leak would raise.
process_figures settled_figures(HANDLE process)
{
    process_figures lowest = read_process_figures(process);
    for (int sample = 0; sample < 4; ++sample) {
        Sleep(15);
        const process_figures next = read_process_figures(process);
        std::int64_t* const low[] = {&lowest.private_bytes, &lowest.handles, &lowest.gdi_objects,
                                     &lowest.user_objects, &lowest.modules};
        const std::int64_t high[] = {next.private_bytes, next.handles, next.gdi_objects,
                                     next.user_objects, next.modules};
        for (std::size_t i = 0; i < 5; ++i) {
            if (high[i] < *low[i]) {
                *low[i] = high[i];
            }
        }
    }
    return lowest;
}

void print_figure(std::int64_t value)
{
    if (value < 0) {
        std::printf(" %12s", "n/a");
    } else {
        std::printf(" %12lld", static_cast<long long>(value));
    }
}

void print_row(unsigned long passes, const process_figures& f, DWORD elapsed_ms)
{
    std::printf("%8lu", passes);
    print_figure(f.private_bytes);
    print_figure(f.handles);
    print_figure(f.gdi_objects);
    print_figure(f.user_objects);
    print_figure(f.modules);
    std::printf(" %10.1f\n", elapsed_ms / 1000.0);
    std::fflush(stdout);
}

// True when `figure` grew; figures not reported never count as growth.
bool grew(const char* name, std::int64_t first, std::int64_t last)
{
    if (first < 0 || last < 0) {
        std::printf("  %-14s not reported\n", name);
        return false;
    }
    std::printf("  %-14s %lld -> %lld (%+lld)\n", name, static_cast<long long>(first),
                static_cast<long long>(last), static_cast<long long>(last - first));
    return last > first;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: soak.exe PROGRAM PASSES [ROW_EVERY] [--check]\n");
        return 2;
    }
    wchar_t program[MAX_PATH];
    if (!to_windows_path(argv[1], program, MAX_PATH)) {
        return 2;
    }
    const unsigned long passes = std::wcstoul(argv[2], nullptr, 10);
    unsigned long row_every = 1000;
    bool check = false;
    for (int i = 3; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--check") == 0) {
            check = true;
        } else {
            row_every = std::wcstoul(argv[i], nullptr, 10);
        }
    }
    if (passes <= baseline_pass || row_every == 0) {
        std::fprintf(stderr, "soak: PASSES must exceed %lu\n", baseline_pass);
        return 2;
    }

    app_process app;
    if (!app.start(program)) {
        std::fprintf(stderr, "soak: the program did not start\n");
        return 1;
    }
    std::printf("%8s %12s %12s %12s %12s %12s %10s\n", "passes", "private", "handles", "gdi",
                "user", "modules", "seconds");

    const DWORD started = GetTickCount();
    process_figures baseline{};
    process_figures last{};
    for (unsigned long pass = 1; pass <= passes; ++pass) {
        if (!app.press_button()) {
            std::fprintf(stderr, "soak: pass %lu did not complete\n", pass);
            return 1;
        }
        if (pass == baseline_pass) {
            baseline = settled_figures(app.process());
            print_row(pass, baseline, GetTickCount() - started);
        } else if (pass % row_every == 0 || pass == passes) {
            last = settled_figures(app.process());
            print_row(pass, last, GetTickCount() - started);
        }
    }

    std::printf("verdict after %lu passes, against pass %lu:\n", passes, baseline_pass);
    const bool private_grew = last.private_bytes > baseline.private_bytes;
    grew("private bytes", baseline.private_bytes, last.private_bytes);
    bool any_grew = grew("handles", baseline.handles, last.handles);
    any_grew = grew("gdi objects", baseline.gdi_objects, last.gdi_objects) || any_grew;
    any_grew = grew("user objects", baseline.user_objects, last.user_objects) || any_grew;
    any_grew = grew("modules", baseline.modules, last.modules) || any_grew;

    DWORD exit_code = 0;
    const bool closed = app.close(exit_code);
    std::printf("%s: %s%s; program exit code %lu\n", any_grew ? "FAIL" : "PASS",
                any_grew ? "resource figures grew" : "no growth in handles, objects or modules",
                private_grew ? " (private bytes grew: see above)" : "",
                static_cast<unsigned long>(exit_code));
    if (!closed || exit_code != 0) {
        return 1;
    }
    return check && any_grew ? 1 : 0;
}
