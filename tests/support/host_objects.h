// Objects implemented by a "host", knowing nothing of the library's classes: what a script
// or an application hands the collections and views. Shared by the model tests and the
// collection fuzz target; no test framework here.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "velk/com.h"
#include "velk/snmp.h"

namespace velk::testing {

// IUnknown and an IDispatch that binds nothing, for a host object answering I. `live`
// counts the instances of each kind, so a test can check that the library released them.
template <class I>
class HostObject : public I {
public:
    static inline long live = 0;

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IidOf<I>()) return E_NOINTERFACE;
        *out = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

protected:
    HostObject() { ++live; }
    virtual ~HostObject() { --live; }

    static HRESULT CopyOut(const std::u16string& text, BSTR* out) {
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out || text.empty() ? S_OK : E_OUTOFMEMORY;
    }
    static std::u16string CopyIn(BSTR text) { return text ? std::u16string(text, SysStringLen(text)) : std::u16string(); }

private:
    ULONG refs_ = 1;
};

// A host variable: Oid (which doubles as Name) and Value text. Its Oid and Name getters can
// be made to fail, to run host code on every call (`onGetOid`), or once (`hook`): a host
// that changes the collection from inside a call.
class HostVariable final : public HostObject<ISnmpVariable> {
public:
    explicit HostVariable(std::u16string oid, bool failing = false) : fail(failing), oid_(std::move(oid)) {}
    static ComPtr<ISnmpVariable> Make(std::u16string oid, HostVariable** self = nullptr) {
        auto* h = new HostVariable(std::move(oid));
        if (self) *self = h;
        return ComPtr<ISnmpVariable>::Adopt(h);
    }

    bool fail = false;
    std::function<void()> hook;      // run once, before the next Oid or Name read
    std::function<void()> onGetOid;  // run on every Oid or Name read

    STDMETHOD(get_Oid)(BSTR* out) override {
        if (auto h = std::exchange(hook, nullptr)) h();
        if (onGetOid) onGetOid();
        if (fail) return E_FAIL;
        return CopyOut(oid_, out);
    }
    STDMETHOD(put_Oid)(BSTR v) override {
        oid_ = CopyIn(v);
        return S_OK;
    }
    STDMETHOD(get_Name)(BSTR* out) override { return get_Oid(out); }
    STDMETHOD(put_Name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Value)(BSTR* out) override { return CopyOut(value_, out); }
    STDMETHOD(put_Value)(BSTR v) override {
        value_ = CopyIn(v);
        return S_OK;
    }
#define VELK_HOST_UNUSED(Name, T)                              \
    STDMETHOD(get_##Name)(T*) override { return E_NOTIMPL; } \
    STDMETHOD(put_##Name)(T) override { return E_NOTIMPL; }
    VELK_HOST_UNUSED(Access, AccessConstants)
    VELK_HOST_UNUSED(Exception, VariableExceptionConstants)
    VELK_HOST_UNUSED(Description, BSTR)
    VELK_HOST_UNUSED(Repeat, VARIANT_BOOL)
    VELK_HOST_UNUSED(Status, StatusConstants)
    VELK_HOST_UNUSED(Type, VariableTypeConstants)
    VELK_HOST_UNUSED(Syntax, BSTR)
    VELK_HOST_UNUSED(ValueEx, VARIANT)
    VELK_HOST_UNUSED(Reference, BSTR)
    VELK_HOST_UNUSED(BaseSyntax, BSTR)
#undef VELK_HOST_UNUSED
    STDMETHOD(get_Index)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_ValueName)(BSTR*) override { return E_NOTIMPL; }

private:
    std::u16string oid_;
    std::u16string value_;
};

}  // namespace velk::testing
