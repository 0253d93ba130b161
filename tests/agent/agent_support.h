// Shared helpers of the agent tests: an agent with a small MIB, a raw loopback UDP peer
// that waits while pumping the test thread's message loop, and request building.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "codec/message.h"
#include "model/variable.h"
#include "runtime/message_loop.h"
#include "velk/events.h"

namespace agent_test {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline std::u16string U(const char* s) {
    std::u16string r;
    for (; *s; ++s) r.push_back(static_cast<unsigned char>(*s));
    return r;
}

inline std::string Narrow(BSTR s) { return Bstr(s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view()).ToAnsi(); }

inline ComPtr<IAgent> NewAgent() {
    ComPtr<IAgent> agent;
    EXPECT_EQ(velk::agent::Agent::CreateInstance(IID_IAgent, agent.PutVoid()), S_OK);
    return agent;
}

inline ComPtr<ISnmpMessage> NewMessage() {
    ComPtr<ISnmpMessage> m;
    EXPECT_EQ(velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), S_OK);
    return m;
}

// A variable with the given fields (Access only when given).
inline ComPtr<ISnmpVariable> NewVariable(const char* oid, LONG type = snmpNull, const char* value = "",
                                         std::optional<LONG> access = std::nullopt) {
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(velk::model::CreateSnmpVariable(v.Put()), S_OK);
    v->put_Oid(Bstr(U(oid)).Get());
    v->put_Type(static_cast<VariableTypeConstants>(type));
    v->put_Value(Bstr(U(value)).Get());
    if (access) v->put_Access(static_cast<AccessConstants>(*access));
    return v;
}

inline ComPtr<ISnmpVariables> VariablesOf(ISnmpMessage* m) {
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    return vars;
}

inline ComPtr<ISnmpVariables> VariablesOf(ISnmpMib* mib) {
    ComPtr<ISnmpVariables> vars;
    mib->get_Variables(vars.Put());
    return vars;
}

inline ComPtr<ISnmpVariable> Item(ISnmpVariables* vars, LONG i) {
    ComPtr<ISnmpVariable> v;
    Variant index(i);
    vars->Item(index, v.Put());
    return v;
}

inline std::string ValueOf(ISnmpVariable* v) {
    Bstr s;
    v->get_Value(s.Put());
    return s.ToAnsi();
}

inline std::string OidOf(ISnmpVariable* v) {
    Bstr s;
    v->get_Oid(s.Put());
    return s.ToAnsi();
}

inline LONG TypeOf(ISnmpVariable* v) {
    VariableTypeConstants t{};
    v->get_Type(&t);
    return t;
}

inline LONG ExceptionOf(ISnmpVariable* v) {
    VariableExceptionConstants e{};
    v->get_Exception(&e);
    return e;
}

// Adds MIB object definitions to the agent's Mib: name, OID (without ".0"), type, value,
// access.
struct MibEntry {
    const char* oid;
    LONG type;
    const char* value;
    LONG access;
};

inline void AddToMib(IAgent* agent, std::initializer_list<MibEntry> entries) {
    ComPtr<ISnmpMib> mib;
    agent->get_Mib(mib.Put());
    auto vars = VariablesOf(mib.Get());
    for (const MibEntry& e : entries) vars->Add(NewVariable(e.oid, e.type, e.value, e.access).Get());
}

inline ComPtr<ISnmpVariable> MibVariable(IAgent* agent, const char* oid) {
    ComPtr<ISnmpMib> mib;
    agent->get_Mib(mib.Put());
    auto vars = VariablesOf(mib.Get());
    ComPtr<ISnmpVariable> v;
    Variant key(U(oid));
    vars->Item(key, v.Put());
    return v;
}

// A request message: type, id, community and variables given as (oid, type, value).
struct Binding {
    const char* oid;
    LONG type = snmpNull;
    const char* value = "";
};

inline Bytes Encode(ISnmpMessage* m) {
    Variant out;
    out.vt = VT_ARRAY | VT_UI1;
    out.parray = nullptr;
    EXPECT_EQ(m->Encode(&out), S_OK);
    Bytes bytes;
    if (out.vt == (VT_ARRAY | VT_UI1) && out.parray) {
        const auto* p = static_cast<const uint8_t*>(out.parray->pvData);
        bytes.assign(p, p + out.parray->rgsabound[0].cElements);
    }
    return bytes;
}

inline Bytes Request(LONG type, LONG id, const char* community, const std::vector<Binding>& bindings) {
    auto m = NewMessage();
    m->put_Type(static_cast<TypeConstants>(type));
    m->put_Id(id);
    m->put_Community(Bstr(U(community)).Get());
    auto vars = VariablesOf(m.Get());
    for (const Binding& b : bindings) vars->Add(NewVariable(b.oid, b.type, b.value).Get());
    return Encode(m.Get());
}

// Decodes datagram bytes into a new message (null when they do not decode).
inline ComPtr<ISnmpMessage> Decode(const Bytes& bytes) {
    auto m = NewMessage();
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) memcpy(v.parray->pvData, bytes.data(), bytes.size());
    if (FAILED(m->Decode(v))) return nullptr;
    return m;
}

// Pumps the test thread's loop until `done` or the time-out; true when done.
inline bool PumpUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(3000)) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= end) return false;
        VelkWaitMessage(5);
    }
    return true;
}

// Pumps for a while (to let things that should not happen show up).
inline void PumpFor(milliseconds time) {
    const auto end = Clock::now() + time;
    while (Clock::now() < end) VelkWaitMessage(5);
}

// A plain UDP socket on 127.0.0.1 standing in for a manager or trap receiver. Receiving
// pumps the message loop of the test thread (where the agent lives) while it waits.
class RawPeer {
public:
    RawPeer() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~RawPeer() { close(fd_); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    LONG Port() const { return port_; }
    std::string Destination() const { return "127.0.0.1:" + std::to_string(port_); }

    void SendTo(LONG port, const Bytes& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        ASSERT_EQ(sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The next datagram, pumping the loop meanwhile; nullopt after the time-out.
    std::optional<Bytes> Receive(milliseconds timeout = milliseconds(3000)) {
        const auto end = Clock::now() + timeout;
        for (;;) {
            uint8_t buffer[65536];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n >= 0) return Bytes(buffer, buffer + n);
            VelkPumpPendingMessages();
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            pollfd fds[2] = {{fd_, POLLIN, 0}, {VelkMessageLoopFd(), POLLIN, 0}};
            poll(fds, 2, static_cast<int>(std::min<long long>(left, 50)));
        }
    }

    // The next datagram decoded (null on time-out or when it does not decode).
    ComPtr<ISnmpMessage> ReceiveMessage(milliseconds timeout = milliseconds(3000)) {
        auto bytes = Receive(timeout);
        return bytes ? Decode(*bytes) : nullptr;
    }

    // True when nothing arrives within `time`.
    bool Silent(milliseconds time = milliseconds(150)) { return !Receive(time).has_value(); }

private:
    int fd_ = -1;
    LONG port_ = 0;
};

// An agent opened on a free loopback port, with event counters in order.
struct OpenAgent {
    ComPtr<IAgent> agent = NewAgent();
    velk::EventConnection events;
    std::vector<std::string> log;  // "Request", "Response", "Error:<n>" in firing order
    LONG port = 0;

    explicit OpenAgent(bool autoOn = true) {
        agent->put_Auto(autoOn ? VARIANT_TRUE : VARIANT_FALSE);
        events = velk::ConnectEvents(agent, DIID__IAgentEvents);
        events.On(DISPID_AgentEvents_Request, [this](velk::EventArgs&) { log.push_back("Request"); })
            .On(DISPID_AgentEvents_Response, [this](velk::EventArgs&) { log.push_back("Response"); })
            .On(DISPID_AgentEvents_Error, [this](velk::EventArgs& e) {
                log.push_back("Error:" + std::to_string(e.Long(0)));
            });
        EXPECT_EQ(agent->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
        agent->get_LocalPort(&port);
        log.clear();
    }

    ComPtr<ISnmpMessage> Message() const {
        ComPtr<ISnmpMessage> m;
        agent->get_Message(m.Put());
        return m;
    }

    void AddTrapManager(const std::string& entry) {
        ComPtr<IVelkStrings> list;
        agent->get_TrapManagers(list.Put());
        list->Add(Bstr::FromAnsi(entry).Get(), 0);
    }
};

// Every test ends with every object released.
// (The thread's error record, which a failed decode leaves, is not counted.)
class AgentTest : public ::testing::Test {
protected:
    void SetUp() override {
        DropErrorInfo();
        live_ = velk::rt::LiveObjectCount();
    }
    void TearDown() override {
        VelkPumpPendingMessages();
        DropErrorInfo();
        EXPECT_EQ(velk::rt::LiveObjectCount(), live_) << "objects leaked";
    }
    static void DropErrorInfo() {
        ComPtr<IErrorInfo> info;
        GetErrorInfo(0, info.Put());
    }

private:
    long live_ = 0;
};

}  // namespace agent_test
