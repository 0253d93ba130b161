// SnmpMessage on hostile input: every valid message of these tests cut at every offset and
// with every single byte changed gives a message or 12015 (and a message then survives a
// round trip); host-implemented variables that fail or re-enter during Encode.
#include <gtest/gtest.h>

#include <string>

#include "message_test_support.h"
#include "support/host_objects.h"

namespace velk::codec::testing {
namespace {

// Valid messages: the byte examples, every value type, exceptions, unknown tags, a v1 trap.
std::vector<Bytes> ValidMessages() {
    std::vector<Bytes> all = {
        Hex("30 20 02 01 00 04 00 A0 19 02 01 01 02 01 00 02 01 00 30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00"),
        Hex("30 3B 02 01 01 04 00 A5 34 02 01 05 02 01 02 02 01 0A 30 29 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00 "
            "30 0C 06 08 2B 06 01 02 01 01 03 00 05 00 30 0B 06 07 2B 06 01 02 01 02 02 05 00"),
        Hex("30 1F 02 01 00 04 00 A4 18 06 05 2B 06 01 04 01 40 04 0A 00 00 01 02 01 00 02 01 00 43 01 64 30 00"),
        Hex("30 26 02 01 00 04 00 A4 1F 06 00 40 04 01 02 03 04 02 01 03 02 01 02 43 02 01 00 30 0B 30 09 06 01 2B "
            "04 04 6C 69 6E 6B"),
        Message(Cat({VarBind(Hex("02 02 FF 7F")), VarBind(Hex("04 03 41 00 FF")), VarBind(Hex("05 00")),
                     VarBind(Hex("06 03 81 34 03")), VarBind(Hex("40 04 C0 A8 00 01")), VarBind(Hex("41 05 00 FF FF FF FF")),
                     VarBind(Hex("42 01 00")), VarBind(Hex("43 02 01 00")), VarBind(Hex("44 01 9F")), VarBind(Hex("45 02 61 62")),
                     VarBind(Hex("46 09 00 FF FF FF FF FF FF FF FF")), VarBind(Hex("47 01 07"))})),
        Message(Cat({VarBind(Hex("80 00")), VarBind(Hex("81 00")), VarBind(Hex("82 00")), VarBind(Hex("83 01 00")),
                     VarBind(Hex("40 02 0A 01"))}),
                0xA2, 1, Hex("02 04 7F FF FF FF 02 01 20 02 01 20")),
        Message(Cat({VarBind(Hex("04 00")), VarBind(Hex("06 00"))}), 0xA5, 1, Hex("02 01 01 02 01 01 02 01 05")),
    };
    return all;
}

// A decoded message encodes to bytes that decode to the same fields (those the encoding
// carries: error-status and error-index only for a Response).
void ExpectRoundTrip(ISnmpMessage* m, const std::string& context) {
    const Fields first = ReadFields(m);
    const auto firstVars = ReadVariables(m);
    const Bytes again = Encode(m);
    auto other = NewMessage();
    ASSERT_EQ(Decode(other.Get(), again), S_OK) << context;
    Fields second = ReadFields(other.Get());
    Fields expected = first;
    if (first.type != snmpResponse1 && first.type != snmpResponse2) {
        expected.exception = 0;
        expected.exceptionIndex = 0;
        second.exception = 0;
        second.exceptionIndex = 0;
    }
    EXPECT_EQ(second, expected) << context;
    EXPECT_EQ(ReadVariables(other.Get()), firstVars) << context;
}

class HostileBytes : public LeakChecked {};

TEST_F(HostileBytes, EveryCutGivesAMessageOr12015) {
    auto m = NewMessage();
    for (const Bytes& message : ValidMessages()) {
        ASSERT_EQ(Decode(m.Get(), message), S_OK) << ToHex(message);
        ExpectRoundTrip(m.Get(), ToHex(message));
        for (std::size_t n = 0; n < message.size(); ++n) {
            const Bytes cut(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(n));
            const HRESULT hr = Decode(m.Get(), cut);
            // Only the outer length decides the end: every cut is short.
            EXPECT_EQ(hr, kFormatErrorResult) << "cut at " << n << " of " << ToHex(message);
        }
    }
}

TEST_F(HostileBytes, EverySingleByteChangeGivesAMessageOr12015) {
    auto m = NewMessage();
    std::size_t decoded = 0, refused = 0;
    for (const Bytes& message : ValidMessages()) {
        for (std::size_t i = 0; i < message.size(); ++i) {
            Bytes changed = message;
            // The values that steer the reader (tags, length forms, their neighbours) and
            // small changes of the byte that was there.
            std::vector<int> values = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
                                       0x1F, 0x20, 0x21, 0x22, 0x30, 0x31, 0x3F, 0x40, 0x41, 0x43, 0x44,
                                       0x45, 0x46, 0x47, 0x48, 0x7F, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85,
                                       0xA0, 0xA2, 0xA4, 0xA5, 0xA7, 0xA8, 0xC0, 0xFE, 0xFF};
            for (const int delta : {1, -1, 0x80, 0x40, 0x20}) values.push_back((message[i] + delta) & 0xFF);
            for (const int value : values) {
                if (value == message[i]) continue;
                changed[i] = static_cast<uint8_t>(value);
                const HRESULT hr = Decode(m.Get(), changed);
                if (hr == S_OK) {
                    ++decoded;
                    ExpectRoundTrip(m.Get(), ToHex(changed));
                } else {
                    ++refused;
                    ASSERT_EQ(hr, kFormatErrorResult) << ToHex(changed);
                }
            }
        }
    }
    EXPECT_GT(decoded, 0u);
    EXPECT_GT(refused, 0u);
}

// The declared outer length may exceed the bytes by 8192; nothing past the bytes is read
// even when every inner length points there.
TEST_F(HostileBytes, SlackInTheOuterLengthNeverReadsPastTheBytes) {
    auto m = NewMessage();
    for (const Bytes& message : ValidMessages()) {
        for (std::size_t n = 8; n < message.size(); ++n) {
            // The first n bytes, with the outer length claiming 8192 more than follow them.
            Bytes body(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(n));
            const std::size_t header = body[1] < 0x80 ? 2 : 2 + (body[1] & 0x7F);
            body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(header));
            const Bytes slack = Cat({{0x30}, Length(body.size() + 8192), body});
            // The array holds exactly these bytes, so a read past them is caught.
            const HRESULT hr = Decode(m.Get(), slack);
            EXPECT_TRUE(hr == S_OK || hr == kFormatErrorResult) << ToHex(slack);
        }
    }
}

// ---- Host-implemented variables ----

class HostVariable final : public velk::testing::HostObject<ISnmpVariable> {
public:
    static ComPtr<HostVariable> Make(const VarSpec& s) {
        auto v = ComPtr<HostVariable>::Adopt(new HostVariable);
        v->shape = s;
        return v;
    }

    VarSpec shape;
    bool fail = false;
    std::function<void(const char*)> hook;
    std::string calls;

    STDMETHOD(get_Exception)(VariableExceptionConstants* out) override {
        if (Call("Exception")) return E_FAIL;
        *out = static_cast<VariableExceptionConstants>(shape.exception);
        return S_OK;
    }
    STDMETHOD(get_Oid)(BSTR* out) override {
        if (Call("Oid")) return E_FAIL;
        *out = Bstr(shape.oid).Detach();
        return S_OK;
    }
    STDMETHOD(get_Repeat)(VARIANT_BOOL* out) override {
        if (Call("Repeat")) return E_FAIL;
        *out = shape.repeat ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    STDMETHOD(get_Type)(VariableTypeConstants* out) override {
        if (Call("Type")) return E_FAIL;
        *out = static_cast<VariableTypeConstants>(shape.type);
        return S_OK;
    }
    STDMETHOD(get_Value)(BSTR* out) override {
        if (Call("Value")) return E_FAIL;
        *out = shape.bytes ? Bstr(std::u16string(shape.bytes->begin(), shape.bytes->end())).Detach()
                          : Bstr(shape.value).Detach();
        return S_OK;
    }
    STDMETHOD(get_ValueEx)(VARIANT* out) override {
        if (Call("ValueEx")) return E_FAIL;
        *out = shape.bytes ? ByteArray(*shape.bytes).Detach() : Variant(std::u16string_view(shape.value)).Detach();
        return S_OK;
    }
    // Not read by the encoder.
    STDMETHOD(get_Access)(AccessConstants*) override { return E_NOTIMPL; }
    STDMETHOD(put_Access)(AccessConstants) override { return E_NOTIMPL; }
    STDMETHOD(put_Exception)(VariableExceptionConstants) override { return E_NOTIMPL; }
    STDMETHOD(get_Description)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Description)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(put_Oid)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Name)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(put_Repeat)(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHOD(get_Status)(StatusConstants*) override { return E_NOTIMPL; }
    STDMETHOD(put_Status)(StatusConstants) override { return E_NOTIMPL; }
    STDMETHOD(put_Type)(VariableTypeConstants) override { return E_NOTIMPL; }
    STDMETHOD(put_Value)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Syntax)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Syntax)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(put_ValueEx)(VARIANT) override { return E_NOTIMPL; }
    STDMETHOD(get_Reference)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Reference)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Index)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_ValueName)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_BaseSyntax)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_BaseSyntax)(BSTR) override { return E_NOTIMPL; }

private:
    // Records the call and runs the hook; true when the call is to fail.
    bool Call(const char* member) {
        calls += calls.empty() ? "" : " ";
        calls += member;
        if (hook) hook(member);
        return fail;
    }
};

std::vector<VarSpec> EveryKind() {
    return {{u"1.3.6.1.1", snmpInteger, u"-5"},
            {u"1.3.6.1.2", snmpOctetString, u"", 0, false, Hex("00 FF 41")},
            {u"1.3.6.1.3", snmpOctetString, u"text"},
            {u"1.3.6.1.4", snmpObjectID, u"1.3.6.1.4.1"},
            {u"1.3.6.1.5", snmpIpAddress, u"10.0.0.1"},
            {u"1.3.6.1.6", snmpCounter32, u"4000000000"},
            {u"1.3.6.1.7", snmpGuage32, u"7"},
            {u"1.3.6.1.8", snmpTimeTicks, u"8"},
            {u"1.3.6.1.9", snmpOpaque, u"", 0, false, Hex("9F 78")},
            {u"1.3.6.1.10", snmpNSAPAddress, u"ns"},
            {u"1.3.6.1.11", snmpUInteger32, u"11"},
            {u"1.3.6.1.12", snmpCounter64, u"18446744073709551615"},
            {u"1.3.6.1.13", snmpNull, u"x"},
            {u"1.3.6.1.14", 42, u"x"},
            {u"1.3.6.1.15", snmpInteger, u"1", 2},
            {u"1.3.6.1.16", snmpInteger, u"1", 0, true}};
}

class HostVariables : public LeakChecked {};

TEST_F(HostVariables, EncodeAsOurOwnVariables) {
    for (const LONG type : {LONG{snmpResponse2}, LONG{snmpGetBulk2}}) {
        auto ours = NewMessage();
        auto theirs = NewMessage();
        for (ISnmpMessage* m : {ours.Get(), theirs.Get()}) {
            m->put_Type(static_cast<TypeConstants>(type));
            m->put_Id(3);
        }
        AddVariables(ours.Get(), EveryKind());
        ComPtr<ISnmpVariables> list;
        theirs->get_Variables(list.Put());
        for (const VarSpec& s : EveryKind()) list->Add(HostVariable::Make(s).Get());
        EXPECT_EQ(ToHex(Encode(theirs.Get())), ToHex(Encode(ours.Get()))) << type;
    }
}

TEST_F(HostVariables, AreReadInTheOrderOfTheirMembers) {
    struct Case {
        VarSpec shape;
        const char* calls;
    } cases[] = {
        {{u"1.3", snmpOctetString, u"x"}, "Repeat Exception Type ValueEx Oid"},
        {{u"1.3", snmpOpaque, u"x"}, "Repeat Exception Type ValueEx Oid"},
        {{u"1.3", snmpInteger, u"1"}, "Repeat Exception Type Value Oid"},
        {{u"1.3", snmpNull, u""}, "Repeat Exception Type Value Oid"},
        {{u"1.3", 99, u""}, "Repeat Exception Type Value Oid"},
        {{u"1.3", snmpInteger, u"1", 1}, "Repeat Exception Oid"},
    };
    for (const Case& c : cases) {
        auto m = NewMessage();
        m->put_Type(snmpGetBulk2);
        ComPtr<ISnmpVariables> list;
        m->get_Variables(list.Put());
        auto v = HostVariable::Make(c.shape);
        list->Add(v.Get());
        Encode(m.Get());
        // GetBulk reads Repeat once per pass; the pass that skips it reads no further.
        EXPECT_EQ(v->calls, std::string("Repeat ") + c.calls);
    }
}

TEST_F(HostVariables, FailingCallsReadAsEmpty) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    auto v = HostVariable::Make({u"1.3", snmpInteger, u"5", 0, true});
    v->fail = true;
    list->Add(v.Get());
    EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Message(Hex("30 04 06 00 05 00"))));
}

TEST_F(HostVariables, MayEmptyTheCollectionDuringEncode) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    auto host = HostVariable::Make({u"1.4", snmpInteger, u"5"});
    AddVariables(m.Get(), {{u"1.3", snmpInteger, u"1"}});
    list->Add(host.Get());
    AddVariables(m.Get(), {{u"1.5", snmpInteger, u"2"}});
    ISnmpVariables* raw = list.Get();
    host->hook = [raw](const char* member) {
        if (std::string(member) == "Value") raw->Clear();
    };
    // Every variable of the collection as Encode began is written.
    EXPECT_EQ(ToHex(Encode(m.Get())),
              ToHex(Message(Hex("30 06 06 01 2B 02 01 01 30 06 06 01 2C 02 01 05 30 06 06 01 2D 02 01 02"))));
    LONG count = -1;
    list->get_Count(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(HostVariables, MayEncodeAndDecodeTheMessageDuringEncode) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    auto host = HostVariable::Make({u"1.4", snmpInteger, u"5"});
    list->Add(host.Get());
    ISnmpMessage* raw = m.Get();
    Bytes inner;
    int depth = 0;
    host->hook = [&](const char* member) {
        if (std::string(member) != "Value" || depth++ != 0) return;
        inner = Encode(raw);
        // A decode replaces the message while the outer encoding runs.
        EXPECT_EQ(Decode(raw, Message(VarBind(Hex("02 01 09")), 0xA0, 0)), S_OK);
    };
    const Bytes expected = Message(Hex("30 06 06 01 2C 02 01 05"));
    const Bytes outer = Encode(m.Get());
    EXPECT_EQ(ToHex(inner), ToHex(expected));
    // The Type read as the encoding began decides the layout.
    EXPECT_EQ(ToHex(outer), ToHex(expected));
}

TEST_F(HostVariables, ValueExOfTextGivesItsBytes) {
    auto m = NewMessage();
    m->put_Type(snmpResponse2);
    m->put_Id(1);
    m->put_Community(Bstr(u"").Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    list->Add(HostVariable::Make({u"1.3", snmpOctetString, u"h\u00E9\u20AC"}).Get());
    EXPECT_EQ(ToHex(Encode(m.Get())), ToHex(Message(Hex("30 08 06 01 2B 04 03 68 E9 3F"))));
}

}  // namespace
}  // namespace velk::codec::testing
