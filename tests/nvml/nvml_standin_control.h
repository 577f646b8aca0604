// The test side of the stand-in NVIDIA management libraries: the shared
// block that scripts them and collects their log, the stand-in files and
// the places a test puts them (always taken away again, pass or fail).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "nvml_standin_block.h"

// The stand-in variants, built next to the test program.
enum class standin_variant {
    full,
    without_init,
    without_shutdown,
    without_count,
    without_handle,
    without_temperature,
};

// The file of `variant` in the test program's folder.
std::wstring standin_file(standin_variant variant);

// The folder of the running program, without a trailing backslash.
std::wstring program_folder();

// The platform's system folder (GetSystemDirectoryW).
std::wstring system_folder();

// The last part of `path`, after its last backslash.
std::wstring file_name_of(const std::wstring& path);

// The script that gives a reading of 64 from one device.
standin_script default_script();

// The shared block, created by the test and kept open while this object
// lives, so that every stand-in loaded meanwhile, in any process, logs into
// it.
class standin_log {
  public:
    standin_log();
    ~standin_log();
    standin_log(const standin_log&) = delete;
    standin_log& operator=(const standin_log&) = delete;

    bool valid() const { return block_ != nullptr; }

    // Clears the log and the counts and sets the script.
    void reset(const standin_script& script);

    // The events logged so far, in order (at most the log's capacity).
    std::vector<standin_event> events() const;
    // How many events were logged, the log's capacity notwithstanding.
    long event_count() const;
    // How many times `call` was logged.
    long count(standin_call call) const;

  private:
    HANDLE mapping_ = nullptr;
    standin_block* block_ = nullptr;
};

// A copy of `source` at `destination`, deleted again when this object goes.
// A file already at the destination is replaced.
class installed_file {
  public:
    installed_file(const std::wstring& source, const std::wstring& destination);
    ~installed_file();
    installed_file(const installed_file&) = delete;
    installed_file& operator=(const installed_file&) = delete;

    bool valid() const { return installed_; }
    const std::wstring& path() const { return destination_; }

  private:
    std::wstring destination_;
    bool installed_ = false;
};

// Deletes `path`, waiting a little while some process still holds it.
// True when no file remains.
bool remove_file(const std::wstring& path);

// The log as one readable line: "load nvml.dll, init, get_count, ...", with
// a loaded file named by its name when it lies in the system folder and by
// its whole path otherwise.
std::string describe(const std::vector<standin_event>& events);
