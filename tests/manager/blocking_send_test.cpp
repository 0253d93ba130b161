// The blocking Send: waiting for the response to the request over the same receive path,
// one deadline, Abort, Blocked, and host handlers that run during the wait.
#include <memory>

#include "manager_support.h"

namespace manager_test {
namespace {

// A manager on loopback that sends Get requests to `agent`, with a connected recorder.
struct Rig {
    explicit Rig(const Peer& agent, LONG timeout = 3000) {
        OpenLoopback(m.Get());
        m->put_Timeout(timeout);
        m->put_AgentName(Bstr(u"127.0.0.1").Get());
        m->put_AgentPort(agent.Port());
        Fill(MessageOf(m.Get()).Get(), {snmpGet2, 41, u"public", snmpOk, 0, {{u"1.3.6.1.2.1.1.3.0"}}});
    }
    ~Rig() {
        if (m) m->Close();
    }
    bool Blocked() const {
        VARIANT_BOOL b = VARIANT_FALSE;
        m->get_Blocked(&b);
        return b == VARIANT_TRUE;
    }
    ComPtr<IManager> m = NewManager();
    Events events{m.Get()};
};

// Answers every Get request with the given datagrams, built from the request's id.
void AnswerGets(Peer& agent, std::function<std::vector<Bytes>(LONG id)> answers) {
    agent.onDatagram = [&agent, answers](const Bytes& request, uint16_t from) {
        auto m = Decode(request);
        if (TypeOf(m.Get()) != snmpGet2) return;
        for (const Bytes& b : answers(IdOf(m.Get()))) agent.SendTo(b, from);
    };
}

TEST_F(ManagerTest, BlockingSendWaitsForItsOwnResponseWhileOtherDatagramsFireEvents) {
    Peer agent;
    AnswerGets(agent, [](LONG id) {
        return std::vector<Bytes>{Encode({snmpTrap2, id, u"public", snmpOk, 0, {}}),
                                  Encode({snmpResponse2, id + 1, u"public", snmpOk, 0, {}}),
                                  Encode({snmpResponse2, id, u"public", snmpOk, 0,
                                          {{u"1.3.6.1.2.1.1.3.0", snmpTimeTicks, u"99"}}})};
    });
    Rig rig(agent);
    std::vector<bool> blockedInHandlers;
    rig.events.on = [&](DISPID) {
        blockedInHandlers.push_back(rig.Blocked());
        rig.m->put_Timeout(777);  // the socket ends up waiting for the current Timeout
    };
    EXPECT_EQ(rig.m->Send(), S_OK);
    std::vector<DISPID> answers;
    for (DISPID id : rig.events.log)
        if (id != DISPID_ManagerEvents_Send) answers.push_back(id);
    EXPECT_EQ(answers, (std::vector<DISPID>{DISPID_ManagerEvents_Trap, DISPID_ManagerEvents_Response,
                                            DISPID_ManagerEvents_Response}));
    EXPECT_EQ(std::count(blockedInHandlers.begin(), blockedInHandlers.end(), false), 0);
    EXPECT_FALSE(rig.Blocked());
    auto msg = MessageOf(rig.m.Get());
    EXPECT_EQ(TypeOf(msg.Get()), snmpResponse2);
    EXPECT_EQ(IdOf(msg.Get()), 41);
    EXPECT_EQ(Text(&ISnmpVariable::get_Value, VariableAt(msg.Get(), 1).Get()), u"99");
    EXPECT_EQ(SocketTimeout(rig.m.Get()), 777);
}

TEST_F(ManagerTest, BlockingSendFailsWithTheReasonTheWaitEnded) {
    struct Case {
        const char* name;
        LONG timeout;
        DWORD abortAfterMs;  // 0: no Abort
        std::vector<Bytes> answer;
        bool closedPort;
        HRESULT expected;
        long minMs, maxMs;
    } cases[] = {
        {"silent agent", 200, 0, {}, false, Err(ulTimeout), 190, 2000},
        {"abort from a timer", 10000, 50, {}, false, Err(ulAbort), 40, 2000},
        {"negative timeout has no limit", -1, 300, {}, false, Err(ulAbort), 290, 3000},
        {"malformed answer", 3000, 0, {{0x30, 0x02, 0x05, 0x00}}, false, Err(ulFormatError), 0, 2000},
        {"closed port", 3000, 0, {}, true, Err(ulConnectionRefused), 0, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer agent;
        AnswerGets(agent, [&](LONG) { return c.answer; });
        Rig rig(agent, c.timeout);
        if (c.closedPort) {
            Peer gone;
            rig.m->put_AgentPort(gone.Port());
        }
        UINT_PTR timer = 0;
        if (c.abortAfterMs) timer = VelkSetTimer(c.abortAfterMs, [&] { rig.m->Abort(); });
        const auto start = Clock::now();
        EXPECT_EQ(rig.m->Send(), c.expected);
        const long elapsed = ElapsedMs(start);
        if (timer) VelkKillTimer(timer);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        EXPECT_FALSE(rig.Blocked());
        EXPECT_EQ(SocketTimeout(rig.m.Get()), c.timeout);
        if (c.expected == Err(ulFormatError)) {
            EXPECT_EQ(rig.events.errors, std::vector<LONG>{ulFormatError});
        }
    }
}

TEST_F(ManagerTest, ANestedBlockingSendIsRefusedAndOnlyTheOuterOneClearsBlocked) {
    Peer agent;
    AnswerGets(agent, [](LONG id) {
        return std::vector<Bytes>{Encode({snmpTrap2, 0, u"public", snmpOk, 0, {}}),
                                  Encode({snmpResponse2, id, u"public", snmpOk, 0, {}})};
    });
    Rig rig(agent);
    HRESULT nested = S_OK, nonBlocking = E_FAIL;
    bool blockedAfterNonBlocking = false;
    rig.events.on = [&](DISPID id) {
        if (id != DISPID_ManagerEvents_Trap) return;
        nested = rig.m->Send();
        rig.m->put_Timeout(0);
        nonBlocking = rig.m->Send();  // goes out (to the trap's sender) without waiting
        blockedAfterNonBlocking = rig.Blocked();
        rig.m->put_Timeout(3000);
    };
    EXPECT_EQ(rig.m->Send(), S_OK);
    EXPECT_EQ(nested, Err(ulBlocked));
    EXPECT_EQ(nonBlocking, S_OK);
    EXPECT_TRUE(blockedAfterNonBlocking);
    EXPECT_FALSE(rig.Blocked());
}

TEST_F(ManagerTest, UnsolicitedDatagramsCannotHoldTheWaitPastItsDeadline) {
    Peer silentAgent, flooder;
    Rig rig(silentAgent, 300);
    const LONG local = LocalPort(rig.m.Get());
    const Bytes trap = Encode({snmpTrap2, 0, u"public", snmpOk, 0, {}});
    int sent = 0;
    const UINT_PTR timer = VelkSetTimer(2, [&] {
        if (sent < 2000) flooder.SendTo(trap, local), ++sent;
    });
    const auto start = Clock::now();
    EXPECT_EQ(rig.m->Send(), Err(ulTimeout));
    const long elapsed = ElapsedMs(start);
    VelkKillTimer(timer);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 1500);
    EXPECT_GT(rig.events.Count(DISPID_ManagerEvents_Trap), 10);
    EXPECT_FALSE(rig.Blocked());
}

TEST_F(ManagerTest, HandlersDuringTheWaitMayReplaceMessageOrReleaseTheControl) {
    Peer agent;
    AnswerGets(agent, [](LONG id) {
        return std::vector<Bytes>{Encode({snmpTrap1, 0, u"public", snmpOk, 0, {}}),
                                  Encode({snmpResponse2, id, u"public", snmpOk, 0, {}})};
    });
    {
        // The matching response is decoded into the message that is current by then.
        Rig rig(agent);
        auto first = MessageOf(rig.m.Get());
        auto second = NewMessage();
        rig.events.on = [&](DISPID id) {
            if (id == DISPID_ManagerEvents_Trap) rig.m->put_Message(second.Get());
        };
        EXPECT_EQ(rig.m->Send(), S_OK);
        EXPECT_EQ(TypeOf(first.Get()), snmpTrap1);
        EXPECT_EQ(TypeOf(second.Get()), snmpResponse2);
        EXPECT_EQ(IdOf(second.Get()), 41);
    }
    {
        // The host drops its last reference inside the wait; the Send still ends normally.
        auto rig = std::make_unique<Rig>(agent);
        IManager* raw = rig->m.Get();
        rig->events.on = [&](DISPID id) {
            if (id != DISPID_ManagerEvents_Trap) return;
            rig->events.connection.Disconnect();
            rig->m.Reset();
        };
        EXPECT_EQ(raw->Send(), S_OK);
        rig.reset();
    }
}

}  // namespace
}  // namespace manager_test
