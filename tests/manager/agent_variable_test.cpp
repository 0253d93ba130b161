// AgentVariable: one variable read or written with a blocking version 1 request, and the
// refusal texts for error statuses.
#include "manager_support.h"
#include "runtime/registry.h"

namespace manager_test {
namespace {

TEST_F(ManagerTest, AgentVariableSendsOneV1RequestAndReportsErrorStatuses) {
    velk::rt::RegisterClass(CLSID_Manager, "Velk.Manager", &velk::manager::Manager::CreateInstance);
    struct Case {
        bool put;
        ExceptionConstants status;
        LONG index;
        HRESULT expected;
        const char16_t* description;
    } cases[] = {
        {false, snmpOk, 0, S_OK, nullptr},
        {false, snmpNoSuchName, 1, Err(ulOperationRefused), u"Get exception (NoSuchName) in variable index 1."},
        {false, snmpIncosistentValue, 1, Err(ulOperationRefused), u"Get exception (IncosistentValue) in variable index 1."},
        {false, static_cast<ExceptionConstants>(25), 3, Err(ulOperationRefused), u"Get exception (25) in variable index 3."},
        {true, snmpOk, 0, S_OK, nullptr},
        {true, snmpReadOnly, 1, Err(ulOperationRefused), u"Set exception (ReadOnly) in variable index 1."},
        {true, snmpNotWritable, 2, Err(ulOperationRefused), u"Set exception (NotWritable) in variable index 2."},
    };
    const std::u16string oid = u"1.3.6.1.2.1.1.4.0";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.put ? "put " : "get ") << c.status);
        Peer agent;
        std::vector<ComPtr<ISnmpMessage>> requests;
        agent.onDatagram = [&](const Bytes& bytes, uint16_t from) {
            auto request = Decode(bytes);
            requests.push_back(request);
            agent.SendTo(Encode({snmpResponse1, IdOf(request.Get()), u"private", c.status, c.index,
                                 {{oid, snmpOctetString, u"admin"}}}),
                         from);
        };
        auto m = NewManager();
        OpenLoopback(m.Get());
        m->put_Timeout(0);  // AgentVariable waits all the same
        m->put_AgentName(Bstr(u"127.0.0.1").Get());
        m->put_AgentPort(agent.Port());
        // What the message held before is not requested; community and id are kept.
        Fill(MessageOf(m.Get()).Get(), {snmpGetNext2, 99, u"private", snmpOk, 0,
                                        {{u"1.3.6.1.2.1.1.1.0"}, {u"1.3.6.1.2.1.1.2.0"}}});

        ComPtr<ISnmpVariable> result;
        ComPtr<ISnmpVariable> value = NewVariable(u"", snmpOctetString, u"admin");
        const HRESULT hr = c.put ? m->put_AgentVariable(Bstr(oid).Get(), value.Get())
                                 : m->get_AgentVariable(Bstr(oid).Get(), result.Put());
        EXPECT_EQ(hr, c.expected);
        if (c.description) {
            EXPECT_EQ(ErrorDescription(), c.description);
        }
        if (hr == S_OK && !c.put) {
            ASSERT_TRUE(result);
            EXPECT_EQ(Text(&ISnmpVariable::get_Oid, result.Get()), oid);
            EXPECT_EQ(Text(&ISnmpVariable::get_Value, result.Get()), u"admin");
        }
        if (c.put) {
            EXPECT_EQ(Text(&ISnmpVariable::get_Oid, value.Get()), oid);
        }

        ASSERT_EQ(requests.size(), 1u);
        ComPtr<ISnmpMessage> request = requests[0];
        EXPECT_EQ(TypeOf(request.Get()), c.put ? snmpSet1 : snmpGet1);
        EXPECT_EQ(IdOf(request.Get()), 99);
        Bstr community;
        request->get_Community(community.Put());
        EXPECT_EQ(community.View(), u"private");
        ASSERT_EQ(CountOf(request.Get()), 1);
        EXPECT_EQ(Text(&ISnmpVariable::get_Oid, VariableAt(request.Get(), 1).Get()), oid);

        LONG timeout = -1;
        m->get_Timeout(&timeout);
        EXPECT_EQ(timeout, 0);
        EXPECT_EQ(SocketTimeout(m.Get()), 0);
        m->Close();
    }
    velk::rt::UnregisterClass(CLSID_Manager);
}

TEST_F(ManagerTest, AgentVariableRefusalsCarryTheManagerAsSource) {
    velk::rt::RegisterClass(CLSID_Manager, "Velk.Manager", &velk::manager::Manager::CreateInstance);
    Peer agent;
    agent.onDatagram = [&](const Bytes& bytes, uint16_t from) {
        agent.SendTo(Encode({snmpResponse1, IdOf(Decode(bytes).Get()), u"public", snmpNoSuchName, 1, {}}), from);
    };
    auto m = NewManager();
    OpenLoopback(m.Get());
    m->put_AgentName(Bstr(u"127.0.0.1").Get());
    m->put_AgentPort(agent.Port());
    ComPtr<ISnmpVariable> result;
    EXPECT_EQ(m->get_AgentVariable(Bstr(u"1.3.6.1.2.1.1.9.0").Get(), result.Put()), Err(ulOperationRefused));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr source;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetHelpContext(&context);
    EXPECT_EQ(source.View(), u"Velk.Manager.1");
    EXPECT_EQ(context, static_cast<DWORD>(ulOperationRefused));
    EXPECT_EQ(m->put_AgentVariable(Bstr(u"1.3.6.1.2.1.1.9.0").Get(), nullptr), E_POINTER);
    m->Close();
    velk::rt::UnregisterClass(CLSID_Manager);
}

}  // namespace
}  // namespace manager_test
