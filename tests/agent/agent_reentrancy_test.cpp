// Host code inside the agent's processing: handlers that pump the message loop, release the
// control or replace Message and Mib; bursts of datagrams.
#include "agent_support.h"
#include "mib/mib.h"

namespace agent_test {
namespace {

constexpr const char* kDescr = "1.3.6.1.2.1.1.1.0";

void FillMib(IAgent* agent, const char* descr = "Velk agent") {
    AddToMib(agent, {{"1.3.6.1.2.1.1.1", snmpOctetString, descr, snmpVariableReadOnly}});
}

LONG IdOf(ISnmpMessage* m) {
    LONG id = 0;
    m->get_Id(&id);
    return id;
}

TEST_F(AgentTest, DatagramArrivingWhileAHandlerPumpsIsTakenAfterwards) {
    OpenAgent a;
    FillMib(a.agent.Get());
    RawPeer first, second;
    LONG idSeenAfterPumping = 0;
    bool sentSecond = false;
    auto pumping = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    pumping.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) {
        if (sentSecond) return;
        sentSecond = true;
        second.SendTo(a.port, Request(snmpGet2, 2, "cobalt", {{kDescr}}));
        PumpFor(std::chrono::milliseconds(100));
        idSeenAfterPumping = IdOf(a.Message().Get());
    });
    first.SendTo(a.port, Request(snmpGet2, 1, "cobalt", {{kDescr}}));
    auto r1 = first.ReceiveMessage();
    auto r2 = second.ReceiveMessage();
    ASSERT_TRUE(r1 && r2);
    EXPECT_EQ(IdOf(r1.Get()), 1);
    EXPECT_EQ(IdOf(r2.Get()), 2);
    EXPECT_EQ(idSeenAfterPumping, 1);
    EXPECT_EQ(a.log, (std::vector<std::string>{"Request", "Response", "Request", "Response"}));
    EXPECT_TRUE(first.Silent(std::chrono::milliseconds(20)));
}

TEST_F(AgentTest, RequestDuringTheAuthenticationFailureTrapSeesTheAgentsOwnCommunity) {
    OpenAgent a;
    FillMib(a.agent.Get());
    a.agent->put_Community(Bstr(u"public").Get());
    RawPeer intruder, manager, traps;
    a.AddTrapManager(traps.Destination());
    bool sent = false;
    auto pumping = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    pumping.On(DISPID_AgentEvents_Response, [&](velk::EventArgs&) {
        if (sent) return;
        sent = true;  // inside the trap's Send, while the agent holds the rejected community
        manager.SendTo(a.port, Request(snmpGet2, 7, "public", {{kDescr}}));
        PumpFor(std::chrono::milliseconds(100));
    });
    intruder.SendTo(a.port, Request(snmpGet2, 6, "intruder", {{kDescr}}));
    auto answer = manager.ReceiveMessage();
    ASSERT_TRUE(answer);
    EXPECT_EQ(IdOf(answer.Get()), 7);
    EXPECT_TRUE(traps.Receive().has_value());
    EXPECT_TRUE(traps.Silent(std::chrono::milliseconds(50)));
    EXPECT_TRUE(intruder.Silent(std::chrono::milliseconds(10)));
}

TEST_F(AgentTest, BurstsAreAnsweredCompletelyAndInOrder) {
    for (bool pumpInHandler : {false, true}) {
        SCOPED_TRACE(pumpInHandler ? "handler pumps" : "plain");
        OpenAgent a;
        FillMib(a.agent.Get());
        std::vector<LONG> requestIds;
        auto watch = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
        watch.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) {
            requestIds.push_back(IdOf(a.Message().Get()));
            if (pumpInHandler && requestIds.size() % 7 == 0) VelkPumpPendingMessages();
        });
        RawPeer manager;
        constexpr LONG kCount = 200;
        for (LONG id = 1; id <= kCount; ++id) manager.SendTo(a.port, Request(snmpGet2, id, "cobalt", {{kDescr}}));
        std::vector<LONG> answered;
        while (answered.size() < static_cast<size_t>(kCount)) {
            auto r = manager.ReceiveMessage();
            if (!r) break;
            answered.push_back(IdOf(r.Get()));
        }
        ASSERT_EQ(answered.size(), static_cast<size_t>(kCount));
        for (LONG id = 1; id <= kCount; ++id) {
            EXPECT_EQ(requestIds[id - 1], id);
            EXPECT_EQ(answered[id - 1], id);
        }
    }
}

TEST_F(AgentTest, HandlerMayReleaseTheControl) {
    RawPeer manager;
    LONG port = 0;
    int requests = 0;
    velk::EventConnection events;
    {
        auto agent = NewAgent();
        FillMib(agent.Get());
        ASSERT_EQ(agent->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
        agent->get_LocalPort(&port);
        auto* holder = new ComPtr<IAgent>(agent);
        events = velk::ConnectEvents(agent, DIID__IAgentEvents);
        events.On(DISPID_AgentEvents_Request, [&requests, holder](velk::EventArgs&) {
            ++requests;
            delete holder;  // the host's last reference goes
        });
    }
    manager.SendTo(port, Request(snmpGet2, 1, "cobalt", {{kDescr}}));
    auto answer = manager.ReceiveMessage();
    ASSERT_TRUE(answer);  // processing finished with the control's own reference
    EXPECT_EQ(requests, 1);
    manager.SendTo(port, Request(snmpGet2, 2, "cobalt", {{kDescr}}));
    EXPECT_TRUE(manager.Silent());  // the control and its socket are gone
    events.Disconnect();
}

TEST_F(AgentTest, AnswerReadsMessageAndMibAgainAfterTheRequestEvent) {
    OpenAgent a;
    FillMib(a.agent.Get(), "old mib");
    ComPtr<ISnmpMib> replacement;
    ASSERT_EQ(velk::mib::CreateSnmpMib(replacement.Put()), S_OK);
    VariablesOf(replacement.Get())
        ->Add(NewVariable("1.3.6.1.2.1.1.1", snmpOctetString, "new mib", snmpVariableReadOnly).Get());
    auto handlers = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    handlers.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) {
        // A fresh Message built by the host replaces the decoded request.
        auto own = NewMessage();
        own->put_Type(snmpGet2);
        own->put_Id(77);
        VariablesOf(own.Get())->Add(NewVariable(kDescr).Get());
        a.agent->put_Message(own.Get());
        a.agent->put_Mib(replacement.Get());
    });
    RawPeer manager;
    manager.SendTo(a.port, Request(snmpGet2, 1, "cobalt", {{kDescr}}));
    auto answer = manager.ReceiveMessage();
    ASSERT_TRUE(answer);
    EXPECT_EQ(IdOf(answer.Get()), 77);
    EXPECT_EQ(ValueOf(Item(VariablesOf(answer.Get()).Get(), 1).Get()), "new mib");
}

TEST_F(AgentTest, HostAnswersFromTheRequestHandler) {
    OpenAgent a(false);
    auto handlers = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    handlers.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) {
        auto m = a.Message();
        m->put_Type(snmpResponse2);
        Item(VariablesOf(m.Get()).Get(), 1)->put_Exception(snmpEndOfMibView);
        EXPECT_EQ(a.agent->Send(), S_OK);
    });
    RawPeer manager;
    manager.SendTo(a.port, Request(snmpGetNext2, 3, "cobalt", {{kDescr}}));
    auto answer = manager.ReceiveMessage();
    ASSERT_TRUE(answer);
    EXPECT_EQ(ExceptionOf(Item(VariablesOf(answer.Get()).Get(), 1).Get()), snmpEndOfMibView);
    EXPECT_TRUE(manager.Silent(std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace agent_test
