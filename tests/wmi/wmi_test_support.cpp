// The test side of the stand-in WMI provider: shared block, registration and
// import-table wrappers (see wmi_test_support.h).
#include "wmi_test_support.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr const wchar_t* locator_server_key =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";

// What Wine's own prefix holds, put back when a run that died while the
// stand-in was registered left the stand-in's path behind.
constexpr const wchar_t* wine_locator_server = L"C:\\windows\\system32\\wbem\\wbemprox.dll";

std::uint32_t given(const void* pointer)
{
    return pointer != nullptr ? 1U : 0U;
}

void guid_text(wchar_t (&text)[call_text_capacity], REFGUID guid)
{
    StringFromGUID2(guid, text, static_cast<int>(call_text_capacity));
}

stand_in_block* recording = nullptr;

using co_initialize_ex_fn = HRESULT(WINAPI*)(LPVOID, DWORD);
using co_initialize_security_fn = HRESULT(WINAPI*)(PSECURITY_DESCRIPTOR, LONG,
                                                   SOLE_AUTHENTICATION_SERVICE*, void*, DWORD,
                                                   DWORD, void*, DWORD, void*);
using co_create_instance_fn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
using co_set_proxy_blanket_fn = HRESULT(WINAPI*)(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD,
                                                 RPC_AUTH_IDENTITY_HANDLE, DWORD);
using co_uninitialize_fn = void(WINAPI*)();
using sys_alloc_string_fn = BSTR(WINAPI*)(const OLECHAR*);
using sys_free_string_fn = void(WINAPI*)(BSTR);
using variant_init_fn = void(WINAPI*)(VARIANTARG*);
using variant_clear_fn = HRESULT(WINAPI*)(VARIANTARG*);

struct import_entry {
    const char* dll;
    const char* name;
    ULONG_PTR wrapper;
    ULONG_PTR original; // the platform's function, once found
    ULONG_PTR* slot;    // this program's import-table entry, once found
};

HRESULT WINAPI record_co_initialize_ex(LPVOID reserved, DWORD mode);
HRESULT WINAPI record_co_initialize_security(PSECURITY_DESCRIPTOR descriptor, LONG services,
                                             SOLE_AUTHENTICATION_SERVICE* service_list,
                                             void* reserved1, DWORD level, DWORD impersonation,
                                             void* authentication_list, DWORD capabilities,
                                             void* reserved3);
HRESULT WINAPI record_co_create_instance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                         LPVOID* out);
HRESULT WINAPI record_co_set_proxy_blanket(IUnknown* proxy, DWORD authentication,
                                           DWORD authorisation, OLECHAR* principal, DWORD level,
                                           DWORD impersonation, RPC_AUTH_IDENTITY_HANDLE identity,
                                           DWORD capabilities);
void WINAPI record_co_uninitialize();
BSTR WINAPI record_sys_alloc_string(const OLECHAR* text);
void WINAPI record_sys_free_string(BSTR text);
void WINAPI record_variant_init(VARIANTARG* value);
HRESULT WINAPI record_variant_clear(VARIANTARG* value);

template <typename function> ULONG_PTR address(function f)
{
    return reinterpret_cast<ULONG_PTR>(f);
}

enum import_index : std::size_t {
    co_initialize_ex_import,
    co_initialize_security_import,
    co_create_instance_import,
    co_set_proxy_blanket_import,
    co_uninitialize_import,
    sys_alloc_string_import,
    sys_free_string_import,
    variant_init_import,
    variant_clear_import,
    import_count
};

import_entry imports[import_count] = {
    {"ole32.dll", "CoInitializeEx", address(record_co_initialize_ex), 0, nullptr},
    {"ole32.dll", "CoInitializeSecurity", address(record_co_initialize_security), 0, nullptr},
    {"ole32.dll", "CoCreateInstance", address(record_co_create_instance), 0, nullptr},
    {"ole32.dll", "CoSetProxyBlanket", address(record_co_set_proxy_blanket), 0, nullptr},
    {"ole32.dll", "CoUninitialize", address(record_co_uninitialize), 0, nullptr},
    {"oleaut32.dll", "SysAllocString", address(record_sys_alloc_string), 0, nullptr},
    {"oleaut32.dll", "SysFreeString", address(record_sys_free_string), 0, nullptr},
    {"oleaut32.dll", "VariantInit", address(record_variant_init), 0, nullptr},
    {"oleaut32.dll", "VariantClear", address(record_variant_clear), 0, nullptr},
};

template <typename function> function original(import_index at)
{
    return reinterpret_cast<function>(imports[at].original);
}

HRESULT WINAPI record_co_initialize_ex(LPVOID reserved, DWORD mode)
{
    const auto real = original<co_initialize_ex_fn>(co_initialize_ex_import);
    if (recording == nullptr) {
        return real(reserved, mode);
    }
    call_entry& entry = begin_call(recording->record, call_kind::co_initialize_ex, no_object);
    entry.numbers[0] = mode;
    entry.numbers[1] = given(reserved);
    const HRESULT forced = recording->script.init_result;
    entry.result = forced != S_OK ? forced : real(reserved, mode);
    return entry.result;
}

HRESULT WINAPI record_co_initialize_security(PSECURITY_DESCRIPTOR descriptor, LONG services,
                                             SOLE_AUTHENTICATION_SERVICE* service_list,
                                             void* reserved1, DWORD level, DWORD impersonation,
                                             void* authentication_list, DWORD capabilities,
                                             void* reserved3)
{
    const auto real = original<co_initialize_security_fn>(co_initialize_security_import);
    if (recording == nullptr) {
        return real(descriptor, services, service_list, reserved1, level, impersonation,
                    authentication_list, capabilities, reserved3);
    }
    call_entry& entry = begin_call(recording->record, call_kind::co_initialize_security, no_object);
    entry.numbers[0] = given(descriptor);
    entry.numbers[1] = static_cast<std::uint32_t>(services);
    entry.numbers[2] = given(service_list);
    entry.numbers[3] = given(reserved1);
    entry.numbers[4] = level;
    entry.numbers[5] = impersonation;
    entry.numbers[6] = given(authentication_list);
    entry.numbers[7] = capabilities;
    entry.numbers[8] = given(reserved3);
    entry.result = real(descriptor, services, service_list, reserved1, level, impersonation,
                        authentication_list, capabilities, reserved3);
    return entry.result;
}

HRESULT WINAPI record_co_create_instance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                                         LPVOID* out)
{
    const auto real = original<co_create_instance_fn>(co_create_instance_import);
    if (recording == nullptr) {
        return real(clsid, outer, context, iid, out);
    }
    call_entry& entry = begin_call(recording->record, call_kind::co_create_instance, no_object);
    guid_text(entry.texts[0], clsid);
    guid_text(entry.texts[1], iid);
    entry.numbers[0] = given(outer);
    entry.numbers[1] = context;
    entry.result = real(clsid, outer, context, iid, out);
    entry.pointers[0] = out != nullptr ? address_of(*out) : 0;
    return entry.result;
}

HRESULT WINAPI record_co_set_proxy_blanket(IUnknown* proxy, DWORD authentication,
                                           DWORD authorisation, OLECHAR* principal, DWORD level,
                                           DWORD impersonation, RPC_AUTH_IDENTITY_HANDLE identity,
                                           DWORD capabilities)
{
    const auto real = original<co_set_proxy_blanket_fn>(co_set_proxy_blanket_import);
    if (recording == nullptr) {
        return real(proxy, authentication, authorisation, principal, level, impersonation, identity,
                    capabilities);
    }
    call_entry& entry = begin_call(recording->record, call_kind::co_set_proxy_blanket, no_object);
    entry.numbers[0] = authentication;
    entry.numbers[1] = authorisation;
    entry.numbers[2] = given(principal);
    entry.numbers[3] = level;
    entry.numbers[4] = impersonation;
    entry.numbers[5] = given(identity);
    entry.numbers[6] = capabilities;
    entry.pointers[0] = address_of(proxy);
    entry.result = real(proxy, authentication, authorisation, principal, level, impersonation,
                        identity, capabilities);
    return entry.result;
}

void WINAPI record_co_uninitialize()
{
    if (recording != nullptr) {
        begin_call(recording->record, call_kind::co_uninitialize, no_object);
    }
    original<co_uninitialize_fn>(co_uninitialize_import)();
}

BSTR WINAPI record_sys_alloc_string(const OLECHAR* text)
{
    const BSTR made = original<sys_alloc_string_fn>(sys_alloc_string_import)(text);
    if (recording != nullptr) {
        call_entry& entry = begin_call(recording->record, call_kind::sys_alloc_string, no_object);
        copy_call_text(entry.texts[0], text);
        entry.pointers[0] = address_of(made);
    }
    return made;
}

void WINAPI record_sys_free_string(BSTR text)
{
    if (recording != nullptr) {
        call_entry& entry = begin_call(recording->record, call_kind::sys_free_string, no_object);
        entry.pointers[0] = address_of(text);
    }
    original<sys_free_string_fn>(sys_free_string_import)(text);
}

void WINAPI record_variant_init(VARIANTARG* value)
{
    original<variant_init_fn>(variant_init_import)(value);
    if (recording != nullptr) {
        call_entry& entry = begin_call(recording->record, call_kind::variant_init, no_object);
        entry.pointers[0] = address_of(value);
        entry.numbers[0] = value != nullptr ? value->vt : 0xFFFFU;
    }
}

HRESULT WINAPI record_variant_clear(VARIANTARG* value)
{
    const auto real = original<variant_clear_fn>(variant_clear_import);
    if (recording == nullptr) {
        return real(value);
    }
    call_entry& entry = begin_call(recording->record, call_kind::variant_clear, no_object);
    entry.pointers[0] = address_of(value);
    if (value != nullptr) {
        entry.numbers[0] = value->vt;
        entry.pointers[1] = static_cast<std::uint64_t>(value->llVal);
    }
    entry.result = real(value);
    entry.numbers[1] = value != nullptr ? value->vt : 0xFFFFU;
    return entry.result;
}

// Finds the named imports in this program's import directory.
std::size_t find_import_slots()
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return 0;
    }
    std::size_t found = 0;
    for (const auto* descriptor =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        const char* dll = reinterpret_cast<const char*>(base + descriptor->Name);
        const DWORD names_at = descriptor->OriginalFirstThunk != 0 ? descriptor->OriginalFirstThunk
                                                                   : descriptor->FirstThunk;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names_at);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if ((names->u1.Ordinal & IMAGE_ORDINAL_FLAG) != 0) {
                continue;
            }
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const char* name = reinterpret_cast<const char*>(by_name->Name);
            for (import_entry& entry : imports) {
                if (entry.slot == nullptr && lstrcmpiA(dll, entry.dll) == 0 &&
                    std::strcmp(name, entry.name) == 0) {
                    entry.slot = reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
                    entry.original = *entry.slot;
                    ++found;
                }
            }
        }
    }
    return found;
}

void write_slot(ULONG_PTR* slot, ULONG_PTR value)
{
    DWORD previous = 0;
    if (VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &previous)) {
        *slot = value;
        VirtualProtect(slot, sizeof(*slot), previous, &previous);
        FlushInstructionCache(GetCurrentProcess(), slot, sizeof(*slot));
    }
}

bool read_value(HKEY key, const wchar_t* name, DWORD& type, BYTE* data, DWORD& size)
{
    return RegQueryValueExW(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS;
}

bool write_string(HKEY key, const wchar_t* name, const wchar_t* text)
{
    const DWORD bytes =
        (static_cast<DWORD>(lstrlenW(text)) + 1U) * static_cast<DWORD>(sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes) ==
           ERROR_SUCCESS;
}

} // namespace

shared_block::shared_block()
{
    mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  static_cast<DWORD>(sizeof(stand_in_block)), stand_in_block_name);
    if (mapping_ != nullptr) {
        block_ = static_cast<stand_in_block*>(
            MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(stand_in_block)));
    }
}

shared_block::~shared_block()
{
    if (block_ != nullptr) {
        UnmapViewOfFile(block_);
    }
    if (mapping_ != nullptr) {
        CloseHandle(mapping_);
    }
}

void shared_block::reset(const stand_in_script& script)
{
    ZeroMemory(&block_->record, sizeof(block_->record));
    block_->script = script;
}

std::wstring stand_in_dll_path()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L'\\') + 1) + stand_in_dll_name;
}

stand_in_registration::stand_in_registration(const std::wstring& dll_path)
{
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, locator_server_key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &key_) != ERROR_SUCCESS) {
        key_ = nullptr;
        return;
    }
    server_.size = sizeof(server_.data);
    server_.present = read_value(key_, nullptr, server_.type, server_.data, server_.size);
    threading_.size = sizeof(threading_.data);
    threading_.present =
        read_value(key_, L"ThreadingModel", threading_.type, threading_.data, threading_.size);

    if (server_.present && (server_.type == REG_SZ || server_.type == REG_EXPAND_SZ)) {
        std::wstring saved(reinterpret_cast<const wchar_t*>(server_.data),
                           server_.size / sizeof(wchar_t));
        if (saved.find(stand_in_dll_name) != std::wstring::npos) {
            const DWORD bytes = (static_cast<DWORD>(lstrlenW(wine_locator_server)) + 1U) *
                                static_cast<DWORD>(sizeof(wchar_t));
            server_.type = REG_SZ;
            server_.size = bytes;
            std::memcpy(server_.data, wine_locator_server, bytes);
        }
    }

    // "Both": the probe's multithreaded apartment and a single-threaded one
    // alike get the stand-in's objects directly, without a proxy.
    ok_ = write_string(key_, nullptr, dll_path.c_str()) &&
          write_string(key_, L"ThreadingModel", L"Both");
}

stand_in_registration::~stand_in_registration()
{
    if (key_ == nullptr) {
        return;
    }
    const saved_value* saved[] = {&server_, &threading_};
    const wchar_t* names[] = {nullptr, L"ThreadingModel"};
    for (std::size_t at = 0; at < 2; ++at) {
        if (saved[at]->present) {
            RegSetValueExW(key_, names[at], 0, saved[at]->type, saved[at]->data, saved[at]->size);
        } else {
            RegDeleteValueW(key_, names[at]);
        }
    }
    RegCloseKey(key_);
}

std::wstring locator_server_value(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, locator_server_key, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return {};
    }
    wchar_t text[512] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    DWORD type = 0;
    const bool found = read_value(key, name[0] == L'\0' ? nullptr : name, type,
                                  reinterpret_cast<BYTE*>(text), size);
    RegCloseKey(key);
    return found ? std::wstring(text) : std::wstring();
}

import_hooks::import_hooks()
{
    for (import_entry& entry : imports) {
        entry.slot = nullptr;
        entry.original = 0;
    }
    find_import_slots();
    for (import_entry& entry : imports) {
        if (entry.slot != nullptr) {
            write_slot(entry.slot, entry.wrapper);
            if (*entry.slot == entry.wrapper) {
                ++patched_;
            }
        }
    }
}

import_hooks::~import_hooks()
{
    recording = nullptr;
    for (import_entry& entry : imports) {
        if (entry.slot != nullptr) {
            write_slot(entry.slot, entry.original);
        }
    }
}

void import_hooks::arm(stand_in_block* block)
{
    recording = block;
}
