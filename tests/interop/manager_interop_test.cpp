// Our Manager, blocking and event-driven, against net-snmp's snmpd, snmptrap and snmpinform
// over loopback: requests of every kind, the agent's error statuses, time-outs, Abort, and
// notifications received as events.
#include <memory>

#include "../manager/manager_support.h"
#include "manager_snmpd.h"

namespace manager_test {
namespace {

using manager_peers::Child;
using manager_peers::FindProgram;
using manager_peers::Snmpd;

constexpr const char16_t* kSysDescr = u"1.3.6.1.2.1.1.1.0";
constexpr const char16_t* kSysContact = u"1.3.6.1.2.1.1.4.0";
constexpr const char16_t* kSysName = u"1.3.6.1.2.1.1.5.0";
constexpr const char16_t* kUnknown = u"1.3.6.1.2.1.1.99.0";

class ManagerInterop : public ManagerTest {
protected:
    static void SetUpTestSuite() {
        agent_ = new Snmpd;
        if (!agent_->Start()) skip_ = agent_->Error();
    }
    static void TearDownTestSuite() {
        delete agent_;
        agent_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ManagerTest::SetUp();
    }

    // A manager on loopback addressed to snmpd.
    static ComPtr<IManager> ManagerForAgent(LONG timeout) {
        auto m = NewManager();
        OpenLoopback(m.Get());
        m->put_Timeout(timeout);
        m->put_AgentName(Bstr(u"127.0.0.1").Get());
        m->put_AgentPort(agent_->Port());
        return m;
    }

    static Snmpd* agent_;
    static std::string skip_;
};

Snmpd* ManagerInterop::agent_ = nullptr;
std::string ManagerInterop::skip_;

std::u16string OidAt(ISnmpMessage* m, LONG i) {
    return Text(&ISnmpVariable::get_Oid, VariableAt(m, i).Get());
}

TEST_F(ManagerInterop, BlockingRequestsOfEachKindGetTheAgentsAnswer) {
    struct Case {
        const char* name;
        TypeConstants type;
        std::u16string oid;
        LONG maxRepetition;
        LONG count;
        std::u16string firstOid;
        VariableTypeConstants firstType;
    } cases[] = {
        {"v2c get", snmpGet2, kSysDescr, 0, 1, kSysDescr, snmpOctetString},
        {"v1 get", snmpGet1, kSysName, 0, 1, kSysName, snmpOctetString},
        {"v1 getnext", snmpGetNext1, kSysDescr, 0, 1, u"1.3.6.1.2.1.1.2.0", snmpObjectID},
        {"v2c getnext", snmpGetNext2, u"1.3.6.1.2.1.1.2", 0, 1, u"1.3.6.1.2.1.1.2.0", snmpObjectID},
        {"v2c getbulk", snmpGetBulk2, u"1.3.6.1.2.1.1", 5, 5, kSysDescr, snmpOctetString},
    };
    auto m = ManagerForAgent(2000);
    LONG id = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto msg = MessageOf(m.Get());
        Fill(msg.Get(), {c.type, ++id, u"public", snmpOk, 0, {{c.oid}}});
        msg->put_MaxRepetition(c.maxRepetition);
        VariableAt(msg.Get(), 1)->put_Repeat(VARIANT_TRUE);
        ASSERT_EQ(m->Send(), S_OK);
        EXPECT_EQ(TypeOf(msg.Get()), (c.type & snmp1) ? snmpResponse1 : snmpResponse2);
        EXPECT_EQ(IdOf(msg.Get()), id);
        ExceptionConstants status = snmpTooBig;
        msg->get_Exception(&status);
        EXPECT_EQ(status, snmpOk);
        ASSERT_EQ(CountOf(msg.Get()), c.count);
        EXPECT_EQ(OidAt(msg.Get(), 1), c.firstOid);
        VariableTypeConstants type = snmpNull;
        VariableAt(msg.Get(), 1)->get_Type(&type);
        EXPECT_EQ(type, c.firstType);
        if (c.count > 1) {
            EXPECT_EQ(OidAt(msg.Get(), 2), u"1.3.6.1.2.1.1.2.0");
        }
    }
    m->Close();
}

TEST_F(ManagerInterop, EventDrivenRequestsAreAnsweredThroughTheResponseEvent) {
    auto m = ManagerForAgent(0);
    Events events(m.Get());
    auto msg = MessageOf(m.Get());
    Fill(msg.Get(), {snmpGet2, 77, u"public", snmpOk, 0, {{kSysName}, {kSysDescr}}});
    ASSERT_EQ(m->Send(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return events.Count(DISPID_ManagerEvents_Response) == 1; }));
    EXPECT_EQ(events.Count(DISPID_ManagerEvents_Send), 1);
    EXPECT_EQ(IdOf(msg.Get()), 77);
    ASSERT_EQ(CountOf(msg.Get()), 2);
    EXPECT_EQ(OidAt(msg.Get(), 2), kSysDescr);
    EXPECT_FALSE(Text(&ISnmpVariable::get_Value, VariableAt(msg.Get(), 2).Get()).empty());
    m->Close();
}

TEST_F(ManagerInterop, SetWritesAWritableObject) {
    auto m = ManagerForAgent(2000);
    auto msg = MessageOf(m.Get());
    Fill(msg.Get(), {snmpSet2, 5, u"private", snmpOk, 0, {{kSysContact, snmpOctetString, u"ops@velk"}}});
    ASSERT_EQ(m->Send(), S_OK);
    ExceptionConstants status = snmpTooBig;
    msg->get_Exception(&status);
    EXPECT_EQ(status, snmpOk);

    // The same through AgentVariable (version 1 requests).
    ComPtr<ISnmpVariable> value = NewVariable(u"", snmpOctetString, u"noc@velk");
    EXPECT_EQ(m->put_AgentVariable(Bstr(kSysContact).Get(), value.Get()), S_OK);
    msg->put_Community(Bstr(u"public").Get());
    ComPtr<ISnmpVariable> read;
    ASSERT_EQ(m->get_AgentVariable(Bstr(kSysContact).Get(), read.Put()), S_OK);
    EXPECT_EQ(Text(&ISnmpVariable::get_Value, read.Get()), u"noc@velk");
    m->Close();
}

TEST_F(ManagerInterop, TheAgentsErrorStatusesReachTheHost) {
    struct Case {
        const char* name;
        TypeConstants type;
        const char16_t* community;
        Binding binding;
        ExceptionConstants status;
        VariableExceptionConstants variableException;
    } cases[] = {
        {"v1 get of an unknown object", snmpGet1, u"public", {kUnknown}, snmpNoSuchName, snmpNoException},
        {"v2c get of an unknown object", snmpGet2, u"public", {kUnknown}, snmpOk, snmpNoSuchObject},
        {"v2c set of a read-only object", snmpSet2, u"private", {kSysDescr, snmpOctetString, u"x"}, snmpNotWritable, snmpNoException},
        {"v1 set of a read-only object", snmpSet1, u"private", {kSysDescr, snmpOctetString, u"x"}, snmpNoSuchName, snmpNoException},
        {"v2c set of the wrong type", snmpSet2, u"private", {kSysContact, snmpInteger, u"5"}, snmpWrongType, snmpNoException},
        {"v2c set with a read-only community", snmpSet2, u"public", {kSysContact, snmpOctetString, u"x"}, snmpNoAccess, snmpNoException},
    };
    auto m = ManagerForAgent(2000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto msg = MessageOf(m.Get());
        Fill(msg.Get(), {c.type, 9, c.community, snmpOk, 0, {c.binding}});
        ASSERT_EQ(m->Send(), S_OK);
        ExceptionConstants status = snmpOk;
        LONG index = -1;
        msg->get_Exception(&status);
        msg->get_ExceptionIndex(&index);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(index, c.status == snmpOk ? 0 : 1);
        VariableExceptionConstants exception = snmpNoException;
        VariableAt(msg.Get(), 1)->get_Exception(&exception);
        EXPECT_EQ(exception, c.variableException);
    }

    // AgentVariable turns an error status into 12019 with its text.
    MessageOf(m.Get())->put_Community(Bstr(u"private").Get());
    ComPtr<ISnmpVariable> read;
    EXPECT_EQ(m->get_AgentVariable(Bstr(kUnknown).Get(), read.Put()), Err(ulOperationRefused));
    EXPECT_EQ(ErrorDescription(), u"Get exception (NoSuchName) in variable index 1.");
    auto value = NewVariable(u"", snmpOctetString, u"x");
    EXPECT_EQ(m->put_AgentVariable(Bstr(kSysDescr).Get(), value.Get()), Err(ulOperationRefused));
    EXPECT_EQ(ErrorDescription(), u"Set exception (NoSuchName) in variable index 1.");
    m->Close();
}

TEST_F(ManagerInterop, WaitsEndByTimeOutAbortOrTheRefusingPort) {
    struct Case {
        const char* name;
        const char16_t* community;  // snmpd does not answer an unknown community
        bool closedPort;
        LONG timeout;
        DWORD abortAfterMs;
        HRESULT expected;
        long minMs, maxMs;
    } cases[] = {
        {"unanswered request", u"nobody", false, 300, 0, Err(ulTimeout), 290, 3000},
        {"abort from a timer", u"nobody", false, 20000, 100, Err(ulAbort), 90, 3000},
        {"closed port", u"public", true, 20000, 0, Err(ulConnectionRefused), 0, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto m = ManagerForAgent(c.timeout);
        if (c.closedPort) m->put_AgentPort(manager_peers::FreeUdpPort());
        Fill(MessageOf(m.Get()).Get(), {snmpGet2, 3, c.community, snmpOk, 0, {{kSysDescr}}});
        UINT_PTR timer = 0;
        if (c.abortAfterMs) timer = VelkSetTimer(c.abortAfterMs, [&] { m->Abort(); });
        const auto start = Clock::now();
        EXPECT_EQ(m->Send(), c.expected);
        const long elapsed = ElapsedMs(start);
        if (timer) VelkKillTimer(timer);
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LE(elapsed, c.maxMs);
        VARIANT_BOOL blocked = VARIANT_TRUE;
        m->get_Blocked(&blocked);
        EXPECT_EQ(blocked, VARIANT_FALSE);
        m->Close();
    }
}

TEST_F(ManagerInterop, TrapsAndInformsFromTheToolsArriveAsEvents) {
    const std::string snmptrap = FindProgram("snmptrap"), snmpinform = FindProgram("snmpinform");
    if (snmptrap.empty() || snmpinform.empty()) GTEST_SKIP() << "snmptrap or snmpinform missing";
    auto m = NewManager();
    OpenLoopback(m.Get());
    m->put_Timeout(0);
    Events events(m.Get());
    struct Seen {
        TypeConstants type;
        std::u16string enterprise;
        LONG generic, specific, count;
        std::u16string lastValue;
    };
    std::vector<Seen> seen;
    HRESULT replied = E_FAIL;
    events.on = [&](DISPID id) {
        if (id != DISPID_ManagerEvents_Trap && id != DISPID_ManagerEvents_Response) return;
        auto msg = MessageOf(m.Get());
        Seen s{TypeOf(msg.Get()), {}, 0, 0, CountOf(msg.Get()), {}};
        Bstr enterprise;
        msg->get_Enterprise(enterprise.Put());
        s.enterprise = enterprise.View();
        TrapConstants generic = snmpColdStart;
        msg->get_GenericTrap(&generic);
        s.generic = generic;
        msg->get_SpecificTrap(&s.specific);
        if (s.count > 0) s.lastValue = Text(&ISnmpVariable::get_Value, VariableAt(msg.Get(), s.count).Get());
        seen.push_back(s);
        if (s.type == snmpInform2) {
            // The inform is acknowledged to its sender (AgentName and AgentPort name it now).
            msg->put_Type(snmpResponse2);
            replied = m->Send();
        }
    };
    const std::string target = "127.0.0.1:" + std::to_string(LocalPort(m.Get()));
    manager_peers::TempDir home;
    const std::string log = home.Path() + "/tools.log";
    const std::vector<std::vector<std::string>> runs = {
        {snmptrap, "-v", "1", "-c", "public", target, "1.3.6.1.4.1.8072.2.3.1", "127.0.0.1", "6", "17", "",
         "1.3.6.1.2.1.1.6.0", "s", "first"},
        {snmptrap, "-v", "2c", "-c", "public", target, "", "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.2.1.1.6.0", "s", "second"},
        {snmpinform, "-v", "2c", "-c", "public", "-t", "2", "-r", "1", target, "", "1.3.6.1.6.3.1.1.5.2",
         "1.3.6.1.2.1.1.6.0", "s", "third"},
    };
    for (const auto& args : runs) {
        Child tool(args, home.Path(), log);
        ASSERT_TRUE(tool.Started());
        EXPECT_EQ(tool.Wait(15000), 0) << args[0] << " failed; see its output above";
        PumpUntil([&] { return seen.size() == static_cast<size_t>(&args - &runs[0] + 1); }, 3000);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(events.log[0], DISPID_ManagerEvents_Trap);
    EXPECT_EQ(seen[0].type, snmpTrap1);
    EXPECT_EQ(seen[0].enterprise, u"1.3.6.1.4.1.8072.2.3.1");
    EXPECT_EQ(seen[0].generic, 6);
    EXPECT_EQ(seen[0].specific, 17);
    EXPECT_EQ(seen[0].lastValue, u"first");
    EXPECT_EQ(seen[1].type, snmpTrap2);
    EXPECT_EQ(seen[1].count, 3) << "sysUpTime.0, snmpTrapOID.0 and the object";
    EXPECT_EQ(seen[1].lastValue, u"second");
    EXPECT_EQ(seen[2].type, snmpInform2);
    EXPECT_EQ(seen[2].lastValue, u"third");
    EXPECT_EQ(events.Count(DISPID_ManagerEvents_Trap), 2);
    EXPECT_EQ(events.Count(DISPID_ManagerEvents_Response), 1);
    EXPECT_EQ(replied, S_OK);
    m->Close();
}

}  // namespace
}  // namespace manager_test
