// Reading numbers from value text (saturating, both character types) and rendering them.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "model/value_text.h"

namespace velk::model {
namespace {

constexpr int32_t kI32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kI32Max = std::numeric_limits<int32_t>::max();
constexpr uint32_t kU32Max = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kU64Max = std::numeric_limits<uint64_t>::max();

// The UTF-16 text of 8-bit text: each byte b becomes U+00bb, as the code page maps it.
std::u16string Widen(std::string_view text) {
    std::u16string wide;
    for (const char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

TEST(ValueText, NumbersSaturateInTheirType) {
    struct Case {
        std::string_view text;
        int32_t signed32;
        uint32_t unsigned32;
        uint64_t unsigned64;
    };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"abc", 0, 0, 0},
        {"- 5", 0, 0, 0},
        {" \t\n\v\f\r42 7", 42, 42, 42},
        {"+5", 5, 5, 5},
        {"0012x", 12, 12, 12},
        {"-1", -1, kU32Max, kU64Max},
        {"-17x", -17, kU32Max - 16, kU64Max - 16},
        {"2147483648", kI32Max, 2147483648u, 2147483648u},
        {"-2147483648", kI32Min, 2147483648u, kU64Max - 2147483647u},
        {"-2147483649", kI32Min, 2147483647u, kU64Max - 2147483648u},
        {"4294967296", kI32Max, kU32Max, 4294967296u},
        {"-4294967295", kI32Min, 1, kU64Max - 4294967294u},
        {"-4294967296", kI32Min, kU32Max, kU64Max - 4294967295u},
        {"18446744073709551615", kI32Max, kU32Max, kU64Max},
        {"18446744073709551616", kI32Max, kU32Max, kU64Max},
        {"-18446744073709551615", kI32Min, kU32Max, 1},
        {"-18446744073709551616", kI32Min, kU32Max, kU64Max},
        {"99999999999999999999999", kI32Max, kU32Max, kU64Max},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadSigned32(c.text), c.signed32) << c.text;
        EXPECT_EQ(ReadUnsigned32(c.text), c.unsigned32) << c.text;
        EXPECT_EQ(ReadUnsigned64(c.text), c.unsigned64) << c.text;
        const std::u16string wide = Widen(c.text);
        EXPECT_EQ(ReadSigned32(wide), c.signed32) << c.text;
        EXPECT_EQ(ReadUnsigned32(wide), c.unsigned32) << c.text;
        EXPECT_EQ(ReadUnsigned64(wide), c.unsigned64) << c.text;
    }
}

// Characters above U+00FF read as '?' would: never a digit, a sign or white space, even
// when their low byte is one.
TEST(ValueText, Utf16CharactersOutsideTheCodePageAreNeverDigits) {
    for (const std::u16string_view text : {u"\u0131", u"\u012D5", u"\u01205", u"\uFF11"}) {
        EXPECT_EQ(ReadSigned32(text), 0);
        EXPECT_EQ(ReadUnsigned64(text), 0u);
    }
    EXPECT_EQ(ReadUnsigned32(std::u16string_view(u"4\u0132")), 4u);
}

TEST(ValueText, RendersDecimalWithoutLeadingZeros) {
    char narrow[kMaxDecimalLength];
    char16_t wide[kMaxDecimalLength];
    for (const int32_t value : {0, 7, -1, -10, kI32Max, kI32Min}) {
        const std::string expected = std::to_string(value);
        EXPECT_EQ(std::string(narrow, RenderSigned(value, narrow)), expected);
        EXPECT_EQ(std::u16string(wide, RenderSigned(value, wide)), Widen(expected));
    }
    // Every digit count, at both of its ends.
    for (uint64_t power = 1;; power *= 10) {
        for (const uint64_t value : {power - 1, power, power + 1, kU64Max / power}) {
            const std::string expected = std::to_string(value);
            EXPECT_EQ(std::string(narrow, RenderUnsigned(value, narrow)), expected);
            EXPECT_EQ(std::u16string(wide, RenderUnsigned(value, wide)), Widen(expected));
        }
        if (power > kU64Max / 10) break;
    }
}

}  // namespace
}  // namespace velk::model
