// SnmpTrap.
#include "model/trap.h"

#include "sock/velk_strings.h"

namespace velk::model {
namespace {

HRESULT GetText(const Bstr& field, BSTR* out) {
    if (!out) return E_POINTER;
    *out = field.Copy();
    return S_OK;
}

HRESULT PutText(Bstr& field, BSTR value) {
    field = value ? Bstr(std::u16string_view(value, SysStringLen(value))) : Bstr();
    return S_OK;
}

}  // namespace

HRESULT SnmpTrap::Init() { return sock::CreateVelkStrings(oids_.Put()); }

HRESULT CreateSnmpTrap(ComPtr<SnmpTrap>* out) {
    if (!out) return E_POINTER;
    out->Reset();
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpTrap); FAILED(hr)) return hr;
    auto trap = rt::MakeObject<SnmpTrap>();
    if (!trap) return E_OUTOFMEMORY;
    if (HRESULT hr = trap->Init(); FAILED(hr)) return hr;
    *out = std::move(trap);
    return S_OK;
}

HRESULT CreateSnmpTrap(ISnmpTrap** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<SnmpTrap> trap;
    if (HRESULT hr = CreateSnmpTrap(&trap); FAILED(hr)) return hr;
    *out = trap.Detach();
    return S_OK;
}

HRESULT SnmpTrap::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<SnmpTrap> trap;
    if (HRESULT hr = CreateSnmpTrap(&trap); FAILED(hr)) return hr;
    return trap->QueryInterface(iid, out);
}

SnmpTrap* AsSnmpTrap(ISnmpTrap* trap) { return dynamic_cast<SnmpTrap*>(trap); }

HRESULT SnmpTrap::ReplaceOids(IVelkStrings* oids) {
    if (!oids) return E_POINTER;
    oids_ = oids;
    return S_OK;
}

HRESULT SnmpTrap::get_Name(BSTR* out) { return GetText(name_, out); }
HRESULT SnmpTrap::put_Name(BSTR value) { return PutText(name_, value); }
HRESULT SnmpTrap::get_Enterprise(BSTR* out) { return GetText(enterprise_, out); }
HRESULT SnmpTrap::put_Enterprise(BSTR value) { return PutText(enterprise_, value); }
HRESULT SnmpTrap::get_Description(BSTR* out) { return GetText(description_, out); }
HRESULT SnmpTrap::put_Description(BSTR value) { return PutText(description_, value); }
HRESULT SnmpTrap::get_Reference(BSTR* out) { return GetText(reference_, out); }
HRESULT SnmpTrap::put_Reference(BSTR value) { return PutText(reference_, value); }

HRESULT SnmpTrap::get_SpecificTrap(LONG* out) {
    if (!out) return E_POINTER;
    *out = specificTrap_;
    return S_OK;
}

HRESULT SnmpTrap::put_SpecificTrap(LONG value) {
    specificTrap_ = value;
    return S_OK;
}

HRESULT SnmpTrap::get_Status(StatusConstants* out) {
    if (!out) return E_POINTER;
    *out = status_;
    return S_OK;
}

HRESULT SnmpTrap::put_Status(StatusConstants value) {
    status_ = value;
    return S_OK;
}

HRESULT SnmpTrap::get_Oids(IVelkStrings** out) { return oids_.CopyTo(out); }

}  // namespace velk::model
