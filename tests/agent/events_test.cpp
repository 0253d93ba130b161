// The lambda event helper of velk/events.h, driven by an agent's events.
#include <stdexcept>

#include "agent_support.h"

namespace agent_test {
namespace {

TEST_F(AgentTest, EventHelperCallsHandlersInOrderUntilDisconnected) {
    auto agent = NewAgent();
    std::vector<std::string> calls;
    auto events = velk::ConnectEvents(agent, DIID__IAgentEvents);
    ASSERT_TRUE(events.Connected());
    EXPECT_EQ(events.Result(), S_OK);
    events.On(DISPID_AgentEvents_Response, [&](velk::EventArgs& e) {
              calls.push_back("first:" + std::to_string(e.Id()) + ":" + std::to_string(e.Count()));
          })
        .On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) { calls.push_back("request"); })
        .On(DISPID_AgentEvents_Response, [&](velk::EventArgs&) {
            calls.push_back("second");
            throw std::runtime_error("ignored by the control");
        })
        .On(DISPID_AgentEvents_Response, [&](velk::EventArgs&) { calls.push_back("third"); });

    agent->Send();  // fires Response, then fails to send (the socket is not open)
    EXPECT_EQ(calls, (std::vector<std::string>{"first:1:0", "second", "third"}));

    // Moved connections stay connected; a disconnected one calls nothing.
    velk::EventConnection moved = std::move(events);
    EXPECT_FALSE(events.Connected());
    agent->Send();
    EXPECT_EQ(calls.size(), 6u);
    moved.Disconnect();
    agent->Send();
    EXPECT_EQ(calls.size(), 6u);
}

TEST_F(AgentTest, EventHelperPassesArgumentsInDeclarationOrder) {
    OpenAgent a;
    LONG number = 0;
    std::u16string description;
    UINT count = 0;
    auto events = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    events.On(DISPID_AgentEvents_Error, [&](velk::EventArgs& e) {
        count = e.Count();
        number = e.Long(0);
        description = e.Text(1);
        EXPECT_EQ(e.Raw(2), nullptr);
        EXPECT_EQ(e.Long(5, -1), -1);
    });
    RawPeer peer;
    peer.SendTo(a.port, Bytes{0x01, 0x02});
    ASSERT_TRUE(PumpUntil([&] { return count != 0; }));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(number, 12015);
    EXPECT_FALSE(description.empty());
}

TEST_F(AgentTest, EventHelperSurvivesHandlersThatEndTheirConnectionOrTheSource) {
    auto agent = NewAgent();
    int calls = 0;
    velk::EventConnection events = velk::ConnectEvents(agent, DIID__IAgentEvents);
    events.On(DISPID_AgentEvents_Response, [&](velk::EventArgs&) {
        ++calls;
        events = velk::EventConnection();  // ends this very connection
        agent.Reset();                     // and releases the source
    });
    ComPtr<IAgent> caller = agent;
    caller->Send();
    caller.Reset();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(events.Connected());

    // An object without connection points cannot be connected; On is then harmless.
    auto message = NewMessage();
    auto none = velk::ConnectEvents(message, DIID__IAgentEvents);
    EXPECT_FALSE(none.Connected());
    EXPECT_NE(none.Result(), S_OK);
    none.On(1, [](velk::EventArgs&) {});
}

}  // namespace
}  // namespace agent_test
