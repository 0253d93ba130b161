// Helpers of the variable and collection tests: a host-implemented variable, makers, and a
// fixture that checks that every object a test created is gone at its end.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "model/variable.h"
#include "model/variables.h"
#include "runtime/object.h"
#include "velk/com.h"

namespace velk::model::testing {

constexpr HRESULT kInvalidParam1 = static_cast<HRESULT>(0x800A2EE1u);

inline Variant Of(VARTYPE vt, LONGLONG bits) {
    Variant r;
    r.vt = vt;
    r.llVal = bits;
    return r;
}
inline Variant I4(LONG v) { return Variant(v); }
inline Variant Text(std::u16string_view s) { return Variant(s); }
// A VARIANT referring to `target` (which must outlive it).
inline VARIANT RefTo(VARIANT* target) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_BYREF | VT_VARIANT;
    r.pvarVal = target;
    return r;
}

inline ComPtr<ISnmpVariable> NewVariable(std::u16string_view oid, std::u16string_view name = {}) {
    auto v = ComPtr<ISnmpVariable>::Adopt(NewSnmpVariable());
    SnmpVariable::From(v.Get())->SetOid(oid);
    if (!name.empty()) SnmpVariable::From(v.Get())->SetName(name);
    return v;
}

inline std::u16string OidOf(ISnmpVariable* v) {
    Bstr oid;
    if (v) v->get_Oid(oid.Put());
    return std::u16string(oid.View());
}

// A variable implemented by a host: Oid and Name only. Its getters can be made to fail, or
// to run a hook once first (to change the collection from inside a call).
class HostVariable final : public ISnmpVariable {
public:
    static ComPtr<ISnmpVariable> Make(std::u16string oid, HostVariable** self = nullptr) {
        auto* h = new HostVariable(std::move(oid));
        if (self) *self = h;
        return ComPtr<ISnmpVariable>::Adopt(h);
    }
    bool fail = false;
    std::function<void()> hook;

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_ISnmpVariable) return E_NOINTERFACE;
        *out = static_cast<ISnmpVariable*>(this);
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
    STDMETHOD(get_Oid)(BSTR* out) override { return Get(out); }
    STDMETHOD(put_Oid)(BSTR v) override {
        oid_ = std::u16string(v ? v : u"", SysStringLen(v));
        return S_OK;
    }
    STDMETHOD(get_Name)(BSTR* out) override { return Get(out); }  // the Oid doubles as Name
#define VELK_HOST_UNUSED(Name, T)                              \
    STDMETHOD(get_##Name)(T*) override { return E_NOTIMPL; } \
    STDMETHOD(put_##Name)(T) override { return E_NOTIMPL; }
    VELK_HOST_UNUSED(Access, AccessConstants)
    VELK_HOST_UNUSED(Exception, VariableExceptionConstants)
    VELK_HOST_UNUSED(Description, BSTR)
    VELK_HOST_UNUSED(Repeat, VARIANT_BOOL)
    VELK_HOST_UNUSED(Status, StatusConstants)
    VELK_HOST_UNUSED(Type, VariableTypeConstants)
    VELK_HOST_UNUSED(Value, BSTR)
    VELK_HOST_UNUSED(Syntax, BSTR)
    VELK_HOST_UNUSED(ValueEx, VARIANT)
    VELK_HOST_UNUSED(Reference, BSTR)
    VELK_HOST_UNUSED(BaseSyntax, BSTR)
#undef VELK_HOST_UNUSED
    STDMETHOD(put_Name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Index)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_ValueName)(BSTR*) override { return E_NOTIMPL; }

private:
    explicit HostVariable(std::u16string oid) : oid_(std::move(oid)) {}
    ~HostVariable() = default;
    HRESULT Get(BSTR* out) {
        if (auto h = std::exchange(hook, nullptr)) h();
        if (fail) return E_FAIL;
        *out = SysAllocStringLen(oid_.data(), static_cast<UINT>(oid_.size()));
        return S_OK;
    }
    ULONG refs_ = 1;
    std::u16string oid_;
};

// Checks in its destructor, after the fixture's own members are gone, that the test left
// no library object alive. The thread's error record that failing calls leave is dropped.
class ModelTest : public ::testing::Test {
protected:
    ModelTest() {
        SetErrorInfo(0, nullptr);
        live_ = rt::LiveObjectCount();
    }
    ~ModelTest() override {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(rt::LiveObjectCount(), live_) << "objects leaked";
    }

private:
    long live_ = 0;
};

}  // namespace velk::model::testing
