// The message codec against an independent one (pyasn1's BER codec with pysnmp's SNMP types,
// driven by codec_peer.py): every PDU type and every value type encoded by us and decoded
// by the peer, and encoded by the peer and decoded by us, compared field by field.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "codec/message.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "velk/com.h"

namespace velk::codec {
namespace {

// Descriptions in the peer's format (see codec_peer.py).
const std::vector<std::string> kCases = {
    // Every PDU type of both versions.
    "v=0 c=7075626C6963 pdu=0 id=1 s=0 i=0 vb=1.3.6.1.2.1.1.1.0,null,-",
    "v=0 c=7075626C6963 pdu=1 id=2 s=0 i=0 vb=1.3.6.1.2.1.1,null,- vb=1.3.6.1.2.1.2,null,-",
    "v=0 c=7075626C6963 pdu=2 id=3 s=2 i=1 vb=1.3.6.1.2.1.1.5.0,octets,6E616D65",
    "v=0 c=70726976617465 pdu=3 id=-4 s=0 i=0 vb=1.3.6.1.2.1.1.5.0,octets,6E6577",
    "v=0 c=- pdu=4 ent=1.3.6.1.4.1 addr=10.0.0.1 g=0 sp=0 t=100",
    "v=0 c=7075626C6963 pdu=4 ent=1.3.6.1.4.1.8072.3.2.10 addr=192.168.1.254 g=6 sp=-17 t=4294967295 "
    "vb=1.3.6.1.2.1.2.2.1.1.3,integer,3",
    "v=0 c=7075626C6963 pdu=4 ent=0.0 addr=0.0.0.0 g=2 sp=0 t=0",
    "v=1 c=7075626C6963 pdu=0 id=2147483647 s=0 i=0 vb=1.3.6.1.2.1.1.1.0,null,-",
    "v=1 c=7075626C6963 pdu=1 id=-2147483648 s=0 i=0 vb=1.3.6.1.2.1.1.1.0,null,-",
    "v=1 c=7075626C6963 pdu=2 id=12345 s=18 i=2 vb=1.3.6.1.2.1.1.1.0,null,- vb=1.3.6.1.2.1.1.2.0,null,-",
    "v=1 c=7075626C6963 pdu=3 id=9 s=0 i=0 vb=1.3.6.1.2.1.1.6.0,octets,-",
    "v=1 c=7075626C6963 pdu=5 id=5 s=2 i=10 vb=1.3.6.1.2.1.1.1.0,null,- vb=1.3.6.1.2.1.1.3.0,null,- "
    "vb=1.3.6.1.2.1.2.2,null,-",
    "v=1 c=7075626C6963 pdu=5 id=6 s=0 i=0",
    "v=1 c=7075626C6963 pdu=6 id=7 s=0 i=0 vb=1.3.6.1.2.1.1.3.0,timeticks,99 "
    "vb=1.3.6.1.6.3.1.1.4.1.0,oid,1.3.6.1.6.3.1.1.5.1",
    "v=1 c=7075626C6963 pdu=7 id=8 s=0 i=0 vb=1.3.6.1.2.1.1.3.0,timeticks,0 "
    "vb=1.3.6.1.6.3.1.1.4.1.0,oid,1.3.6.1.6.3.1.1.5.3 vb=1.3.6.1.2.1.2.2.1.1.1,integer,1",
    // Every value type, with the extremes.
    "v=1 c=- pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,integer,0 vb=1.3.6.1.2,integer,-1 vb=1.3.6.1.3,integer,2147483647 "
    "vb=1.3.6.1.4,integer,-2147483648 vb=1.3.6.1.5,integer,128 vb=1.3.6.1.6,integer,-129",
    "v=1 c=E9FF20 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,octets,- vb=1.3.6.1.2,octets,00FF80417F "
    "vb=1.3.6.1.3,octets,68656C6C6F vb=1.3.6.1.4,opaque,9F780400 vb=1.3.6.1.5,opaque,- "
    "vb=1.3.6.1.6,nsap,4701020304 vb=1.3.6.1.7,nsap,-",
    "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,counter32,0 vb=1.3.6.1.2,counter32,4294967295 "
    "vb=1.3.6.1.3,gauge32,128 vb=1.3.6.1.4,timeticks,123456789 vb=1.3.6.1.5,uinteger32,4294967295 "
    "vb=1.3.6.1.6,uinteger32,0",
    "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,counter64,18446744073709551615 "
    "vb=1.3.6.1.2,counter64,4294967296 vb=1.3.6.1.3,counter64,9223372036854775808 vb=1.3.6.1.4,counter64,0 "
    "vb=1.3.6.1.5,counter64,4294967295",
    "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,ip,192.168.0.1 vb=1.3.6.1.2,ip,0.0.0.0 "
    "vb=1.3.6.1.3,ip,255.255.255.255",
    "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,oid,2.100.3 vb=1.3.6.1.2,oid,0.0 "
    "vb=1.3.6.1.3,oid,1.3.6.1.4.1.4294967295.2147483648.2147483647.128.127.0 "
    "vb=2.999.4294967295,oid,1.3.6.1.4.1.8072.3.2.10",
    "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.2.1.1,nosuchobject,- "
    "vb=1.3.6.1.2.1.2,nosuchinstance,- vb=1.3.6.1.2.1.3,endofmibview,- vb=1.3.6.1.2.1.4,null,-",
    "v=0 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=1.3.6.1.1,counter64,1 vb=1.3.6.1.2,nosuchinstance,-",
};

// A long OID of 128 arcs, each above 2^31, as name and as value; a long string value.
std::string LongCase() {
    std::string oid = "1.3.6.1.4.1";
    for (int i = 0; i < 128; ++i) oid += "." + std::to_string(2147483648u + static_cast<unsigned>(i) * 7919u);
    std::string bytes;
    for (int i = 0; i < 600; ++i) {
        static const char* digits = "0123456789ABCDEF";
        bytes += digits[(i * 7) % 16];
        bytes += digits[(i * 13) % 16];
    }
    return "v=1 c=7075626C6963 pdu=2 id=1 s=0 i=0 vb=" + oid + ",oid," + oid + " vb=1.3.6.1.2,octets," + bytes;
}

std::vector<std::string> Cases() {
    std::vector<std::string> all = kCases;
    all.push_back(LongCase());
    return all;
}

// ---- Descriptions of our messages ----

struct Described {
    std::map<std::string, std::string> fields;
    std::vector<std::vector<std::string>> vbs;  // oid, kind, value
};

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

Described Parse(const std::string& line) {
    Described d;
    for (const std::string& token : Split(line, ' ')) {
        if (token.empty()) continue;
        const auto eq = token.find('=');
        const std::string key = token.substr(0, eq), value = token.substr(eq + 1);
        if (key == "vb")
            d.vbs.push_back(Split(value, ','));
        else
            d.fields[key] = value;
    }
    return d;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::string Narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    if (hex == "-") return bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const uint8_t* data, std::size_t n) {
    if (n == 0) return "-";
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

const std::map<std::string, LONG> kKindTypes = {
    {"integer", snmpInteger}, {"octets", snmpOctetString}, {"null", snmpNull}, {"oid", snmpObjectID},
    {"ip", snmpIpAddress}, {"counter32", snmpCounter32}, {"gauge32", snmpGuage32},
    {"timeticks", snmpTimeTicks}, {"opaque", snmpOpaque}, {"nsap", snmpNSAPAddress},
    {"counter64", snmpCounter64}, {"uinteger32", snmpUInteger32}};
const std::map<std::string, LONG> kKindExceptions = {
    {"nosuchobject", snmpNoSuchObject}, {"nosuchinstance", snmpNoSuchInstance}, {"endofmibview", snmpEndOfMibView}};

// Our message as the description says, through the interfaces a host uses.
ComPtr<ISnmpMessage> Build(const std::string& line) {
    const Described d = Parse(line);
    ComPtr<ISnmpMessage> m;
    EXPECT_EQ(SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), S_OK);
    const LONG pdu = std::stol(d.fields.at("pdu"));
    const LONG type = pdu + (d.fields.at("v") == "0" ? snmp1 : snmp2);
    m->put_Type(static_cast<TypeConstants>(type));
    const std::vector<uint8_t> community = FromHex(d.fields.at("c"));
    m->put_Community(Bstr(std::u16string(community.begin(), community.end())).Get());
    LONG nonRepeaters = 0;
    if (pdu == 4) {
        const std::string ent = d.fields.at("ent");
        m->put_Enterprise(Bstr(Wide(ent == "-" ? "" : ent)).Get());
        m->put_AgentAddress(Bstr(Wide(d.fields.at("addr"))).Get());
        m->put_GenericTrap(static_cast<TrapConstants>(std::stol(d.fields.at("g"))));
        m->put_SpecificTrap(std::stol(d.fields.at("sp")));
        m->put_UpTime(static_cast<LONG>(std::stoul(d.fields.at("t"))));
    } else {
        m->put_Id(std::stol(d.fields.at("id")));
        if (type == snmpGetBulk2) {
            nonRepeaters = std::stol(d.fields.at("s"));
            m->put_MaxRepetition(std::stol(d.fields.at("i")));
        } else {
            m->put_Exception(static_cast<ExceptionConstants>(std::stol(d.fields.at("s"))));
            m->put_ExceptionIndex(std::stol(d.fields.at("i")));
        }
    }
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    LONG position = 0;
    for (const auto& vb : d.vbs) {
        ComPtr<ISnmpVariable> v;
        EXPECT_EQ(model::CreateSnmpVariable(v.Put()), S_OK);
        v->put_Oid(Bstr(Wide(vb[0])).Get());
        if (auto e = kKindExceptions.find(vb[1]); e != kKindExceptions.end()) {
            v->put_Exception(static_cast<VariableExceptionConstants>(e->second));
            v->put_Type(snmpInteger);  // ignored under an exception
        } else {
            const LONG t = kKindTypes.at(vb[1]);
            v->put_Type(static_cast<VariableTypeConstants>(t));
            if (t == snmpOctetString || t == snmpOpaque) {
                // Bytes through ValueEx.
                const std::vector<uint8_t> bytes = FromHex(vb[2]);
                Variant array;
                array.vt = VT_ARRAY | VT_UI1;
                array.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
                if (!bytes.empty()) std::memcpy(array.parray->pvData, bytes.data(), bytes.size());
                v->put_ValueEx(array);
            } else if (t == snmpNSAPAddress) {
                // Bytes as text through the code page.
                const std::vector<uint8_t> bytes = FromHex(vb[2]);
                v->put_Value(Bstr(std::u16string(bytes.begin(), bytes.end())).Get());
            } else if (t != snmpNull) {
                v->put_Value(Bstr(Wide(vb[2])).Get());
            }
        }
        v->put_Repeat(type == snmpGetBulk2 && position >= nonRepeaters ? VARIANT_TRUE : VARIANT_FALSE);
        ++position;
        list->Add(v.Get());
    }
    return m;
}

// The description of our (decoded) message.
std::string Describe(ISnmpMessage* m) {
    TypeConstants type{};
    m->get_Type(&type);
    const LONG pdu = type & 0x1F;
    std::string s = std::string("v=") + ((type & 0x20) ? "0" : "1");
    Bstr community;
    m->get_Community(community.Put());
    std::vector<uint8_t> bytes(community.View().begin(), community.View().end());
    s += " c=" + ToHex(bytes.data(), bytes.size()) + " pdu=" + std::to_string(pdu);
    if (pdu == 4) {
        Bstr ent, addr;
        TrapConstants generic{};
        LONG specific = 0, upTime = 0;
        m->get_Enterprise(ent.Put());
        m->get_AgentAddress(addr.Put());
        m->get_GenericTrap(&generic);
        m->get_SpecificTrap(&specific);
        m->get_UpTime(&upTime);
        s += " ent=" + (ent.Empty() ? std::string("-") : Narrow(ent.View())) + " addr=" + Narrow(addr.View()) +
             " g=" + std::to_string(generic) + " sp=" + std::to_string(specific) +
             " t=" + std::to_string(static_cast<uint32_t>(upTime));
    } else {
        LONG id = 0, index = 0, maxRepetition = 0;
        ExceptionConstants exception{};
        m->get_Id(&id);
        m->get_Exception(&exception);
        m->get_ExceptionIndex(&index);
        m->get_MaxRepetition(&maxRepetition);
        LONG status = exception, second = index;
        ComPtr<ISnmpVariables> list;
        m->get_Variables(list.Put());
        if (type == snmpGetBulk2) {
            // The non-repeaters count shows as the variables that do not repeat.
            status = 0;
            for (auto* n = model::SnmpVariables::From(list.Get())->Members().Head(); n; n = n->next)
                if (!n->value.own->RepeatValue()) ++status;
            second = maxRepetition;
        }
        s += " id=" + std::to_string(id) + " s=" + std::to_string(status) + " i=" + std::to_string(second);
    }
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    for (auto* n = model::SnmpVariables::From(list.Get())->Members().Head(); n; n = n->next) {
        const model::SnmpVariable& v = *n->value.own;
        std::string kind, value = "-";
        if (v.ExceptionValue() != 0) {
            for (const auto& [k, e] : kKindExceptions)
                if (e == v.ExceptionValue()) kind = k;
        } else {
            for (const auto& [k, t] : kKindTypes)
                if (t == v.TypeValue()) kind = k;
            const VARIANT& store = v.ValueStore();
            if (store.vt == (VT_ARRAY | VT_UI1))
                value = ToHex(static_cast<const uint8_t*>(store.parray->pvData), store.parray->rgsabound[0].cElements);
            else if (v.TypeValue() != snmpNull)
                value = Narrow(v.ValueTextView());
        }
        s += " vb=" + Narrow(v.OidView()) + "," + kind + "," + value;
    }
    return s;
}

std::string Python() {
    if (access("/usr/bin/python3", X_OK) == 0) return "/usr/bin/python3";  // Debian's, with the packages
    return "python3";
}

// Runs the peer over the lines; one output line per input line.
std::vector<std::string> RunPeer(const std::string& mode, const std::vector<std::string>& lines) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("velk-codec-peer-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto in = dir / "in.txt", out = dir / "out.txt", err = dir / "err.txt";
    {
        std::ofstream f(in);
        for (const auto& l : lines) f << l << "\n";
    }
    const std::string script = std::string(VELK_SOURCE_DIR) + "/tests/interop/codec_peer.py";
    const std::string command = Python() + " " + script + " " + mode + " < " + in.string() + " > " + out.string() +
                                " 2> " + err.string();
    const int rc = std::system(command.c_str());
    std::vector<std::string> result;
    std::ifstream f(out);
    for (std::string l; std::getline(f, l);) result.push_back(l);
    if (rc != 0) {
        std::ifstream e(err);
        std::stringstream text;
        text << e.rdbuf();
        ADD_FAILURE() << "peer failed (" << rc << "): " << text.str();
    }
    std::filesystem::remove_all(dir);
    return result;
}

class CodecInterop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string probe = Python() + " -c 'import pysnmp.proto.rfc1902, pyasn1' > /dev/null 2>&1";
        available_ = std::system(probe.c_str()) == 0;
    }
    void SetUp() override {
        if (!available_) GTEST_SKIP() << "python3-pysnmp4 / python3-pyasn1 are not installed";
        live_ = rt::LiveObjectCount();
    }
    void TearDown() override {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(rt::LiveObjectCount(), live_);
    }
    static bool available_;
    long live_ = 0;
};
bool CodecInterop::available_ = false;

TEST_F(CodecInterop, PeerDecodesWhatWeEncode) {
    const std::vector<std::string> cases = Cases();
    std::vector<std::string> encoded;
    for (const std::string& c : cases) {
        auto m = Build(c);
        std::span<const uint8_t> bytes;
        ASSERT_EQ(SnmpMessage::From(m.Get())->EncodeBytes(&bytes), S_OK);
        encoded.push_back(ToHex(bytes.data(), bytes.size()));
    }
    const std::vector<std::string> decoded = RunPeer("decode", encoded);
    ASSERT_EQ(decoded.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(decoded[i], cases[i]) << encoded[i];
}

TEST_F(CodecInterop, WeDecodeWhatThePeerEncodes) {
    const std::vector<std::string> cases = Cases();
    const std::vector<std::string> encoded = RunPeer("encode", cases);
    ASSERT_EQ(encoded.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ASSERT_EQ(encoded[i].rfind("error", 0), std::string::npos) << encoded[i];
        ComPtr<ISnmpMessage> m;
        ASSERT_EQ(SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), S_OK);
        ASSERT_EQ(SnmpMessage::From(m.Get())->DecodeBytes(FromHex(encoded[i])), S_OK) << encoded[i];
        EXPECT_EQ(Describe(m.Get()), cases[i]) << encoded[i];
    }
}

}  // namespace
}  // namespace velk::codec
