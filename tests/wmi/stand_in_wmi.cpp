// A stand-in for WMI's locator, registered in a test prefix in place of
// CLSID_WbemLocator. It answers the calls of the thermal-zone probe as the
// shared block's script says, and writes every call, AddRef and Release into
// the block's record. Its objects are static, so that a test can still see
// them after their last Release; each one is handed out afresh per run.
#include "stand_in_wmi.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cwchar>

namespace {

stand_in_block* block = nullptr;

stand_in_record& record()
{
    return block->record;
}

const stand_in_script& script()
{
    return block->script;
}

// The block is looked up again on each DllGetClassObject, so that a test
// may make a new one between runs.
bool attach_block()
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, stand_in_block_name);
    if (mapping == nullptr) {
        return false;
    }
    void* view =
        MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(stand_in_block));
    CloseHandle(mapping);
    if (view == nullptr) {
        return false;
    }
    if (block != nullptr) {
        UnmapViewOfFile(block);
    }
    block = static_cast<stand_in_block*>(view);
    return true;
}

constexpr HRESULT status(std::uint32_t code)
{
    return static_cast<HRESULT>(code);
}

std::uint32_t given(const void* pointer)
{
    return pointer != nullptr ? 1U : 0U;
}

void guid_text(wchar_t (&text)[call_text_capacity], REFGUID guid)
{
    StringFromGUID2(guid, text, static_cast<int>(call_text_capacity));
}

void hand_out(std::uint32_t object)
{
    object_counts& counts = record().objects[object];
    InterlockedIncrement(&counts.created);
    counts.add_refs = 0;
    counts.releases = 0;
    counts.count = 1;
}

ULONG add_ref(std::uint32_t object)
{
    object_counts& counts = record().objects[object];
    InterlockedIncrement(&counts.add_refs);
    const LONG count = InterlockedIncrement(&counts.count);
    begin_call(record(), call_kind::add_ref, object).result = count;
    return static_cast<ULONG>(count);
}

ULONG release(std::uint32_t object)
{
    object_counts& counts = record().objects[object];
    InterlockedIncrement(&counts.releases);
    const LONG count = InterlockedDecrement(&counts.count);
    begin_call(record(), call_kind::release, object).result = count;
    if (count == 0) {
        const LONG at = InterlockedIncrement(&record().final_release_count) - 1;
        if (at < static_cast<LONG>(sizeof(record().final_releases) / sizeof(std::uint32_t))) {
            record().final_releases[static_cast<std::size_t>(at)] = object;
        }
    }
    return count > 0 ? static_cast<ULONG>(count) : 0U;
}

HRESULT query(std::uint32_t object, REFIID asked, void* answer, void** out)
{
    call_entry& entry = begin_call(record(), call_kind::query_interface, object);
    guid_text(entry.texts[0], asked);
    if (out == nullptr) {
        entry.result = E_POINTER;
        return E_POINTER;
    }
    *out = answer;
    if (answer == nullptr) {
        entry.result = E_NOINTERFACE;
        return E_NOINTERFACE;
    }
    add_ref(object);
    return S_OK;
}

HRESULT unsupported(std::uint32_t object, const wchar_t* method)
{
    call_entry& entry = begin_call(record(), call_kind::unsupported, object);
    copy_call_text(entry.texts[0], method);
    entry.result = status(WBEM_E_NOT_SUPPORTED);
    return entry.result;
}

UINT bstr_length(BSTR text)
{
    return text != nullptr ? SysStringLen(text) : 0U;
}

// A zone's number as text, for values given as strings.
BSTR number_text(std::int64_t number)
{
    wchar_t text[32];
    static_cast<void>(std::swprintf(text, 32, L"%lld", static_cast<long long>(number)));
    return SysAllocString(text);
}

// Held by a VT_UNKNOWN value: its count shows whether the VARIANT was cleared.
class value_unknown final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        return query(value_object, riid, IsEqualIID(riid, IID_IUnknown) ? this : nullptr, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(value_object); }
    ULONG STDMETHODCALLTYPE Release() override { return release(value_object); }
};

value_unknown held_value;

class zone_object final : public IWbemClassObject {
  public:
    explicit zone_object(std::uint32_t zone) : zone_(zone) {}

    [[nodiscard]] std::uint32_t id() const { return first_zone_object + zone_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemClassObject);
        return query(id(), riid, known ? this : nullptr, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(id()); }
    ULONG STDMETHODCALLTYPE Release() override { return release(id()); }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** /*ppQualSet*/) override
    {
        return unsupported(id(), L"GetQualifierSet");
    }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override
    {
        call_entry& entry = begin_call(record(), call_kind::get, id());
        copy_call_text(entry.texts[0], name);
        entry.numbers[0] = static_cast<std::uint32_t>(flags);
        entry.numbers[1] = given(type);
        entry.numbers[2] = given(flavor);
        entry.numbers[3] = value != nullptr ? value->vt : 0xFFFFU;
        entry.pointers[0] = address_of(value);
        if (script().get_result != S_OK) {
            entry.result = script().get_result;
            return entry.result;
        }
        if (name == nullptr || lstrcmpiW(name, L"CurrentTemperature") != 0) {
            entry.result = status(WBEM_E_NOT_FOUND);
            return entry.result;
        }
        if (value == nullptr) {
            entry.result = status(WBEM_E_INVALID_PARAMETER);
            return entry.result;
        }

        const zone_value& zone = script().zones[zone_];
        // Every byte of the value is set, so that a reader taking a wider
        // member than the type names gets a different number.
        value->llVal = 0x5A5A5A5A5A5A5A5ALL;
        value->vt = zone.type;
        switch (zone.type) {
        case VT_I4:
            value->lVal = static_cast<LONG>(zone.number);
            break;
        case VT_UI4:
            value->ulVal = static_cast<ULONG>(zone.number);
            break;
        case VT_I2:
            value->iVal = static_cast<SHORT>(zone.number);
            break;
        case VT_UI2:
            value->uiVal = static_cast<USHORT>(zone.number);
            break;
        case VT_I8:
            value->llVal = zone.number;
            break;
        case VT_BSTR:
            value->bstrVal = number_text(zone.number);
            entry.pointers[1] = address_of(value->bstrVal);
            break;
        case VT_UNKNOWN:
            hand_out(value_object);
            value->punkVal = &held_value;
            entry.pointers[1] = address_of(value->punkVal);
            break;
        default:
            value->llVal = 0;
            break;
        }
        if (type != nullptr) {
            *type = CIM_UINT32;
        }
        if (flavor != nullptr) {
            *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
        }
        entry.result = S_OK;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Put(LPCWSTR /*wszName*/, LONG /*lFlags*/, VARIANT* /*pVal*/,
                                  CIMTYPE /*Type*/) override
    {
        return unsupported(id(), L"Put");
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR /*wszName*/) override
    {
        return unsupported(id(), L"Delete");
    }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR /*wszQualifierName*/, LONG /*lFlags*/,
                                       VARIANT* /*pQualifierVal*/, SAFEARRAY** /*pNames*/) override
    {
        return unsupported(id(), L"GetNames");
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG /*lEnumFlags*/) override
    {
        return unsupported(id(), L"BeginEnumeration");
    }
    HRESULT STDMETHODCALLTYPE Next(LONG /*lFlags*/, BSTR* /*strName*/, VARIANT* /*pVal*/,
                                   CIMTYPE* /*pType*/, LONG* /*plFlavor*/) override
    {
        return unsupported(id(), L"Next");
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override
    {
        return unsupported(id(), L"EndEnumeration");
    }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR /*wszProperty*/,
                                                      IWbemQualifierSet** /*ppQualSet*/) override
    {
        return unsupported(id(), L"GetPropertyQualifierSet");
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** /*ppCopy*/) override
    {
        return unsupported(id(), L"Clone");
    }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG /*lFlags*/, BSTR* /*pstrObjectText*/) override
    {
        return unsupported(id(), L"GetObjectText");
    }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG /*lFlags*/,
                                                IWbemClassObject** /*ppNewClass*/) override
    {
        return unsupported(id(), L"SpawnDerivedClass");
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG /*lFlags*/,
                                            IWbemClassObject** /*ppNewInstance*/) override
    {
        return unsupported(id(), L"SpawnInstance");
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG /*lFlags*/, IWbemClassObject* /*pCompareTo*/) override
    {
        return unsupported(id(), L"CompareTo");
    }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR /*wszName*/,
                                                BSTR* /*pstrClassName*/) override
    {
        return unsupported(id(), L"GetPropertyOrigin");
    }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR /*strAncestor*/) override
    {
        return unsupported(id(), L"InheritsFrom");
    }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR /*wszName*/, LONG /*lFlags*/,
                                        IWbemClassObject** /*ppInSignature*/,
                                        IWbemClassObject** /*ppOutSignature*/) override
    {
        return unsupported(id(), L"GetMethod");
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR /*wszName*/, LONG /*lFlags*/,
                                        IWbemClassObject* /*pInSignature*/,
                                        IWbemClassObject* /*pOutSignature*/) override
    {
        return unsupported(id(), L"PutMethod");
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR /*wszName*/) override
    {
        return unsupported(id(), L"DeleteMethod");
    }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG /*lEnumFlags*/) override
    {
        return unsupported(id(), L"BeginMethodEnumeration");
    }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG /*lFlags*/, BSTR* /*pstrName*/,
                                         IWbemClassObject** /*ppInSignature*/,
                                         IWbemClassObject** /*ppOutSignature*/) override
    {
        return unsupported(id(), L"NextMethod");
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override
    {
        return unsupported(id(), L"EndMethodEnumeration");
    }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR /*wszMethod*/,
                                                    IWbemQualifierSet** /*ppQualSet*/) override
    {
        return unsupported(id(), L"GetMethodQualifierSet");
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR /*wszMethodName*/,
                                              BSTR* /*pstrClassName*/) override
    {
        return unsupported(id(), L"GetMethodOrigin");
    }

  private:
    std::uint32_t zone_;
};

zone_object zones[max_zones] = {zone_object{0}, zone_object{1}, zone_object{2}, zone_object{3}};

class zone_enumerator final : public IEnumWbemClassObject {
  public:
    void restart() { cursor_ = 0; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        const bool known =
            IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumWbemClassObject);
        return query(enumerator_object, riid, known ? this : nullptr, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(enumerator_object); }
    ULONG STDMETHODCALLTYPE Release() override { return release(enumerator_object); }

    HRESULT STDMETHODCALLTYPE Reset() override { return unsupported(enumerator_object, L"Reset"); }

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override
    {
        call_entry& entry = begin_call(record(), call_kind::next, enumerator_object);
        entry.numbers[0] = static_cast<std::uint32_t>(timeout);
        entry.numbers[1] = count;
        entry.numbers[2] = given(objects);
        entry.numbers[3] = given(returned);
        if (objects == nullptr || returned == nullptr) {
            entry.result = status(WBEM_E_INVALID_PARAMETER);
            return entry.result;
        }
        *returned = 0;
        if (script().next_result != S_OK) {
            entry.result = script().next_result;
            return entry.result;
        }
        ULONG handed = 0;
        while (handed < count && cursor_ < script().zone_count && cursor_ < max_zones) {
            hand_out(zones[cursor_].id());
            objects[handed] = &zones[cursor_];
            ++handed;
            ++cursor_;
        }
        *returned = handed;
        entry.numbers[4] = handed;
        if (handed == count) {
            entry.result = S_OK;
        } else {
            const HRESULT short_result = script().next_short_result;
            entry.result = short_result != S_OK ? short_result : status(WBEM_S_FALSE);
        }
        return entry.result;
    }

    HRESULT STDMETHODCALLTYPE NextAsync(ULONG /*uCount*/, IWbemObjectSink* /*pSink*/) override
    {
        return unsupported(enumerator_object, L"NextAsync");
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject** /*ppEnum*/) override
    {
        return unsupported(enumerator_object, L"Clone");
    }
    HRESULT STDMETHODCALLTYPE Skip(LONG /*lTimeout*/, ULONG /*nCount*/) override
    {
        return unsupported(enumerator_object, L"Skip");
    }

  private:
    std::uint32_t cursor_ = 0;
};

zone_enumerator enumerator;

// The services, with the IClientSecurity that CoSetProxyBlanket asks an
// in-process object for; both share one count.
class wmi_services final : public IWbemServices, public IClientSecurity {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        void* answer = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemServices)) {
            answer = static_cast<IWbemServices*>(this);
        } else if (IsEqualIID(riid, IID_IClientSecurity)) {
            answer = static_cast<IClientSecurity*>(this);
        }
        return query(services_object, riid, answer, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(services_object); }
    ULONG STDMETHODCALLTYPE Release() override { return release(services_object); }

    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown* /*pProxy*/, DWORD* /*pAuthnSvc*/,
                                           DWORD* /*pAuthzSvc*/, OLECHAR** /*pServerPrincName*/,
                                           DWORD* /*pAuthnLevel*/, DWORD* /*pImpLevel*/,
                                           void** /*pAuthInfo*/, DWORD* /*pCapabilites*/) override
    {
        return unsupported(services_object, L"QueryBlanket");
    }

    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authentication, DWORD authorisation,
                                         OLECHAR* principal, DWORD level, DWORD impersonation,
                                         void* identity, DWORD capabilities) override
    {
        call_entry& entry = begin_call(record(), call_kind::set_blanket, services_object);
        entry.numbers[0] = authentication;
        entry.numbers[1] = authorisation;
        entry.numbers[2] = given(principal);
        entry.numbers[3] = level;
        entry.numbers[4] = impersonation;
        entry.numbers[5] = given(identity);
        entry.numbers[6] = capabilities;
        entry.pointers[0] = address_of(proxy);
        entry.result = script().blanket_result;
        return entry.result;
    }

    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown* /*pProxy*/, IUnknown** /*ppCopy*/) override
    {
        return unsupported(services_object, L"CopyProxy");
    }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR text, LONG flags,
                                        IWbemContext* context,
                                        IEnumWbemClassObject** result) override
    {
        call_entry& entry = begin_call(record(), call_kind::exec_query, services_object);
        copy_call_text(entry.texts[0], language);
        copy_call_text(entry.texts[1], text);
        entry.numbers[0] = static_cast<std::uint32_t>(flags);
        entry.numbers[1] = given(context);
        entry.numbers[2] = bstr_length(language);
        entry.numbers[3] = bstr_length(text);
        entry.numbers[4] = given(result);
        entry.pointers[0] = address_of(language);
        entry.pointers[1] = address_of(text);
        if (result == nullptr) {
            entry.result = status(WBEM_E_INVALID_PARAMETER);
            return entry.result;
        }
        *result = nullptr;
        if (script().query_result != S_OK) {
            entry.result = script().query_result;
            return entry.result;
        }
        hand_out(enumerator_object);
        enumerator.restart();
        *result = &enumerator;
        entry.result = S_OK;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR /*strNamespace*/, LONG /*lFlags*/,
                                            IWbemContext* /*pCtx*/,
                                            IWbemServices** /*ppWorkingNamespace*/,
                                            IWbemCallResult** /*ppResult*/) override
    {
        return unsupported(services_object, L"OpenNamespace");
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* /*pSink*/) override
    {
        return unsupported(services_object, L"CancelAsyncCall");
    }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG /*lFlags*/,
                                              IWbemObjectSink** /*ppResponseHandler*/) override
    {
        return unsupported(services_object, L"QueryObjectSink");
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR /*strObjectPath*/, LONG /*lFlags*/,
                                        IWbemContext* /*pCtx*/, IWbemClassObject** /*ppObject*/,
                                        IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"GetObject");
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR /*strObjectPath*/, LONG /*lFlags*/,
                                             IWbemContext* /*pCtx*/,
                                             IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"GetObjectAsync");
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* /*pObject*/, LONG /*lFlags*/,
                                       IWbemContext* /*pCtx*/,
                                       IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"PutClass");
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* /*pObject*/, LONG /*lFlags*/,
                                            IWbemContext* /*pCtx*/,
                                            IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"PutClassAsync");
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR /*strClass*/, LONG /*lFlags*/,
                                          IWbemContext* /*pCtx*/,
                                          IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"DeleteClass");
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR /*strClass*/, LONG /*lFlags*/,
                                               IWbemContext* /*pCtx*/,
                                               IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"DeleteClassAsync");
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR /*strSuperclass*/, LONG /*lFlags*/,
                                              IWbemContext* /*pCtx*/,
                                              IEnumWbemClassObject** /*ppEnum*/) override
    {
        return unsupported(services_object, L"CreateClassEnum");
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR /*strSuperclass*/, LONG /*lFlags*/,
                                                   IWbemContext* /*pCtx*/,
                                                   IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"CreateClassEnumAsync");
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* /*pInst*/, LONG /*lFlags*/,
                                          IWbemContext* /*pCtx*/,
                                          IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"PutInstance");
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* /*pInst*/, LONG /*lFlags*/,
                                               IWbemContext* /*pCtx*/,
                                               IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"PutInstanceAsync");
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR /*strObjectPath*/, LONG /*lFlags*/,
                                             IWbemContext* /*pCtx*/,
                                             IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"DeleteInstance");
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR /*strObjectPath*/, LONG /*lFlags*/,
                                                  IWbemContext* /*pCtx*/,
                                                  IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"DeleteInstanceAsync");
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR /*strFilter*/, LONG /*lFlags*/,
                                                 IWbemContext* /*pCtx*/,
                                                 IEnumWbemClassObject** /*ppEnum*/) override
    {
        return unsupported(services_object, L"CreateInstanceEnum");
    }
    HRESULT STDMETHODCALLTYPE
    CreateInstanceEnumAsync(const BSTR /*strFilter*/, LONG /*lFlags*/, IWbemContext* /*pCtx*/,
                            IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"CreateInstanceEnumAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR /*strQueryLanguage*/,
                                             const BSTR /*strQuery*/, LONG /*lFlags*/,
                                             IWbemContext* /*pCtx*/,
                                             IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"ExecQueryAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR /*strQueryLanguage*/,
                                                    const BSTR /*strQuery*/, LONG /*lFlags*/,
                                                    IWbemContext* /*pCtx*/,
                                                    IEnumWbemClassObject** /*ppEnum*/) override
    {
        return unsupported(services_object, L"ExecNotificationQuery");
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(
        const BSTR /*strQueryLanguage*/, const BSTR /*strQuery*/, LONG /*lFlags*/,
        IWbemContext* /*pCtx*/, IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"ExecNotificationQueryAsync");
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR /*strObjectPath*/, const BSTR /*strMethodName*/,
                                         LONG /*lFlags*/, IWbemContext* /*pCtx*/,
                                         IWbemClassObject* /*pInParams*/,
                                         IWbemClassObject** /*ppOutParams*/,
                                         IWbemCallResult** /*ppCallResult*/) override
    {
        return unsupported(services_object, L"ExecMethod");
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR /*strObjectPath*/,
                                              const BSTR /*strMethodName*/, LONG /*lFlags*/,
                                              IWbemContext* /*pCtx*/,
                                              IWbemClassObject* /*pInParams*/,
                                              IWbemObjectSink* /*pResponseHandler*/) override
    {
        return unsupported(services_object, L"ExecMethodAsync");
    }
};

wmi_services services;

class wmi_locator final : public IWbemLocator {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemLocator);
        return query(locator_object, riid, known ? this : nullptr, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(locator_object); }
    ULONG STDMETHODCALLTYPE Release() override { return release(locator_object); }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user,
                                            const BSTR password, const BSTR locale,
                                            LONG security_flags, const BSTR authority,
                                            IWbemContext* context,
                                            IWbemServices** connected) override
    {
        call_entry& entry = begin_call(record(), call_kind::connect_server, locator_object);
        copy_call_text(entry.texts[0], resource);
        entry.numbers[0] = given(user);
        entry.numbers[1] = given(password);
        entry.numbers[2] = given(locale);
        entry.numbers[3] = static_cast<std::uint32_t>(security_flags);
        entry.numbers[4] = given(authority);
        entry.numbers[5] = given(context);
        entry.numbers[6] = bstr_length(resource);
        entry.numbers[7] = given(connected);
        entry.pointers[0] = address_of(resource);
        if (connected == nullptr) {
            entry.result = status(WBEM_E_INVALID_PARAMETER);
            return entry.result;
        }
        *connected = nullptr;
        if (script().connect_result != S_OK) {
            entry.result = script().connect_result;
            return entry.result;
        }
        hand_out(services_object);
        *connected = &services;
        entry.result = S_OK;
        return S_OK;
    }
};

wmi_locator locator;

class locator_factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        const bool known = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory);
        return query(factory_object, riid, known ? this : nullptr, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return add_ref(factory_object); }
    ULONG STDMETHODCALLTYPE Release() override { return release(factory_object); }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        call_entry& entry = begin_call(record(), call_kind::create_instance, factory_object);
        guid_text(entry.texts[0], riid);
        entry.numbers[0] = given(outer);
        if (out == nullptr) {
            entry.result = E_POINTER;
            return entry.result;
        }
        *out = nullptr;
        if (outer != nullptr) {
            entry.result = CLASS_E_NOAGGREGATION;
        } else if (script().create_result != S_OK) {
            entry.result = script().create_result;
        } else if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IWbemLocator)) {
            entry.result = E_NOINTERFACE;
        } else {
            hand_out(locator_object);
            *out = static_cast<IWbemLocator*>(&locator);
            entry.result = S_OK;
        }
        return entry.result;
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL /*fLock*/) override
    {
        return unsupported(factory_object, L"LockServer");
    }
};

locator_factory factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*unused*/, DWORD reason, LPVOID /*unused*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        // COM frees the DLL when an apartment ends; pinned, the objects and
        // the view of the block stay valid from one run to the next.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&block), &self);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* out)
{
    if (out != nullptr) {
        *out = nullptr;
    }
    // Without a script from a test there is nothing to stand in for.
    if (!attach_block()) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    call_entry& entry = begin_call(record(), call_kind::dll_get_class_object, no_object);
    guid_text(entry.texts[0], rclsid);
    guid_text(entry.texts[1], riid);
    if (out == nullptr) {
        entry.result = E_POINTER;
    } else if (script().class_object_result != S_OK) {
        entry.result = script().class_object_result;
    } else if (!IsEqualCLSID(rclsid, CLSID_WbemLocator)) {
        entry.result = CLASS_E_CLASSNOTAVAILABLE;
    } else if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
        entry.result = E_NOINTERFACE;
    } else {
        if (record().objects[factory_object].count > 0) {
            add_ref(factory_object);
        } else {
            hand_out(factory_object);
        }
        *out = static_cast<IClassFactory*>(&factory);
        entry.result = S_OK;
    }
    return entry.result;
}

STDAPI DllCanUnloadNow()
{
    if (block == nullptr) {
        return S_OK;
    }
    call_entry& entry = begin_call(record(), call_kind::dll_can_unload_now, no_object);
    entry.result = S_OK;
    for (const object_counts& counts : record().objects) {
        if (counts.count > 0) {
            entry.result = S_FALSE;
        }
    }
    return entry.result;
}
