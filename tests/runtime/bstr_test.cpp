#include <gtest/gtest.h>

#include <cstring>

#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

TEST(Bstr, LengthsCountEmbeddedZerosAndTextIsTerminated) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(std::memcmp(b, text, sizeof text), 0);
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);
}

TEST(Bstr, ByteLengthMayBeOddAndIsFollowedByZeros) {
    BSTR b = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    const char* bytes = reinterpret_cast<const char*>(b);
    EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
    EXPECT_EQ(bytes[3], 0);
    EXPECT_EQ(b[2], 0);  // a whole NUL character after the text
    SysFreeString(b);
}

TEST(Bstr, NullSourceGivesTerminatedStorageOfThatLength) {
    BSTR b = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 5u);
    EXPECT_EQ(b[5], 0);
    for (int i = 0; i < 5; ++i) b[i] = u'x';  // the storage is writable
    SysFreeString(b);
}

TEST(Bstr, HugeLengthsFailInsteadOfOverflowing) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);  // 2^32 bytes wraps a 32-bit size
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFAu), nullptr);  // prefix + NUL would wrap
}

TEST(Bstr, ReAllocAcceptsTextFromTheOldString) {
    BSTR b = SysAllocString(u"hello");
    ASSERT_TRUE(SysReAllocString(&b, b + 2));
    EXPECT_EQ(std::u16string_view(b, SysStringLen(b)), u"llo");
    ASSERT_TRUE(SysReAllocString(&b, nullptr));
    EXPECT_EQ(b, nullptr);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(Bstr, CompareIsOrdinalOverTheWholeText) {
    const OLECHAR withZero[] = {u'a', 0};
    velk::Bstr a(u"a"), b(u"b"), upperA(u"A"), ab(u"ab"), empty(u""), aZero(std::u16string_view(withZero, 2));
    struct Case {
        BSTR left, right;
        ULONG flags;
        HRESULT expected;
    } cases[] = {
        {nullptr, empty.Get(), 0, 1}, {nullptr, nullptr, 0, 1}, {a.Get(), b.Get(), 0, 0},
        {b.Get(), a.Get(), 0, 2},     {a.Get(), ab.Get(), 0, 0},  {ab.Get(), a.Get(), 0, 2},
        {a.Get(), aZero.Get(), 0, 0}, {upperA.Get(), a.Get(), 0, 0}, {upperA.Get(), a.Get(), 1, 1},
        {nullptr, a.Get(), 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VarBstrCmp(c.left, c.right, 0, c.flags), c.expected)
            << SysStringLen(c.left) << " vs " << SysStringLen(c.right);
}

}  // namespace
