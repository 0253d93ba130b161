#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/object.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

using velk::Variant;

template <class T>
Variant V(VARTYPE vt, T value) {
    Variant v;
    v.vt = vt;
    std::memcpy(&v.llVal, &value, sizeof value);  // every union member starts there
    return v;
}
Variant Str(std::u16string_view s) { return Variant(s); }
Variant Bool(bool b) { return V<VARIANT_BOOL>(VT_BOOL, b ? VARIANT_TRUE : VARIANT_FALSE); }
const Variant kEmpty;
const Variant kNull = V(VT_NULL, 0);

bool Same(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    return a.vt == VT_BSTR ? VarBstrCmp(a.bstrVal, b.bstrVal, 0, 0) == 1 : a.llVal == b.llVal;
}

constexpr HRESULT kOverflow = DISP_E_OVERFLOW;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr ULONGLONG kU64Max = std::numeric_limits<ULONGLONG>::max();

struct Case {
    Variant source;
    VARTYPE target;
    HRESULT hr;
    Variant expected;  // compared on success; on failure the destination must be unchanged
};

void RunCases(const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Variant out = Str(u"previous");
        EXPECT_EQ(VariantChangeType(&out, &c.source, 0, c.target), c.hr) << "case " << i;
        EXPECT_TRUE(Same(out, SUCCEEDED(c.hr) ? c.expected : Str(u"previous"))) << "case " << i;
    }
}

TEST(VariantChangeType, TextToNumbers) {
    RunCases({
        {Str(u" 42 "), VT_I4, S_OK, V<LONG>(VT_I4, 42)},
        {Str(u"+7"), VT_I2, S_OK, V<SHORT>(VT_I2, 7)},
        {Str(u"-129"), VT_I1, kOverflow, {}},
        {Str(u"-1"), VT_UI4, kOverflow, {}},
        {Str(u"18446744073709551615"), VT_UI8, S_OK, V(VT_UI8, kU64Max)},
        {Str(u"18446744073709551616"), VT_UI8, kOverflow, {}},
        {Str(u"-9223372036854775808"), VT_I8, S_OK, V(VT_I8, std::numeric_limits<LONGLONG>::min())},
        {Str(u"2.5"), VT_I4, S_OK, V<LONG>(VT_I4, 2)},  // halves round to even
        {Str(u"3.5"), VT_INT, S_OK, V<INT>(VT_INT, 4)},
        {Str(u"-2.5"), VT_I4, S_OK, V<LONG>(VT_I4, -2)},
        {Str(u"2.500001"), VT_I4, S_OK, V<LONG>(VT_I4, 3)},
        {Str(u".5e1"), VT_UI2, S_OK, V<USHORT>(VT_UI2, 5)},
        {Str(u"-1E+20"), VT_R8, S_OK, V(VT_R8, -1e20)},
        {Str(u"0.1"), VT_R4, S_OK, V(VT_R4, 0.1f)},
        {Str(u"1e400"), VT_R8, kOverflow, {}},
        {Str(u"1e-400"), VT_R8, S_OK, V(VT_R8, 0.0)},
        {Str(u"1.3.6"), VT_I4, kMismatch, {}},
        {Str(u""), VT_I4, kMismatch, {}},
        {Str(u"12abc"), VT_I4, kMismatch, {}},
        {Str(u"1e"), VT_R8, kMismatch, {}},
        {Str(u" false "), VT_BOOL, S_OK, Bool(false)},
        {Str(u"True"), VT_BOOL, S_OK, Bool(true)},
        {Str(u"-3"), VT_BOOL, S_OK, Bool(true)},
        {Str(u"yes"), VT_BOOL, kMismatch, {}},
    });
}

TEST(VariantChangeType, NumbersBooleansAndEmpty) {
    RunCases({
        {V<LONG>(VT_I4, 300), VT_UI1, kOverflow, {}},
        {V<ULONG>(VT_UI4, 4294967295u), VT_I4, kOverflow, {}},
        {V<ULONG>(VT_UI4, 4294967295u), VT_I8, S_OK, V<LONGLONG>(VT_I8, 4294967295)},
        {V(VT_UI8, kU64Max), VT_I8, kOverflow, {}},
        {V<LONGLONG>(VT_I8, -1), VT_UI8, kOverflow, {}},
        {V(VT_R8, 3.5), VT_I4, S_OK, V<LONG>(VT_I4, 4)},
        {V(VT_R8, -1.5), VT_I2, S_OK, V<SHORT>(VT_I2, -2)},
        {V(VT_R8, 2147483647.5), VT_I4, kOverflow, {}},  // rounds to 2^31
        {V(VT_R8, 18446744073709551616.0), VT_UI8, kOverflow, {}},
        {V(VT_R8, std::numeric_limits<double>::quiet_NaN()), VT_I4, kOverflow, {}},
        {V(VT_R8, 1e300), VT_R4, kOverflow, {}},
        {V(VT_R4, 2.5f), VT_UI1, S_OK, V<BYTE>(VT_UI1, 2)},
        {Bool(true), VT_I4, S_OK, V<LONG>(VT_I4, -1)},
        {Bool(true), VT_UI1, S_OK, V<BYTE>(VT_UI1, 255)},
        {V<LONG>(VT_I4, 7), VT_BOOL, S_OK, Bool(true)},
        {Bool(true), VT_BSTR, S_OK, Str(u"True")},
        {Bool(false), VT_BSTR, S_OK, Str(u"False")},
        {V<LONG>(VT_I4, -42), VT_BSTR, S_OK, Str(u"-42")},
        {V(VT_UI8, kU64Max), VT_BSTR, S_OK, Str(u"18446744073709551615")},
        {V(VT_R8, 1.5), VT_BSTR, S_OK, Str(u"1.5")},
        {V(VT_R8, -0.0), VT_BSTR, S_OK, Str(u"0")},
        {V(VT_R8, 1e20), VT_BSTR, S_OK, Str(u"1E+20")},
        {V(VT_R4, 0.1f), VT_BSTR, S_OK, Str(u"0.1")},
        {kEmpty, VT_I4, S_OK, V<LONG>(VT_I4, 0)},
        {kEmpty, VT_BSTR, S_OK, Str(u"")},
        {V<LONG>(VT_I4, 5), VT_EMPTY, S_OK, kEmpty},
    });
}

TEST(VariantChangeType, NullErrorAndUnsupportedTypes) {
    RunCases({
        {kNull, VT_I4, kMismatch, {}},
        {kNull, VT_EMPTY, S_OK, kEmpty},
        {kNull, VT_NULL, S_OK, kNull},
        {V<LONG>(VT_I4, 1), VT_NULL, kMismatch, {}},
        {V(VT_ERROR, E_FAIL), VT_I4, S_OK, V(VT_I4, E_FAIL)},
        {V(VT_I4, E_FAIL), VT_ERROR, S_OK, V(VT_ERROR, E_FAIL)},
        {V(VT_ERROR, E_FAIL), VT_I2, kMismatch, {}},
        {V<SHORT>(VT_I2, 5), VT_ERROR, kMismatch, {}},
        {V<LONG>(VT_I4, 1), VT_VARIANT, DISP_E_BADVARTYPE, {}},
        {V<LONG>(VT_I4, 1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE, {}},
        {V<LONG>(VT_I4, 1), VT_ARRAY | VT_UI1, kMismatch, {}},
    });
}

TEST(VariantChangeType, FollowsReferencesAndConvertsInPlace) {
    LONG number = 12;
    Variant inner = Str(u"34");
    RunCases({
        {V(VT_BYREF | VT_I4, &number), VT_BSTR, S_OK, Str(u"12")},
        {V(VT_BYREF | VT_VARIANT, &inner), VT_I4, S_OK, V<LONG>(VT_I4, 34)},
        {V(VT_BYREF | VT_I4, nullptr), VT_I4, E_INVALIDARG, {}},
    });
    EXPECT_TRUE(Same(inner, Str(u"34")));

    Variant v = Str(u"12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_TRUE(Same(v, V<LONG>(VT_I4, 12)));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(Same(v, Str(u"12")));
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_BOOL), S_OK);
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_I4), E_INVALIDARG);
}

class Dispatchable final : public velk::rt::Object<Dispatchable, IDispatch> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

TEST(VariantChangeType, InterfacesConvertByQueryInterface) {
    const long before = velk::rt::LiveObjectCount();
    {
        auto object = velk::rt::MakeObject<Dispatchable>();
        Variant unk = V(VT_UNKNOWN, object->Unknown());
        object->AddRef();  // owned by `unk`
        Variant out;
        ASSERT_EQ(VariantChangeType(&out, &unk, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(out.pdispVal, static_cast<IDispatch*>(object.Get()));
        EXPECT_EQ(VariantChangeType(&out, &unk, 0, VT_I4), kMismatch);

        ICreateErrorInfo* record = nullptr;  // an object without IDispatch
        ASSERT_EQ(CreateErrorInfo(&record), S_OK);
        Variant plain = V<IUnknown*>(VT_UNKNOWN, record);
        EXPECT_EQ(VariantChangeType(&out, &plain, 0, VT_DISPATCH), E_NOINTERFACE);
        EXPECT_EQ(out.vt, VT_DISPATCH);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

TEST(VariantCopy, CopiesDeeplyAndKeepsTheDestinationOnFailure) {
    const OLECHAR text[] = {u'x', 0, u'y'};
    Variant source(std::u16string_view(text, 3));
    Variant copy(source);
    ASSERT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(copy.bstrVal, text, sizeof text), 0);

    Variant array = V(VT_ARRAY | VT_UI1, SafeArrayCreateVector(VT_UI1, 0, 4));
    static_cast<BYTE*>(array.parray->pvData)[2] = 7;
    Variant arrayCopy(array);
    ASSERT_NE(arrayCopy.parray, array.parray);
    EXPECT_EQ(static_cast<BYTE*>(arrayCopy.parray->pvData)[2], 7);

    LONG value = 1;
    Variant ref = V(VT_BYREF | VT_I4, &value);
    Variant refCopy(ref);
    EXPECT_EQ(refCopy.plVal, &value);

    Variant bad = V<VARTYPE>(0x0FFF, 0);
    Variant target = Str(u"t");
    EXPECT_EQ(VariantCopy(&target, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantChangeType(&target, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
    EXPECT_TRUE(Same(target, Str(u"t")));
    bad.vt = VT_EMPTY;
}

TEST(VariantCopyInd, FollowsChainsToABoundedDepth) {
    BSTR shared = SysAllocString(u"deep");
    Variant inner = V(VT_BYREF | VT_BSTR, &shared);
    Variant middle = V(VT_BYREF | VT_VARIANT, &inner);
    Variant outer = V(VT_BYREF | VT_VARIANT, &middle);
    Variant out;
    ASSERT_EQ(VariantCopyInd(&out, &outer), S_OK);
    EXPECT_NE(out.bstrVal, shared);
    EXPECT_TRUE(Same(out, Str(u"deep")));
    SysFreeString(shared);

    Variant cycle;
    cycle.vt = VT_BYREF | VT_VARIANT;
    cycle.pvarVal = &cycle;
    EXPECT_EQ(VariantCopyInd(&out, &cycle), E_INVALIDARG);
    EXPECT_TRUE(Same(out, Str(u"deep")));
}

TEST(VariantClear, RefusesALockedArrayAndLeavesItInPlace) {
    Variant array = V(VT_ARRAY | VT_I4, SafeArrayCreateVector(VT_I4, 0, 2));
    ASSERT_EQ(SafeArrayLock(array.parray), S_OK);
    EXPECT_EQ(VariantClear(&array), static_cast<HRESULT>(0x8002000Du));
    EXPECT_EQ(array.vt, VT_ARRAY | VT_I4);
    ASSERT_EQ(SafeArrayUnlock(array.parray), S_OK);
}

}  // namespace
