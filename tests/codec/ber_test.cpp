// BER elements written back to front by BerBuffer and read front to back by BerReader.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/ber_reader.h"
#include "codec/ber_writer.h"

namespace velk::codec {
namespace {

using Bytes = std::vector<uint8_t>;

// "02 01 FF" -> {0x02, 0x01, 0xFF}
Bytes Hex(std::string_view text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ') continue;
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
        ++i;
    }
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Encoded(const BerBuffer& buffer) {
    const auto view = buffer.Encoded();
    return Bytes(view.begin(), view.end());
}

Bytes Encode(const std::function<void(BerBuffer&)>& write) {
    BerBuffer buffer;
    buffer.Begin();
    write(buffer);
    return Encoded(buffer);
}

std::u16string Widen(std::string_view text) {
    std::u16string wide;
    for (const char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return wide;
}

struct ElementCase {
    const char* name;
    std::function<void(BerBuffer&)> write;  // content, length, then tag
    const char* bytes;
};

TEST(BerEncoding, ElementsHaveTheirShortestForm) {
    const ElementCase cases[] = {
        {"INTEGER 0", [](BerBuffer& b) { b.PutInteger(0); b.PutByte(0x02); }, "02 01 00"},
        {"INTEGER -1", [](BerBuffer& b) { b.PutInteger(-1); b.PutByte(0x02); }, "02 01 FF"},
        {"INTEGER 128", [](BerBuffer& b) { b.PutInteger(128); b.PutByte(0x02); }, "02 02 00 80"},
        {"INTEGER -128", [](BerBuffer& b) { b.PutInteger(-128); b.PutByte(0x02); }, "02 01 80"},
        {"INTEGER -129", [](BerBuffer& b) { b.PutInteger(-129); b.PutByte(0x02); }, "02 02 FF 7F"},
        {"INTEGER -32769", [](BerBuffer& b) { b.PutInteger(-32769); b.PutByte(0x02); }, "02 03 FF 7F FF"},
        {"INTEGER 8388608", [](BerBuffer& b) { b.PutInteger(8388608); b.PutByte(0x02); }, "02 04 00 80 00 00"},
        {"INTEGER -8388609", [](BerBuffer& b) { b.PutInteger(-8388609); b.PutByte(0x02); }, "02 04 FF 7F FF FF"},
        {"INTEGER max", [](BerBuffer& b) { b.PutInteger(2147483647); b.PutByte(0x02); }, "02 04 7F FF FF FF"},
        {"INTEGER min", [](BerBuffer& b) { b.PutInteger(std::numeric_limits<int32_t>::min()); b.PutByte(0x02); },
         "02 04 80 00 00 00"},
        {"Counter32 0", [](BerBuffer& b) { b.PutUnsigned(0); b.PutByte(0x41); }, "41 01 00"},
        {"Counter32 128", [](BerBuffer& b) { b.PutUnsigned(128); b.PutByte(0x41); }, "41 02 00 80"},
        {"TimeTicks max", [](BerBuffer& b) { b.PutUnsigned(4294967295u); b.PutByte(0x43); },
         "43 05 00 FF FF FF FF"},
        {"Counter64 2^32", [](BerBuffer& b) { b.PutUnsigned64(4294967296u); b.PutByte(0x46); },
         "46 05 01 00 00 00 00"},
        {"Counter64 2^63", [](BerBuffer& b) { b.PutUnsigned64(9223372036854775808u); b.PutByte(0x46); },
         "46 09 00 80 00 00 00 00 00 00 00"},
        {"Counter64 max", [](BerBuffer& b) { b.PutUnsigned64(std::numeric_limits<uint64_t>::max()); b.PutByte(0x46); },
         "46 09 00 FF FF FF FF FF FF FF FF"},
        {"NULL", [](BerBuffer& b) { b.PutLength(0); b.PutByte(0x05); }, "05 00"},
        {"noSuchInstance", [](BerBuffer& b) { b.PutLength(0); b.PutByte(0x81); }, "81 00"},
        {"OCTET STRING", [](BerBuffer& b) { b.PutBytes(Hex("00 61 FF")); b.PutByte(0x04); }, "04 03 00 61 FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.write), Hex(c.bytes)) << c.name;
}

TEST(BerEncoding, LengthsUseTheFewestBytes) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0, "00"}, {127, "7F"}, {128, "81 80"}, {200, "81 C8"}, {255, "81 FF"},
        {256, "82 01 00"}, {65535, "82 FF FF"}, {65536, "83 01 00 00"},
        {16777216, "84 01 00 00 00"}, {4294967295u, "84 FF FF FF FF"},
    };
    for (const auto& c : cases) {
        const uint32_t length = c.first;
        const Bytes encoded = Hex(c.second);
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutLength(length); }), encoded) << length;
        BerReader reader(encoded.data(), encoded.size());
        EXPECT_EQ(reader.GetLength(), length);
        EXPECT_TRUE(reader.AtEnd());
    }
}

struct OidCase {
    std::string_view text;
    const char* bytes;  // length and content
};

TEST(BerEncoding, OidTextBecomesSubidentifiers) {
    const OidCase cases[] = {
        {"1.3.6.1.2.1", "05 2B 06 01 02 01"},
        {"2.100.3", "03 81 34 03"},
        {"2.999", "02 88 37"},
        {"0.0", "01 00"},
        {"1", "01 28"},
        {"1.3.6.1.128", "05 2B 06 01 81 00"},
        {"1.3.4294967295", "06 2B 8F FF FF FF 7F"},
        {"1.3.4294967296", "06 2B 90 80 80 80 00"},
        {"1.3.18446744073709551615", "0B 2B 81 FF FF FF FF FF FF FF FF 7F"},
        {"1.3.18446744073709551616", "0B 2B 81 FF FF FF FF FF FF FF FF 7F"},
        {"1.3.99999999999999999999999", "0B 2B 81 FF FF FF FF FF FF FF FF 7F"},
        {"", "00"},
        {".", "00"},
        {".1.3.6.1", "03 2B 06 01"},
        {"1..3", "02 28 03"},
        {"1.3.", "02 2B 00"},
        {"1.3.6x.1", "03 2B 06 01"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutOid(c.text); }), Hex(c.bytes)) << c.text;
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutOid(Widen(c.text)); }), Hex(c.bytes)) << c.text;
    }
    // Characters outside the code page read as '?': neither a digit nor a dot, even when
    // their low byte is one.
    EXPECT_EQ(Encode([](BerBuffer& b) { b.PutOid(std::u16string_view(u"1.3.6\u0131")); }), Hex("02 2B 06"));
    EXPECT_EQ(Encode([](BerBuffer& b) { b.PutOid(std::u16string_view(u"1.3\u012E6")); }), Hex("01 2B"));
}

// Pieces of plain digits and pieces that need the general reading (here: white space in
// front of each) give the same sub-identifiers.
TEST(BerEncoding, PlainAndOddPiecesReadAlike) {
    std::string many = "1.3";
    for (int i = 0; i < 300; ++i) many += ".5";
    const std::string texts[] = {"1.3.6.1.2.1", "2.100.3", "1", "0.0", "1.3.", "1..3", "2.999",
                                 "1.3.4294967296", "9999999999999999999", "2.9999999999999999999",
                                 "1.3.6.1.4.1.8072.3.2.10", many};
    for (const std::string& text : texts) {
        std::string odd = " ";
        for (const char c : text) {
            odd += c;
            if (c == '.') odd += ' ';
        }
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutOid(odd); }), Encode([&](BerBuffer& b) { b.PutOid(text); }))
            << text;
    }
}

TEST(BerEncoding, IpAddressTextGivesOneBytePerPart) {
    const OidCase cases[] = {
        {"192.168.0.1", "04 C0 A8 00 01"},
        {"10.0.1", "03 0A 00 01"},
        {"", "00"},
        {"256.-1.300.1", "04 00 FF 2C 01"},
        {"1..2", "03 01 00 02"},
        {" 7.8", "02 07 08"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutIpAddress(c.text); }), Hex(c.bytes)) << c.text;
        EXPECT_EQ(Encode([&](BerBuffer& b) { b.PutIpAddress(Widen(c.text)); }), Hex(c.bytes)) << c.text;
    }
}

TEST(BerDecoding, OidContentBecomesText) {
    const OidCase cases[] = {
        {"1.3.6.1.2.1.1.3.0", "08 2B 06 01 02 01 01 03 00"},
        {"0.0", "01 00"},
        {"0.39", "01 27"},
        {"1.0", "01 28"},
        {"1.39", "01 4F"},
        {"2.0", "01 50"},
        {"2.100.3", "03 81 34 03"},
        {"1.3.4294967295", "06 2B 8F FF FF FF 7F"},
        {"1.3.0", "06 2B 90 80 80 80 00"},  // sub-identifiers keep 32 bits
        {"2.4294967215", "05 8F FF FF FF 7F"},
        {"", "00"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Concat(Hex(c.bytes), {0x99});
        BerReader reader(bytes.data(), bytes.size());
        std::string text = "stale";
        ASSERT_TRUE(reader.GetOidText(text)) << c.bytes;
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(reader.GetByte(), 0x99) << "position after the OID";
        BerReader wide(bytes.data(), bytes.size());
        std::u16string wideText;
        ASSERT_TRUE(wide.GetOidText(wideText));
        EXPECT_EQ(wideText, Widen(c.text));
    }
}

TEST(BerDecoding, IpAddressAlwaysRendersFourNumbers) {
    const OidCase cases[] = {
        {"192.168.0.1", "04 C0 A8 00 01"},
        {"255.255.255.255", "04 FF FF FF FF"},
        {"10.0.1.0", "03 0A 00 01"},
        {"0.0.0.0", "00"},
        {"1.2.3.4", "05 01 02 03 04 05"},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Concat(Hex(c.bytes), {0x99});
        BerReader reader(bytes.data(), bytes.size());
        std::u16string text;
        ASSERT_TRUE(reader.GetIpAddressText(text));
        EXPECT_EQ(text, Widen(c.text));
        EXPECT_EQ(reader.GetByte(), 0x99) << "position after the whole content";
    }
}

TEST(BerDecoding, NumbersKeepTheirLowOrderBytes) {
    struct Case {
        const char* bytes;
        std::optional<int32_t> integer;
        std::optional<uint32_t> unsigned32;
        std::optional<uint64_t> unsigned64;
    };
    const Case cases[] = {
        {"00", 0, 0u, 0u},
        {"01 FF", -1, 255u, 255u},
        {"02 FF 7F", -129, 65407u, 65407u},
        {"02 00 80", 128, 128u, 128u},
        {"04 80 00 00 00", std::numeric_limits<int32_t>::min(), 2147483648u, 2147483648u},
        {"05 00 FF FF FF FF", -1, 4294967295u, 4294967295u},
        {"05 01 80 00 00 00", std::numeric_limits<int32_t>::min(), 2147483648u, 6442450944u},
        {"09 00 FF FF FF FF FF FF FF FF", -1, 4294967295u, std::numeric_limits<uint64_t>::max()},
        {"0A 01 02 03 04 05 06 07 08 09 0A", 0x0708090A, 0x0708090Au, 0x030405060708090Au},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Hex(c.bytes);
        EXPECT_EQ(BerReader(bytes.data(), bytes.size()).GetInteger(), c.integer) << c.bytes;
        EXPECT_EQ(BerReader(bytes.data(), bytes.size()).GetUnsigned(), c.unsigned32) << c.bytes;
        EXPECT_EQ(BerReader(bytes.data(), bytes.size()).GetUnsigned64(), c.unsigned64) << c.bytes;
    }
}

enum class Op { Byte, Length, Bytes, Integer, Unsigned, Unsigned64, Oid, IpAddress };

bool Read(BerReader& reader, Op op) {
    std::string text;
    switch (op) {
        case Op::Byte: return reader.GetByte().has_value();
        case Op::Length: return reader.GetLength().has_value();
        case Op::Bytes: return reader.GetBytes().has_value();
        case Op::Integer: return reader.GetInteger().has_value();
        case Op::Unsigned: return reader.GetUnsigned().has_value();
        case Op::Unsigned64: return reader.GetUnsigned64().has_value();
        case Op::Oid: return reader.GetOidText(text);
        case Op::IpAddress: return reader.GetIpAddressText(text);
    }
    return false;
}

TEST(BerDecoding, MalformedInputFailsWithoutMoving) {
    const Bytes numberOf128 = Concat(Hex("81 80"), Bytes(128, 0));
    struct Case {
        const char* name;
        Bytes bytes;
        Op op;
    };
    const Case cases[] = {
        {"nothing left", {}, Op::Byte},
        {"indefinite length", Hex("80 00"), Op::Length},
        {"five length bytes", Hex("85 00 00 00 00 01"), Op::Length},
        {"length bytes cut short", Hex("82 01"), Op::Length},
        {"content cut short", Hex("03 01 02"), Op::Bytes},
        {"content beyond a 4-byte length", Hex("84 FF FF FF FF 00"), Op::Bytes},
        {"INTEGER cut short", Hex("02 01"), Op::Integer},
        {"INTEGER of 128 bytes", numberOf128, Op::Integer},
        {"Counter64 of 128 bytes", numberOf128, Op::Unsigned64},
        {"Counter64 cut short", Hex("09 00 FF"), Op::Unsigned64},
        {"unterminated sub-identifier", Hex("02 2B 86"), Op::Oid},
        {"lone continuation byte", Hex("01 80"), Op::Oid},
        {"OID cut short", Hex("03 2B 06"), Op::Oid},
        {"IpAddress cut short", Hex("04 0A 00"), Op::IpAddress},
    };
    for (const auto& c : cases) {
        // A sub-range: the byte after it must never be read.
        Bytes padded = Concat(c.bytes, {0x01});
        BerReader reader(padded.data(), c.bytes.size());
        EXPECT_FALSE(Read(reader, c.op)) << c.name;
        EXPECT_EQ(reader.Position(), 0u) << c.name;
    }
    // The longest number content accepted.
    const Bytes numberOf127 = Concat(Hex("7F"), Bytes(127, 0xFF));
    EXPECT_EQ(BerReader(numberOf127.data(), numberOf127.size()).GetInteger(), -1);
}

// A list of VarBind-like sequences, written as the message encoder writes them: value, name,
// then the sequence's length (since the saved mark) and tag; then the list's length and tag.
void EncodeList(BerBuffer& buffer, int count) {
    buffer.Begin();
    for (int i = count; i >= 1; --i) {
        buffer.Mark();
        buffer.PutBytes(Bytes(static_cast<std::size_t>(i % 300), static_cast<uint8_t>(i)));
        buffer.PutByte(0x04);
        buffer.PutOid("1.3.6.1.2.1.2.2.1.2." + std::to_string(i));
        buffer.PutByte(0x06);
        buffer.PutLength(static_cast<uint32_t>(buffer.SinceMark()));
        buffer.PutByte(0x30);
    }
    buffer.PutLength(static_cast<uint32_t>(buffer.Size()));
    buffer.PutByte(0x30);
}

TEST(BerBuffer, GrowingKeepsTheEncodingIntact) {
    constexpr int kCount = 400;  // about 57 kB: several growth steps
    BerBuffer grown;
    EncodeList(grown, kCount);
    EXPECT_GT(grown.Size(), 6 * BerBuffer::kBlockStep);
    const Bytes first = Encoded(grown);

    // The same buffer, now large enough, encodes the list again without growing.
    const std::size_t capacity = grown.Capacity();
    EncodeList(grown, kCount);
    EXPECT_EQ(grown.Capacity(), capacity);
    EXPECT_EQ(Encoded(grown), first);

    // Every sequence's length ends where the next one begins.
    BerReader list(first.data(), first.size());
    ASSERT_EQ(list.GetByte(), 0x30);
    const auto total = list.GetLength();
    ASSERT_EQ(total, list.Remaining());
    for (int i = 1; i <= kCount; ++i) {
        ASSERT_EQ(list.GetByte(), 0x30) << i;
        const auto length = list.GetLength();
        ASSERT_TRUE(length);
        const std::size_t end = list.Position() + *length;
        std::string oid;
        ASSERT_EQ(list.GetByte(), 0x06);
        ASSERT_TRUE(list.GetOidText(oid));
        EXPECT_EQ(oid, "1.3.6.1.2.1.2.2.1.2." + std::to_string(i));
        ASSERT_EQ(list.GetByte(), 0x04);
        ASSERT_TRUE(list.GetBytes());
        ASSERT_EQ(list.Position(), end) << i;
    }
    EXPECT_TRUE(list.AtEnd());
}

TEST(BerBuffer, GrowsInBlockStepsAndNeverShrinks) {
    BerBuffer buffer;
    EXPECT_EQ(buffer.Capacity(), 0u);
    buffer.Begin();
    EXPECT_EQ(buffer.Capacity(), BerBuffer::kBlockStep);

    buffer.PutBytes(Bytes(100, 1));
    buffer.Mark();
    const std::size_t marked = buffer.Size();
    buffer.PutBytes(Bytes(20000, 2));  // several steps in one write
    EXPECT_EQ(buffer.Capacity(), 3 * BerBuffer::kBlockStep);
    EXPECT_EQ(buffer.SavedMark(), marked);
    EXPECT_EQ(buffer.SinceMark(), 20000u + 3);
    const Bytes encoded = Encoded(buffer);
    EXPECT_EQ(Bytes(encoded.end() - 101, encoded.end()), Concat({100}, Bytes(100, 1)));

    buffer.Begin();
    EXPECT_TRUE(buffer.Encoded().empty());
    EXPECT_EQ(buffer.SinceMark(), 0u);
    EXPECT_EQ(buffer.Capacity(), 3 * BerBuffer::kBlockStep);
}

}  // namespace
}  // namespace velk::codec
