// The test side of the stand-in WMI provider: the shared block that scripts
// it, its registration in the test prefix for CLSID_WbemLocator (undone at the
// end, pass or fail), and wrappers put into this test program's own import
// table, which record the COM and string calls that the probe linked into it
// makes, in the same log as the stand-in.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "stand_in_wmi.h"

// The named block, made by the test and opened by the stand-in in whichever
// process loads it.
class shared_block {
  public:
    shared_block();
    ~shared_block();
    shared_block(const shared_block&) = delete;
    shared_block& operator=(const shared_block&) = delete;

    bool ok() const { return block_ != nullptr; }
    stand_in_block& block() { return *block_; }
    // Sets the script and empties the record.
    void reset(const stand_in_script& script);

  private:
    HANDLE mapping_ = nullptr;
    stand_in_block* block_ = nullptr;
};

// The stand-in DLL's full path: it is built beside the test programs.
std::wstring stand_in_dll_path();

// Puts the stand-in in place of WMI's locator in
// HKLM\Software\Classes\CLSID\{4590F811-...}\InprocServer32 (the only place
// that Wine reads) and puts back what was there when it goes.
class stand_in_registration {
  public:
    explicit stand_in_registration(const std::wstring& dll_path);
    ~stand_in_registration();
    stand_in_registration(const stand_in_registration&) = delete;
    stand_in_registration& operator=(const stand_in_registration&) = delete;

    bool ok() const { return ok_; }

  private:
    struct saved_value {
        bool present;
        DWORD type;
        DWORD size;
        BYTE data[1024];
    };

    HKEY key_ = nullptr;
    bool ok_ = false;
    saved_value server_{};
    saved_value threading_{};
};

// Reads a string value of the locator's InprocServer32 key ("" for the
// default value); empty when absent.
std::wstring locator_server_value(const wchar_t* name);

// Swaps this program's import-table entries of CoInitializeEx,
// CoInitializeSecurity, CoCreateInstance, CoSetProxyBlanket, CoUninitialize,
// SysAllocString, SysFreeString, VariantInit and VariantClear for recording
// wrappers, and swaps them back when it goes. The wrappers record only while a
// block is armed; otherwise they pass the calls straight on.
class import_hooks {
  public:
    import_hooks();
    ~import_hooks();
    import_hooks(const import_hooks&) = delete;
    import_hooks& operator=(const import_hooks&) = delete;

    // How many of the nine entries were found and swapped.
    std::size_t patched() const { return patched_; }
    static constexpr std::size_t wanted = 9;

    static void arm(stand_in_block* block);
    static void disarm() { arm(nullptr); }

  private:
    std::size_t patched_ = 0;
};
