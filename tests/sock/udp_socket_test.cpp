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

constexpr HRESULT Err(LONG number) { return static_cast<HRESULT>(0x800A0000u + static_cast<uint32_t>(number)); }

// Records the events of one socket.
class Sink final : public velk::rt::Object<Sink, IDispatch> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT* n) override { return *n = 0, S_OK; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == DISPID_UdpEvents_DatagramArrived) ++arrived;
        if (id == DISPID_UdpEvents_SendNotification) ++sent;
        if (id == DISPID_UdpEvents_SocketError && p->cArgs == 2) errors.push_back(p->rgvarg[1].lVal);
        if (onEvent) onEvent(id);
        return S_OK;
    }
    int arrived = 0;
    int sent = 0;
    std::vector<LONG> errors;
    std::function<void(DISPID)> onEvent;
};

// A socket with a connected sink.
struct Peer {
    ComPtr<IUdpSocket> socket;
    ComPtr<Sink> sink = velk::rt::MakeObject<Sink>();

    Peer() {
        EXPECT_EQ(velk::sock::CreateUdpSocket(socket.Put()), S_OK);
        ComPtr<IConnectionPointContainer> cpc;
        ComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        EXPECT_EQ(socket.As(&cpc), S_OK);
        EXPECT_EQ(cpc->FindConnectionPoint(DIID__IUdpEvents, cp.Put()), S_OK);
        EXPECT_EQ(cp->Advise(sink->Unknown(), &cookie), S_OK);
    }
    HRESULT Open(const char16_t* address, LONG port = 0) {
        Bstr a(address);
        return socket->OpenSocket(port, a.Get());
    }
    LONG Port() {
        LONG port = 0;
        socket->get_SocketLocalPort(&port);
        return port;
    }
    HRESULT Send(const VARIANT& data, std::u16string_view host, LONG port, LONG length = 0) {
        Variant v(data);
        Bstr h(host);
        LONG sent = 0;
        return socket->SendDatagram(&v, h.Get(), port, length, 0, &sent);
    }
    HRESULT Send(const Bytes& bytes, std::u16string_view host, LONG port);
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
    std::u16string TakeTrace() {
        Variant result;
        EXPECT_EQ(socket->TraceSocket(&result, traceSend, traceReceive, nullptr, nullptr), S_OK);
        return result.vt == VT_BSTR && result.bstrVal ? std::u16string(result.bstrVal) : u"";
    }
    VARIANT_BOOL traceSend = VARIANT_FALSE, traceReceive = VARIANT_FALSE;
};

Variant ByteArray(const Bytes& bytes) {
    Variant v;
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
    return v;
}

HRESULT Peer::Send(const Bytes& bytes, std::u16string_view host, LONG port) {
    return Send(ByteArray(bytes), host, port);
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms = 3000) { return velk::rt::WaitUntil(done, ms); }

void PumpFor(DWORD ms) {
    velk::rt::WaitUntil([] { return false; }, ms);
}

DWORD HelpContext() {
    ComPtr<IErrorInfo> info;
    DWORD context = 0;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) info->GetHelpContext(&context);
    return context;
}

// A loopback port that nobody listens on.
LONG ClosedPort(const char16_t* address) {
    Peer p;
    EXPECT_EQ(p.Open(address), S_OK);
    const LONG port = p.Port();
    p.socket->CloseSocket();
    return port;
}

class UdpSocketTest : public ::testing::Test {
protected:
    void SetUp() override { live_ = velk::rt::LiveObjectCount(); }
    void TearDown() override {
        for (int i = 0; i < 100 && VelkPumpPendingMessages() > 0; ++i) {
        }
        EXPECT_EQ(velk::rt::LiveObjectCount(), live_) << "objects leaked";
        pollfd p{VelkMessageLoopFd(), POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "work left queued";
    }
    long live_ = 0;
};

TEST_F(UdpSocketTest, DatagramsTravelBetweenSocketsOfEitherFamily) {
    struct Case {
        const char16_t* bind;
        const char16_t* target;
        const char16_t* sender;  // as the receiver reports it
    } cases[] = {
        {u"127.0.0.1", u"127.0.0.1", u"127.0.0.1"},
        {u"::1", u"::1", u"::1"},
        {u"", u"127.0.0.1", u"127.0.0.1"},  // dual-stack: IPv4-mapped senders read as IPv4
        {u"", u"::1", u"::1"},
        {u"localhost", u"localhost", u"127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Bstr(c.bind).ToAnsi()) + " -> " + Bstr(c.target).ToAnsi());
        Peer a, b;
        ASSERT_EQ(a.Open(c.bind), S_OK);
        ASSERT_EQ(b.Open(c.bind), S_OK);
        const Bytes payload{0x30, 0x00, 0xFF, 0x7F};
        ASSERT_EQ(a.Send(payload, c.target, b.Port()), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1; }));
        Peer::Received r = b.Receive();
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.count, 4);
        EXPECT_EQ(r.data, payload);
        EXPECT_EQ(r.address, c.sender);
        EXPECT_EQ(r.port, a.Port());
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
    PumpFor(50);
    EXPECT_EQ(b.sink->arrived, 1);  // not taken: no second announcement
    EXPECT_EQ(a.sink->sent, 2);

    EXPECT_EQ(b.Receive().data, Bytes{1});
    ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 2; }));
    EXPECT_EQ(b.Receive().data, Bytes{2});
    PumpFor(50);
    EXPECT_EQ(b.sink->arrived, 2);
    Peer::Received none = b.Receive();
    EXPECT_EQ(none.hr, S_OK);
    EXPECT_EQ(none.count, 0);
}

TEST_F(UdpSocketTest, DatagramsOfEverySizeArriveWhole) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->put_BlockingTimeout(3000);
    for (size_t size : {size_t{1}, size_t{1472}, size_t{9000}, size_t{65507}}) {
        Bytes payload(size);
        for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(i * 7 + size);
        ASSERT_EQ(a.Send(payload, u"127.0.0.1", b.Port()), S_OK);
        Peer::Received r = b.Receive();
        ASSERT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.count, static_cast<LONG>(size));
        EXPECT_TRUE(r.data == payload) << size;
    }
}

TEST_F(UdpSocketTest, BlockingReceiveTimesOutWhileTheLoopKeepsRunning) {
    Peer b;
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->put_BlockingTimeout(150);
    int ticks = 0;
    const UINT_PTR timer = VelkSetTimer(10, [&] { ++ticks; });
    const auto start = Clock::now();
    Peer::Received r = b.Receive();
    const auto elapsed = Clock::now() - start;
    VelkKillTimer(timer);
    EXPECT_EQ(r.hr, Err(10060));
    EXPECT_EQ(HelpContext(), 10060u);
    EXPECT_EQ(r.count, 0);
    EXPECT_GE(elapsed, std::chrono::milliseconds(140));
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(b.sink->arrived, 0);
}

TEST_F(UdpSocketTest, WaitsEndByAbortByCloseOrByADatagramSentMeanwhile) {
    struct Case {
        const char* name;
        HRESULT expected;
        std::function<void(Peer& a, Peer& b)> fromTimer;
    } cases[] = {
        {"abort", Err(11103), [](Peer&, Peer& b) { b.socket->AbortSocket(); }},
        {"close", Err(10057), [](Peer&, Peer& b) { b.socket->CloseSocket(); }},
        {"datagram", S_OK, [](Peer& a, Peer& b) { a.Send(Bytes{9, 9}, u"127.0.0.1", b.Port()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer a, b;
        ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
        ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
        b.socket->put_BlockingTimeout(5000);
        UINT_PTR timer = 0;
        timer = VelkSetTimer(30, [&] {
            VelkKillTimer(timer);
            c.fromTimer(a, b);
        });
        const auto start = Clock::now();
        Peer::Received r = b.Receive();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(r.hr, c.expected);
        EXPECT_EQ(r.count, c.expected == S_OK ? 2 : 0);
        EXPECT_EQ(b.sink->arrived, 0);  // the waiting call took it; nothing announced
    }
    // An abort with no wait running does not cancel a later wait.
    Peer b;
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->AbortSocket();
    b.socket->put_BlockingTimeout(30);
    EXPECT_EQ(b.Receive().hr, Err(10060));
}

TEST_F(UdpSocketTest, FailuresCarryTheirErrorNumbers) {
    Peer open, closed;
    ASSERT_EQ(open.Open(u"127.0.0.1"), S_OK);
    Variant notBytes(LONG{5});
    Variant tooLarge = ByteArray(Bytes(65508));
    struct Case {
        const char* name;
        LONG number;
        std::function<HRESULT()> call;
    } cases[] = {
        {"port in use", 10048, [&] { Peer p; return p.Open(u"127.0.0.1", open.Port()); }},
        {"open twice", 12014, [&] { return open.Open(u"127.0.0.1"); }},
        {"local port out of range", 12001, [&] { Peer p; return p.Open(u"", 70000); }},
        {"unknown local name", 11001, [&] { Peer p; return p.Open(u"no-such-host.invalid"); }},
        {"unknown host", 11001, [&] { return open.Send(Bytes{1}, u"no-such-host.invalid", 161); }},
        {"empty host", 10049, [&] { return open.Send(Bytes{1}, u"", 161); }},
        {"IPv6 host from an IPv4 socket", 10049, [&] { return open.Send(Bytes{1}, u"::1", 161); }},
        {"host with a NUL", 11001, [&] { return open.Send(Bytes{1}, std::u16string_view(u"127.0.0.1\0x", 11), 161); }},
        {"port 0", 12003, [&] { return open.Send(Bytes{1}, u"127.0.0.1", 0); }},
        {"port above 65535", 12003, [&] { return open.Send(Bytes{1}, u"127.0.0.1", 65536); }},
        {"data not bytes", 12001, [&] { return open.Send(notBytes, u"127.0.0.1", 161); }},
        {"datagram too large", 12001, [&] { return open.Send(tooLarge, u"127.0.0.1", 161); }},
        {"negative length", 12004, [&] { return open.Send(ByteArray(Bytes{1}), u"127.0.0.1", 161, -1); }},
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
        Peer a, b;
        ASSERT_EQ(a.Open(address), S_OK);
        ASSERT_EQ(b.Open(address), S_OK);
        const LONG closedPort = ClosedPort(address);

        // Nobody's call sees it: a SocketError event.
        ASSERT_EQ(a.Send(Bytes{1}, address, closedPort), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return !a.sink->errors.empty(); }));
        EXPECT_EQ(a.sink->errors, std::vector<LONG>{10061});
        EXPECT_EQ(a.sink->arrived, 0);

        // The pending error does not stop the next send to a live peer.
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
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
        PumpFor(30);
        EXPECT_TRUE(a.sink->errors.empty());
    }
}

TEST_F(UdpSocketTest, TraceRecordsEachDirectionWithItsPromptUntilRead) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"::1"), S_OK);
    ASSERT_EQ(a.socket->TraceSocket(nullptr, VARIANT_TRUE, VARIANT_FALSE, Bstr(u"S> ").Get(), Bstr(u"R> ").Get()), S_OK);
    a.traceSend = VARIANT_TRUE;
    Variant missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(b.socket->TraceSocket(&missing, VARIANT_TRUE, VARIANT_TRUE, Bstr(u"out ").Get(), Bstr(u"in ").Get()), S_OK);
    EXPECT_EQ(missing.vt, VT_ERROR);

    Peer c;  // IPv6 sender for b
    ASSERT_EQ(c.Open(u"::1"), S_OK);
    ASSERT_EQ(a.Send(Bytes{0x30, 0x0A, 0xFF}, u"127.0.0.1", 9), S_OK);
    ASSERT_EQ(c.Send(Bytes{}, u"::1", b.Port()), S_OK);
    b.socket->put_BlockingTimeout(3000);
    EXPECT_EQ(b.Receive().hr, S_OK);

    EXPECT_EQ(a.TakeTrace(), u"S> 127.0.0.1:9 (3 bytes) 30 0A FF\n");
    EXPECT_EQ(a.TakeTrace(), u"");  // emptied by the read
    const std::u16string port(Bstr::FromAnsi(std::to_string(c.Port())).View());
    b.traceSend = b.traceReceive = VARIANT_TRUE;
    EXPECT_EQ(b.TakeTrace(), u"in [::1]:" + port + u" (0 bytes)\n");

    // Through IDispatch with every argument left out: tracing stops, the record stays.
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
    EXPECT_EQ(std::u16string(result.bstrVal), u"S> 127.0.0.1:9 (1 bytes) 01\n");
}

TEST_F(UdpSocketTest, TraceRecordKeepsOnlyTheNewestMebicharacter) {
    Peer a;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    a.traceSend = VARIANT_TRUE;
    ASSERT_EQ(a.socket->TraceSocket(nullptr, VARIANT_TRUE, VARIANT_FALSE, nullptr, nullptr), S_OK);
    for (uint8_t i = 1; i <= 6; ++i) ASSERT_EQ(a.Send(Bytes(65507, i), u"127.0.0.1", 9), S_OK);
    const std::u16string trace = a.TakeTrace();
    EXPECT_LE(trace.size(), size_t{1} << 20);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), u'\n'), 5);  // each line ~196 Ki characters
    EXPECT_EQ(trace.substr(0, 28), u"127.0.0.1:9 (65507 bytes) 02");  // the first one dropped
}

TEST_F(UdpSocketTest, QueuedDatagramsAreCountedAndTakenInOrder) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    LONG count = -1;
    EXPECT_EQ(b.socket->get_QueuedDatagramCount(&count), S_OK);
    EXPECT_EQ(count, 0);
    for (uint8_t i = 1; i <= 3; ++i) ASSERT_EQ(a.Send(Bytes{i}, u"127.0.0.1", b.Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return b.socket->get_QueuedDatagramCount(&count) == S_OK && count == 3; }));
    // Counting took them from the system; they are still announced.
    ASSERT_TRUE(PumpUntil([&] { return b.sink->arrived == 1; }));
    EXPECT_EQ(b.Receive().data, Bytes{1});
    ASSERT_EQ(a.Send(Bytes{4}, u"127.0.0.1", b.Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return b.socket->get_QueuedDatagramCount(&count) == S_OK && count == 3; }));
    for (uint8_t i = 2; i <= 4; ++i) EXPECT_EQ(b.Receive().data, Bytes{i});
    EXPECT_EQ(b.socket->get_QueuedDatagramCount(&count), S_OK);
    EXPECT_EQ(count, 0);
    b.socket->CloseSocket();
    EXPECT_EQ(b.socket->get_QueuedDatagramCount(&count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(UdpSocketTest, OpenAndCloseReturnAtOnceAndReportTheLocalEndpoint) {
    Peer a;
    a.socket->put_BlockingTimeout(5000);
    const auto start = Clock::now();
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    Bstr address;
    EXPECT_EQ(a.socket->get_SocketLocalAddress(address.Put()), S_OK);
    EXPECT_EQ(address.View(), u"127.0.0.1");
    const LONG port = a.Port();
    EXPECT_GT(port, 0);
    EXPECT_EQ(a.socket->CloseSocket(), S_OK);
    EXPECT_EQ(a.Port(), 0);
    EXPECT_EQ(a.socket->get_SocketLocalAddress(address.Put()), S_OK);
    EXPECT_TRUE(address.Empty());
    ASSERT_EQ(a.Open(u"", port), S_OK);  // the same port again, on the wildcard
    EXPECT_EQ(a.Port(), port);
    EXPECT_EQ(a.socket->get_SocketLocalAddress(address.Put()), S_OK);
    EXPECT_EQ(address.View(), u"0.0.0.0");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST_F(UdpSocketTest, DataIsSentFromBytesOrAnsiTextUpToLength) {
    Peer a, b;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    ASSERT_EQ(b.Open(u"127.0.0.1"), S_OK);
    b.socket->put_BlockingTimeout(3000);
    Variant one;
    one.vt = VT_UI1;
    one.bVal = 0x42;
    Variant array = ByteArray(Bytes{1, 2, 3, 4});
    Variant byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &array;
    Variant text(std::u16string_view(u"A\u00e9\u4e2d"));
    struct Case {
        const VARIANT* data;
        LONG length;
        Bytes expected;
    } cases[] = {
        {&array, 0, {1, 2, 3, 4}},
        {&array, 2, {1, 2}},
        {&array, 9, {1, 2, 3, 4}},
        {&byRef, 0, {1, 2, 3, 4}},
        {&one, 0, {0x42}},
        {&text, 0, {'A', 0xE9, '?'}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a.Send(*c.data, u"127.0.0.1", b.Port(), c.length), S_OK);
        EXPECT_EQ(b.Receive().data, c.expected);
    }
}

TEST_F(UdpSocketTest, ObjectsMayGoAwayFromTheirOwnEventsOrWithWorkPending) {
    // Released by its own DatagramArrived handler.
    Peer a;
    ASSERT_EQ(a.Open(u"127.0.0.1"), S_OK);
    auto* b = new Peer;
    ASSERT_EQ(b->Open(u"127.0.0.1"), S_OK);
    ComPtr<Sink> sink = b->sink;
    sink->onEvent = [&](DISPID) { delete std::exchange(b, nullptr); };
    ASSERT_EQ(a.Send(Bytes{1}, u"127.0.0.1", b->Port()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return b == nullptr; }));
    sink->onEvent = nullptr;

    // Released with a notification posted and a socket open.
    ComPtr<Sink> orphan;
    {
        Peer c;
        orphan = c.sink;
        ASSERT_EQ(c.Open(u"127.0.0.1"), S_OK);
        ASSERT_EQ(c.Send(Bytes{1}, u"127.0.0.1", a.Port()), S_OK);
    }
    PumpFor(20);
    EXPECT_EQ(orphan->sent, 0);
}

TEST_F(UdpSocketTest, CreationHonoursTheFailureSeam) {
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, E_OUTOFMEMORY);
    ComPtr<IUdpSocket> s;
    EXPECT_EQ(velk::sock::CreateUdpSocket(s.Put()), E_OUTOFMEMORY);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, S_OK);
    EXPECT_EQ(velk::sock::CreateUdpSocket(s.Put()), S_OK);
    ComPtr<IUdpSocket> viaMap;
    EXPECT_EQ(velk::sock::UdpSocket::CreateInstance(IID_IUdpSocket, viaMap.PutVoid()), S_OK);
}

}  // namespace
