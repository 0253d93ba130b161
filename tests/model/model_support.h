// Helpers of the variable and collection tests: VARIANT makers, a host-implemented
// variable, and a fixture that checks that every object created by a test is gone at its end.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "model/variable.h"
#include "model/variables.h"
#include "runtime/object.h"
#include "velk/com.h"

namespace velk::model::testing {

constexpr HRESULT kInvalidParam1 = static_cast<HRESULT>(0x800A2EE1u);

inline std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

inline Variant I4(LONG v) { return Variant(v); }
inline Variant I2(SHORT v) {
    Variant r;
    r.vt = VT_I2;
    r.iVal = v;
    return r;
}
inline Variant R8(double v) {
    Variant r;
    r.vt = VT_R8;
    r.dblVal = v;
    return r;
}
inline Variant Bool(bool v) {
    Variant r;
    r.vt = VT_BOOL;
    r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
inline Variant Text(std::u16string_view s) { return Variant(s); }
// A VARIANT referring to `target` (which must outlive it).
inline VARIANT RefTo(VARIANT* target) {
    VARIANT r;
    VariantInit(&r);
    r.vt = VT_BYREF | VT_VARIANT;
    r.pvarVal = target;
    return r;
}

// A new variable of ours with the given Oid and Name.
inline ComPtr<ISnmpVariable> NewVariable(std::u16string_view oid, std::u16string_view name = {}) {
    ComPtr<ISnmpVariable> v = ComPtr<ISnmpVariable>::Adopt(NewSnmpVariable());
    SnmpVariable* own = SnmpVariable::From(v.Get());
    own->SetOid(oid);
    if (!name.empty()) own->SetName(name);
    return v;
}

inline ComPtr<SnmpVariables> NewCollection() { return rt::MakeObject<SnmpVariables>(); }

inline std::u16string OidOf(ISnmpVariable* v) {
    Bstr oid;
    EXPECT_EQ(v->get_Oid(oid.Put()), S_OK);
    return std::u16string(oid.View());
}

// A variable implemented by a host: Oid and Name only. Its getters can be made to fail or
// to run a hook first (to change the collection from inside a call).
class HostVariable final : public ISnmpVariable {
public:
    static ComPtr<HostVariable> Make(std::u16string oid, std::u16string name = {}) {
        return ComPtr<HostVariable>::Adopt(new HostVariable(std::move(oid), std::move(name)));
    }

    bool fail = false;
    std::function<void()> hook;
    int calls = 0;

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_ISnmpVariable) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
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
    STDMETHOD(get_Oid)(BSTR* out) override { return Get(oid_, out); }
    STDMETHOD(put_Oid)(BSTR v) override { return Put(&oid_, v); }
    STDMETHOD(get_Name)(BSTR* out) override { return Get(name_, out); }
    STDMETHOD(put_Name)(BSTR v) override { return Put(&name_, v); }
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
    STDMETHOD(get_Index)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_ValueName)(BSTR*) override { return E_NOTIMPL; }

private:
    HostVariable(std::u16string oid, std::u16string name) : oid_(std::move(oid)), name_(std::move(name)) {}
    ~HostVariable() = default;

    HRESULT Get(const std::u16string& field, BSTR* out) {
        ++calls;
        if (hook) {
            auto h = std::move(hook);  // runs once
            hook = nullptr;
            h();
        }
        if (fail) return E_FAIL;
        *out = SysAllocStringLen(field.data(), static_cast<UINT>(field.size()));
        return S_OK;
    }
    static HRESULT Put(std::u16string* field, BSTR v) {
        *field = std::u16string(View(v));
        return S_OK;
    }

    ULONG refs_ = 1;
    std::u16string oid_;
    std::u16string name_;
};

// Checks that every library object a test created has been destroyed when it ends (the
// fixture's own members included, hence the destructor). The thread's error record, which
// failing calls leave behind, is dropped first.
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
