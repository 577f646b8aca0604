// The stand-in WMI provider's script and record: one block of named shared
// memory that a test fills in and the stand-in DLL reads and writes, in the
// test's own process or in the program the test started. The test's import
// wrappers write their platform calls into the same record, so that one log
// holds the whole sequence in the order it happened.
#pragma once

#include <windows.h>

#include <wtypes.h>

#include <cstdint>

constexpr const wchar_t* stand_in_block_name = L"qel_wmi_stand_in_block";
constexpr const wchar_t* stand_in_dll_name = L"qel_wmi_stand_in.dll";

constexpr std::uint32_t max_zones = 4;

// Every object that the stand-in hands out, by fixed identifier.
enum stand_in_object : std::uint32_t {
    factory_object,
    locator_object,
    services_object,
    enumerator_object,
    first_zone_object,
    value_object = first_zone_object + max_zones, // the IUnknown held by a VT_UNKNOWN value
    object_count,
    no_object = 0xFFFFFFFFu
};

enum class call_kind : std::uint32_t {
    // platform calls, seen through the test program's import table
    co_initialize_ex,
    co_initialize_security,
    co_create_instance,
    co_set_proxy_blanket,
    co_uninitialize,
    sys_alloc_string,
    sys_free_string,
    variant_init,
    variant_clear,
    // the stand-in's entry points and methods
    dll_get_class_object,
    dll_can_unload_now,
    create_instance,
    query_interface,
    add_ref,
    release,
    connect_server,
    set_blanket,
    exec_query,
    next,
    get,
    unsupported // any method the probe has no reason to call
};

// One zone's "CurrentTemperature" as the stand-in gives it.
struct zone_value {
    // VT_I4, VT_UI4, VT_I2, VT_UI2, VT_I8, VT_BSTR (the number as text),
    // VT_UNKNOWN (an object with a count of its own) or VT_NULL
    VARTYPE type;
    std::int64_t number;
};

// What the stand-in answers. A zero result means "behave normally".
struct stand_in_script {
    HRESULT init_result;         // returned by the CoInitializeEx wrapper instead of the call
    HRESULT class_object_result; // DllGetClassObject
    HRESULT create_result;       // IClassFactory::CreateInstance
    HRESULT connect_result;      // IWbemLocator::ConnectServer
    HRESULT blanket_result;      // IClientSecurity::SetBlanket
    HRESULT query_result;        // IWbemServices::ExecQuery
    HRESULT next_result;         // IEnumWbemClassObject::Next, returning no object
    HRESULT next_short_result;   // Next when fewer zones remain than asked for
    HRESULT get_result;          // IWbemClassObject::Get, leaving the value untouched
    std::uint32_t zone_count;
    zone_value zones[max_zones];
};

constexpr std::size_t call_text_capacity = 96;

struct call_entry {
    call_kind kind;
    std::uint32_t object; // stand-in object, or no_object
    std::int32_t result;  // the HRESULT returned; the count left by AddRef/Release
    std::uint32_t numbers[9];
    std::uint64_t pointers[2];
    wchar_t texts[2][call_text_capacity];
};

struct object_counts {
    LONG created;  // times handed out afresh
    LONG add_refs; // since it was last handed out
    LONG releases;
    LONG count;
};

constexpr std::size_t call_capacity = 200;

struct stand_in_record {
    LONG calls_made; // may pass call_capacity: later calls are counted, not kept
    call_entry calls[call_capacity];
    call_entry overflow;
    object_counts objects[object_count];
    LONG final_release_count;
    std::uint32_t final_releases[64]; // objects in the order their count reached 0
};

struct stand_in_block {
    stand_in_script script;
    stand_in_record record;
};

// Takes the next entry of the log, or the overflow entry once it is full.
inline call_entry& begin_call(stand_in_record& record, call_kind kind, std::uint32_t object)
{
    const LONG at = InterlockedIncrement(&record.calls_made) - 1;
    call_entry& entry = at < static_cast<LONG>(call_capacity)
                            ? record.calls[static_cast<std::size_t>(at)]
                            : record.overflow;
    ZeroMemory(&entry, sizeof(entry));
    entry.kind = kind;
    entry.object = object;
    return entry;
}

inline void copy_call_text(wchar_t (&to)[call_text_capacity], const wchar_t* from)
{
    std::size_t at = 0;
    if (from != nullptr) {
        for (; at + 1 < call_text_capacity && from[at] != L'\0'; ++at) {
            to[at] = from[at];
        }
    }
    to[at] = L'\0';
}

inline std::uint64_t address_of(const void* pointer)
{
    return reinterpret_cast<std::uint64_t>(pointer);
}
