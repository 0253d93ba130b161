// The event-driven path: Send with Timeout 0, and datagrams taken when the socket announces
// them, decoded into Message, completed from the MIB and reported by events.
#include <algorithm>
#include <random>

#include "manager_support.h"
#include "mib/mib.h"

namespace manager_test {
namespace {

// A manager on loopback, sending to `peer`, with Timeout 0 and a connected recorder.
struct Rig {
    explicit Rig(const Peer& peer) {
        OpenLoopback(m.Get());
        m->put_Timeout(0);
        m->put_AgentName(Bstr(u"127.0.0.1").Get());
        m->put_AgentPort(peer.Port());
    }
    ~Rig() {
        if (m) m->Close();
    }
    ComPtr<IManager> m = NewManager();
    Events events{m.Get()};
};

TEST_F(ManagerTest, NonBlockingSendReturnsAtOnceAndTheAnswerArrivesAsAResponse) {
    Peer peer;
    Rig rig(peer);
    auto msg = MessageOf(rig.m.Get());
    Fill(msg.Get(), {snmpGet2, 0, u"public", snmpOk, 0, {{u"1.3.6.1.2.1.1.1.0"}}});
    const Bytes request = Encode(msg.Get());

    ASSERT_EQ(rig.m->Send(), S_OK);
    VARIANT_BOOL blocked = VARIANT_TRUE;
    rig.m->get_Blocked(&blocked);
    EXPECT_EQ(blocked, VARIANT_FALSE);
    ASSERT_TRUE(PumpUntil([&] { return !peer.received.empty() && rig.events.Count(DISPID_ManagerEvents_Send); }));
    EXPECT_EQ(peer.received[0], request) << "request id 0 goes out unchanged";

    peer.SendTo(Encode({snmpResponse2, 0, u"public", snmpOk, 0,
                        {{u"1.3.6.1.2.1.1.1.0", snmpOctetString, u"box"}}}),
                LocalPort(rig.m.Get()));
    ASSERT_TRUE(PumpUntil([&] { return rig.events.Count(DISPID_ManagerEvents_Response) == 1; }));
    EXPECT_EQ(TypeOf(msg.Get()), snmpResponse2);
    EXPECT_EQ(Text(&ISnmpVariable::get_Value, VariableAt(msg.Get(), 1).Get()), u"box");
    EXPECT_EQ(rig.events.Count(DISPID_ManagerEvents_Send), 1);
    EXPECT_EQ(SocketTimeout(rig.m.Get()), 0);
}

TEST_F(ManagerTest, EachKindOfDatagramFiresItsEventAndNamesTheSender) {
    struct Case {
        const char* name;
        Bytes datagram;
        DISPID event;
    } cases[] = {
        {"v1 trap", Encode({snmpTrap1, 0, u"public", snmpOk, 0, {}}), DISPID_ManagerEvents_Trap},
        {"v2 trap", Encode({snmpTrap2, 5, u"public", snmpOk, 0, {}}), DISPID_ManagerEvents_Trap},
        {"inform", Encode({snmpInform2, 6, u"public", snmpOk, 0, {}}), DISPID_ManagerEvents_Response},
        {"v1 response", Encode({snmpResponse1, 7, u"public", snmpOk, 0, {}}), DISPID_ManagerEvents_Response},
        {"malformed", {0x30, 0x03, 0x02, 0x01}, DISPID_ManagerEvents_Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer agent, sender;
        Rig rig(agent);
        sender.SendTo(c.datagram, LocalPort(rig.m.Get()));
        ASSERT_TRUE(PumpUntil([&] { return !rig.events.log.empty(); }));
        EXPECT_EQ(rig.events.log, std::vector<DISPID>{c.event});
        Bstr name;
        LONG port = 0;
        rig.m->get_AgentName(name.Put());
        rig.m->get_AgentPort(&port);
        EXPECT_EQ(name.View(), u"127.0.0.1");
        EXPECT_EQ(port, sender.Port()) << "the next Send goes to the sender";
        if (c.event == DISPID_ManagerEvents_Error) {
            EXPECT_EQ(rig.events.errors, std::vector<LONG>{ulFormatError});
            EXPECT_FALSE(rig.events.descriptions[0].empty());
        }
    }
}

TEST_F(ManagerTest, ReceivedVariablesAreCompletedFromTheMibByExactOidOnly) {
    for (const VARIANT_BOOL sorted : {VARIANT_TRUE, VARIANT_FALSE}) {
        SCOPED_TRACE(sorted ? "sorted MIB" : "unsorted MIB");
        Peer agent;
        Rig rig(agent);
        ComPtr<ISnmpMib> mib;
        rig.m->get_Mib(mib.Put());
        ComPtr<ISnmpVariables> dictionary;
        mib->get_Variables(dictionary.Put());
        dictionary->put_Sorted(sorted);
        struct Definition {
            const char16_t *oid, *name;
        } definitions[] = {{u"1.3.6.1.2.1.2.2.1.2", u"ifDescr"}, {u"1.3.6.1.2.1.1.5", u"sysName"}};
        for (const Definition& d : definitions) {
            auto v = NewVariable(d.oid);
            v->put_Name(Bstr(d.name).Get());
            v->put_Description(Bstr(std::u16string(u"about ") + d.name).Get());
            v->put_Syntax(Bstr(u"DisplayString").Get());
            v->put_BaseSyntax(Bstr(u"OCTET STRING").Get());
            v->put_Status(snmpCurrent);
            dictionary->Add(v.Get());
        }

        agent.SendTo(Encode({snmpResponse2, 1, u"public", snmpOk, 0,
                             {{u"1.3.6.1.2.1.1.5.0", snmpOctetString, u"host"},
                              {u"1.3.6.1.2.1.2.2.1.2.3", snmpOctetString, u"eth0"},
                              {u"1.3.6.1.2.1.2.2.1.2", snmpOctetString, u"x"},
                              {u"1.0", snmpInteger, u"1"},
                              {u"2.0", snmpInteger, u"2"}}}),
                     LocalPort(rig.m.Get()));
        ASSERT_TRUE(PumpUntil([&] { return !rig.events.log.empty(); }));
        auto msg = MessageOf(rig.m.Get());
        const char16_t* expected[] = {u"sysName", u"", u"ifDescr", u"", u""};
        for (LONG i = 1; i <= 5; ++i) {
            auto v = VariableAt(msg.Get(), i);
            EXPECT_EQ(Text(&ISnmpVariable::get_Name, v.Get()), expected[i - 1]) << "variable " << i;
        }
        auto sysName = VariableAt(msg.Get(), 1);
        StatusConstants status = snmpMandatory;
        VariableTypeConstants type = snmpNull;
        sysName->get_Status(&status);
        sysName->get_Type(&type);
        EXPECT_EQ(status, snmpCurrent);
        EXPECT_EQ(type, snmpOctetString);
        EXPECT_EQ(Text(&ISnmpVariable::get_Description, sysName.Get()), u"about sysName");
        EXPECT_EQ(Text(&ISnmpVariable::get_BaseSyntax, sysName.Get()), u"OCTET STRING");
        EXPECT_EQ(Text(&ISnmpVariable::get_Value, sysName.Get()), u"host");
        EXPECT_EQ(Text(&ISnmpVariable::get_Oid, sysName.Get()), u"1.3.6.1.2.1.1.5.0");
    }
}

TEST_F(ManagerTest, ADatagramAnnouncedWhileAHandlerRunsIsTakenAfterIt) {
    Peer agent;
    Rig rig(agent);
    const LONG local = LocalPort(rig.m.Get());
    std::vector<LONG> ids;
    rig.events.on = [&](DISPID) {
        ids.push_back(IdOf(MessageOf(rig.m.Get()).Get()));
        if (ids.size() == 1) {
            // The host pumps its loop inside the handler while the next datagram arrives.
            agent.SendTo(Encode({snmpResponse2, 2, u"public", snmpOk, 0, {}}), local);
            const auto start = Clock::now();
            while (ElapsedMs(start) < 150) VelkWaitMessage(20);
        }
    };
    agent.SendTo(Encode({snmpResponse2, 1, u"public", snmpOk, 0, {}}), local);
    ASSERT_TRUE(PumpUntil([&] { return ids.size() == 2; }));
    EXPECT_EQ(ids, (std::vector<LONG>{1, 2}));
    EXPECT_EQ(rig.events.maxDepth, 1) << "the second datagram must not nest into the first";
}

TEST_F(ManagerTest, EveryDatagramOfAFloodOfMixedInputGetsExactlyOneEvent) {
    Peer agent, sender;
    Rig rig(agent);
    const LONG local = LocalPort(rig.m.Get());
    std::mt19937 random(7);
    const Bytes trap = Encode({snmpTrap2, 1, u"public", snmpOk, 0, {{u"1.3.6.1.2.1.1.3.0", snmpTimeTicks, u"5"}}});
    constexpr int kDatagrams = 400;
    for (int i = 0; i < kDatagrams; ++i) {
        Bytes d = trap;
        if (i % 2) {  // damaged copies and random bytes
            for (int k = 0; k < 4; ++k) d[random() % d.size()] = static_cast<uint8_t>(random());
            if (i % 3 == 0) d.assign(1 + random() % 300, 0), std::generate(d.begin(), d.end(), random);
        }
        sender.SendTo(d, local);
        if (i % 20 == 19)  // in bursts that the socket's receive buffer holds
            PumpUntil([&] { return rig.events.log.size() >= static_cast<size_t>(i + 1); });
    }
    PumpUntil([&] { return rig.events.log.size() >= static_cast<size_t>(kDatagrams); });
    EXPECT_EQ(rig.events.log.size(), static_cast<size_t>(kDatagrams));
    EXPECT_GE(rig.events.Count(DISPID_ManagerEvents_Trap), kDatagrams / 2);
    EXPECT_GT(rig.events.Count(DISPID_ManagerEvents_Error), 0);
}

TEST_F(ManagerTest, SocketErrorsArriveAsErrorEvents) {
    Peer agent;
    LONG closedPort = 0;
    {
        Peer gone;
        closedPort = gone.Port();
    }
    Rig rig(agent);
    rig.m->put_AgentPort(closedPort);
    ASSERT_EQ(rig.m->Send(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !rig.events.errors.empty(); }));
    EXPECT_EQ(rig.events.errors[0], ulConnectionRefused);
}

TEST_F(ManagerTest, TheArrivalLeavesTheSocketWaitingForTheCurrentTimeout) {
    Peer agent;
    Rig rig(agent);
    rig.events.on = [&](DISPID) { rig.m->put_Timeout(1234); };
    agent.SendTo(Encode({snmpTrap2, 1, u"public", snmpOk, 0, {}}), LocalPort(rig.m.Get()));
    ASSERT_TRUE(PumpUntil([&] { return !rig.events.log.empty(); }));
    EXPECT_EQ(SocketTimeout(rig.m.Get()), 1234);
}

TEST_F(ManagerTest, HandlersMayReleaseTheControlReplaceItsObjectsAndDisconnect) {
    Peer agent;
    auto rig = std::make_unique<Rig>(agent);
    const LONG local = LocalPort(rig->m.Get());
    bool done = false;
    rig->events.on = [&](DISPID) {
        rig->m->put_Message(NewMessage().Get());
        ComPtr<ISnmpMib> mib;
        velk::mib::CreateSnmpMib(mib.Put());
        rig->m->put_Mib(mib.Get());
        rig->events.connection.Disconnect();
        rig->m->Close();
        rig->m.Reset();  // the host's last reference
        done = true;
    };
    agent.SendTo(Encode({snmpResponse2, 1, u"public", snmpOk, 0, {}}), local);
    agent.SendTo(Encode({snmpResponse2, 2, u"public", snmpOk, 0, {}}), local);
    ASSERT_TRUE(PumpUntil([&] { return done; }));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(rig->events.log.size(), 1u);
    rig.reset();
}

}  // namespace
}  // namespace manager_test
