#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/object.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

using velk::Variant;

Variant Make(VARTYPE vt, auto set) {
    Variant v;
    v.vt = vt;
    set(v);
    return v;
}
Variant I1(int x) { return Make(VT_I1, [&](VARIANT& v) { v.cVal = static_cast<CHAR>(x); }); }
Variant UI1(BYTE x) { return Make(VT_UI1, [&](VARIANT& v) { v.bVal = x; }); }
Variant I2(SHORT x) { return Make(VT_I2, [&](VARIANT& v) { v.iVal = x; }); }
Variant UI2(USHORT x) { return Make(VT_UI2, [&](VARIANT& v) { v.uiVal = x; }); }
Variant I4(LONG x) { return Variant(x); }
Variant UI4(ULONG x) { return Make(VT_UI4, [&](VARIANT& v) { v.ulVal = x; }); }
Variant Int(INT x) { return Make(VT_INT, [&](VARIANT& v) { v.intVal = x; }); }
Variant UInt(UINT x) { return Make(VT_UINT, [&](VARIANT& v) { v.uintVal = x; }); }
Variant I8(LONGLONG x) { return Make(VT_I8, [&](VARIANT& v) { v.llVal = x; }); }
Variant UI8(ULONGLONG x) { return Make(VT_UI8, [&](VARIANT& v) { v.ullVal = x; }); }
Variant R4(float x) { return Make(VT_R4, [&](VARIANT& v) { v.fltVal = x; }); }
Variant R8(double x) { return Make(VT_R8, [&](VARIANT& v) { v.dblVal = x; }); }
Variant Bool(bool x) { return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; }); }
Variant Err(SCODE x) { return Make(VT_ERROR, [&](VARIANT& v) { v.scode = x; }); }
Variant Str(std::u16string_view s) { return Variant(s); }
Variant Null() { return Make(VT_NULL, [](VARIANT&) {}); }

// Same type and value (text compared by content, reals exactly).
bool Same(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
        case VT_EMPTY: case VT_NULL: return true;
        case VT_I1: case VT_UI1: return a.bVal == b.bVal;
        case VT_I2: case VT_UI2: case VT_BOOL: return a.uiVal == b.uiVal;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: return a.ulVal == b.ulVal;
        case VT_I8: case VT_UI8: return a.ullVal == b.ullVal;
        case VT_R4: return a.fltVal == b.fltVal;
        case VT_R8: return a.dblVal == b.dblVal;
        case VT_BSTR: return VarBstrCmp(a.bstrVal, b.bstrVal, 0, 0) == 1;
        default: return a.punkVal == b.punkVal;
    }
}

std::string Describe(const VARIANT& v) {
    Variant text;
    if (v.vt == VT_BSTR || FAILED(VariantChangeType(&text, &v, 0, VT_BSTR)))
        return "vt " + std::to_string(v.vt);
    return "vt " + std::to_string(v.vt) + " " + velk::Bstr(text.bstrVal).ToAnsi();
}

struct Case {
    Variant source;
    VARTYPE target;
    HRESULT hr;
    Variant expected;  // checked on success
};

void RunCases(const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Variant out = Str(u"previous");
        HRESULT hr = VariantChangeType(&out, &c.source, 0, c.target);
        SCOPED_TRACE("case " + std::to_string(i) + ": " + Describe(c.source) + " -> vt " +
                     std::to_string(c.target));
        EXPECT_EQ(hr, c.hr);
        if (SUCCEEDED(c.hr)) {
            EXPECT_TRUE(Same(out, c.expected)) << "got " << Describe(out);
        } else {
            EXPECT_TRUE(Same(out, Str(u"previous"))) << "destination changed on failure";
        }
    }
}

constexpr HRESULT kOverflow = DISP_E_OVERFLOW;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;

TEST(VariantChangeType, TextToNumbers) {
    RunCases({
        {Str(u" 42 "), VT_I4, S_OK, I4(42)},
        {Str(u"+7"), VT_I2, S_OK, I2(7)},
        {Str(u"-128"), VT_I1, S_OK, I1(-128)},
        {Str(u"-129"), VT_I1, kOverflow, {}},
        {Str(u"255"), VT_UI1, S_OK, UI1(255)},
        {Str(u"256"), VT_UI1, kOverflow, {}},
        {Str(u"-1"), VT_UI4, kOverflow, {}},
        {Str(u"-0"), VT_UI4, S_OK, UI4(0)},
        {Str(u"4294967295"), VT_UINT, S_OK, UInt(4294967295u)},
        {Str(u"18446744073709551615"), VT_UI8, S_OK, UI8(std::numeric_limits<ULONGLONG>::max())},
        {Str(u"18446744073709551616"), VT_UI8, kOverflow, {}},
        {Str(u"-9223372036854775808"), VT_I8, S_OK, I8(std::numeric_limits<LONGLONG>::min())},
        {Str(u"99999999999999999999999999"), VT_I8, kOverflow, {}},
        {Str(u"2.5"), VT_I4, S_OK, I4(2)},
        {Str(u"3.5"), VT_I4, S_OK, I4(4)},
        {Str(u"-2.5"), VT_I4, S_OK, I4(-2)},
        {Str(u"2.500001"), VT_I4, S_OK, I4(3)},
        {Str(u"0.5"), VT_UI1, S_OK, UI1(0)},
        {Str(u".5e1"), VT_I4, S_OK, I4(5)},
        {Str(u"1E3"), VT_I2, S_OK, I2(1000)},
        {Str(u"1.5"), VT_R8, S_OK, R8(1.5)},
        {Str(u"-1E+20"), VT_R8, S_OK, R8(-1e20)},
        {Str(u"0.1"), VT_R4, S_OK, R4(0.1f)},
        {Str(u"1e400"), VT_R8, kOverflow, {}},
        {Str(u"1e39"), VT_R4, kOverflow, {}},
        {Str(u"1e-400"), VT_R8, S_OK, R8(0)},
        {Str(u"1.3.6"), VT_I4, kMismatch, {}},
        {Str(u""), VT_I4, kMismatch, {}},
        {Str(u"   "), VT_R8, kMismatch, {}},
        {Str(u"12abc"), VT_I4, kMismatch, {}},
        {Str(u"1 2"), VT_I4, kMismatch, {}},
        {Str(u"-"), VT_I4, kMismatch, {}},
        {Str(u"1e"), VT_R8, kMismatch, {}},
        {Str(u"True"), VT_BOOL, S_OK, Bool(true)},
        {Str(u" false "), VT_BOOL, S_OK, Bool(false)},
        {Str(u"0.0"), VT_BOOL, S_OK, Bool(false)},
        {Str(u"-3"), VT_BOOL, S_OK, Bool(true)},
        {Str(u"yes"), VT_BOOL, kMismatch, {}},
    });
}

TEST(VariantChangeType, NumbersBetweenWidthsAndReals) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    RunCases({
        {I4(300), VT_UI1, kOverflow, {}},
        {I4(-1), VT_UI2, kOverflow, {}},
        {I4(-5), VT_INT, S_OK, Int(-5)},
        {UI4(4294967295u), VT_I4, kOverflow, {}},
        {UI4(4294967295u), VT_I8, S_OK, I8(4294967295LL)},
        {UI8(std::numeric_limits<ULONGLONG>::max()), VT_I8, kOverflow, {}},
        {I8(-1), VT_UI8, kOverflow, {}},
        {I1(-1), VT_I2, S_OK, I2(-1)},
        {UI2(65535), VT_I2, kOverflow, {}},
        {R8(2.5), VT_I4, S_OK, I4(2)},
        {R8(3.5), VT_I4, S_OK, I4(4)},
        {R8(-0.5), VT_I4, S_OK, I4(0)},
        {R8(-1.5), VT_I2, S_OK, I2(-2)},
        {R8(2147483647.4), VT_I4, S_OK, I4(2147483647)},
        {R8(2147483647.5), VT_I4, kOverflow, {}},
        {R8(18446744073709551616.0), VT_UI8, kOverflow, {}},
        {R8(nan), VT_I4, kOverflow, {}},
        {R8(1e300), VT_R4, kOverflow, {}},
        {R4(2.5f), VT_UI1, S_OK, UI1(2)},
        {I8(1LL << 53), VT_R8, S_OK, R8(9007199254740992.0)},
        {R4(0.5f), VT_R8, S_OK, R8(0.5)},
    });
}

TEST(VariantChangeType, BooleansEmptyAndText) {
    RunCases({
        {Bool(true), VT_I4, S_OK, I4(-1)},
        {Bool(true), VT_UI1, S_OK, UI1(255)},
        {Bool(true), VT_R8, S_OK, R8(-1)},
        {Bool(false), VT_I8, S_OK, I8(0)},
        {I4(7), VT_BOOL, S_OK, Bool(true)},
        {R8(0.0), VT_BOOL, S_OK, Bool(false)},
        {R8(0.25), VT_BOOL, S_OK, Bool(true)},
        {Bool(true), VT_BSTR, S_OK, Str(u"True")},
        {Bool(false), VT_BSTR, S_OK, Str(u"False")},
        {I4(-42), VT_BSTR, S_OK, Str(u"-42")},
        {UI8(std::numeric_limits<ULONGLONG>::max()), VT_BSTR, S_OK, Str(u"18446744073709551615")},
        {I1(-7), VT_BSTR, S_OK, Str(u"-7")},
        {R8(1.5), VT_BSTR, S_OK, Str(u"1.5")},
        {R8(0.1), VT_BSTR, S_OK, Str(u"0.1")},
        {R8(-0.0), VT_BSTR, S_OK, Str(u"0")},
        {R8(1e20), VT_BSTR, S_OK, Str(u"1E+20")},
        {R4(0.1f), VT_BSTR, S_OK, Str(u"0.1")},
        {Variant(), VT_I4, S_OK, I4(0)},
        {Variant(), VT_BSTR, S_OK, Str(u"")},
        {Variant(), VT_BOOL, S_OK, Bool(false)},
        {Variant(), VT_R8, S_OK, R8(0)},
        {I4(5), VT_EMPTY, S_OK, Variant()},
    });
}

TEST(VariantChangeType, NullErrorAndUnsupportedTypes) {
    RunCases({
        {Null(), VT_I4, kMismatch, {}},
        {Null(), VT_BSTR, kMismatch, {}},
        {Null(), VT_BOOL, kMismatch, {}},
        {Null(), VT_EMPTY, S_OK, Variant()},
        {Null(), VT_NULL, S_OK, Null()},
        {I4(1), VT_NULL, kMismatch, {}},
        {Err(E_FAIL), VT_I4, S_OK, I4(E_FAIL)},
        {I4(E_FAIL), VT_ERROR, S_OK, Err(E_FAIL)},
        {Err(E_FAIL), VT_I2, kMismatch, {}},
        {Err(E_FAIL), VT_BSTR, kMismatch, {}},
        {I2(5), VT_ERROR, kMismatch, {}},
        {I4(1), VT_VARIANT, DISP_E_BADVARTYPE, {}},
        {I4(1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE, {}},
        {I4(1), VT_ARRAY | VT_UI1, kMismatch, {}},
        {I4(1), VT_DATE, kMismatch, {}},
    });
}

TEST(VariantChangeType, FollowsReferences) {
    LONG value = 12;
    Variant ref = Make(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &value; });
    Variant inner = Str(u"34");
    Variant refVariant = Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &inner; });
    RunCases({
        {ref, VT_BSTR, S_OK, Str(u"12")},
        {refVariant, VT_I4, S_OK, I4(34)},
        {Make(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = nullptr; }), VT_I4, E_INVALIDARG, {}},
    });
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(Same(inner, Str(u"34")));
}

TEST(VariantChangeType, ConvertsInPlaceWithoutLeaking) {
    Variant v = Str(u"12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_TRUE(Same(v, I4(12)));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(Same(v, Str(u"12")));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(Same(v, Str(u"12")));
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_UI1), S_OK);
    Variant bad = Str(u"x");
    EXPECT_EQ(VariantChangeType(&bad, &bad, 0, VT_I4), kMismatch);
    EXPECT_TRUE(Same(bad, Str(u"x")));
    EXPECT_EQ(VariantChangeType(nullptr, &bad, 0, VT_I4), E_INVALIDARG);
    bad.vt = 0x0FFF;  // not a type
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &bad, 0, VT_I4), DISP_E_BADVARTYPE);
    bad.vt = VT_BSTR;  // restored, so its text is freed
    EXPECT_EQ(VariantChangeType(&bad, nullptr, 0, VT_I4), E_INVALIDARG);
}

// An object that answers IDispatch; every other call is unused.
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
        Variant unk = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = object->Unknown(); });
        unk.punkVal->AddRef();
        Variant out;
        ASSERT_EQ(VariantChangeType(&out, &unk, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(out.vt, VT_DISPATCH);
        EXPECT_EQ(out.pdispVal, static_cast<IDispatch*>(object.Get()));
        EXPECT_EQ(VariantChangeType(&out, &out, 0, VT_UNKNOWN), S_OK);
        EXPECT_EQ(VariantChangeType(&out, &unk, 0, VT_I4), kMismatch);
        EXPECT_EQ(VariantChangeType(&out, &unk, 0, VT_BSTR), kMismatch);

        velk::ComPtr<ICreateErrorInfo> plain;
        ASSERT_EQ(CreateErrorInfo(plain.Put()), S_OK);
        Variant noDispatch = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = plain.Get(); });
        plain->AddRef();
        Variant kept = Str(u"kept");
        EXPECT_EQ(VariantChangeType(&kept, &noDispatch, 0, VT_DISPATCH), E_NOINTERFACE);
        EXPECT_TRUE(Same(kept, Str(u"kept")));

        Variant nothing = Make(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = nullptr; });
        ASSERT_EQ(VariantChangeType(&out, &nothing, 0, VT_DISPATCH), S_OK);
        EXPECT_EQ(out.pdispVal, nullptr);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

TEST(VariantCopy, DeepCopiesTextAndArraysAndCopiesReferencesAsPointers) {
    const OLECHAR text[] = {u'x', 0, u'y'};
    Variant source(std::u16string_view(text, 3));
    Variant copy(source);
    ASSERT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringLen(copy.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(copy.bstrVal, text, sizeof text), 0);

    Variant odd = Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocStringByteLen("abc", 3); });
    Variant oddCopy(odd);
    EXPECT_EQ(SysStringByteLen(oddCopy.bstrVal), 3u);

    Variant array = Make(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_UI1, 0, 4); });
    static_cast<BYTE*>(array.parray->pvData)[2] = 7;
    Variant arrayCopy(array);
    ASSERT_NE(arrayCopy.parray, array.parray);
    EXPECT_EQ(static_cast<BYTE*>(arrayCopy.parray->pvData)[2], 7);

    LONG value = 1;
    Variant ref = Make(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &value; });
    Variant refCopy(ref);
    EXPECT_EQ(refCopy.plVal, &value);
    EXPECT_EQ(VariantClear(&refCopy), S_OK);  // owns nothing
    EXPECT_EQ(value, 1);

    EXPECT_EQ(VariantCopy(nullptr, &ref), E_INVALIDARG);
    Variant bad = Make(0x0FFF, [](VARIANT&) {});
    Variant target = Str(u"t");
    EXPECT_EQ(VariantCopy(&target, &bad), DISP_E_BADVARTYPE);
    EXPECT_TRUE(Same(target, Str(u"t")));
    bad.vt = VT_EMPTY;
}

TEST(VariantCopyInd, FollowsChainsToABoundedDepth) {
    BSTR shared = SysAllocString(u"deep");
    Variant inner = Make(VT_BYREF | VT_BSTR, [&](VARIANT& v) { v.pbstrVal = &shared; });
    Variant middle = Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &inner; });
    Variant outer = Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &middle; });
    Variant out;
    ASSERT_EQ(VariantCopyInd(&out, &outer), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_NE(out.bstrVal, shared);
    EXPECT_TRUE(Same(out, Str(u"deep")));
    SysFreeString(shared);

    Variant cycle;
    cycle.vt = VT_BYREF | VT_VARIANT;
    cycle.pvarVal = &cycle;
    EXPECT_EQ(VariantCopyInd(&out, &cycle), E_INVALIDARG);
    EXPECT_TRUE(Same(out, Str(u"deep")));
    cycle.vt = VT_EMPTY;

    LONG n = 5;
    Variant self = Make(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &n; });
    ASSERT_EQ(VariantCopyInd(&self, &self), S_OK);
    EXPECT_TRUE(Same(self, I4(5)));
}

TEST(VariantClear, ReleasesOwnedValuesAndRefusesLockedArrays) {
    const long before = velk::rt::LiveObjectCount();
    {
        Variant v = Make(VT_UNKNOWN, [](VARIANT& x) { x.punkVal = nullptr; });
        ICreateErrorInfo* record = nullptr;
        ASSERT_EQ(CreateErrorInfo(&record), S_OK);
        v.punkVal = record;  // the VARIANT owns this reference
        EXPECT_EQ(VariantClear(&v), S_OK);
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);

    Variant array = Make(VT_ARRAY | VT_I4, [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_I4, 0, 2); });
    ASSERT_EQ(SafeArrayLock(array.parray), S_OK);
    EXPECT_EQ(VariantClear(&array), static_cast<HRESULT>(0x8002000Du));
    EXPECT_EQ(array.vt, VT_ARRAY | VT_I4);
    ASSERT_EQ(SafeArrayUnlock(array.parray), S_OK);
    EXPECT_EQ(VariantClear(&array), S_OK);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

}  // namespace
