// The ACPI thermal-zone temperature through WMI: the first instance of
// MSAcpi_ThermalZoneTemperature in ROOT\WMI, read on the calling thread in the
// multithreaded apartment and released before the probe returns.
#include "probes.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdint>

namespace {

// The interfaces of one run, each null until obtained.
struct wmi_chain {
    IWbemLocator* locator;
    IWbemServices* services;
    IEnumWbemClassObject* enumerator;
    IWbemClassObject* object;
};

// Property values are in tenths of a kelvin; only positive ones are taken
// as a reading, anything else (absent, zero, negative) means none.
void read_temperature(IWbemClassObject* object, system_readings& readings)
{
    VARIANT value;
    VariantInit(&value);
    if (SUCCEEDED(object->Get(L"CurrentTemperature", 0, &value, nullptr, nullptr))) {
        bool known_type = true;
        std::int64_t tenths = 0;
        switch (value.vt) {
        case VT_I4:
            tenths = value.lVal;
            break;
        case VT_UI4:
            tenths = value.ulVal;
            break;
        case VT_I2:
            tenths = value.iVal;
            break;
        default:
            known_type = false;
            break;
        }
        if (known_type && tenths > 0) {
            readings.acpi_celsius = static_cast<double>(tenths) / 10.0 - 273.15;
            readings.has_acpi_temp = true;
        }
    }
    // Also after a failed Get: a provider may have put something in it.
    VariantClear(&value);
}

// Walks the chain from the locator to the first object; stops at the first
// failure, leaving what was obtained in `chain` for the caller to release.
void query_first_zone(wmi_chain& chain, system_readings& readings)
{
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&chain.locator)))) {
        return;
    }

    BSTR wmi_namespace = SysAllocString(L"ROOT\\WMI");
    const HRESULT connected = chain.locator->ConnectServer(wmi_namespace, nullptr, nullptr, nullptr,
                                                           0, nullptr, nullptr, &chain.services);
    SysFreeString(wmi_namespace);
    if (FAILED(connected)) {
        return;
    }

    if (FAILED(CoSetProxyBlanket(chain.services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 EOAC_NONE))) {
        return;
    }

    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(L"SELECT CurrentTemperature FROM MSAcpi_ThermalZoneTemperature");
    const HRESULT queried = chain.services->ExecQuery(
        language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
        &chain.enumerator);
    SysFreeString(language);
    SysFreeString(query);
    if (FAILED(queried)) {
        return;
    }

    // The only wait the probe bounds: a thermal zone that has not answered
    // within 2.5 s counts as none.
    ULONG returned = 0;
    if (FAILED(chain.enumerator->Next(2500, 1, &chain.object, &returned)) || returned != 1) {
        return;
    }

    read_temperature(chain.object, readings);
}

} // namespace

void probe_acpi_temperature(system_readings& readings)
{
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A thread already in another apartment can still query from there.
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) {
        return;
    }

    // Only the first call in a process takes effect; later ones fail, harmlessly.
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);

    wmi_chain chain{};
    query_first_zone(chain, readings);

    if (chain.object != nullptr) {
        chain.object->Release();
    }
    if (chain.enumerator != nullptr) {
        chain.enumerator->Release();
    }
    if (chain.services != nullptr) {
        chain.services->Release();
    }
    if (chain.locator != nullptr) {
        chain.locator->Release();
    }

    if (SUCCEEDED(initialised)) {
        CoUninitialize();
    }
}
