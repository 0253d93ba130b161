// Byte access to VARIANTs: what each type gives, array locking, reference chains, and what
// writing leaves in the VARIANT.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "model/velk_variant.h"
#include "model_support.h"

namespace velk::model {
namespace {

using Bytes = std::vector<uint8_t>;

Variant ByteArray(const Bytes& bytes) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    return v;
}

TEST(VelkVariant, ReadingGivesTextOneByteAndByteArraysDirectlyOrByReference) {
    Variant text(std::u16string_view(u"AB\u0100\u00ff")), array = ByteArray({1, 2, 3}), one = testing::Of(VT_UI1, 9);
    Variant number = testing::I4(5), empty;
    VARIANT byRefText = testing::Of(VT_BYREF | VT_BSTR, 0), byRefArray = testing::Of(VT_BYREF | VT_ARRAY | VT_UI1, 0);
    byRefText.pbstrVal = &text.bstrVal;
    byRefArray.pparray = &array.parray;
    VARIANT nullRef = testing::RefTo(nullptr);
    struct Case {
        const VARIANT* v;
        size_t max;
        bool ok;
        Bytes expected;
    } cases[] = {
        {&text, CVelkVariant::kNoLimit, true, {'A', 'B', '?', 0xFF}},
        {&text, 2, true, {'A', 'B'}},
        {&byRefText, CVelkVariant::kNoLimit, true, {'A', 'B', '?', 0xFF}},
        {&one, CVelkVariant::kNoLimit, true, {9}},
        {&array, 1, true, {1}},
        {&byRefArray, CVelkVariant::kNoLimit, true, {1, 2, 3}},
        {&number, CVelkVariant::kNoLimit, false, {}},
        {&empty, CVelkVariant::kNoLimit, false, {}},
        {&nullRef, CVelkVariant::kNoLimit, false, {}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        CVelkVariant b;
        EXPECT_EQ(b.Read(*cases[i].v, cases[i].max), cases[i].ok) << i;
        EXPECT_EQ(Bytes(b.Data(), b.Data() + b.Size()), cases[i].expected) << i;
    }
    // Reference chains are followed to a fixed depth.
    std::vector<VARIANT> chain(CVelkVariant::kMaxIndirection + 1);
    for (size_t i = 0; i < chain.size(); ++i) chain[i] = testing::RefTo(i + 1 < chain.size() ? &chain[i + 1] : &text);
    CVelkVariant b;
    EXPECT_TRUE(b.Read(chain[1]));
    EXPECT_FALSE(b.Read(chain[0]));
}

TEST(VelkVariant, AnArrayIsLockedWhileBoundAndWritingKeepsTheBytesUsed) {
    Variant text(std::u16string_view(u"old"));
    CVelkVariant w;
    std::memcpy(w.Write(&text, 4), "a\0\xE9z", 4);
    EXPECT_EQ(w.Commit(3), S_OK);
    EXPECT_EQ(std::u16string_view(text.bstrVal, SysStringLen(text.bstrVal)), std::u16string_view(u"a\0\u00e9", 3));

    // A two-dimensional array counts every dimension and stays locked while bound.
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}};
    Variant array = testing::Of(VT_ARRAY | VT_UI1, 0);
    array.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    ASSERT_TRUE(w.Read(array));
    EXPECT_EQ(w.Size(), 6u);
    EXPECT_TRUE(FAILED(SafeArrayDestroy(array.parray)));
    std::memcpy(w.Write(&array, 5), "\x01\x02\x03", 3);
    EXPECT_EQ(w.Commit(3), S_OK);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(array.parray, 1, &lower);
    SafeArrayGetUBound(array.parray, 1, &upper);
    EXPECT_EQ(SafeArrayGetDim(array.parray), 1u);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(array.parray->cLocks, 0u);
    EXPECT_EQ(std::memcmp(array.parray->pvData, "\x01\x02\x03", 3), 0);

    // One byte: the VARIANT's own, here at the end of a reference chain.
    BYTE target = 0;
    VARIANT byRef = testing::Of(VT_BYREF | VT_UI1, 0);
    byRef.pbVal = &target;
    VARIANT outer = testing::RefTo(&byRef);
    *w.Write(&outer, 10) = 0x5A;
    EXPECT_EQ(w.Size(), 1u);
    w.Unbind();
    EXPECT_EQ(target, 0x5A);
}

TEST(VelkVariant, WritingRefusesWhatCannotHoldBytesAndLeavesItUnchanged) {
    Variant number = testing::I4(5), locked = ByteArray({1, 2});
    SAFEARRAY* before = locked.parray;
    SafeArrayLock(before);
    CVelkVariant w;
    EXPECT_EQ(w.Write(&number, 3), nullptr);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(w.Write(&locked, 3), nullptr);
    EXPECT_EQ(locked.parray, before);
    SafeArrayUnlock(before);
}

}  // namespace
}  // namespace velk::model
