// Reading numbers from value text (saturating, both character types) and rendering them.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "codec/value_text.h"

namespace velk::codec {
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

template <class T>
struct ReadCase {
    std::string_view text;
    T expected;
};

TEST(ValueText, SignedTextClampsToThe32BitRange) {
    const ReadCase<int32_t> cases[] = {
        {"", 0}, {"abc", 0}, {"-", 0}, {"- 5", 0}, {"+-5", 0},
        {"42", 42}, {" \t\n\v\f\r42", 42}, {"+5", 5}, {"-17x", -17}, {"0012", 12},
        {"12 34", 12}, {"1e5", 1},
        {"2147483647", kI32Max}, {"2147483648", kI32Max},
        {"-2147483648", kI32Min}, {"-2147483649", kI32Min},
        {"99999999999999999999999", kI32Max}, {"-99999999999999999999999", kI32Min},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadSigned32(c.text), c.expected) << c.text;
        EXPECT_EQ(ReadSigned32(Widen(c.text)), c.expected) << c.text;
    }
}

TEST(ValueText, UnsignedTextTakesTwosComplementOfNegativesAndClampsAbove) {
    const ReadCase<uint32_t> cases[] = {
        {"", 0}, {" 128", 128}, {"4294967295", kU32Max}, {"4294967296", kU32Max},
        {"-1", kU32Max}, {"-0", 0}, {"-4294967295", 1}, {"-4294967296", kU32Max},
        {"99999999999999999999", kU32Max},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadUnsigned32(c.text), c.expected) << c.text;
        EXPECT_EQ(ReadUnsigned32(Widen(c.text)), c.expected) << c.text;
    }
}

TEST(ValueText, Counter64TextCoversTheFull64BitRange) {
    const ReadCase<uint64_t> cases[] = {
        {"4294967296", 4294967296u},
        {"18446744073709551615", kU64Max},
        {"18446744073709551616", kU64Max},
        {"184467440737095516150", kU64Max},
        {"99999999999999999999999", kU64Max},
        {"-1", kU64Max},
        {"-18446744073709551615", 1},
        {"-18446744073709551616", kU64Max},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadUnsigned64(c.text), c.expected) << c.text;
        EXPECT_EQ(ReadUnsigned64(Widen(c.text)), c.expected) << c.text;
    }
}

// Characters above U+00FF read as '?' would: never a digit, a sign or white space, even
// when their low byte is one.
TEST(ValueText, Utf16CharactersOutsideTheCodePageAreNeverDigits) {
    const std::u16string_view cases[] = {
        u"\u0131",        // low byte '1'
        u"\u012D5",       // low byte '-'
        u"\u01205",       // low byte ' '
        u"\uFF11",        // full-width digit one
    };
    for (const auto text : cases) {
        EXPECT_EQ(ReadSigned32(text), 0);
        EXPECT_EQ(ReadUnsigned32(text), 0u);
        EXPECT_EQ(ReadUnsigned64(text), 0u);
    }
    EXPECT_EQ(ReadSigned32(std::u16string_view(u"4\u0132")), 4);
}

template <class Ch, class T, class Render>
std::basic_string<Ch> Rendered(T value, Render render) {
    Ch buffer[kMaxDecimalLength];
    Ch* end = render(value, buffer);
    return std::basic_string<Ch>(buffer, end);
}

TEST(ValueText, RendersDecimalWithoutLeadingZeros) {
    const std::pair<int32_t, std::string_view> signedCases[] = {
        {0, "0"}, {7, "7"}, {10, "10"}, {-1, "-1"}, {-10, "-10"},
        {kI32Max, "2147483647"}, {kI32Min, "-2147483648"},
    };
    for (const auto& [value, text] : signedCases) {
        EXPECT_EQ(Rendered<char>(value, [](int32_t v, char* o) { return RenderSigned(v, o); }), text);
        EXPECT_EQ(Rendered<char16_t>(value, [](int32_t v, char16_t* o) { return RenderSigned(v, o); }),
                  Widen(text));
    }
    // Every digit count, at both of its ends.
    for (uint64_t power = 1;; power *= 10) {
        for (const uint64_t value : {power - 1, power, power + 1}) {
            const std::string expected = std::to_string(value);
            EXPECT_EQ(Rendered<char>(value, [](uint64_t v, char* o) { return RenderUnsigned(v, o); }), expected);
            EXPECT_EQ(Rendered<char16_t>(value, [](uint64_t v, char16_t* o) { return RenderUnsigned(v, o); }),
                      Widen(expected));
        }
        if (power > kU64Max / 10) break;
    }
    EXPECT_EQ(Rendered<char>(kU64Max, [](uint64_t v, char* o) { return RenderUnsigned(v, o); }),
              "18446744073709551615");
}

}  // namespace
}  // namespace velk::codec
