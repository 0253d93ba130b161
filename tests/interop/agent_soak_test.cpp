// A bounded soak of the agent: several sender sockets, in a thread of their own, send valid
// Get and Set requests mixed with truncated, bit-flipped, random and oversized datagrams
// while the test thread runs the agent. Every valid request is answered, every datagram
// gives exactly one Request or Error event, and nothing is left behind.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "agent/agent.h"
#include "agent_peers.h"
#include "codec/message.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "velk/events.h"

namespace agent_interop {
namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using Bytes = std::vector<uint8_t>;

constexpr int kSenders = 4;
constexpr int kRequestsPerSender = 1500;
constexpr int kWindow = 8;  // valid requests in flight per sender (each followed by a bad one)
constexpr auto kDeadline = std::chrono::seconds(90);

// The request-id of an SNMP response, read with just enough BER; nullopt when the bytes
// are not a response.
std::optional<int32_t> ResponseId(const Bytes& b) {
    size_t at = 0;
    auto length = [&](size_t* out) {
        if (at >= b.size()) return false;
        size_t n = b[at++];
        if (n & 0x80) {
            const size_t bytes = n & 0x7F;
            if (bytes == 0 || bytes > 3 || at + bytes > b.size()) return false;
            n = 0;
            for (size_t i = 0; i < bytes; ++i) n = (n << 8) | b[at++];
        }
        *out = n;
        return at + n <= b.size();
    };
    size_t n = 0;
    if (at >= b.size() || b[at++] != 0x30 || !length(&n)) return std::nullopt;
    if (at >= b.size() || b[at++] != 0x02 || !length(&n)) return std::nullopt;
    at += n;
    if (at >= b.size() || b[at++] != 0x04 || !length(&n)) return std::nullopt;
    at += n;
    if (at >= b.size() || b[at++] != 0xA2 || !length(&n)) return std::nullopt;
    if (at >= b.size() || b[at++] != 0x02 || !length(&n) || n == 0 || n > 4) return std::nullopt;
    int32_t id = static_cast<int8_t>(b[at]);
    for (size_t i = 1; i < n; ++i) id = static_cast<int32_t>(static_cast<uint32_t>(id) << 8 | b[at + i]);
    return id;
}

Bytes Encode(ISnmpMessage* m) {
    Variant out;
    out.vt = VT_ARRAY | VT_UI1;
    out.parray = nullptr;
    m->Encode(&out);
    const auto* p = static_cast<const uint8_t*>(out.parray->pvData);
    return Bytes(p, p + out.parray->rgsabound[0].cElements);
}

ComPtr<ISnmpVariable> Variable(const char16_t* oid, LONG type, const char16_t* value, LONG access) {
    ComPtr<ISnmpVariable> v;
    velk::model::CreateSnmpVariable(v.Put());
    v->put_Oid(Bstr(oid).Get());
    v->put_Type(static_cast<VariableTypeConstants>(type));
    v->put_Value(Bstr(value).Get());
    v->put_Access(static_cast<AccessConstants>(access));
    return v;
}

// The valid requests, pre-encoded: ids 1.. in order, a mix of v2c Get of two objects,
// v1 Get and v2c Set.
std::vector<Bytes> ValidRequests(int count) {
    ComPtr<ISnmpMessage> m;
    velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid());
    std::vector<Bytes> out;
    for (int id = 1; id <= count; ++id) {
        m->Reset();
        ComPtr<ISnmpVariables> vars;
        m->get_Variables(vars.Put());
        m->put_Id(id);
        m->put_Community(Bstr(u"soak").Get());
        switch (id % 3) {
        case 0:
            m->put_Type(snmpGet2);
            vars->Add(Variable(u"1.3.6.1.2.1.1.1.0", snmpNull, u"", 0).Get());
            vars->Add(Variable(u"1.3.6.1.2.1.1.3.0", snmpNull, u"", 0).Get());
            break;
        case 1:
            m->put_Type(snmpGet1);
            vars->Add(Variable(u"1.3.6.1.2.1.1.5.0", snmpNull, u"", 0).Get());
            break;
        default:
            m->put_Type(snmpSet2);
            vars->Add(Variable(u"1.3.6.1.2.1.1.4.0", snmpOctetString, u"soak contact", 0).Get());
            break;
        }
        out.push_back(Encode(m.Get()));
    }
    return out;
}

// A datagram that is not a valid request: truncated, bit-flipped, extended, random,
// oversized or with an absurd length. Never empty.
Bytes BadDatagram(std::mt19937& rng, const Bytes& valid) {
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    Bytes b = valid;
    // Oversized ones are rare, so the datagrams in flight stay within the receive buffer.
    const size_t kind = pick(64);
    if (kind == 63) {
        b.assign(20000 + pick(10000), 0);
        for (size_t i = 0; i < b.size(); i += 7) b[i] = static_cast<uint8_t>(rng());
        b[0] = 0x30;
    } else if (kind == 62) {
        b = {0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0x01};  // an absurd length
    } else if (kind % 4 == 0) {
        b.resize(1 + pick(valid.size() - 1));
    } else if (kind % 4 == 1) {
        for (int i = 0; i < 3; ++i) b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
    } else if (kind % 4 == 2) {
        b.push_back(static_cast<uint8_t>(rng()));
    } else {
        b.resize(1 + pick(300));
        for (uint8_t& x : b) x = static_cast<uint8_t>(rng());
    }
    return b;
}

struct SenderReport {
    int answered = 0;
    int datagrams = 0;  // everything sent
};

// Runs in its own thread with plain sockets only.
SenderReport RunSenders(int agentPort, const std::vector<Bytes>& valid) {
    SenderReport report;
    std::mt19937 rng(20240607);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<uint16_t>(agentPort));
    struct Sender {
        int fd;
        int next;     // index into `valid` of the next request
        int end;
        std::map<int32_t, bool> waiting;
    };
    std::vector<Sender> senders;
    const int share = static_cast<int>(valid.size()) / kSenders;
    for (int s = 0; s < kSenders; ++s) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        senders.push_back({fd, s * share, (s + 1) * share, {}});
    }
    auto send = [&](int fd, const Bytes& b) {
        if (sendto(fd, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
            static_cast<ssize_t>(b.size()))
            ++report.datagrams;
    };
    const auto end = Clock::now() + kDeadline;
    for (;;) {
        bool busy = false;
        for (Sender& s : senders) {
            while (s.next < s.end && static_cast<int>(s.waiting.size()) < kWindow) {
                const Bytes& request = valid[s.next];
                s.waiting[s.next + 1] = true;  // ids are 1-based positions
                ++s.next;
                send(s.fd, request);
                send(s.fd, BadDatagram(rng, request));
            }
            busy = busy || s.next < s.end || !s.waiting.empty();
        }
        if (!busy || Clock::now() >= end) break;
        std::vector<pollfd> fds;
        for (const Sender& s : senders) fds.push_back({s.fd, POLLIN, 0});
        poll(fds.data(), fds.size(), 100);
        for (Sender& s : senders) {
            uint8_t buffer[65536];
            ssize_t n;
            while ((n = recv(s.fd, buffer, sizeof buffer, 0)) >= 0) {
                const auto id = ResponseId(Bytes(buffer, buffer + n));
                if (id && s.waiting.erase(*id)) ++report.answered;  // others answer flipped requests
            }
        }
    }
    for (const Sender& s : senders) close(s.fd);
    return report;
}

TEST(AgentSoakTest, ValidRequestsAmongBadDatagramsAreAllAnswered) {
    const long live = velk::rt::LiveObjectCount();
    {
        ComPtr<IAgent> agent;
        ASSERT_EQ(velk::agent::Agent::CreateInstance(IID_IAgent, agent.PutVoid()), S_OK);
        agent->put_Community(Bstr(u"soak").Get());
        ComPtr<ISnmpMib> mib;
        agent->get_Mib(mib.Put());
        ComPtr<ISnmpVariables> mibVars;
        mib->get_Variables(mibVars.Put());
        mibVars->Add(Variable(u"1.3.6.1.2.1.1.1", snmpOctetString, u"soak agent", snmpVariableReadOnly).Get());
        mibVars->Add(Variable(u"1.3.6.1.2.1.1.3", snmpTimeTicks, u"42", snmpVariableReadOnly).Get());
        mibVars->Add(Variable(u"1.3.6.1.2.1.1.4", snmpOctetString, u"contact", snmpVariableReadWrite).Get());
        mibVars->Add(Variable(u"1.3.6.1.2.1.1.5", snmpOctetString, u"name", snmpVariableReadWrite).Get());

        long requests = 0, decodeErrors = 0, otherErrors = 0;
        auto events = velk::ConnectEvents(agent, DIID__IAgentEvents);
        events.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) { ++requests; })
            .On(DISPID_AgentEvents_Error, [&](velk::EventArgs& e) {
                ++(e.Long(0) == 12015 ? decodeErrors : otherErrors);
            });
        ASSERT_EQ(agent->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
        LONG port = 0;
        agent->get_LocalPort(&port);

        const std::vector<Bytes> valid = ValidRequests(kSenders * kRequestsPerSender);
        std::atomic<bool> done{false};
        SenderReport report;
        std::thread senders([&] {
            report = RunSenders(port, valid);
            done = true;
        });
        while (!done) VelkWaitMessage(10);
        senders.join();
        // Events for the last datagrams may still be on their way through the loop.
        PumpUntil([&] { return requests + decodeErrors >= report.datagrams; }, milliseconds(5000));

        EXPECT_EQ(report.answered, kSenders * kRequestsPerSender);
        EXPECT_EQ(requests + decodeErrors, report.datagrams);
        EXPECT_GE(requests, kSenders * kRequestsPerSender);
        EXPECT_GT(decodeErrors, kSenders * kRequestsPerSender / 2);
        EXPECT_EQ(otherErrors, 0);
        LONG mibCount = 0;
        mibVars->get_Count(&mibCount);
        EXPECT_EQ(mibCount, 4);
        agent->Close();
    }
    VelkPumpPendingMessages();
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.Put());
    info.Reset();
    EXPECT_EQ(velk::rt::LiveObjectCount(), live) << "objects leaked";
}

}  // namespace
}  // namespace agent_interop
