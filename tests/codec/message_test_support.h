// Helpers of the message tests: hex bytes, an independent little BER builder, byte-array
// VARIANTs, message construction and a field-by-field picture of a message.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "codec/message.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "support/message_fields.h"
#include "velk/com.h"

namespace velk::codec::testing {

using Bytes = std::vector<uint8_t>;

constexpr HRESULT kFormatErrorResult = static_cast<HRESULT>(0x800A2EEFu);

// "02 01 FF" -> {0x02, 0x01, 0xFF}
inline Bytes Hex(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (const char c : text) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return bytes;
}

inline std::string ToHex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (const uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Definite length, minimal form (written independently of the library's writer).
inline Bytes Length(std::size_t n) {
    if (n < 0x80) return {static_cast<uint8_t>(n)};
    Bytes be;
    for (std::size_t v = n; v; v >>= 8) be.insert(be.begin(), static_cast<uint8_t>(v));
    be.insert(be.begin(), static_cast<uint8_t>(0x80 + be.size()));
    return be;
}

inline Bytes Tlv(uint8_t tag, const Bytes& content) {
    return Cat({{tag}, Length(content.size()), content});
}

// A version-2c Response (or `pduTag` and `version` as given) around the VarBinds.
inline Bytes Message(const Bytes& varBinds, uint8_t pduTag = 0xA2, int version = 1,
                     const Bytes& header = Hex("02 01 01 02 01 00 02 01 00")) {
    const Bytes pdu = Tlv(pduTag, Cat({header, Tlv(0x30, varBinds)}));
    return Tlv(0x30, Cat({Tlv(0x02, {static_cast<uint8_t>(version)}), Tlv(0x04, {}), pdu}));
}

// One VarBind with the OID content 2B 06 01 (1.3.6.1) and the given value element.
inline Bytes VarBind(const Bytes& value, const Bytes& oidContent = Hex("2B 06 01 02 01 01 05 00")) {
    return Tlv(0x30, Cat({Tlv(0x06, oidContent), value}));
}

inline Variant ByteArray(const Bytes& bytes) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    return v;
}

inline Bytes ArrayBytes(const VARIANT& v) {
    if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {};
    const auto* data = static_cast<const uint8_t*>(v.parray->pvData);
    return Bytes(data, data + v.parray->rgsabound[0].cElements);
}

inline std::u16string U16(std::string_view s) {
    std::u16string w;
    for (const char c : s) w.push_back(static_cast<unsigned char>(c));
    return w;
}

inline std::u16string ViewOf(BSTR s) {
    return s ? std::u16string(s, SysStringLen(s)) : std::u16string();
}

inline ComPtr<ISnmpMessage> NewMessage() {
    ComPtr<ISnmpMessage> m;
    EXPECT_EQ(SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), S_OK);
    return m;
}

// Encodes into a byte array; EXPECTs success.
inline Bytes Encode(ISnmpMessage* m) {
    Variant out = ByteArray({});
    EXPECT_EQ(m->Encode(&out), S_OK);
    return ArrayBytes(out);
}

inline HRESULT Decode(ISnmpMessage* m, const Bytes& bytes) { return m->Decode(ByteArray(bytes)); }

// A variable as the tests describe it. `value` is Value text, or ValueEx bytes when
// `bytes` is set.
struct VarSpec {
    std::u16string oid{};
    LONG type = snmpNull;
    std::u16string value{};
    LONG exception = 0;
    bool repeat = false;
    std::optional<Bytes> bytes = std::nullopt;
};

inline void PutValueBytes(ISnmpVariable* v, const Bytes& bytes) {
    Variant array = ByteArray(bytes);
    EXPECT_EQ(v->put_ValueEx(array), S_OK);
}

inline ComPtr<ISnmpVariable> MakeVariable(const VarSpec& s) {
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(model::CreateSnmpVariable(v.Put()), S_OK);
    v->put_Oid(Bstr(s.oid).Get());
    v->put_Type(static_cast<VariableTypeConstants>(s.type));
    if (s.bytes)
        PutValueBytes(v.Get(), *s.bytes);
    else
        v->put_Value(Bstr(s.value).Get());
    v->put_Exception(static_cast<VariableExceptionConstants>(s.exception));
    v->put_Repeat(s.repeat ? VARIANT_TRUE : VARIANT_FALSE);
    return v;
}

inline void AddVariables(ISnmpMessage* m, const std::vector<VarSpec>& specs) {
    ComPtr<ISnmpVariables> vars;
    ASSERT_EQ(m->get_Variables(vars.Put()), S_OK);
    for (const VarSpec& s : specs) ASSERT_EQ(vars->Add(MakeVariable(s).Get()), S_OK);
}

// A variable read back through its interface. `text` is Value; `bytes` is true when the
// store holds a byte array (a byte value).
struct VarFields {
    std::u16string oid{};
    LONG type = 0;
    LONG exception = 0;
    bool repeat = false;
    std::u16string text{};
    bool bytes = false;
    bool operator==(const VarFields&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const VarFields& f) {
    std::string oid(f.oid.begin(), f.oid.end());
    std::string text;
    for (const char16_t c : f.text) text += c < 0x80 && c >= 0x20 ? static_cast<char>(c) : '~';
    return os << "{" << oid << " type " << f.type << " exc " << f.exception << " rep " << f.repeat
              << " '" << text << "'" << (f.bytes ? " bytes" : "") << "}";
}

inline VarFields ReadVariable(ISnmpVariable* v) {
    VarFields f;
    Bstr oid, text;
    VariableTypeConstants type{};
    VariableExceptionConstants exception{};
    VARIANT_BOOL repeat = 0;
    v->get_Oid(oid.Put());
    v->get_Type(&type);
    v->get_Exception(&exception);
    v->get_Repeat(&repeat);
    v->get_Value(text.Put());
    f.oid = std::u16string(oid.View());
    f.type = type;
    f.exception = exception;
    f.repeat = repeat != VARIANT_FALSE;
    f.text = std::u16string(text.View());
    if (model::SnmpVariable* own = model::SnmpVariable::From(v))
        f.bytes = own->ValueStore().vt == (VT_ARRAY | VT_UI1);
    return f;
}

inline std::vector<VarFields> ReadVariables(ISnmpMessage* m) {
    std::vector<VarFields> all;
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    LONG count = 0;
    vars->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<ISnmpVariable> v;
        EXPECT_EQ(vars->Item(Variant(i), v.Put()), S_OK);
        if (v) all.push_back(ReadVariable(v.Get()));
    }
    return all;
}

// Header and PDU fields of a message.
using Fields = velk::testing::MessageFields;
inline Fields ReadFields(ISnmpMessage* m) { return velk::testing::ReadMessageFields(m); }

// Every object a test creates is gone at its end.
class LeakChecked : public ::testing::Test {
protected:
    void SetUp() override { live_ = rt::LiveObjectCount(); }
    void TearDown() override {
        SetErrorInfo(0, nullptr);  // the thread's error record is an object too
        EXPECT_EQ(rt::LiveObjectCount(), live_) << "objects leaked";
    }

private:
    long live_ = 0;
};

}  // namespace velk::codec::testing
