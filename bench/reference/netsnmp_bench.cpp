// Reference figures: the codec workloads W1, W2 and W3 through net-snmp's library (Debian's
// libsnmp), run on the same machine as velk-bench. Encode: snmp_build of a prepared PDU
// into a reused buffer. Decode: snmp_parse of the bytes into a new PDU, which is freed.
#include <benchmark/benchmark.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Var {
    std::vector<oid> name;
    u_char type;
    std::vector<u_char> value;
};

std::vector<oid> Oid(const std::string& text) {
    std::vector<oid> arcs;
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t dot = text.find('.', pos);
        arcs.push_back(std::strtoul(text.substr(pos, dot - pos).c_str(), nullptr, 10));
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return arcs;
}

std::vector<u_char> Bytes(const std::string& s) { return std::vector<u_char>(s.begin(), s.end()); }

template <class T>
std::vector<u_char> Raw(T v) {
    std::vector<u_char> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

std::vector<u_char> Counter64(uint64_t v) {
    struct counter64 c;
    c.high = static_cast<u_long>(v >> 32);
    c.low = static_cast<u_long>(v & 0xFFFFFFFFu);
    return Raw(c);
}

std::vector<u_char> OidValue(const std::string& text) {
    const std::vector<oid> arcs = Oid(text);
    std::vector<u_char> b(arcs.size() * sizeof(oid));
    std::memcpy(b.data(), arcs.data(), b.size());
    return b;
}

std::vector<Var> W1() {
    const in_addr_t address = inet_addr("10.0.0.1");
    return {{Oid("1.3.6.1.2.1.1.1.0"), ASN_OCTET_STR, Bytes("Velk SNMP agent on a Linux host, ver 1.0")},
            {Oid("1.3.6.1.2.1.1.2.0"), ASN_OBJECT_ID, OidValue("1.3.6.1.4.1.8072.3.2.10")},
            {Oid("1.3.6.1.2.1.1.3.0"), ASN_TIMETICKS, Raw<u_long>(123456789)},
            {Oid("1.3.6.1.2.1.1.5.0"), ASN_OCTET_STR, Bytes("host.example.org")},
            {Oid("1.3.6.1.2.1.2.2.1.10.1"), ASN_COUNTER, Raw<u_long>(4000000000u)},
            {Oid("1.3.6.1.2.1.2.2.1.5.1"), ASN_GAUGE, Raw<u_long>(1000000000u)},
            {Oid("1.3.6.1.2.1.2.2.1.8.1"), ASN_INTEGER, Raw<long>(1)},
            {Oid("1.3.6.1.2.1.4.20.1.1.10.0.0.1"), ASN_IPADDRESS, Raw(address)},
            {Oid("1.3.6.1.2.1.31.1.1.1.6.1"), ASN_COUNTER64, Counter64(18446744073709551615u)},
            {Oid("1.3.6.1.2.1.1.7.0"), ASN_INTEGER, Raw<long>(72)}};
}

std::vector<Var> W2() { return {{Oid("1.3.6.1.2.1.1.1.0"), ASN_NULL, {}}}; }

std::vector<Var> W3() {
    std::vector<Var> vars;
    for (int c = 1; c <= 10; ++c) {
        for (int i = 1; i <= 10; ++i) {
            const std::string name = "1.3.6.1.2.1.2.2.1." + std::to_string(c) + "." + std::to_string(i);
            if (vars.size() % 2 == 0)
                vars.push_back({Oid(name), ASN_INTEGER, Raw<long>(i * c)});
            else
                vars.push_back({Oid(name), ASN_OCTET_STR, Bytes("eth" + std::to_string(i))});
        }
    }
    return vars;
}

struct Session {
    netsnmp_session session;
    Session() {
        setenv("MIBS", "", 1);
        setenv("SNMPCONFPATH", "/nonexistent", 1);
        init_snmp("velk-bench-reference");
        snmp_sess_init(&session);
        session.version = SNMP_VERSION_2c;
        static u_char community[] = "public";
        session.community = community;
        session.community_len = 6;
    }
};

Session& TheSession() {
    static Session s;
    return s;
}

netsnmp_pdu* BuildPdu(int command, long id, const std::vector<Var>& vars) {
    netsnmp_pdu* pdu = snmp_pdu_create(command);
    pdu->version = SNMP_VERSION_2c;
    pdu->reqid = id;
    pdu->community = static_cast<u_char*>(std::malloc(6));
    std::memcpy(pdu->community, "public", 6);
    pdu->community_len = 6;
    for (const Var& v : vars)
        snmp_pdu_add_variable(pdu, v.name.data(), v.name.size(), v.type, v.value.data(), v.value.size());
    return pdu;
}

// Encodes into `buffer`; returns the message's bytes.
std::vector<u_char> Build(netsnmp_pdu* pdu, u_char*& buffer, size_t& size) {
    size_t offset = 0;
    if (!snmp_build(&buffer, &size, &offset, &TheSession().session, pdu)) {
        // With reverse encoding the message ends the buffer.
        const u_char* start = buffer + size - offset;
        if (netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_REVERSE_ENCODE))
            return std::vector<u_char>(start, start + offset);
        return std::vector<u_char>(buffer, buffer + offset);
    }
    return {};
}

void Encode(benchmark::State& state, int command, long id, std::vector<Var> (*vars)()) {
    TheSession();
    netsnmp_pdu* pdu = BuildPdu(command, id, vars());
    size_t size = 65536;
    auto* buffer = static_cast<u_char*>(std::malloc(size));
    size_t bytes = 0;
    for (auto _ : state) {
        size_t offset = 0;
        if (snmp_build(&buffer, &size, &offset, &TheSession().session, pdu) != 0) {
            state.SkipWithError("snmp_build failed");
            break;
        }
        bytes = offset;
        benchmark::DoNotOptimize(buffer);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    std::free(buffer);
    snmp_free_pdu(pdu);
}

void Decode(benchmark::State& state, int command, long id, std::vector<Var> (*vars)()) {
    TheSession();
    netsnmp_pdu* source = BuildPdu(command, id, vars());
    size_t size = 65536;
    auto* buffer = static_cast<u_char*>(std::malloc(size));
    std::vector<u_char> message = Build(source, buffer, size);
    std::free(buffer);
    snmp_free_pdu(source);
    if (message.empty()) {
        state.SkipWithError("snmp_build failed");
        return;
    }
    long count = 0;
    for (auto _ : state) {
        netsnmp_pdu* pdu = static_cast<netsnmp_pdu*>(std::calloc(1, sizeof(netsnmp_pdu)));
        if (snmp_parse(nullptr, &TheSession().session, pdu, message.data(), message.size()) != 0) {
            state.SkipWithError("snmp_parse failed");
            snmp_free_pdu(pdu);
            break;
        }
        count = 0;
        for (auto* v = pdu->variables; v; v = v->next_variable) ++count;
        snmp_free_pdu(pdu);
    }
    state.counters["variables"] = static_cast<double>(count);
}

void BM_NetSnmp_W1_Encode(benchmark::State& s) { Encode(s, SNMP_MSG_RESPONSE, 12345, W1); }
void BM_NetSnmp_W1_Decode(benchmark::State& s) { Decode(s, SNMP_MSG_RESPONSE, 12345, W1); }
void BM_NetSnmp_W2_Encode(benchmark::State& s) { Encode(s, SNMP_MSG_GET, 1, W2); }
void BM_NetSnmp_W2_Decode(benchmark::State& s) { Decode(s, SNMP_MSG_GET, 1, W2); }
void BM_NetSnmp_W3_Encode(benchmark::State& s) { Encode(s, SNMP_MSG_RESPONSE, 1, W3); }
void BM_NetSnmp_W3_Decode(benchmark::State& s) { Decode(s, SNMP_MSG_RESPONSE, 1, W3); }

BENCHMARK(BM_NetSnmp_W1_Encode);
BENCHMARK(BM_NetSnmp_W1_Decode);
BENCHMARK(BM_NetSnmp_W2_Encode);
BENCHMARK(BM_NetSnmp_W2_Decode);
BENCHMARK(BM_NetSnmp_W3_Encode);
BENCHMARK(BM_NetSnmp_W3_Decode);

}  // namespace
