// The UDP socket component over loopback: datagrams, events from the loop, blocking waits,
// error numbers, tracing and the receive queue. Every wait is bounded.
#include "sock/udp_socket.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/message_loop.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

constexpr HRESULT Err(LONG number) { return static_cast<HRESULT>(0x800A0000u + static_cast<uint32_t>(number)); }

// Records the events of one socket.
class Sink final : public velk::rt::Object<Sink, IDispatch> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* n) override { return *n = 0, S_OK; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        arrived += id == DISPID_UdpEvents_DatagramArrived;
        sent += id == DISPID_UdpEvents_SendNotification;
        if (id == DISPID_UdpEvents_SocketError && p->cArgs == 2) errors.push_back(p->rgvarg[1].lVal);
        if (onEvent) onEvent();
        return S_OK;
    }
    int arrived = 0, sent = 0;
    std::vector<LONG> errors;
    std::function<void()> onEvent;
};

Variant ByteArray(const Bytes& bytes) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    return v;
}

// A socket with a connected sink.
struct Peer {
    ComPtr<IUdpSocket> socket;
    ComPtr<Sink> sink = velk::rt::MakeObject<Sink>();

    Peer() {
        ComPtr<IConnectionPointContainer> cpc;
        ComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        EXPECT_EQ(velk::sock::CreateUdpSocket(socket.Put()), S_OK);
        EXPECT_EQ(socket.As(&cpc), S_OK);
        EXPECT_EQ(cpc->FindConnectionPoint(DIID__IUdpEvents, cp.Put()), S_OK);
        EXPECT_EQ(cp->Advise(sink->Unknown(), &cookie), S_OK);
    }
    HRESULT Open(const char16_t* address, LONG port = 0) { return socket->OpenSocket(port, Bstr(address).Get()); }
    LONG Port() {
        LONG port = 0;
        socket->get_SocketLocalPort(&port);
        return port;
    }
    HRESULT Send(const VARIANT& data, std::u16string_view host, LONG port, LONG length = 0) {
        Variant v(data);
        LONG sent = 0;
        return socket->SendDatagram(&v, Bstr(host).Get(), port, length, 0, &sent);
    }
    HRESULT Send(const Bytes& bytes, std::u16string_view host, LONG port) { return Send(ByteArray(bytes), host, port); }
    struct Received {
        HRESULT hr;
        LONG count;
        Bytes data;
        std::u16string address;
        LONG port;
    };
    Received Receive() {
        Variant data, address, port;
        Received r{};
        r.hr = socket->ReceiveDatagram(&data, &address, &port, &r.count);
        if (data.vt == (VT_ARRAY | VT_UI1)) {
            auto* p = static_cast<uint8_t*>(data.parray->pvData);
            r.data.assign(p, p + data.parray->rgsabound[0].cElements);
        }
        if (address.vt == VT_BSTR && address.bstrVal) r.address = address.bstrVal;
        if (port.vt == VT_I4) r.port = port.lVal;
        return r;
    }
    // Reads the trace record; tracing goes on in both directions, without prompts.
    std::u16string TakeTrace() {
        Variant result;
        EXPECT_EQ(socket->TraceSocket(&result, VARIANT_TRUE, VARIANT_TRUE, nullptr, nullptr), S_OK);
        return result.vt == VT_BSTR && result.bstrVal ? std::u16string(result.bstrVal) : u"";
    }
};

bool PumpUntil(const std::function<bool()>& done) { return velk::rt::WaitUntil(done, 3000); }

// Runs the loop for `ms`; returns how many times it found work.
int PumpFor(DWORD ms) {
    const auto end = Clock::now() + milliseconds(ms);
    int busy = 0;
    for (auto now = Clock::now(); now < end; now = Clock::now())
        busy += VelkWaitMessage(static_cast<DWORD>(std::chrono::ceil<milliseconds>(end - now).count())) == S_OK;
    return busy;
}

DWORD HelpContext() {
    ComPtr<IErrorInfo> info;
    DWORD context = 0;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) info->GetHelpContext(&context);
    return context;
}

class UdpSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetErrorInfo(0, nullptr);
        live_ = velk::rt::LiveObjectCount();
    }
    void TearDown() override {
        for (int i = 0; i < 100 && VelkPumpPendingMessages() > 0; ++i) {
        }
        SetErrorInfo(0, nullptr);  // the last failure's record
        EXPECT_EQ(velk::rt::LiveObjectCount(), live_) << "objects leaked";
        pollfd p{VelkMessageLoopFd(), POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "work left queued";
    }
    long live_ = 0;
};

TEST_F(UdpSocketTest, DatagramsTravelBetweenSocketsOfEitherFamily) {
    struct Case {
        const char16_t *bind, *target, *local, *sender;  // local and sender as reported
    } cases[] = {
        {u"127.0.0.1", u"127.0.0.1", u"127.0.0.1", u"127.0.0.1"},
        {u"::1", u"::1", u"::1", u"::1"},
        {u"", u"127.0.0.1", u"0.0.0.0", u"127.0.0.1"},  // dual-stack: IPv4-mapped reads as IPv4
        {u"", u"::1", u"0.0.0.0", u"::1"},
        {u"localhost", u"localhost", u"127.0.0.1", u"127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Bstr(c.bind).ToAnsi() + " -> " + Bstr(c.target).ToAnsi());
        Peer a, b;
        a.socket->put_BlockingTimeout(5000);  // opening and closing never wait
        const auto start = Clock::now();
        ASSERT_EQ(a.Open(c.bind), S_OK);
        ASSERT_EQ(b.Open(c.bind), S_OK);
        Bstr local;
        EXPECT_EQ(a.socket->get_SocketLocalAddress(local.Put()), S_OK);
        EXPECT_EQ(local.View(), c.local);
        const Bytes payload{0x30, 0x00, 0xFF, 0x7F};
        ASSERT_EQ(a.Send(payload, c.target, b.Port()), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1; }));
        Peer::Received r = b.Receive();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.count, 4);
        EXPECT_EQ(r.data, payload);
        EXPECT_EQ(r.address, c.sender);
        EXPECT_EQ(r.port, a.Port());
        EXPECT_EQ(a.socket->CloseSocket(), S_OK);
        EXPECT_EQ(a.Port(), 0);
        EXPECT_LT(Clock::now() - start, milliseconds(1000));
    }
}

TEST_F(UdpSocketTest, ArrivalIsAnnouncedAgainOnlyAfterAReceiveAndSendsAreNotifiedLater) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(a.Send(Bytes{1}, u"127.0.0.1", b.Port()), S_OK);
    ASSERT_EQ(a.Send(Bytes{2}, u"127.0.0.1", b.Port()), S_OK);
    EXPECT_EQ(a.sink->sent, 0);  // posted, not fired inside the call

    ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1; }));
    EXPECT_LT(PumpFor(50), 5);      // the untaken datagram does not keep the loop busy
    EXPECT_EQ(b.sink->arrived, 1);  // and is not announced again
    EXPECT_EQ(a.sink->sent, 2);

    EXPECT_EQ(b.Receive().data, Bytes{1});
    ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 2; }));
    EXPECT_EQ(b.Receive().data, Bytes{2});
    PumpFor(30);
    EXPECT_EQ(b.sink->arrived, 2);
    Peer::Received none = b.Receive();
    EXPECT_EQ(none.hr, S_OK);
    EXPECT_EQ(none.count, 0);
}

TEST_F(UdpSocketTest, DataGoesOutWholeFromBytesOrAnsiTextUpToLength) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->put_BlockingTimeout(3000);
    Bytes large(65507);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
    Variant array = ByteArray({1, 2, 3, 4}), byRef, byte, text(std::u16string_view(u"A\u00e9\u4e2d"));
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &array;
    byte.vt = VT_UI1;
    byte.bVal = 0x42;
    struct Case {
        Variant data;
        LONG length;
        Bytes expected;
    } cases[] = {
        {array, 0, {1, 2, 3, 4}}, {array, 2, {1, 2}},   {array, 9, {1, 2, 3, 4}},
        {byRef, 0, {1, 2, 3, 4}}, {byte, 0, {0x42}},    {text, 0, {'A', 0xE9, '?'}},
        {ByteArray(large), 0, large},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a.Send(c.data, u"127.0.0.1", b.Port(), c.length), S_OK);
        Peer::Received r = b.Receive();
        EXPECT_EQ(r.count, static_cast<LONG>(c.expected.size()));
        EXPECT_TRUE(r.data == c.expected) << c.expected.size();
    }
}

TEST_F(UdpSocketTest, WaitsEndByTimeOutAbortCloseOrDatagramWhileTheLoopKeepsRunning) {
    struct Case {
        const char* name;
        LONG timeout;
        HRESULT expected;
        std::function<void(Peer& a, Peer& b)> fromTimer;
    } cases[] = {
        {"time-out", 300, Err(10060), [](Peer&, Peer&) {}},
        {"abort", 5000, Err(11103), [](Peer&, Peer& b) { b.socket->AbortSocket(); }},
        {"close", 5000, Err(10057), [](Peer&, Peer& b) { b.socket->CloseSocket(); }},
        {"datagram", 5000, S_OK, [](Peer& a, Peer& b) { a.Send(Bytes{9, 9}, u"127.0.0.1", b.Port()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer a, b;
        ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
        ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
        b.socket->put_BlockingTimeout(c.timeout);
        int ticks = 0;
        const UINT_PTR ticker = VelkSetTimer(5, [&] {
            if (++ticks == 20) c.fromTimer(a, b);
        });
        const auto start = Clock::now();
        Peer::Received r = b.Receive();
        const auto elapsed = Clock::now() - start;
        VelkKillTimer(ticker);
        EXPECT_EQ(r.hr, c.expected);
        EXPECT_EQ(HelpContext(), static_cast<DWORD>(FAILED(c.expected) ? c.expected & 0xFFFF : 0));
        EXPECT_EQ(r.count, c.expected == S_OK ? 2 : 0);
        EXPECT_GE(ticks, 20);  // timers ran during the wait
        EXPECT_GE(elapsed, milliseconds(c.expected == Err(10060) ? c.timeout - 5 : 95));
        EXPECT_LT(elapsed, milliseconds(2000));
        EXPECT_EQ(b.sink->arrived, 0);  // a datagram goes to the waiting call, unannounced
    }
    Peer b;  // an abort with no wait running does not cancel a later wait
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->AbortSocket();
    b.socket->put_BlockingTimeout(30);
    EXPECT_EQ(b.Receive().hr, Err(10060));
}

TEST_F(UdpSocketTest, FailuresCarryTheirErrorNumbers) {
    Peer open, closed;
    ASSERT_EQ(open.Open(u"127.0.0.1"), S_OK);
    struct Case {
        const char* name;
        LONG number;
        std::function<HRESULT()> call;
    } cases[] = {
        {"port in use", 10048, [&] { return Peer().Open(u"127.0.0.1", open.Port()); }},
        {"open twice", 12014, [&] { return open.Open(u"127.0.0.1"); }},
        {"local port out of range", 12001, [&] { return Peer().Open(u"", 70000); }},
        {"unknown local name", 11001, [&] { return Peer().Open(u"no-such-host.invalid"); }},
        {"unknown host", 11001, [&] { return open.Send(Bytes{1}, u"no-such-host.invalid", 161); }},
        {"empty host", 10049, [&] { return open.Send(Bytes{1}, u"", 161); }},
        {"IPv6 host from an IPv4 socket", 10049, [&] { return open.Send(Bytes{1}, u"::1", 161); }},
        {"host with a NUL", 11001, [&] { return open.Send(Bytes{1}, std::u16string_view(u"127.0.0.1\0x", 11), 161); }},
        {"port 0", 12003, [&] { return open.Send(Bytes{1}, u"127.0.0.1", 0); }},
        {"port above 65535", 12003, [&] { return open.Send(Bytes{1}, u"127.0.0.1", 65536); }},
        {"data not bytes", 12001, [&] { return open.Send(Variant(LONG{5}), u"127.0.0.1", 161); }},
        {"datagram too large", 12001, [&] { return open.Send(Bytes(65508), u"127.0.0.1", 161); }},
        {"negative length", 12004, [&] { return open.Send(ByteArray({1}), u"127.0.0.1", 161, -1); }},
        {"send when not open", 10057, [&] { return closed.Send(Bytes{1}, u"127.0.0.1", 161); }},
        {"receive when not open", 10057, [&] { return closed.Receive().hr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), Err(c.number));
        EXPECT_EQ(HelpContext(), static_cast<DWORD>(c.number));
    }
    EXPECT_EQ(closed.socket->CloseSocket(), S_OK);
    LONG count = 0;
    EXPECT_EQ(open.socket->ReceiveDatagram(nullptr, nullptr, nullptr, &count), E_POINTER);
}

TEST_F(UdpSocketTest, PortUnreachableIsReportedWithoutLosingLaterSends) {
    for (const char16_t* address : {u"127.0.0.1", u"::1"}) {
        SCOPED_TRACE(Bstr(address).ToAnsi());
        Peer a, b, gone;
        ASSERT_EQ(a.Open(address), S_OK);
        ASSERT_EQ(b.Open(address), S_OK);
        ASSERT_EQ(gone.Open(address), S_OK);
        const LONG closedPort = gone.Port();
        gone.socket->CloseSocket();

        // Nobody's call sees it: a SocketError event.
        ASSERT_EQ(a.Send(Bytes{1}, address, closedPort), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return !a.sink->errors.empty(); }));
        EXPECT_EQ(a.sink->errors, std::vector<LONG>{10061});
        EXPECT_EQ(a.sink->arrived, 0);

        // The pending error does not make the next send, to a live peer, fail.
        a.sink->errors.clear();
        ASSERT_EQ(a.Send(Bytes{2}, address, closedPort), S_OK);
        ASSERT_EQ(a.Send(Bytes{3}, address, b.Port()), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1 && !a.sink->errors.empty(); }));
        EXPECT_EQ(b.Receive().data, Bytes{3});
        EXPECT_EQ(a.sink->errors, std::vector<LONG>{10061});

        // A blocking receive fails with it instead of waiting out its time.
        a.sink->errors.clear();
        a.socket->put_BlockingTimeout(3000);
        ASSERT_EQ(a.Send(Bytes{4}, address, closedPort), S_OK);
        const auto start = Clock::now();
        EXPECT_EQ(a.Receive().hr, Err(10061));
        EXPECT_LT(Clock::now() - start, milliseconds(2000));
        PumpFor(30);
        EXPECT_TRUE(a.sink->errors.empty());
    }
}

TEST_F(UdpSocketTest, TraceRecordsEachDirectionWithItsPromptUntilRead) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"::1"), S_OK);
    ASSERT_EQ(a.socket->TraceSocket(nullptr, VARIANT_TRUE, VARIANT_FALSE, Bstr(u"S> ").Get(), Bstr(u"R> ").Get()), S_OK);
    Variant missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(b.socket->TraceSocket(&missing, VARIANT_TRUE, VARIANT_TRUE, Bstr(u"out ").Get(), Bstr(u"in ").Get()), S_OK);
    EXPECT_EQ(missing.vt, VT_ERROR);

    ASSERT_EQ(a.Send(Bytes{0x30, 0x0A, 0xFF}, u"127.0.0.1", 9), S_OK);
    ASSERT_EQ(b.Send(Bytes{}, u"::1", b.Port()), S_OK);  // to itself
    b.socket->put_BlockingTimeout(3000);
    EXPECT_EQ(b.Receive().hr, S_OK);

    EXPECT_EQ(a.TakeTrace(), u"S> 127.0.0.1:9 (3 bytes) 30 0A FF\n");
    EXPECT_EQ(a.TakeTrace(), u"");  // emptied by the read
    const std::u16string port(Bstr::FromAnsi(std::to_string(b.Port())).View());
    EXPECT_EQ(b.TakeTrace(), u"out [::1]:" + port + u" (0 bytes)\nin [::1]:" + port + u" (0 bytes)\n");

    // Late bound with every argument left out: tracing stops and the record stays.
    ASSERT_EQ(a.Send(Bytes{1}, u"127.0.0.1", 9), S_OK);
    ComPtr<IDispatch> d;
    ASSERT_EQ(a.socket.As(&d), S_OK);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(d->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(a.Send(Bytes{2}, u"127.0.0.1", 9), S_OK);
    Variant result;
    VARIANT ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &result;
    DISPPARAMS one{&ref, nullptr, 1, 0};
    ASSERT_EQ(d->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(result.bstrVal), u"127.0.0.1:9 (1 bytes) 01\n");  // TakeTrace set no prompt

    // The record keeps the newest lines within 1 Mi characters (each line here ~196 Ki).
    a.TakeTrace();  // tracing on again
    for (uint8_t i = 1; i <= 6; ++i) ASSERT_EQ(a.Send(Bytes(65507, i), u"127.0.0.1", 9), S_OK);
    const std::u16string trace = a.TakeTrace();
    EXPECT_LE(trace.size(), size_t{1} << 20);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), u'\n'), 5);
    EXPECT_EQ(trace.substr(0, 28), u"127.0.0.1:9 (65507 bytes) 02");
}

TEST_F(UdpSocketTest, QueuedDatagramsAreCountedAnnouncedAndTakenInOrder) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    LONG count = -1;
    auto counted = [&](LONG n) { return b.socket->get_QueuedDatagramCount(&count) == S_OK && count == n; };
    EXPECT_TRUE(counted(0));
    for (uint8_t i = 1; i <= 3; ++i) ASSERT_EQ(a.Send(Bytes{i}, u"127.0.0.1", b.Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return counted(3); }));
    ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1; }));  // counted ones are announced
    EXPECT_EQ(b.Receive().data, Bytes{1});
    ASSERT_EQ(a.Send(Bytes{4}, u"127.0.0.1", b.Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return counted(3); }));
    for (uint8_t i = 2; i <= 4; ++i) EXPECT_EQ(b.Receive().data, Bytes{i});
    EXPECT_TRUE(counted(0));
    b.socket->CloseSocket();
    EXPECT_TRUE(counted(0));
}

TEST_F(UdpSocketTest, ObjectsMayGoAwayFromTheirOwnEventsOrWithWorkPending) {
    Peer a;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    auto* b = new Peer;  // released by its own DatagramArrived handler
    ASSERT_EQ(b->Open(u"127.0.0.1"), S_OK);
    ComPtr<Sink> sink = b->sink;
    sink->onEvent = [&] { delete std::exchange(b, nullptr); };
    ASSERT_EQ(a.Send(Bytes{1}, u"127.0.0.1", b->Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return b == nullptr; }));

    ComPtr<Sink> orphan;
    {
        Peer c;  // released with a socket open and a notification posted
        orphan = c.sink;
        ASSERT_EQ(c.Open(u"127.0.0.1"), S_OK);
        ASSERT_EQ(c.Send(Bytes{1}, u"127.0.0.1", a.Port()), S_OK);
    }
    PumpFor(20);
    EXPECT_EQ(orphan->sent, 0);
}

TEST_F(UdpSocketTest, CreationHonoursTheFailureSeam) {
    ComPtr<IUdpSocket> s;
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, E_OUTOFMEMORY);
    EXPECT_EQ(velk::sock::CreateUdpSocket(s.Put()), E_OUTOFMEMORY);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, S_OK);
    EXPECT_EQ(velk::sock::CreateUdpSocket(s.Put()), S_OK);
    EXPECT_EQ(velk::sock::UdpSocket::CreateInstance(IID_IUdpSocket, s.PutVoid()), S_OK);
}

}  // namespace
