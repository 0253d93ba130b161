#include <gtest/gtest.h>

#include <cstring>

#include "runtime/object.h"
#include "runtime/placed_array.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

constexpr HRESULT kLocked = static_cast<HRESULT>(0x8002000Du);

TEST(SafeArray, BoundsAreCheckedInEveryDimension) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};  // first dimension 0..1, second 10..12
    SAFEARRAY* psa = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(psa, nullptr);
    EXPECT_EQ(SafeArrayGetDim(psa), 2u);
    LONG lb = 0, ub = 0;
    EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(psa, 2, &ub), S_OK);
    EXPECT_EQ(lb, 10);
    EXPECT_EQ(ub, 12);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
    EXPECT_EQ(ub, 1);
    EXPECT_EQ(SafeArrayGetLBound(psa, 0, &lb), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(psa, 3, &ub), DISP_E_BADINDEX);

    // The first dimension varies fastest.
    for (LONG j = 10; j <= 12; ++j) {
        for (LONG i = 0; i <= 1; ++i) {
            LONG at[2] = {i, j};
            LONG value = j * 10 + i;
            ASSERT_EQ(SafeArrayPutElement(psa, at, &value), S_OK);
        }
    }
    EXPECT_EQ(static_cast<LONG*>(psa->pvData)[1], 101);
    EXPECT_EQ(static_cast<LONG*>(psa->pvData)[2], 110);

    struct Index {
        LONG i, j;
        HRESULT hr;
    } cases[] = {{0, 10, S_OK}, {1, 12, S_OK}, {-1, 10, DISP_E_BADINDEX}, {2, 10, DISP_E_BADINDEX},
                 {0, 9, DISP_E_BADINDEX}, {0, 13, DISP_E_BADINDEX}, {0, LONG(0x80000000u), DISP_E_BADINDEX}};
    for (const Index& c : cases) {
        LONG at[2] = {c.i, c.j};
        LONG value = -1;
        EXPECT_EQ(SafeArrayGetElement(psa, at, &value), c.hr) << c.i << "," << c.j;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(value, c.j * 10 + c.i);
        }
        EXPECT_EQ(SafeArrayPutElement(psa, at, &value), c.hr);
    }
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, LocksPreventDestroyAndRedim) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 1, 4);
    ASSERT_NE(psa, nullptr);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(data, psa->pvData);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    SAFEARRAYBOUND bigger{8, 1};
    EXPECT_EQ(SafeArrayRedim(psa, &bigger), kLocked);
    EXPECT_EQ(SafeArrayDestroy(psa), kLocked);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayRedim(psa, &bigger), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, RedimKeepsDataAndReleasesRemovedElements) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(psa, nullptr);
    const char16_t* texts[] = {u"a", u"b", u"c"};
    for (LONG i = 0; i < 3; ++i) {
        velk::Bstr text(texts[i]);
        ASSERT_EQ(SafeArrayPutElement(psa, &i, text.Get()), S_OK);  // stores a copy
    }
    SAFEARRAYBOUND grown{5, 0};
    ASSERT_EQ(SafeArrayRedim(psa, &grown), S_OK);
    LONG ub = 0;
    SafeArrayGetUBound(psa, 1, &ub);
    EXPECT_EQ(ub, 4);
    auto* items = static_cast<BSTR*>(psa->pvData);
    EXPECT_EQ(velk::Bstr(items[2]).View(), u"c");
    EXPECT_EQ(items[4], nullptr);

    SAFEARRAYBOUND shrunk{1, 0};
    ASSERT_EQ(SafeArrayRedim(psa, &shrunk), S_OK);  // frees "b" and "c" (the leak check sees it)
    BSTR first = nullptr;
    LONG zero = 0;
    ASSERT_EQ(SafeArrayGetElement(psa, &zero, &first), S_OK);
    EXPECT_EQ(velk::Bstr::Adopt(first).View(), u"a");

    SAFEARRAYBOUND huge{0xFFFFFFFFu, -0x7FFFFFFF};
    EXPECT_EQ(SafeArrayRedim(psa, &huge), E_OUTOFMEMORY);
    SafeArrayGetUBound(psa, 1, &ub);
    EXPECT_EQ(ub, 0);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(SafeArray, CopyIsDeep) {
    const long before = velk::rt::LiveObjectCount();
    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    velk::Variant text(std::u16string_view(u"v"));
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(variants, &i, &text), S_OK);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(variants, &copy), S_OK);
    auto* from = static_cast<VARIANT*>(variants->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(copy, &vt), S_OK);
    EXPECT_EQ(vt, VT_VARIANT);
    EXPECT_NE(to[1].bstrVal, from[1].bstrVal);
    EXPECT_EQ(VarBstrCmp(to[1].bstrVal, from[1].bstrVal, 0, 0), 1);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);

    SAFEARRAY* objects = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    velk::ComPtr<ICreateErrorInfo> record;
    ASSERT_EQ(CreateErrorInfo(record.Put()), S_OK);
    i = 0;
    ASSERT_EQ(SafeArrayPutElement(objects, &i, record.Get()), S_OK);
    ASSERT_EQ(SafeArrayCopy(objects, &copy), S_OK);
    record.Reset();
    EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
    EXPECT_EQ(velk::rt::LiveObjectCount(), before + 1);  // the copy still holds a reference
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

TEST(SafeArray, OversizedOrUnrepresentableShapesAreRefused) {
    SAFEARRAYBOUND cube[3] = {{0x10000, 0}, {0x10000, 0}, {0x10000, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, cube), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_R8, -0x7FFFFFFF, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_UI1, 0x7FFFFFFF, 2), nullptr);  // upper bound beyond LONG
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, cube), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 1, nullptr), nullptr);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_NE(empty->pvData, nullptr);
    LONG ub = 0;
    EXPECT_EQ(SafeArrayGetUBound(empty, 1, &ub), S_OK);
    EXPECT_EQ(ub, -1);
    EXPECT_EQ(SafeArrayDestroy(empty), S_OK);
}

TEST(SafeArray, RejectsNullArgumentsAndTypesWithoutElements) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 1);
    LONG index = 0, value = 0;
    void* data = nullptr;
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
    EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetVartype(psa, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayRedim(psa, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCopy(psa, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(psa, nullptr, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    for (VARTYPE vt : {VARTYPE{VT_EMPTY}, VARTYPE{VT_NULL}, VARTYPE(VT_BYREF | VT_I4)})
        EXPECT_EQ(SafeArrayCreateVector(vt, 0, 1), nullptr) << vt;
}

}  // namespace

// A byte vector placed in its owner's memory reads like any other, copies into an owned
// array, and is neither freed nor resized by the array functions.
TEST(SafeArray, PlacedByteVectorOwnsNothing) {
    const uint8_t bytes[] = {1, 2, 3};
    alignas(velk::rt::kPlacedArrayAlignment) unsigned char memory[128];
    ASSERT_LE(velk::rt::PlacedByteVectorBytes(sizeof bytes), sizeof memory);
    SAFEARRAY* placed = velk::rt::PlaceByteVector(memory, bytes, sizeof bytes);
    VARTYPE vt = VT_EMPTY;
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetVartype(placed, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    EXPECT_EQ(SafeArrayGetUBound(placed, 1, &upper), S_OK);
    EXPECT_EQ(upper, 2);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(placed, &copy), S_OK);
    EXPECT_EQ(std::memcmp(copy->pvData, bytes, sizeof bytes), 0);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    SAFEARRAYBOUND grown{8, 0};
    EXPECT_EQ(SafeArrayRedim(placed, &grown), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(placed), S_OK);  // releases nothing: the memory is the caller's
}
