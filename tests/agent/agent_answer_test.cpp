// Automatic answers of Get and Set requests from the agent's MIB, over loopback: values,
// error statuses of both versions, exact OID lookup, and the community check with its
// authenticationFailure trap.
#include "agent_support.h"

namespace agent_test {
namespace {

constexpr const char* kDescr = "1.3.6.1.2.1.1.1.0";
constexpr const char* kContact = "1.3.6.1.2.1.1.4.0";
constexpr const char* kServices = "1.3.6.1.2.1.1.7.0";
constexpr const char* kUnknown = "1.3.6.1.2.1.1.99.0";
constexpr const char* kSecret = "1.3.6.1.4.1.9999.1.0";
constexpr const char* kWriteOnly = "1.3.6.1.4.1.9999.2.0";
constexpr const char* kGauge = "1.3.6.1.4.1.9999.3.0";
constexpr const char* kUnsigned = "1.3.6.1.4.1.9999.4.0";
constexpr const char* kCreate = "1.3.6.1.4.1.9999.5.0";
constexpr const char* kCounter64 = "1.3.6.1.4.1.9999.6.0";

void FillMib(IAgent* agent) {
    AddToMib(agent, {
                        {"1.3.6.1.2.1.1.1", snmpOctetString, "Velk agent", snmpVariableReadOnly},
                        {"1.3.6.1.2.1.1.4", snmpOctetString, "ops", snmpVariableReadWrite},
                        {"1.3.6.1.2.1.1.7", snmpInteger, "72", snmpVariableReadOnly},
                        {"1.3.6.1.4.1.9999.1", snmpInteger, "5", snmpVariableNotAccessible},
                        {"1.3.6.1.4.1.9999.2", snmpInteger, "6", snmpVariableWriteOnly},
                        {"1.3.6.1.4.1.9999.3", snmpGuage32, "10", snmpVariableReadWrite},
                        {"1.3.6.1.4.1.9999.4", snmpUInteger32, "20", snmpVariableReadWrite},
                        {"1.3.6.1.4.1.9999.5", snmpInteger, "7", snmpVariableReadCreate},
                        {"1.3.6.1.4.1.9999.6", snmpCounter64, "12345678901", snmpVariableReadOnly},
                    });
}

// What one response binding must hold.
struct Expect {
    const char* oid;
    LONG type;
    const char* value;
    LONG exception = snmpNoException;
};

struct Case {
    const char* name;
    LONG type;
    std::vector<Binding> request;
    LONG status;
    LONG index;
    std::vector<Expect> response;
};

// NULL bindings with the request's names, as every error response carries them.
#define NULLS1(a) {{a, snmpNull, ""}}
#define NULLS2(a, b) {{a, snmpNull, ""}, {b, snmpNull, ""}}
#define NULLS3(a, b, c) {{a, snmpNull, ""}, {b, snmpNull, ""}, {c, snmpNull, ""}}

const Case kCases[] = {
    {"v2 Get answers known objects and marks an unknown one", snmpGet2,
     {{kDescr}, {kUnknown}, {kServices}}, snmpOk, 0,
     {{kDescr, snmpOctetString, "Velk agent"}, {kUnknown, snmpNull, "", snmpNoSuchObject},
      {kServices, snmpInteger, "72"}}},
    {"v1 Get of an unknown object is noSuchName", snmpGet1, {{kDescr}, {kUnknown}, {kServices}},
     snmpNoSuchName, 2, NULLS3(kDescr, kUnknown, kServices)},
    {"v1 Get of a Counter64 object is noSuchName", snmpGet1, {{kDescr}, {kCounter64}},
     snmpNoSuchName, 2, NULLS2(kDescr, kCounter64)},
    {"v2 Get answers a Counter64 object", snmpGet2, {{kCounter64}}, snmpOk, 0,
     {{kCounter64, snmpCounter64, "12345678901"}}},
    {"v2 Get of 1.0 matches no object by position", snmpGet2, {{"1.0"}}, snmpOk, 0,
     {{"1.0", snmpNull, "", snmpNoSuchObject}}},
    {"v2 Get of a not-accessible object is noAccess", snmpGet2, {{kDescr}, {kSecret}}, snmpNoAccess, 2,
     NULLS2(kDescr, kSecret)},
    {"v1 Get of a write-only object is genErr", snmpGet1, {{kWriteOnly}}, snmpGeneralError, 1,
     NULLS1(kWriteOnly)},
    {"v2 Set of a writable object", snmpSet2, {{kContact, snmpOctetString, "noc"}}, snmpOk, 0,
     {{kContact, snmpOctetString, "noc"}}},
    {"v2 Set of an unknown object is notWritable", snmpSet2, {{kContact, snmpOctetString, "x"}, {kUnknown, snmpInteger, "1"}},
     snmpNotWritable, 2, NULLS2(kContact, kUnknown)},
    {"v1 Set of an unknown object is noSuchName", snmpSet1, {{kUnknown, snmpInteger, "1"}}, snmpNoSuchName, 1,
     NULLS1(kUnknown)},
    {"v2 Set with the wrong type is wrongType", snmpSet2, {{kContact, snmpInteger, "1"}}, snmpWrongType, 1,
     NULLS1(kContact)},
    {"v1 Set with the wrong type is badValue", snmpSet1, {{kContact, snmpInteger, "1"}}, snmpBadValue, 1,
     NULLS1(kContact)},
    {"v2 Set of a read-only object is readOnly", snmpSet2, {{kDescr, snmpOctetString, "x"}}, snmpReadOnly, 1,
     NULLS1(kDescr)},
    {"v1 Set of a read-create object is readOnly", snmpSet1, {{kCreate, snmpInteger, "1"}}, snmpReadOnly, 1,
     NULLS1(kCreate)},
    {"Set of a write-only object", snmpSet2, {{kWriteOnly, snmpInteger, "9"}}, snmpOk, 0,
     {{kWriteOnly, snmpInteger, "9"}}},
    {"Gauge32 and Unsigned32 may be written into each other", snmpSet2,
     {{kGauge, snmpUInteger32, "11"}, {kUnsigned, snmpGuage32, "21"}}, snmpOk, 0,
     {{kGauge, snmpUInteger32, "11"}, {kUnsigned, snmpGuage32, "21"}}},
};

TEST_F(AgentTest, AnswersGetAndSetWithTheRightStatus) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        OpenAgent a;
        FillMib(a.agent.Get());
        RawPeer manager;
        manager.SendTo(a.port, Request(c.type, 4711, "cobalt", c.request));
        auto response = manager.ReceiveMessage();
        ASSERT_TRUE(response);
        TypeConstants type{};
        response->get_Type(&type);
        EXPECT_EQ(type, (c.type & snmp1) ? snmpResponse1 : snmpResponse2);
        LONG id = 0, index = 0;
        ExceptionConstants status{};
        response->get_Id(&id);
        response->get_Exception(&status);
        response->get_ExceptionIndex(&index);
        EXPECT_EQ(id, 4711);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(index, c.index);
        auto vars = VariablesOf(response.Get());
        LONG count = 0;
        vars->get_Count(&count);
        ASSERT_EQ(count, static_cast<LONG>(c.response.size()));
        LONG i = 1;
        for (const Expect& e : c.response) {
            auto v = Item(vars.Get(), i++);
            EXPECT_EQ(OidOf(v.Get()), e.oid);
            EXPECT_EQ(TypeOf(v.Get()), e.type);
            EXPECT_EQ(ExceptionOf(v.Get()), e.exception);
            if (e.exception == snmpNoException) {
                EXPECT_EQ(ValueOf(v.Get()), e.value);
            }
        }
        EXPECT_EQ(a.log, (std::vector<std::string>{"Request", "Response"}));
    }
}

TEST_F(AgentTest, SetWritesTheMibAndIsNotAtomic) {
    OpenAgent a;
    FillMib(a.agent.Get());
    RawPeer manager;
    // The first variable is written, the second has the wrong type.
    manager.SendTo(a.port, Request(snmpSet1, 1, "cobalt", {{kContact, snmpOctetString, "first"}, {kGauge, snmpInteger, "1"}}));
    auto response = manager.ReceiveMessage();
    ASSERT_TRUE(response);
    ExceptionConstants status{};
    response->get_Exception(&status);
    EXPECT_EQ(status, snmpBadValue);
    EXPECT_EQ(ValueOf(MibVariable(a.agent.Get(), "1.3.6.1.2.1.1.4").Get()), "first");

    // A Gauge32 value written into an Unsigned32 object keeps the object's type.
    manager.SendTo(a.port, Request(snmpSet2, 2, "cobalt", {{kUnsigned, snmpGuage32, "99"}}));
    ASSERT_TRUE(manager.ReceiveMessage());
    auto stored = MibVariable(a.agent.Get(), "1.3.6.1.4.1.9999.4");
    EXPECT_EQ(ValueOf(stored.Get()), "99");
    EXPECT_EQ(TypeOf(stored.Get()), snmpUInteger32);

    // A later Get reads the new value.
    manager.SendTo(a.port, Request(snmpGet2, 3, "cobalt", {{kContact}}));
    response = manager.ReceiveMessage();
    ASSERT_TRUE(response);
    EXPECT_EQ(ValueOf(Item(VariablesOf(response.Get()).Get(), 1).Get()), "first");
}

TEST_F(AgentTest, ResponseGoesToTheRequesterAndKeepsItsCommunity) {
    OpenAgent a;
    FillMib(a.agent.Get());
    a.agent->put_Community(Bstr(u"public").Get());
    RawPeer first, second;
    first.SendTo(a.port, Request(snmpGet2, 10, "public", {{kDescr}}));
    auto r1 = first.ReceiveMessage();
    second.SendTo(a.port, Request(snmpGet2, 20, "public", {{kDescr}}));
    auto r2 = second.ReceiveMessage();
    ASSERT_TRUE(r1 && r2);
    LONG id1 = 0, id2 = 0;
    r1->get_Id(&id1);
    r2->get_Id(&id2);
    EXPECT_EQ(id1, 10);
    EXPECT_EQ(id2, 20);
    Bstr community;
    r2->get_Community(community.Put());
    EXPECT_EQ(community.ToAnsi(), "public");
    Bstr name;
    LONG port = 0;
    a.agent->get_ManagerName(name.Put());
    a.agent->get_ManagerPort(&port);
    EXPECT_EQ(name.ToAnsi(), "127.0.0.1");
    EXPECT_EQ(port, second.Port());
}

TEST_F(AgentTest, WrongCommunityGetsNoAnswerButATrapPerDestination) {
    struct CommunityCase {
        const char* agent;
        const char* request;
    };
    const CommunityCase cases[] = {
        {"public", "private"},
        {"public", "Public"},   // compared exactly, case included
        {"public", "public "},  // no trimming
        {"", "cobalt"},         // an empty agent community accepts only the empty one
    };
    for (const CommunityCase& c : cases) {
        SCOPED_TRACE(std::string(c.agent) + " / " + c.request);
        OpenAgent a;
        FillMib(a.agent.Get());
        a.agent->put_Community(Bstr::FromAnsi(c.agent).Get());
        RawPeer manager, trapsA, trapsB;
        a.AddTrapManager(trapsA.Destination());
        a.AddTrapManager(trapsB.Destination());
        manager.SendTo(a.port, Request(snmpGet2, 1, c.request, {{kDescr}}));
        for (RawPeer* receiver : {&trapsA, &trapsB}) {
            auto trap = receiver->ReceiveMessage();
            ASSERT_TRUE(trap);
            TypeConstants type{};
            TrapConstants generic{};
            Bstr community, enterprise;
            trap->get_Type(&type);
            trap->get_GenericTrap(&generic);
            trap->get_Community(community.Put());
            trap->get_Enterprise(enterprise.Put());
            EXPECT_EQ(type, snmpTrap1);
            EXPECT_EQ(generic, snmpAuthenticationFailure);
            EXPECT_EQ(community.ToAnsi(), c.request);
            EXPECT_EQ(enterprise.ToAnsi(), "1.3.6.1.4.1");
            EXPECT_TRUE(receiver->Silent(std::chrono::milliseconds(50)));
        }
        EXPECT_TRUE(manager.Silent());
        Bstr own;
        a.agent->get_Community(own.Put());
        EXPECT_EQ(own.ToAnsi(), c.agent);
        EXPECT_EQ(a.log, (std::vector<std::string>{"Request", "Response"}));
    }
}

TEST_F(AgentTest, RequestsOtherThanGetAndSetAreLeftToTheHost) {
    OpenAgent a;
    FillMib(a.agent.Get());
    RawPeer manager, traps;
    a.AddTrapManager(traps.Destination());
    // Neither answered nor, with a wrong community, trapped: the type is examined first.
    manager.SendTo(a.port, Request(snmpGetNext2, 1, "cobalt", {{kDescr}}));
    manager.SendTo(a.port, Request(snmpGetNext2, 2, "wrong", {{kDescr}}));
    EXPECT_TRUE(manager.Silent());
    EXPECT_TRUE(traps.Silent(std::chrono::milliseconds(10)));
    EXPECT_EQ(a.log, (std::vector<std::string>{"Request", "Request"}));

    // A Request handler that changes the type suppresses the automatic answer.
    velk::EventConnection retype = velk::ConnectEvents(a.agent, DIID__IAgentEvents);
    retype.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) { a.Message()->put_Type(snmpInform2); });
    manager.SendTo(a.port, Request(snmpGet2, 3, "cobalt", {{kDescr}}));
    EXPECT_TRUE(manager.Silent());
}

TEST_F(AgentTest, UndecodableDatagramRaisesErrorAndKeepsTheManager) {
    OpenAgent a;
    FillMib(a.agent.Get());
    RawPeer manager, stranger;
    manager.SendTo(a.port, Request(snmpGet2, 1, "cobalt", {{kDescr}}));
    ASSERT_TRUE(manager.ReceiveMessage());
    a.log.clear();
    stranger.SendTo(a.port, Bytes{0x30, 0x03, 0x02, 0x01});
    ASSERT_TRUE(PumpUntil([&] { return !a.log.empty(); }));
    EXPECT_EQ(a.log, (std::vector<std::string>{"Error:12015"}));
    LONG port = 0;
    a.agent->get_ManagerPort(&port);
    EXPECT_EQ(port, manager.Port());
    EXPECT_TRUE(stranger.Silent(std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace agent_test
