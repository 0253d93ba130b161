// Message codec: Encode of a prepared message and Decode of its bytes (creating the
// variables), for the workloads W1, W2 and W3, through the ISnmpMessage interface with
// byte-array VARIANTs as hosts and the controls use it. bench/reference/ runs the same
// workloads through net-snmp's library.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec/message.h"
#include "model/variable.h"
#include "velk/com.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

struct Var {
    std::u16string oid;
    VariableTypeConstants type;
    std::u16string value;
};

ComPtr<ISnmpMessage> Build(TypeConstants type, LONG id, const std::vector<Var>& vars) {
    ComPtr<ISnmpMessage> m;
    velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid());
    m->put_Type(type);
    m->put_Id(id);
    m->put_Community(Bstr(u"public").Get());
    ComPtr<ISnmpVariables> list;
    m->get_Variables(list.Put());
    for (const Var& v : vars) {
        ComPtr<ISnmpVariable> variable;
        velk::model::CreateSnmpVariable(variable.Put());
        variable->put_Oid(Bstr(v.oid).Get());
        variable->put_Type(v.type);
        variable->put_Value(Bstr(v.value).Get());
        list->Add(variable.Get());
    }
    return m;
}

ComPtr<ISnmpMessage> W1() {
    return Build(snmpResponse2, 12345,
                 {{u"1.3.6.1.2.1.1.1.0", snmpOctetString, u"Velk SNMP agent on a Linux host, ver 1.0"},
                  {u"1.3.6.1.2.1.1.2.0", snmpObjectID, u"1.3.6.1.4.1.8072.3.2.10"},
                  {u"1.3.6.1.2.1.1.3.0", snmpTimeTicks, u"123456789"},
                  {u"1.3.6.1.2.1.1.5.0", snmpOctetString, u"host.example.org"},
                  {u"1.3.6.1.2.1.2.2.1.10.1", snmpCounter32, u"4000000000"},
                  {u"1.3.6.1.2.1.2.2.1.5.1", snmpGuage32, u"1000000000"},
                  {u"1.3.6.1.2.1.2.2.1.8.1", snmpInteger, u"1"},
                  {u"1.3.6.1.2.1.4.20.1.1.10.0.0.1", snmpIpAddress, u"10.0.0.1"},
                  {u"1.3.6.1.2.1.31.1.1.1.6.1", snmpCounter64, u"18446744073709551615"},
                  {u"1.3.6.1.2.1.1.7.0", snmpInteger, u"72"}});
}

ComPtr<ISnmpMessage> W2() { return Build(snmpGet2, 1, {{u"1.3.6.1.2.1.1.1.0", snmpNull, u""}}); }

ComPtr<ISnmpMessage> W3() {
    std::vector<Var> vars;
    for (int c = 1; c <= 10; ++c) {
        for (int i = 1; i <= 10; ++i) {
            const std::string oid = "1.3.6.1.2.1.2.2.1." + std::to_string(c) + "." + std::to_string(i);
            const std::string eth = "eth" + std::to_string(i);
            const bool integer = vars.size() % 2 == 0;
            const std::string value = integer ? std::to_string(i * c) : eth;
            vars.push_back({std::u16string(oid.begin(), oid.end()), integer ? snmpInteger : snmpOctetString,
                            std::u16string(value.begin(), value.end())});
        }
    }
    return Build(snmpResponse2, 1, vars);
}

Variant EmptyByteArray() {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, 0);
    return v;
}

void Encode(benchmark::State& state, ComPtr<ISnmpMessage> (*build)()) {
    auto message = build();
    Variant out = EmptyByteArray();
    for (auto _ : state) {
        if (message->Encode(&out) != S_OK) state.SkipWithError("Encode failed");
        benchmark::DoNotOptimize(out.parray);
    }
    state.counters["bytes"] = static_cast<double>(out.parray->rgsabound[0].cElements);
}

void Decode(benchmark::State& state, ComPtr<ISnmpMessage> (*build)()) {
    auto source = build();
    Variant bytes = EmptyByteArray();
    source->Encode(&bytes);
    ComPtr<ISnmpMessage> message;
    velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, message.PutVoid());
    for (auto _ : state) {
        if (message->Decode(bytes) != S_OK) state.SkipWithError("Decode failed");
    }
    LONG count = 0;
    ComPtr<ISnmpVariables> list;
    message->get_Variables(list.Put());
    list->get_Count(&count);
    state.counters["variables"] = count;
}

void BM_Codec_W1_Encode(benchmark::State& state) { Encode(state, W1); }
void BM_Codec_W1_Decode(benchmark::State& state) { Decode(state, W1); }
void BM_Codec_W2_Encode(benchmark::State& state) { Encode(state, W2); }
void BM_Codec_W2_Decode(benchmark::State& state) { Decode(state, W2); }
void BM_Codec_W3_Encode(benchmark::State& state) { Encode(state, W3); }
void BM_Codec_W3_Decode(benchmark::State& state) { Decode(state, W3); }

BENCHMARK(BM_Codec_W1_Encode);
BENCHMARK(BM_Codec_W1_Decode);
BENCHMARK(BM_Codec_W2_Encode);
BENCHMARK(BM_Codec_W2_Decode);
BENCHMARK(BM_Codec_W3_Encode);
BENCHMARK(BM_Codec_W3_Decode);

}  // namespace
