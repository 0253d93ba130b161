// SnmpMessage: whole messages and value elements exact to the byte, both ways; the header
// and PDU rules of decoding; the error record; the Encode targets; Reset.
#include <gtest/gtest.h>

#include "message_test_support.h"
#include "runtime/registry.h"

namespace velk::codec::testing {
namespace {

using Build = std::function<void(ISnmpMessage*)>;

const std::u16string kSysDescr = u"1.3.6.1.2.1.1.1.0";

struct WholeMessageCase {
    const char* name;
    Build build;
    const char* bytes;
    std::function<void(const Fields&)> fields;  // of the decoded message
    std::vector<VarFields> variables;           // of the decoded message
    bool reencodes = true;                      // the decoded message encodes to the bytes
};

Build Header(LONG type, LONG id, std::vector<VarSpec> vars, LONG exception = 0, LONG index = 0) {
    return [=](ISnmpMessage* m) {
        m->put_Type(static_cast<TypeConstants>(type));
        m->put_Id(id);
        m->put_Community(Bstr(u"").Get());
        m->put_Exception(static_cast<ExceptionConstants>(exception));
        m->put_ExceptionIndex(index);
        AddVariables(m, vars);
    };
}

const std::vector<WholeMessageCase>& WholeMessages() {
    static const std::vector<WholeMessageCase> cases = {
        {"GetRequestV1", Header(32, 1, {{kSysDescr}}),
         "30 20 02 01 00 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00",
         [](const Fields& f) {
             EXPECT_EQ(f.type, 32);
             EXPECT_EQ(f.id, 1);
             EXPECT_EQ(f.community, u"");
         },
         {{kSysDescr, 0}}},
        {"GetRequestV2", Header(64, 1, {{kSysDescr}}),
         "30 20 02 01 01 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00",
         [](const Fields& f) { EXPECT_EQ(f.type, 64); },
         {{kSysDescr, 0}}},
        {"ResponseCarriesErrorStatusAndIndex", Header(34, 1, {{kSysDescr}}, 2, 1),
         "30 20 02 01 00 04 00 A2 19 02 01 01 02 01 02 02 01 01 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00",
         [](const Fields& f) {
             EXPECT_EQ(f.type, 34);
             EXPECT_EQ(f.exception, 2);
             EXPECT_EQ(f.exceptionIndex, 1);
         },
         {{kSysDescr, 0}}},
        {"RequestLeavesErrorStatusZero", Header(32, 1, {{kSysDescr}}, 2, 1),
         "30 20 02 01 00 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00",
         [](const Fields& f) { EXPECT_EQ(f.exception, 0); },
         {{kSysDescr, 0}}},
        {"GetBulkPutsNonRepeatersFirst",
         [](ISnmpMessage* m) {
             Header(69, 5, {{u"1.3.6.1.2.1.1.1.0"}, {u"1.3.6.1.2.1.2.2", 0, u"", 0, true}, {u"1.3.6.1.2.1.1.3.0"}})(m);
             m->put_MaxRepetition(10);
         },
         "30 3B 02 01 01 04 00 A5 34 02 01 05 02 01 02 02 01 0A 30 29 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00 "
         "30 0C 06 08 2B 06 01 02 01 01 03 00 05 00 30 0B 06 07 2B 06 01 02 01 02 02 05 00",
         [](const Fields& f) {
             EXPECT_EQ(f.type, 69);
             EXPECT_EQ(f.maxRepetition, 10);
             EXPECT_EQ(f.exception, 0);
             EXPECT_EQ(f.exceptionIndex, 0);
         },
         {{u"1.3.6.1.2.1.1.1.0", 0}, {u"1.3.6.1.2.1.1.3.0", 0}, {u"1.3.6.1.2.1.2.2", 0, 0, true}}},
        {"TrapV1",
         [](ISnmpMessage* m) {
             Header(36, 0, {})(m);
             m->put_Enterprise(Bstr(u"1.3.6.1.4.1").Get());
             m->put_AgentAddress(Bstr(u"10.0.0.1").Get());
             m->put_UpTime(100);
         },
         "30 1F 02 01 00 04 00 A4 18 06 05 2B 06 01 04 01 40 04 0A 00 00 01 02 01 00 02 01 00 43 01 64 30 00",
         [](const Fields& f) {
             EXPECT_EQ(f.type, 36);
             EXPECT_EQ(f.enterprise, u"1.3.6.1.4.1");
             EXPECT_EQ(f.agentAddress, u"10.0.0.1");
             EXPECT_EQ(f.upTime, 100);
         },
         {}},
        {"TrapV1WithoutAgentAddress",
         [](ISnmpMessage* m) {
             Header(36, 0, {})(m);
             m->put_AgentAddress(Bstr(u"").Get());
             m->put_GenericTrap(snmpEnterpriseSpecific);
             m->put_SpecificTrap(-1);
             m->put_UpTime(-1);
         },
         "30 1A 02 01 00 04 00 A4 13 06 00 40 00 02 01 06 02 01 FF 43 05 00 FF FF FF FF 30 00",
         [](const Fields& f) {
             EXPECT_EQ(f.enterprise, u"");
             EXPECT_EQ(f.agentAddress, u"0.0.0.0");
             EXPECT_EQ(f.genericTrap, 6);
             EXPECT_EQ(f.specificTrap, -1);
             EXPECT_EQ(f.upTime, -1);
         },
         {},
         false},
        {"ExceptionReplacesTheValue", Header(66, 7, {{u"1.3.6.1.2.1.1.1.0", snmpInteger, u"5", 3}}),
         "30 20 02 01 01 04 00 A2 19 02 01 07 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 82 00",
         [](const Fields& f) { EXPECT_EQ(f.id, 7); },
         {{kSysDescr, 0, 3}}},
        {"TrapV2AndInformCarryTheirVariablesOnly", Header(71, -2, {{u"1.3.6.1.6.3.1.1.4.1.0", snmpObjectID, u"1.3.6.1.6.3.1.1.5.1"}}),
         "30 2B 02 01 01 04 00 A7 24 02 01 FE 02 01 00 02 01 00 30 19 30 17 06 0A 2B 06 01 06 03 01 01 04 01 00 "
         "06 09 2B 06 01 06 03 01 01 05 01",
         [](const Fields& f) { EXPECT_EQ(f.id, -2); },
         {{u"1.3.6.1.6.3.1.1.4.1.0", snmpObjectID, 0, false, u"1.3.6.1.6.3.1.1.5.1"}}},
    };
    return cases;
}

class WholeMessage : public LeakChecked, public ::testing::WithParamInterface<WholeMessageCase> {};

TEST_P(WholeMessage, EncodesToTheBytes) {
    auto m = NewMessage();
    GetParam().build(m.Get());
    EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Hex(GetParam().bytes)));
}

TEST_P(WholeMessage, DecodesToTheFields) {
    auto m = NewMessage();
    ASSERT_EQ(Decode(m.Get(), Hex(GetParam().bytes)), S_OK);
    GetParam().fields(ReadFields(m.Get()));
    EXPECT_EQ(ReadVariables(m.Get()), GetParam().variables);
    if (GetParam().reencodes) {
        EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Hex(GetParam().bytes)));
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, WholeMessage, ::testing::ValuesIn(WholeMessages()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Value elements ----

struct ValueCase {
    const char* name;
    VarSpec variable;       // its Oid is replaced by 1.3
    const char* element;    // the bytes after the name; empty for no value element
    VarFields decoded;      // Oid 1.3 implied
};

const std::vector<ValueCase>& ValueCases() {
    static const Bytes k200(200, 0x61);
    static const std::vector<ValueCase> cases = {
        {"IntegerZero", {u"", snmpInteger, u"0"}, "02 01 00", {u"", 1, 0, false, u"0"}},
        {"IntegerMinusOne", {u"", snmpInteger, u"-1"}, "02 01 FF", {u"", 1, 0, false, u"-1"}},
        {"IntegerMaximum", {u"", snmpInteger, u"2147483647"}, "02 04 7F FF FF FF", {u"", 1, 0, false, u"2147483647"}},
        {"IntegerMinimum", {u"", snmpInteger, u"-2147483648"}, "02 04 80 00 00 00", {u"", 1, 0, false, u"-2147483648"}},
        {"IntegerClampsAbove", {u"", snmpInteger, u" +99999999999999999999"}, "02 04 7F FF FF FF", {u"", 1, 0, false, u"2147483647"}},
        {"IntegerClampsBelow", {u"", snmpInteger, u"-3000000000"}, "02 04 80 00 00 00", {u"", 1, 0, false, u"-2147483648"}},
        {"IntegerOf128", {u"", snmpInteger, u"128"}, "02 02 00 80", {u"", 1, 0, false, u"128"}},
        {"IntegerOfMinus129", {u"", snmpInteger, u"-129"}, "02 02 FF 7F", {u"", 1, 0, false, u"-129"}},
        {"IntegerFromText", {u"", snmpInteger, u"abc"}, "02 01 00", {u"", 1, 0, false, u"0"}},
        {"Counter32Zero", {u"", snmpCounter32, u"0"}, "41 01 00", {u"", 5, 0, false, u"0"}},
        {"Counter32Of128", {u"", snmpCounter32, u"128"}, "41 02 00 80", {u"", 5, 0, false, u"128"}},
        {"Counter32MinusOne", {u"", snmpCounter32, u"-1"}, "41 05 00 FF FF FF FF", {u"", 5, 0, false, u"4294967295"}},
        {"Gauge32ClampsAbove", {u"", snmpGuage32, u"4294967296"}, "42 05 00 FF FF FF FF", {u"", 6, 0, false, u"4294967295"}},
        {"TimeTicksMaximum", {u"", snmpTimeTicks, u"4294967295"}, "43 05 00 FF FF FF FF", {u"", 7, 0, false, u"4294967295"}},
        {"UInteger32", {u"", snmpUInteger32, u"65536"}, "47 03 01 00 00", {u"", 10, 0, false, u"65536"}},
        {"Counter64Above32Bits", {u"", snmpCounter64, u"4294967296"}, "46 05 01 00 00 00 00", {u"", 11, 0, false, u"4294967296"}},
        {"Counter64TopBit", {u"", snmpCounter64, u"9223372036854775808"}, "46 09 00 80 00 00 00 00 00 00 00", {u"", 11, 0, false, u"9223372036854775808"}},
        {"Counter64Maximum", {u"", snmpCounter64, u"18446744073709551615"}, "46 09 00 FF FF FF FF FF FF FF FF", {u"", 11, 0, false, u"18446744073709551615"}},
        {"Counter64ClampsAbove", {u"", snmpCounter64, u"99999999999999999999999"}, "46 09 00 FF FF FF FF FF FF FF FF", {u"", 11, 0, false, u"18446744073709551615"}},
        {"Counter64Small", {u"", snmpCounter64, u"5"}, "46 01 05", {u"", 11, 0, false, u"5"}},
        {"Null", {u"", snmpNull, u"ignored"}, "05 00", {u"", 0, 0, false, u""}},
        {"OctetStringFromText", {u"", snmpOctetString, u"hello"}, "04 05 68 65 6C 6C 6F", {u"", 2, 0, false, u"hello", true}},
        {"OctetStringOfBytes", {u"", snmpOctetString, u"", 0, false, Hex("41 00 FF")}, "04 03 41 00 FF", {u"", 2, 0, false, std::u16string(u"A\0\xFF", 3), true}},
        {"OctetStringEmpty", {u"", snmpOctetString, u""}, "04 00", {u"", 2, 0, false, u"", true}},
        {"OctetStringUnrepresentableText", {u"", snmpOctetString, u"\u20AC"}, "04 01 3F", {u"", 2, 0, false, u"?", true}},
        {"OpaqueOfBytes", {u"", snmpOpaque, u"", 0, false, Hex("9F 78 04")}, "44 03 9F 78 04", {u"", 8, 0, false, u"\x9F\x78\x04", true}},
        {"NsapAddressFromText", {u"", snmpNSAPAddress, u"ab"}, "45 02 61 62", {u"", 9, 0, false, u"ab", true}},
        {"ObjectId", {u"", snmpObjectID, u"1.3.6.1.4.1.8072.3.2.10"}, "06 0A 2B 06 01 04 01 BF 08 03 02 0A", {u"", 3, 0, false, u"1.3.6.1.4.1.8072.3.2.10"}},
        {"ObjectIdFirstArcTwo", {u"", snmpObjectID, u"2.100.3"}, "06 03 81 34 03", {u"", 3, 0, false, u"2.100.3"}},
        {"ObjectIdSingleArc", {u"", snmpObjectID, u"1"}, "06 01 28", {u"", 3, 0, false, u"1.0"}},
        {"ObjectIdLeadingDot", {u"", snmpObjectID, u".1.3.6"}, "06 02 2B 06", {u"", 3, 0, false, u"1.3.6"}},
        {"ObjectIdLargestArc", {u"", snmpObjectID, u"1.3.4294967295"}, "06 06 2B 8F FF FF FF 7F", {u"", 3, 0, false, u"1.3.4294967295"}},
        {"ObjectIdEmpty", {u"", snmpObjectID, u""}, "06 00", {u"", 3, 0, false, u""}},
        {"IpAddress", {u"", snmpIpAddress, u"192.168.0.1"}, "40 04 C0 A8 00 01", {u"", 4, 0, false, u"192.168.0.1"}},
        {"IpAddressOfThreeParts", {u"", snmpIpAddress, u"10.0.300"}, "40 03 0A 00 2C", {u"", 4, 0, false, u"10.0.44.0"}},
        {"IpAddressEmpty", {u"", snmpIpAddress, u""}, "40 00", {u"", 4, 0, false, u"0.0.0.0"}},
        {"NoSuchObject", {u"", snmpInteger, u"5", 1}, "80 00", {u"", 0, 1}},
        {"NoSuchInstance", {u"", snmpOctetString, u"x", 2}, "81 00", {u"", 0, 2}},
        {"EndOfMibView", {u"", 99, u"x", 3}, "82 00", {u"", 0, 3}},
        {"IntegerFromByteStore", {u"", snmpInteger, u"", 0, false, Hex("34 32")}, "02 01 2A", {u"", 1, 0, false, u"42"}},
        {"ObjectIdFromByteStore", {u"", snmpObjectID, u"", 0, false, Hex("31 2E 33")}, "06 01 2B", {u"", 3, 0, false, u"1.3"}},
        {"ContentOf200Bytes", {u"", snmpOctetString, u"", 0, false, k200}, "04 81 C8", {u"", 2, 0, false, std::u16string(200, u'a'), true}},
    };
    return cases;
}

class ValueElement : public LeakChecked, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueElement, EncodesAndDecodesBack) {
    const ValueCase& c = GetParam();
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    VarSpec shape = c.variable;
    shape.oid = u"1.3";
    AddVariables(m.Get(), {shape});
    const Bytes encoded = Encode(m.Get());

    Bytes element = Hex(c.element);
    if (shape.bytes && shape.bytes->size() >= 128) element.insert(element.end(), shape.bytes->begin(), shape.bytes->end());
    const Bytes expected = Message(Tlv(0x30, Cat({Hex("06 01 2B"), element})));
    EXPECT_EQ(ToHex(encoded), ToHex(expected));

    ASSERT_EQ(Decode(m.Get(), encoded), S_OK);
    VarFields want = c.decoded;
    want.oid = u"1.3";
    EXPECT_EQ(ReadVariables(m.Get()), std::vector<VarFields>{want});
}

INSTANTIATE_TEST_SUITE_P(Elements, ValueElement, ::testing::ValuesIn(ValueCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A Type outside 0..11 writes the name alone; the reader then finds the next VarBind's tag
// where the value tag would be, and goes on at the end of the VarBind.
TEST_F(LeakChecked, VarBindWithoutValue) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    AddVariables(m.Get(), {{u"1.3", 12, u"7"}, {u"1.4", snmpInteger, u"7"}});
    const Bytes encoded = Encode(m.Get());
    EXPECT_EQ(ToHex(encoded), ToHex(Message(Hex("30 03 06 01 2B 30 06 06 01 2C 02 01 07"))));
    ASSERT_EQ(Decode(m.Get(), encoded), S_OK);
    EXPECT_EQ(ReadVariables(m.Get()), (std::vector<VarFields>{{u"1.3", 0}, {u"1.4", 1, 0, false, u"7"}}));
    // Last in the message, its value tag is missing: malformed.
    EXPECT_EQ(Decode(m.Get(), Message(Hex("30 03 06 01 2B"))), kFormatErrorResult);
}

TEST_F(LeakChecked, ContentOf256BytesHasATwoByteLength) {
    auto m = NewMessage();
    AddVariables(m.Get(), {{u"1.3", snmpOctetString, u"", 0, false, Bytes(256, 7)}});
    const Bytes encoded = Encode(m.Get());
    const Bytes tail = Cat({Hex("04 82 01 00"), Bytes(256, 7)});
    ASSERT_GE(encoded.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), encoded.end() - static_cast<std::ptrdiff_t>(tail.size())));
}

// A message longer than the first 8192-byte block encodes as an independent builder says;
// VarBinds straddling the growth keep their lengths.
TEST_F(LeakChecked, MessagesBeyondOneBlockEncodeExactly) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(77);
    m->put_Community(Bstr(u"public").Get());
    std::vector<VarSpec> specs;
    Bytes varBinds;
    for (int i = 0; i < 400; ++i) {
        const std::string arc = std::to_string(i);
        const Bytes value(static_cast<std::size_t>(i % 300), static_cast<uint8_t>(i));
        specs.push_back({u"1.3.6.1." + U16(arc), snmpOctetString, u"", 0, false, value});
        Bytes oid = Hex("2B 06 01");
        if (i >= 128) oid.push_back(static_cast<uint8_t>(0x80 | (i >> 7)));
        oid.push_back(static_cast<uint8_t>(i & 0x7F));
        varBinds = Cat({varBinds, Tlv(0x30, Cat({Tlv(0x06, oid), Tlv(0x04, value)}))});
    }
    AddVariables(m.Get(), specs);
    const Bytes pdu = Tlv(0xA2, Cat({Hex("02 01 4D 02 01 00 02 01 00"), Tlv(0x30, varBinds)}));
    const Bytes expected = Tlv(0x30, Cat({Hex("02 01 01"), Tlv(0x04, Hex("70 75 62 6C 69 63")), pdu}));
    ASSERT_GT(expected.size(), 8192u * 6);
    EXPECT_EQ(Encode(m.Get()), expected);
    // And again into the grown buffer.
    EXPECT_EQ(Encode(m.Get()), expected);
    ASSERT_EQ(Decode(m.Get(), expected), S_OK);
    EXPECT_EQ(ReadVariables(m.Get()).size(), 400u);
}

// ---- Decoding rules ----

struct DecodeRuleCase {
    const char* name;
    Bytes bytes;
    HRESULT result;
    std::function<void(ISnmpMessage*)> check;
};

const Bytes kGet = Hex("30 20 02 01 00 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00");

Bytes WithOuterLength(Bytes message, std::size_t length) {
    message.erase(message.begin(), message.begin() + 2);
    return Cat({{0x30}, Length(length), message});
}

Bytes Names(int count, std::size_t oidChars) {
    // OID 1.3 followed by ".1" arcs: 3 + 2k characters.
    Bytes oid = Hex("2B");
    for (std::size_t chars = 3; chars + 2 <= oidChars; chars += 2) oid.push_back(1);
    Bytes all;
    for (int i = 0; i < count; ++i) all = Cat({all, VarBind(Hex("05 00"), oid)});
    return all;
}

void HasVariables(ISnmpMessage* m, std::size_t n) { EXPECT_EQ(ReadVariables(m).size(), n); }

const std::vector<DecodeRuleCase>& DecodeRules() {
    static const std::vector<DecodeRuleCase> cases = {
        {"OuterLength8192AboveTheBytes", WithOuterLength(kGet, 32 + 8192), S_OK,
         [](ISnmpMessage* m) { HasVariables(m, 1); }},
        {"OuterLengthOneAbove", WithOuterLength(kGet, 33), kFormatErrorResult, nullptr},
        {"OuterLengthOneBelow", WithOuterLength(kGet, 31), kFormatErrorResult, nullptr},
        {"OneExtraByte", Cat({kGet, {0x00}}), kFormatErrorResult, nullptr},
        {"CutShortByOneByte", Bytes(kGet.begin(), kGet.end() - 1), kFormatErrorResult, nullptr},
        {"NotASequence", Cat({{0x31}, Bytes(kGet.begin() + 1, kGet.end())}), kFormatErrorResult, nullptr},
        {"IndefiniteLength", Cat({Hex("30 80"), Bytes(kGet.begin() + 2, kGet.end())}), kFormatErrorResult, nullptr},
        {"LengthOfFiveBytes", Cat({Hex("30 85 00 00 00 00 20"), Bytes(kGet.begin() + 2, kGet.end())}), kFormatErrorResult, nullptr},
        {"Empty", {}, kFormatErrorResult, nullptr},
        // Only the bytes received count, whatever the outer length promised.
        {"PduLongerThanTheBytesUnderTheSlack",
         Hex("30 82 20 20 02 01 00 04 00 A0 3F 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00"),
         kFormatErrorResult, nullptr},
        {"VarBindEndBeyondTheBytesUnderTheSlack",
         Hex("30 82 20 1F 02 01 01 04 00 A2 18 02 01 01 02 01 00 02 01 00 30 0C 30 7F 06 08 2B 06 01 02 01 01 01 00 80"),
         kFormatErrorResult, [](ISnmpMessage* m) { HasVariables(m, 0); }},
        {"ResponseErrorStatus32ReadsAsNone", Message(VarBind(Hex("05 00")), 0xA2, 1, Hex("02 01 01 02 01 20 02 01 00")), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).exception, 0); }},
        {"ResponseErrorStatus33Stays", Message(VarBind(Hex("05 00")), 0xA2, 1, Hex("02 01 01 02 01 21 02 01 00")), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).exception, 33); }},
        {"ErrorIndex32WithFewerVariablesReadsAsZero", Message(Names(31, 9), 0xA2, 1, Hex("02 01 01 02 01 05 02 01 20")), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).exceptionIndex, 0); }},
        {"ErrorIndex32With32VariablesStays", Message(Names(32, 9), 0xA2, 1, Hex("02 01 01 02 01 05 02 01 20")), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).exceptionIndex, 32); }},
        {"ErrorIndex32OnAFailedDecode", Hex("30 10 02 01 01 04 00 A2 09 02 01 01 02 01 05 02 01 20"),
         kFormatErrorResult, [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).exceptionIndex, 0); EXPECT_EQ(ReadFields(m).id, 1); }},
        {"GetBulkTagInVersion1", Message({}, 0xA5, 0), kFormatErrorResult, nullptr},
        {"GetBulkTagInVersion2", Message({}, 0xA5, 1, Hex("02 01 01 02 01 FF 02 01 03")), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).type, 69); EXPECT_EQ(ReadFields(m).maxRepetition, 3); }},
        {"Trap1TagInVersion2", Message({}, 0xA4, 1), kFormatErrorResult, nullptr},
        {"UnnamedTag6InVersion1", Message({}, 0xA6, 0), kFormatErrorResult, nullptr},
        {"UnnamedTag7InVersion1", Message({}, 0xA7, 0), kFormatErrorResult, nullptr},
        {"PduTagNumberAbove7", Message({}, 0xA8, 1), kFormatErrorResult, nullptr},
        {"PduTagWithoutClassBits", Message({}, 0x02, 1), kFormatErrorResult, nullptr},
        {"PduTagConstructedOnly", Message({}, 0x22, 1), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).type, 66); }},
        {"Version32IsVersion1", Message({}, 0xA1, 32), S_OK, [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).type, 33); }},
        {"Version3IsVersion2c", Message({}, 0xA3, 3), S_OK, [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).type, 67); }},
        {"CommunityEndsAtItsFirstZero",
         Hex("30 18 02 01 01 04 06 70 75 00 6C 69 63 A0 0B 02 01 01 02 01 00 02 01 00 30 00"), S_OK, [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).community, u"pu"); }},
        {"CommunityBytesThroughTheCodePage", Hex("30 0F 02 01 01 04 02 E9 FF A0 06 02 01 01 02 01 00"), kFormatErrorResult,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadFields(m).community, u"\u00E9\u00FF"); EXPECT_EQ(ReadFields(m).id, 1); }},
        {"NoVarBindList", Hex("30 10 02 01 01 04 00 A0 09 02 01 01 02 01 00 02 01 00"), kFormatErrorResult, nullptr},
        {"EmptyVarBindListWithAnyTag", Hex("30 12 02 01 01 04 00 A0 0B 02 01 01 02 01 00 02 01 00 31 00"), S_OK,
         [](ISnmpMessage* m) { HasVariables(m, 0); }},
        {"WrongVersionTag", Hex("30 12 0A 01 01 04 00 A0 0B 02 01 01 02 01 00 02 01 00 30 00"),
         kFormatErrorResult, nullptr},
        {"WrongRequestIdTag", Hex("30 12 02 01 01 04 00 A0 0B 0A 01 01 02 01 00 02 01 00 30 00"), kFormatErrorResult, nullptr},
        {"TenShortNamesDecode", Message(Names(10, 8)), S_OK, [](ISnmpMessage* m) { HasVariables(m, 10); }},
        {"ElevenShortNamesFail", Message(Names(11, 8)), kFormatErrorResult, [](ISnmpMessage* m) { HasVariables(m, 10); }},
        {"NamesOfNineCharactersArePlausible", Message(Names(40, 9)), S_OK, [](ISnmpMessage* m) { HasVariables(m, 40); }},
        {"TenNamesBeyondTheTotalDecode", Message(Names(26, 1001)), S_OK, [](ISnmpMessage* m) { HasVariables(m, 26); }},
        {"ElevenNamesBeyondTheTotalFail", Message(Names(27, 1001)), kFormatErrorResult, [](ISnmpMessage* m) { HasVariables(m, 26); }},
        // The reader's own limits.
        {"NumberContentOf127Bytes", Message(VarBind(Cat({Hex("02 7F"), Bytes(126, 0), {5}}))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"5"); }},
        {"NumberContentOf128BytesIsMalformed", Message(VarBind(Cat({Hex("02 81 80"), Bytes(128, 0)}))), kFormatErrorResult,
         [](ISnmpMessage* m) { HasVariables(m, 0); }},
        {"IntegerKeepsItsLastFourBytes", Message(VarBind(Hex("02 05 01 80 00 00 01"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"-2147483647"); }},
        {"Counter32OfFiveBytes", Message(VarBind(Hex("41 05 00 FF FF FF FF"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"4294967295"); }},
        {"EmptyNumberContentIsZero", Message(VarBind(Hex("43 00"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"0"); }},
        {"Counter64OfSixBytes", Message(VarBind(Hex("46 06 01 02 00 00 00 05"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"1108101562373"); }},
        {"ShortIpAddressFillsWithZeros", Message(VarBind(Hex("40 02 0A 01"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"10.1.0.0"); }},
        {"LongIpAddressKeepsFourBytes", Message(VarBind(Hex("40 06 0A 01 02 03 04 05"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"10.1.2.3"); }},
        {"OidContentZero", Message(VarBind(Hex("06 01 00"))), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(0).text, u"0.0"); }},
        {"UnterminatedSubidentifier", Message(VarBind(Hex("06 02 2B 86"))), kFormatErrorResult, [](ISnmpMessage* m) { HasVariables(m, 0); }},
        {"ValueRunsPastTheEnd", Message(VarBind(Hex("04 05 61 62"))), kFormatErrorResult, nullptr},
        {"NullContentIsSkipped", Message(Cat({VarBind(Hex("05 02 01 02")), VarBind(Hex("02 01 09"))})), S_OK,
         [](ISnmpMessage* m) { EXPECT_EQ(ReadVariables(m).at(1).text, u"9"); }},
        // Values this reader does not know: the name alone, then the next VarBind.
        {"UnknownValueTagKeepsTheName", Message(Cat({VarBind(Hex("83 03 01 02 03")), VarBind(Hex("02 01 09"))})), S_OK,
         [](ISnmpMessage* m) {
             const auto vars = ReadVariables(m);
             ASSERT_EQ(vars.size(), 2u);
             EXPECT_EQ(vars[0], (VarFields{u"1.3.6.1.2.1.1.5.0", 0, 0, false, u""}));
             EXPECT_EQ(vars[1].text, u"9");
         }},
        {"UnknownValueTagA0", Message(VarBind(Hex("A0 02 05 00"))), S_OK, [](ISnmpMessage* m) { HasVariables(m, 1); }},
        {"UnknownValueTagPastTheEnd", Message(Cat({Hex("30 40 06 01 2B 99")})), kFormatErrorResult, [](ISnmpMessage* m) { HasVariables(m, 0); }},
        {"ExceptionMovesToTheEndOfItsVarBind", Message(Cat({VarBind(Hex("81 03 01 02 03")), VarBind(Hex("02 01 09"))})), S_OK,
         [](ISnmpMessage* m) {
             const auto vars = ReadVariables(m);
             ASSERT_EQ(vars.size(), 2u);
             EXPECT_EQ(vars[0].exception, 2);
             EXPECT_EQ(vars[1].text, u"9");
         }},
        {"VarBindEndingBeforeItsNameIsMalformed", Message(Hex("30 01 06 01 2B 80 00")), kFormatErrorResult, nullptr},
        {"GetBulkNegativeNonRepeaters", Message(Names(3, 9), 0xA5, 1, Hex("02 01 01 02 01 FF 02 01 03")), S_OK,
         [](ISnmpMessage* m) { for (const auto& v : ReadVariables(m)) EXPECT_FALSE(v.repeat); }},
        {"GetBulkNonRepeatersAboveTheCount", Message(Names(3, 9), 0xA5, 1, Hex("02 01 01 02 01 09 02 01 03")), S_OK,
         [](ISnmpMessage* m) { for (const auto& v : ReadVariables(m)) EXPECT_FALSE(v.repeat); }},
        {"TrapV1EmptyEnterpriseAndAnyVariables",
         Hex("30 26 02 01 00 04 00 A4 1F 06 00 40 04 01 02 03 04 02 01 03 02 01 02 43 02 01 00 30 0B 30 09 06 01 2B 04 04 6C 69 6E 6B"),
         S_OK, [](ISnmpMessage* m) {
             const Fields f = ReadFields(m);
             EXPECT_EQ(f.enterprise, u"");
             EXPECT_EQ(f.agentAddress, u"1.2.3.4");
             EXPECT_EQ(f.genericTrap, 3);
             EXPECT_EQ(f.specificTrap, 2);
             EXPECT_EQ(f.upTime, 256);
             HasVariables(m, 1);
         }},
    };
    return cases;
}

class DecodeRule : public LeakChecked, public ::testing::WithParamInterface<DecodeRuleCase> {};

TEST_P(DecodeRule, GivesTheResult) {
    auto m = NewMessage();
    EXPECT_EQ(Decode(m.Get(), GetParam().bytes), GetParam().result);
    if (GetParam().check) GetParam().check(m.Get());
}

INSTANTIATE_TEST_SUITE_P(Rules, DecodeRule, ::testing::ValuesIn(DecodeRules()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Failure record and state ----

class MessageRegistered : public LeakChecked {
protected:
    void SetUp() override {
        LeakChecked::SetUp();
        rt::RegisterClass(CLSID_SnmpMessage, "Velk.SnmpMessage", &SnmpMessage::CreateInstance);
    }
    void TearDown() override {
        rt::UnregisterClass(CLSID_SnmpMessage);
        SetErrorInfo(0, nullptr);
        LeakChecked::TearDown();
    }
};

TEST_F(MessageRegistered, FailedDecodeLeavesTheErrorRecordAndWhatWasRead) {
    auto m = NewMessage();
    m->put_Type(snmpSet2);
    m->put_Community(Bstr(u"secret").Get());
    AddVariables(m.Get(), {{u"1.3"}});
    // Header and PDU fields read, then a VarBind that runs past the end.
    const Bytes bytes = Hex("30 19 02 01 01 04 03 61 62 63 A2 0F 02 01 2A 02 01 05 02 01 01 30 04 30 02 06 07");
    ASSERT_EQ(Decode(m.Get(), bytes), kFormatErrorResult);

    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    ASSERT_TRUE(info);
    Bstr source, description, helpFile;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetDescription(description.Put());
    info->GetHelpFile(helpFile.Put());
    info->GetHelpContext(&context);
    EXPECT_EQ(source.View(), u"Velk.SnmpMessage.1");
    EXPECT_EQ(helpFile.View(), u"UlvaneTcp.hlp");
    EXPECT_EQ(context, 12015u);
    EXPECT_FALSE(description.Empty());

    const Fields f = ReadFields(m.Get());
    EXPECT_EQ(f.type, snmpResponse2);
    EXPECT_EQ(f.community, u"abc");
    EXPECT_EQ(f.id, 42);
    EXPECT_EQ(f.exception, 5);
    EXPECT_EQ(f.exceptionIndex, 1);
    EXPECT_TRUE(ReadVariables(m.Get()).empty());
}

TEST_F(MessageRegistered, DecodeOfAVariantWithoutBytesFailsInTheResetState) {
    auto m = NewMessage();
    const Fields reset = ReadFields(m.Get());
    m->put_Type(snmpSet2);
    m->put_Id(9);
    m->put_Community(Bstr(u"x").Get());
    m->put_Ref(Variant(LONG{3}));
    AddVariables(m.Get(), {{u"1.3"}});
    for (Variant v : {Variant(LONG{0x30}), Variant()}) {
        EXPECT_EQ(m->Decode(v), kFormatErrorResult);
        EXPECT_EQ(ReadFields(m.Get()), reset);
        EXPECT_EQ(reset.community, u"cobalt");
        EXPECT_TRUE(ReadVariables(m.Get()).empty());
        Variant ref;
        m->get_Ref(&ref);
        EXPECT_EQ(ref.vt, VT_EMPTY);
    }
}

TEST_F(MessageRegistered, EncodeIntoAVariantWithoutBytesFailsAndLeavesIt) {
    auto m = NewMessage();
    Variant number(LONG{5});
    EXPECT_EQ(m->Encode(&number), kFormatErrorResult);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(number.lVal, 5);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    DWORD context = 0;
    info->GetHelpContext(&context);
    EXPECT_EQ(context, 12015u);

    EXPECT_EQ(m->Encode(nullptr), kFormatErrorResult);
}

// ---- Encode targets ----

TEST_F(LeakChecked, EncodeWritesEveryKindOfTarget) {
    auto m = NewMessage();
    Header(32, 1, {{kSysDescr}})(m.Get());
    const Bytes expected = kGet;

    Variant array = ByteArray(Bytes(100, 1));
    ASSERT_EQ(m->Encode(&array), S_OK);
    EXPECT_EQ(ArrayBytes(array), expected);
    EXPECT_EQ(array.parray->rgsabound[0].lLbound, 0);

    Variant text(std::u16string_view(u"old"));
    ASSERT_EQ(m->Encode(&text), S_OK);
    ASSERT_EQ(text.vt, VT_BSTR);
    std::u16string chars(expected.begin(), expected.end());
    EXPECT_EQ(ViewOf(text.bstrVal), chars);
    // Text decodes back to the same message.
    ASSERT_EQ(m->Decode(text), S_OK);
    EXPECT_EQ(Encode(m.Get()), expected);

    Variant empty;  // an output argument of a script
    ASSERT_EQ(m->Encode(&empty), S_OK);
    EXPECT_EQ(ArrayBytes(empty), expected);

    Variant byte;
    byte.vt = VT_UI1;
    byte.bVal = 0;
    ASSERT_EQ(m->Encode(&byte), S_OK);
    EXPECT_EQ(byte.bVal, 0x30);

    // Through references.
    Variant target = ByteArray({});
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &target;
    ASSERT_EQ(m->Encode(&ref), S_OK);
    EXPECT_EQ(ArrayBytes(target), expected);

    SAFEARRAY* held = SafeArrayCreateVector(VT_UI1, 0, 0);
    VARIANT arrayRef;
    VariantInit(&arrayRef);
    arrayRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    arrayRef.pparray = &held;
    ASSERT_EQ(m->Encode(&arrayRef), S_OK);
    ASSERT_EQ(held->rgsabound[0].cElements, expected.size());
    EXPECT_EQ(0, std::memcmp(held->pvData, expected.data(), expected.size()));
    SafeArrayDestroy(held);

    // A reference decodes as its target does.
    VARIANT toArray;
    VariantInit(&toArray);
    toArray.vt = VT_BYREF | VT_VARIANT;
    toArray.pvarVal = &target;
    EXPECT_EQ(m->Decode(toArray), S_OK);
}

TEST_F(LeakChecked, EncodeChangesNothing) {
    auto m = NewMessage();
    Header(69, 3, {{u"1.3.6.1", snmpInteger, u"1"}, {u"1.3.6.2", snmpOctetString, u"x", 0, true}})(m.Get());
    const Fields before = ReadFields(m.Get());
    const auto vars = ReadVariables(m.Get());
    const Bytes first = Encode(m.Get());
    EXPECT_EQ(Encode(m.Get()), first);
    EXPECT_EQ(ReadFields(m.Get()), before);
    EXPECT_EQ(ReadVariables(m.Get()), vars);
}

// Repeated encodings of unchanged variables are the same; every change of a field that
// shapes a VarBind shows in the next encoding.
TEST_F(LeakChecked, RepeatedEncodingsFollowEveryChange) {
    auto m = NewMessage();
    Header(66, 1, {{u"1.3", snmpInteger, u"5"}})(m.Get());
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    ComPtr<ISnmpVariable> v;
    ASSERT_EQ(vars->Item(Variant(LONG{1}), v.Put()), S_OK);
    const std::vector<std::pair<std::function<void()>, const char*>> steps = {
        {[] {}, "30 06 06 01 2B 02 01 05"},
        {[&] { v->put_Value(Bstr(u"6").Get()); }, "30 06 06 01 2B 02 01 06"},
        {[&] { v->put_Oid(Bstr(u"1.4").Get()); }, "30 06 06 01 2C 02 01 06"},
        {[&] { v->put_Type(snmpCounter32); }, "30 06 06 01 2C 41 01 06"},
        {[&] { v->put_Exception(snmpNoSuchInstance); }, "30 05 06 01 2C 81 00"},
        {[&] { v->put_Exception(snmpNoException); }, "30 06 06 01 2C 41 01 06"},
        {[&] { PutValueBytes(v.Get(), Hex("37")); }, "30 06 06 01 2C 41 01 07"},
        {[&] { v->put_Type(snmpOctetString); }, "30 06 06 01 2C 04 01 37"},
        {[&] { v->put_Repeat(VARIANT_TRUE); v->put_Name(Bstr(u"n").Get()); }, "30 06 06 01 2C 04 01 37"},
    };
    for (const auto& [change, varBind] : steps) {
        change();
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Message(Hex(varBind)))) << varBind << " #" << i;
    }
}

TEST_F(LeakChecked, TypesOutsideTheTableEncodeAnEmptyPdu) {
    struct Case {
        LONG type;
        const char* bytes;
    } cases[] = {
        {37, "30 07 02 01 00 04 00 A5 00"},  {68, "30 07 02 01 01 04 00 A4 00"},
        {0, "30 07 02 01 01 04 00 A0 00"},   {31, "30 07 02 01 01 04 00 BF 00"},
        {96, "30 07 02 01 00 04 00 A0 00"},  {-1, "30 07 02 01 00 04 00 BF 00"},
    };
    for (const Case& c : cases) {
        auto m = NewMessage();
        Header(c.type, 1, {{u"1.3"}})(m.Get());
        EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Hex(c.bytes))) << c.type;
    }
}

TEST_F(LeakChecked, SortedCollectionEncodesInOidOrder) {
    auto m = NewMessage();
    Header(66, 1, {{u"1.3.6.10"}, {u"1.3.6.2"}})(m.Get());
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    VARIANT_BOOL sorted = VARIANT_TRUE;
    vars->get_Sorted(&sorted);
    EXPECT_EQ(sorted, VARIANT_FALSE);
    vars->put_Sorted(VARIANT_TRUE);
    const Bytes encoded = Encode(m.Get());
    ASSERT_EQ(Decode(m.Get(), encoded), S_OK);
    const auto decoded = ReadVariables(m.Get());
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_EQ(decoded[0].oid, u"1.3.6.2");
    EXPECT_EQ(decoded[1].oid, u"1.3.6.10");
}

// Decoded variables hold their Oid and value text in their own allocation; replacing them
// in any way frees nothing that was not allocated on its own.
TEST_F(LeakChecked, DecodedVariablesTakeNewFields) {
    auto m = NewMessage();
    const Bytes bytes = Message(Cat({VarBind(Hex("02 01 05")), VarBind(Hex("04 02 41 42")), VarBind(Hex("05 00")),
                                     VarBind(Hex("06 02 2B 06")), VarBind(Hex("81 00"))}));
    const std::vector<std::function<void(ISnmpVariable*)>> changes = {
        [](ISnmpVariable* v) { v->put_Oid(Bstr(u"1.9").Get()); v->put_Value(Bstr(u"7").Get()); },
        [](ISnmpVariable* v) { v->put_Oid(nullptr); PutValueBytes(v, Hex("01")); },
        [](ISnmpVariable* v) { v->put_ValueEx(Variant(LONG{3})); v->put_Value(nullptr); },
        [](ISnmpVariable* v) { model::SnmpVariable::From(v)->SetOid(std::u16string_view(u"1.8")); },
        [](ISnmpVariable*) {},  // released as decoded
    };
    for (const auto& change : changes) {
        ASSERT_EQ(Decode(m.Get(), bytes), S_OK);
        ComPtr<ISnmpVariables> vars;
        m->get_Variables(vars.Put());
        std::vector<ComPtr<ISnmpVariable>> held;
        for (LONG i = 1; i <= 5; ++i) {
            ComPtr<ISnmpVariable> v;
            ASSERT_EQ(vars->Item(Variant(i), v.Put()), S_OK);
            change(v.Get());
            held.push_back(v);
        }
        // Decoding again releases the collection's references; ours keep the variables.
        ASSERT_EQ(Decode(m.Get(), kGet), S_OK);
        for (const auto& v : held) ReadVariable(v.Get());
    }
}

// ---- Properties and Reset ----

TEST_F(LeakChecked, NewMessageHasTheResetValues) {
    auto m = NewMessage();
    const Fields f = ReadFields(m.Get());
    EXPECT_EQ(f.community, u"cobalt");
    EXPECT_EQ(f.type, 32);
    EXPECT_EQ(f.id, 0);
    EXPECT_EQ(f.enterprise, u"");
    EXPECT_FALSE(f.agentAddress.empty());  // the host's address
    ComPtr<ISnmpVariables> a, b;
    m->get_Variables(a.Put());
    m->get_Variables(b.Put());
    EXPECT_EQ(a.Get(), b.Get());
}

TEST_F(LeakChecked, ResetRestoresEveryField) {
    auto m = NewMessage();
    const Fields reset = ReadFields(m.Get());
    Header(36, 5, {{u"1.3"}}, 3, 4)(m.Get());
    m->put_Enterprise(Bstr(u"1.3.6").Get());
    m->put_AgentAddress(Bstr(u"").Get());
    m->put_GenericTrap(snmpLinkUp);
    m->put_SpecificTrap(8);
    m->put_UpTime(9);
    m->put_MaxRepetition(10);
    m->put_Ref(Variant(std::u16string_view(u"host data")));
    ASSERT_EQ(m->Reset(), S_OK);
    EXPECT_EQ(ReadFields(m.Get()), reset);
    EXPECT_TRUE(ReadVariables(m.Get()).empty());
    Variant ref;
    m->get_Ref(&ref);
    EXPECT_EQ(ref.vt, VT_EMPTY);
}

TEST_F(LeakChecked, TextPropertiesStoreTheirValues) {
    auto m = NewMessage();
    Bstr out;
    m->put_Community(Bstr(u"").Get());
    m->get_Community(out.Put());
    EXPECT_EQ(out.Get(), nullptr);
    m->put_Community(Bstr(u"public").Get());
    m->get_Community(out.Put());
    EXPECT_EQ(out.View(), u"public");
    m->put_Enterprise(Bstr(u"").Get());
    m->get_Enterprise(out.Put());
    EXPECT_EQ(out.Get(), nullptr);
    m->put_AgentAddress(nullptr);
    m->get_AgentAddress(out.Put());
    EXPECT_EQ(out.Get(), nullptr);
    EXPECT_EQ(m->get_Community(nullptr), E_POINTER);
    EXPECT_EQ(m->get_Id(nullptr), E_POINTER);
}

TEST_F(LeakChecked, RefStoresACopyOfWhatItRefersTo) {
    auto m = NewMessage();
    Variant target(std::u16string_view(u"abc"));
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &target;
    ASSERT_EQ(m->put_Ref(ref), S_OK);
    target = Variant(LONG{1});  // the caller's value changes afterwards
    Variant out;
    ASSERT_EQ(m->get_Ref(&out), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(ViewOf(out.bstrVal), u"abc");

    // A chain of references too deep to follow stores nothing.
    std::vector<VARIANT> chain(20);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        VariantInit(&chain[i]);
        chain[i].vt = VT_BYREF | VT_VARIANT;
        chain[i].pvarVal = &chain[i + 1];
    }
    chain.back() = Variant(LONG{5}).Detach();
    ASSERT_EQ(m->put_Ref(chain[0]), S_OK);
    m->get_Ref(out.Put());
    EXPECT_EQ(out.vt, VT_EMPTY);
}

TEST_F(LeakChecked, CreationFailsWithTheErrorOfItsParts) {
    const CLSID parts[] = {CLSID_SnmpMessage, CLSID_SnmpVariables, CLSID_VelkHostInfo};
    for (const CLSID& part : parts) {
        rt::SetCreationFailure(part, E_ACCESSDENIED);
        ComPtr<ISnmpMessage> m;
        EXPECT_EQ(SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), E_ACCESSDENIED);
        EXPECT_FALSE(m);
        rt::SetCreationFailure(part, S_OK);
    }
}

}  // namespace
}  // namespace velk::codec::testing
