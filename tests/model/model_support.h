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
#include "support/host_objects.h"
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

using velk::testing::HostVariable;

// Checks in its destructor, after the fixture's own members are gone, that the test left
// no library object and no host stand-in alive. The thread's error record that failing
// calls leave is dropped.
class ModelTest : public ::testing::Test {
protected:
    ModelTest() {
        SetErrorInfo(0, nullptr);
        live_ = rt::LiveObjectCount();
    }
    ~ModelTest() override {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(rt::LiveObjectCount(), live_) << "objects leaked";
        EXPECT_EQ(velk::testing::HostObject<ISnmpVariable>::live, 0) << "host variables leaked";
        EXPECT_EQ(velk::testing::HostObject<ISnmpTrap>::live, 0) << "host traps leaked";
    }

private:
    long live_ = 0;
};

}  // namespace velk::model::testing
