// Byte access to VARIANTs: what each VARIANT type gives, array locking, reference chains,
// and what writing leaves in the VARIANT.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/velk_variant.h"
#include "model_support.h"

namespace velk::model {
namespace {

using testing::View;

std::vector<uint8_t> Bytes(const CVelkVariant& b) { return {b.Data(), b.Data() + b.Size()}; }

Variant ByteArray(std::vector<uint8_t> bytes) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    return v;
}

TEST(VelkVariant, ReadingGivesTheBytesOfTextOneByteAndByteArrays) {
    BSTR text = SysAllocString(u"AB\u0100\u00ff");
    BYTE byte = 7;
    Variant array = ByteArray({1, 2, 3});
    VARIANT byRefText, byRefByte, byRefArray;
    byRefText.vt = VT_BYREF | VT_BSTR;
    byRefText.pbstrVal = &text;
    byRefByte.vt = VT_BYREF | VT_UI1;
    byRefByte.pbVal = &byte;
    byRefArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byRefArray.pparray = &array.parray;
    Variant textValue(View(text));
    Variant byteValue;
    byteValue.vt = VT_UI1;
    byteValue.bVal = 9;

    struct Case {
        const char* name;
        const VARIANT* v;
        size_t max;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"text, '?' for a character beyond the code page", &textValue, CVelkVariant::kNoLimit, {'A', 'B', '?', 0xFF}},
        {"text cut to the maximum", &textValue, 2, {'A', 'B'}},
        {"text by reference", &byRefText, CVelkVariant::kNoLimit, {'A', 'B', '?', 0xFF}},
        {"one byte", &byteValue, CVelkVariant::kNoLimit, {9}},
        {"one byte by reference", &byRefByte, CVelkVariant::kNoLimit, {7}},
        {"byte array", &array, CVelkVariant::kNoLimit, {1, 2, 3}},
        {"byte array cut to the maximum", &array, 1, {1}},
        {"byte array by reference", &byRefArray, CVelkVariant::kNoLimit, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        CVelkVariant b;
        ASSERT_TRUE(b.Read(*c.v, c.max)) << c.name;
        EXPECT_EQ(Bytes(b), c.expected) << c.name;
    }
    SysFreeString(text);
}

TEST(VelkVariant, OtherTypesAndUnfollowableReferencesGiveNoBytes) {
    Variant number(LONG{5});
    Variant empty;
    VARIANT nullRef;
    nullRef.vt = VT_BYREF | VT_VARIANT;
    nullRef.pvarVal = nullptr;
    VARIANT nullArray;
    nullArray.vt = VT_ARRAY | VT_UI1;
    nullArray.parray = nullptr;
    const VARIANT* cases[] = {&number, &empty, &nullRef, &nullArray};
    for (const VARIANT* v : cases) {
        CVelkVariant b;
        EXPECT_FALSE(b.Read(*v));
        EXPECT_EQ(b.Size(), 0u);
    }
}

TEST(VelkVariant, ReferenceChainsAreFollowedToAFixedDepth) {
    Variant text(std::u16string_view(u"x"));
    // chain[i] refers to chain[i + 1]; the last one refers to the text.
    std::vector<VARIANT> chain(CVelkVariant::kMaxIndirection + 1);
    for (size_t i = 0; i < chain.size(); ++i)
        chain[i] = testing::RefTo(i + 1 < chain.size() ? &chain[i + 1] : &text);
    CVelkVariant b;
    EXPECT_TRUE(b.Read(chain[1])) << "kMaxIndirection links";
    EXPECT_FALSE(b.Read(chain[0])) << "one link more";
}

TEST(VelkVariant, AByteArrayStaysLockedWhileBoundAndCountsEveryDimension) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}};
    Variant array;
    array.vt = VT_ARRAY | VT_UI1;
    array.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    {
        CVelkVariant b;
        ASSERT_TRUE(b.Read(array));
        EXPECT_EQ(b.Size(), 6u);
        EXPECT_TRUE(FAILED(SafeArrayDestroy(array.parray))) << "locked while bound";
    }
    EXPECT_EQ(array.parray->cLocks, 0u);
}

TEST(VelkVariant, WritingTextReplacesTheStringWithTheBytesUsed) {
    Variant v(std::u16string_view(u"old"));
    CVelkVariant w;
    uint8_t* data = w.Write(&v, 4);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(w.Size(), 4u);
    std::memcpy(data, "a\0\xE9z", 4);
    EXPECT_EQ(w.Commit(3), S_OK);
    EXPECT_EQ(View(v.bstrVal), std::u16string_view(u"a\0\u00e9", 3));
}

TEST(VelkVariant, WritingAByteArrayMakesAZeroBasedVectorShrunkToTheBytesUsed) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 1}};
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    {
        CVelkVariant w;
        uint8_t* data = w.Write(&v, 5);
        ASSERT_NE(data, nullptr);
        std::memcpy(data, "\x01\x02\x03", 3);
        EXPECT_EQ(w.Commit(3), S_OK);
    }
    ASSERT_EQ(SafeArrayGetDim(v.parray), 1u);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(v.parray->cLocks, 0u);
    EXPECT_EQ(std::memcmp(v.parray->pvData, "\x01\x02\x03", 3), 0);
}

TEST(VelkVariant, WritingRefusesWhatCannotHoldBytesAndLeavesItUnchanged) {
    Variant number(LONG{5});
    Variant locked = ByteArray({1, 2});
    SAFEARRAY* before = locked.parray;
    SafeArrayLock(before);
    CVelkVariant w;
    EXPECT_EQ(w.Write(&number, 3), nullptr);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(w.Write(&locked, 3), nullptr);
    EXPECT_EQ(locked.parray, before);
    SafeArrayUnlock(before);
}

TEST(VelkVariant, WritingOneByteUsesTheVariantsOwnByteThroughReferences) {
    BYTE target = 0;
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_UI1;
    byRef.pbVal = &target;
    VARIANT outer = testing::RefTo(&byRef);
    CVelkVariant w;
    uint8_t* data = w.Write(&outer, 10);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(w.Size(), 1u);
    *data = 0x5A;
    EXPECT_EQ(w.Commit(1), S_OK);
    EXPECT_EQ(target, 0x5A);
}

}  // namespace
}  // namespace velk::model
