// Helpers of the Manager tests: an event recorder, a raw UDP peer served from the thread's
// message loop, and SNMP messages built and read with the library's own codec.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "codec/message.h"
#include "manager/manager.h"
#include "model/variable.h"
#include "runtime/message_loop.h"
#include "velk/com.h"
#include "velk/events.h"

namespace manager_test {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr HRESULT Err(LONG number) {
    return static_cast<HRESULT>(0x800A0000u + static_cast<uint32_t>(number));
}

inline long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

inline ComPtr<IManager> NewManager() {
    ComPtr<IManager> m;
    EXPECT_EQ(velk::manager::Manager::CreateInstance(IID_IManager, m.PutVoid()), S_OK);
    return m;
}

// The BlockingTimeout of the manager's socket.
inline LONG SocketTimeout(IManager* m) {
    LONG t = -12345;
    static_cast<velk::manager::Manager*>(m)->Socket()->get_BlockingTimeout(&t);
    return t;
}

// Opens the manager on a free loopback port.
inline void OpenLoopback(IManager* m) {
    ASSERT_EQ(m->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
}

inline LONG LocalPort(IManager* m) {
    LONG port = 0;
    m->get_LocalPort(&port);
    return port;
}

inline ComPtr<ISnmpMessage> MessageOf(IManager* m) {
    ComPtr<ISnmpMessage> msg;
    m->get_Message(msg.Put());
    return msg;
}

// Records the events of one manager; `on` (if set) runs inside each event.
struct Events {
    explicit Events(IManager* m) : connection(velk::ConnectEvents(m, DIID__IManagerEvents)) {
        EXPECT_TRUE(connection.Connected());
        for (DISPID id : {DISPID_ManagerEvents_Response, DISPID_ManagerEvents_Trap,
                          DISPID_ManagerEvents_Error, DISPID_ManagerEvents_Send})
            connection.On(id, [this](velk::EventArgs& e) { Record(e); });
    }
    Events(const Events&) = delete;
    Events& operator=(const Events&) = delete;

    void Record(velk::EventArgs& e) {
        log.push_back(e.Id());
        if (e.Id() == DISPID_ManagerEvents_Error) {
            errors.push_back(e.Long(0));
            descriptions.push_back(e.Text(1));
        }
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (on) on(e.Id());
        --depth;
    }
    int Count(DISPID id) const { return static_cast<int>(std::count(log.begin(), log.end(), id)); }

    velk::EventConnection connection;
    std::vector<DISPID> log;
    std::vector<LONG> errors;
    std::vector<std::u16string> descriptions;
    std::function<void(DISPID)> on;
    int depth = 0, maxDepth = 0;
};

// A plain UDP socket on 127.0.0.1, served from the thread's message loop, so it answers
// while a blocking Send waits in its nested loop.
class Peer {
public:
    using Handler = std::function<void(const Bytes& datagram, uint16_t fromPort)>;

    Peer() {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        watch_ = velk::rt::WatchFd(fd_, [this] { Drain(); });
        EXPECT_GT(watch_, 0);
    }
    ~Peer() {
        velk::rt::UnwatchFd(watch_);
        close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    LONG Port() const { return port_; }
    void SendTo(const Bytes& bytes, LONG port) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<uint16_t>(port));
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    Handler onDatagram;          // called for each datagram; else they are only recorded
    std::vector<Bytes> received;

private:
    void Drain() {
        for (;;) {
            uint8_t buffer[65536];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) break;
            received.emplace_back(buffer, buffer + n);
            if (onDatagram) onDatagram(received.back(), ntohs(from.sin_port));
        }
        velk::rt::RearmFd(watch_);
    }

    int fd_ = -1;
    int watch_ = -1;
    LONG port_ = 0;
};

// One variable binding of a built message: OID, type and value text.
struct Binding {
    Binding(std::u16string o, VariableTypeConstants t = snmpNull, std::u16string v = {})
        : oid(std::move(o)), type(t), value(std::move(v)) {}
    std::u16string oid;
    VariableTypeConstants type;
    std::u16string value;
};

// The fields of a message to build.
struct Fields {
    TypeConstants type = snmpResponse1;
    LONG id = 0;
    std::u16string community = u"public";
    ExceptionConstants status = snmpOk;
    LONG index = 0;
    std::vector<Binding> bindings;
};

inline ComPtr<ISnmpMessage> NewMessage() {
    ComPtr<ISnmpMessage> m;
    EXPECT_EQ(velk::codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, m.PutVoid()), S_OK);
    return m;
}

inline ComPtr<ISnmpVariable> NewVariable(std::u16string_view oid,
                                         VariableTypeConstants type = snmpNull,
                                         std::u16string_view value = u"") {
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(velk::model::CreateSnmpVariable(v.Put()), S_OK);
    v->put_Oid(Bstr(oid).Get());
    v->put_Type(type);
    if (!value.empty()) v->put_Value(Bstr(value).Get());
    return v;
}

inline void Fill(ISnmpMessage* m, const Fields& f) {
    m->put_Type(f.type);
    m->put_Id(f.id);
    m->put_Community(Bstr(f.community).Get());
    m->put_Exception(f.status);
    m->put_ExceptionIndex(f.index);
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    vars->Clear();
    for (const Binding& b : f.bindings) vars->Add(NewVariable(b.oid, b.type, b.value).Get());
}

inline Bytes Encode(ISnmpMessage* m) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = nullptr;
    EXPECT_EQ(m->Encode(&v), S_OK);
    if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {};
    const auto* p = static_cast<const uint8_t*>(v.parray->pvData);
    return Bytes(p, p + v.parray->rgsabound[0].cElements);
}

inline Bytes Encode(const Fields& f) {
    auto m = NewMessage();
    Fill(m.Get(), f);
    return Encode(m.Get());
}

inline ComPtr<ISnmpMessage> Decode(const Bytes& bytes) {
    auto m = NewMessage();
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    EXPECT_EQ(m->Decode(v), S_OK);
    return m;
}

inline LONG IdOf(ISnmpMessage* m) {
    LONG id = 0;
    m->get_Id(&id);
    return id;
}

inline TypeConstants TypeOf(ISnmpMessage* m) {
    TypeConstants t = snmpGet1;
    m->get_Type(&t);
    return t;
}

inline LONG CountOf(ISnmpMessage* m) {
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    LONG n = -1;
    vars->get_Count(&n);
    return n;
}

inline ComPtr<ISnmpVariable> VariableAt(ISnmpMessage* m, LONG position) {
    ComPtr<ISnmpVariables> vars;
    m->get_Variables(vars.Put());
    ComPtr<ISnmpVariable> v;
    vars->Item(Variant(position), v.Put());
    return v;
}

inline std::u16string Text(HRESULT (ISnmpVariable::*get)(BSTR*), ISnmpVariable* v) {
    Bstr b;
    (v->*get)(b.Put());
    return std::u16string(b.View());
}

inline std::u16string ErrorDescription() {
    ComPtr<IErrorInfo> info;
    Bstr d;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) info->GetDescription(d.Put());
    return std::u16string(d.View());
}

// Runs the loop until `done` or `ms` have passed.
inline bool PumpUntil(const std::function<bool()>& done, DWORD ms = 3000) {
    return velk::rt::WaitUntil(done, ms);
}

// Every test ends with no object alive that it made and no work left in the loop.
class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetErrorInfo(0, nullptr);
        live_ = velk::rt::LiveObjectCount();
    }
    void TearDown() override {
        for (int i = 0; i < 100 && VelkPumpPendingMessages() > 0; ++i) {
        }
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(velk::rt::LiveObjectCount(), live_) << "objects leaked";
    }
    long live_ = 0;
};

}  // namespace manager_test
