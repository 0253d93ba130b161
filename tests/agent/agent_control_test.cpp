// The agent as a control: object properties, persistence bytes, creation without a
// socket, Open and its coldStart trap, Send's destinations and community rule, socket
// errors, About, Trace and the trap destination entries.
#include "agent/trap_destination.h"
#include "agent_support.h"
#include "mib/mib.h"

namespace agent_test {
namespace {

// A MIB that is not the library's own.
class ForeignMib final : public velk::rt::Object<ForeignMib, ISnmpMib> {
public:
    STDMETHOD(GetTypeInfoCount)(UINT*) override { return E_NOTIMPL; }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHOD(get_Modules)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_Variables)(ISnmpVariables**) override { return E_NOTIMPL; }
    STDMETHOD(get_Traps)(ISnmpTraps**) override { return E_NOTIMPL; }
    STDMETHOD(Load)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Name)(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(get_Oid)(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(Compile)(IVelkStrings*) override { return E_NOTIMPL; }
    STDMETHOD(RemoveTable)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(Clear)() override { return E_NOTIMPL; }
};

Bytes StreamBytes(IStream* s) {
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    Bytes out(256);
    ULONG read = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    out.resize(read);
    return out;
}

ComPtr<IStream> StreamOf(const Bytes& bytes) {
    ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.Put());
    s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

TEST_F(AgentTest, ObjectPropertiesRefuseNullAndForeignObjects) {
    auto agent = NewAgent();
    ComPtr<IVelkStrings> managers;
    ComPtr<ISnmpMib> mib;
    ComPtr<ISnmpMessage> message;
    agent->get_TrapManagers(managers.Put());
    agent->get_Mib(mib.Put());
    agent->get_Message(message.Put());
    ASSERT_TRUE(managers && mib && message);

    EXPECT_EQ(agent->put_Message(nullptr), E_POINTER);
    EXPECT_EQ(agent->putref_Mib(nullptr), E_POINTER);
    EXPECT_EQ(agent->put_TrapManagers(nullptr), E_POINTER);
    auto foreignMib = velk::rt::MakeObject<ForeignMib>();
    EXPECT_EQ(agent->put_Mib(foreignMib.Get()), E_INVALIDARG);

    ComPtr<IVelkStrings> managersAfter;
    ComPtr<ISnmpMib> mibAfter;
    ComPtr<ISnmpMessage> messageAfter;
    agent->get_TrapManagers(managersAfter.Put());
    agent->get_Mib(mibAfter.Put());
    agent->get_Message(messageAfter.Put());
    EXPECT_EQ(managersAfter.Get(), managers.Get());
    EXPECT_EQ(mibAfter.Get(), mib.Get());
    EXPECT_EQ(messageAfter.Get(), message.Get());

    // Objects of the library's own classes are shared, not copied.
    auto other = NewMessage();
    EXPECT_EQ(agent->put_Message(other.Get()), S_OK);
    agent->get_Message(messageAfter.Put());
    EXPECT_EQ(messageAfter.Get(), other.Get());
}

TEST_F(AgentTest, PersistsAutoAndCommunityAsBytes) {
    auto agent = NewAgent();
    agent->put_Community(Bstr(u"ab").Get());
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(agent.As(&persist), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
    EXPECT_EQ(StreamBytes(stream.Get()),
              (Bytes{0x00, 0x09, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0xFF, 0x08, 0x00, 0x06, 0x00, 0x00, 0x00,
                     'a', 0x00, 'b', 0x00, 0x00, 0x00}));
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    // Loaded back through the setters; a newer version loads nothing.
    auto copy = NewAgent();
    ComPtr<IPersistStreamInit> loader;
    ASSERT_EQ(copy.As(&loader), S_OK);
    EXPECT_EQ(loader->Load(StreamOf({0x00, 0x0A, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}).Get()), E_FAIL);
    VARIANT_BOOL autoOn = VARIANT_FALSE;
    copy->get_Auto(&autoOn);
    EXPECT_EQ(autoOn, VARIANT_TRUE);
    EXPECT_EQ(loader->Load(StreamOf({0x00, 0x09, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00,
                                     0x00, 0x00, 0x00}).Get()),
              S_OK);
    Bstr community;
    copy->get_Auto(&autoOn);
    copy->get_Community(community.Put());
    EXPECT_EQ(autoOn, VARIANT_FALSE);
    EXPECT_EQ(community.Get(), nullptr);
}

TEST_F(AgentTest, CreationFailsWithTheSocketsResultWhenThereIsNoSocket) {
    const HRESULT refused = static_cast<HRESULT>(0x800A0000u + 10055);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, refused);
    ComPtr<IAgent> agent;
    EXPECT_EQ(velk::agent::Agent::CreateInstance(IID_IAgent, agent.PutVoid()), refused);
    EXPECT_FALSE(agent);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, S_OK);
}

TEST_F(AgentTest, OpenWithAutoSendsColdStartToEveryTrapManager) {
    auto agent = NewAgent();
    RawPeer first, second;
    ComPtr<IVelkStrings> managers;
    agent->get_TrapManagers(managers.Put());
    managers->Add(Bstr::FromAnsi(first.Destination()).Get(), 0);
    managers->Add(Bstr::FromAnsi("localhost:" + std::to_string(second.Port())).Get(), 0);
    int responses = 0;
    auto events = velk::ConnectEvents(agent, DIID__IAgentEvents);
    events.On(DISPID_AgentEvents_Response, [&](velk::EventArgs&) { ++responses; });
    ASSERT_EQ(agent->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
    LONG uptime = 0;
    agent->get_AgentUptime(&uptime);
    EXPECT_EQ(responses, 1);
    for (RawPeer* peer : {&first, &second}) {
        auto trap = peer->ReceiveMessage();
        ASSERT_TRUE(trap);
        TypeConstants type{};
        TrapConstants generic{};
        LONG specific = -1, stamp = -1;
        Bstr enterprise;
        trap->get_Type(&type);
        trap->get_GenericTrap(&generic);
        trap->get_SpecificTrap(&specific);
        trap->get_UpTime(&stamp);
        trap->get_Enterprise(enterprise.Put());
        EXPECT_EQ(type, snmpTrap1);
        EXPECT_EQ(generic, snmpColdStart);
        EXPECT_EQ(specific, 0);
        EXPECT_EQ(enterprise.ToAnsi(), "1.3.6.1.4.1");
        EXPECT_GE(stamp, 0);
        EXPECT_LE(stamp, uptime);
    }
    ComPtr<ISnmpMessage> message;
    agent->get_Message(message.Put());
    LONG messageUpTime = -1;
    message->get_UpTime(&messageUpTime);
    EXPECT_EQ(messageUpTime, 0);

    // A failing Open returns the socket's error and sends nothing.
    auto second_agent = NewAgent();
    LONG port = 0;
    agent->get_LocalPort(&port);
    EXPECT_EQ(second_agent->Open(port, Bstr(u"127.0.0.1").Get()), static_cast<HRESULT>(0x800A0000u + 10048));
    EXPECT_TRUE(first.Silent(std::chrono::milliseconds(50)));
}

TEST_F(AgentTest, SendAppliesTheCommunityRuleAndTheTrapUptime) {
    OpenAgent a(false);
    a.agent->put_Community(Bstr(u"public").Get());
    RawPeer receiver;
    a.AddTrapManager(receiver.Destination());
    auto message = a.Message();

    struct SendCase {
        const char* name;
        LONG type;
        const char* community;  // null: left at the reset value
        LONG upTime;
        const char* expectCommunity;
        bool expectStamp;  // an uptime set by the agent (v1 trap, UpTime 0)
    };
    const SendCase cases[] = {
        {"default community becomes the agent's", snmpTrap1, nullptr, 0, "public", true},
        {"a host's community is kept", snmpTrap1, "other", 0, "other", true},
        {"a host's uptime is kept", snmpTrap1, nullptr, 4242, "public", false},
        {"a v2 trap is never stamped", snmpTrap2, nullptr, 0, "public", false},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.name);
        message->Reset();
        message->put_Type(static_cast<TypeConstants>(c.type));
        message->put_UpTime(c.upTime);
        message->put_Enterprise(Bstr(u"1.3.6.1.4.1.9").Get());
        if (c.community) message->put_Community(Bstr::FromAnsi(c.community).Get());
        PumpFor(std::chrono::milliseconds(c.expectStamp ? 30 : 0));  // a visible uptime
        ASSERT_EQ(a.agent->Send(), S_OK);
        auto sent = receiver.ReceiveMessage();
        ASSERT_TRUE(sent);
        Bstr community;
        sent->get_Community(community.Put());
        EXPECT_EQ(community.ToAnsi(), c.expectCommunity);
        if (c.type == snmpTrap1) {
            LONG stamp = 0;
            sent->get_UpTime(&stamp);
            if (c.expectStamp)
                EXPECT_GT(stamp, 0);
            else
                EXPECT_EQ(stamp, c.upTime);
        }
        LONG after = -1;
        message->get_UpTime(&after);
        EXPECT_EQ(after, c.upTime);
    }
}

TEST_F(AgentTest, SendStopsAtTheFirstFailingTrapDestination) {
    OpenAgent a(false);
    RawPeer before, after;
    a.AddTrapManager(before.Destination());
    a.AddTrapManager("127.0.0.1:99999");  // not a port
    a.AddTrapManager(after.Destination());
    a.Message()->put_Type(snmpTrap2);
    EXPECT_EQ(a.agent->Send(), static_cast<HRESULT>(0x800A0000u + 12003));
    EXPECT_TRUE(before.Receive().has_value());
    EXPECT_TRUE(after.Silent(std::chrono::milliseconds(50)));
}

TEST_F(AgentTest, SocketErrorsBecomeErrorEvents) {
    OpenAgent a(false);
    {
        RawPeer gone;
        gone.SendTo(a.port, Request(snmpGetNext2, 1, "cobalt", {{"1.3.6.1.2.1.1.1.0"}}));
        ASSERT_TRUE(PumpUntil([&] { return !a.log.empty(); }));
    }
    // The answer goes to a port that is closed now: the ICMP report comes back as an event.
    a.Message()->put_Type(snmpResponse2);
    EXPECT_EQ(a.agent->Send(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return a.log.size() >= 3; }));
    EXPECT_EQ(a.log, (std::vector<std::string>{"Request", "Response", "Error:10061"}));
}

TEST_F(AgentTest, TrapDestinationEntries) {
    struct EntryCase {
        const char16_t* entry;
        const char16_t* host;
        LONG port;
    };
    const EntryCase cases[] = {
        {u"name:1162", u"name", 1162},       {u"name", u"name", 162},
        {u"name:", u"name", 162},            {u"name:x", u"name", 162},
        {u"name: \t+7x", u"name", 7},        {u"name:-5", u"name", -5},
        {u"", u"", 162},                     {u"a:b:1", u"a", 162},
        {u"[::1]:1163", u"::1", 1163},       {u"[::1]", u"::1", 162},
        {u"h:99999999999", u"h", 2147483647}, {u"h:-99999999999", u"h", -2147483647 - 1},
    };
    for (const EntryCase& c : cases) {
        const auto d = velk::agent::ParseTrapDestination(c.entry);
        EXPECT_EQ(d.host, std::u16string_view(c.host)) << Bstr(c.entry).ToAnsi();
        EXPECT_EQ(d.port, c.port) << Bstr(c.entry).ToAnsi();
    }
}

TEST_F(AgentTest, LateBoundCallsReachTheMembers) {
    auto agent = NewAgent();
    auto id = [&](const char16_t* name) {
        DISPID d = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(agent->GetIDsOfNames(IID_NULL, names, 1, 0, &d), S_OK);
        return d;
    };
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant community;
    ASSERT_EQ(agent->Invoke(id(u"community"), IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &community, nullptr, nullptr), S_OK);
    EXPECT_EQ(Bstr(community.bstrVal).ToAnsi(), "cobalt");
    // Open with both arguments left out: any free port, every address.
    Variant result;
    ASSERT_EQ(agent->Invoke(id(u"Open"), IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
    LONG port = 0;
    agent->get_LocalPort(&port);
    EXPECT_GT(port, 0);
    EXPECT_EQ(agent->Invoke(id(u"Close"), IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
}

HRESULT CaptureDialog(LPCOLESTR caption, LPCOLESTR, void* context) {
    *static_cast<std::u16string*>(context) = caption;
    return S_OK;
}

TEST_F(AgentTest, AboutTraceAndUptime) {
    auto agent = NewAgent();
    EXPECT_EQ(agent->About(), S_OK);  // no dialog hook: nothing shown
    std::u16string caption;
    VelkSetDialogHook(&CaptureDialog, &caption);
    EXPECT_EQ(agent->About(), S_OK);
    VelkSetDialogHook(nullptr, nullptr);
    EXPECT_NE(caption.find(u"Agent"), std::u16string::npos);

    // Trace records what the socket sends.
    RawPeer receiver;
    ComPtr<IVelkStrings> managers;
    agent->get_TrapManagers(managers.Put());
    managers->Add(Bstr::FromAnsi(receiver.Destination()).Get(), 0);
    ASSERT_EQ(agent->Trace(nullptr, VARIANT_TRUE, VARIANT_TRUE, Bstr(u"out ").Get(), Bstr(u"in ").Get()), S_OK);
    ASSERT_EQ(agent->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);  // sends the coldStart trap
    Variant recorded;
    ASSERT_EQ(agent->Trace(&recorded, VARIANT_FALSE, VARIANT_FALSE, nullptr, nullptr), S_OK);
    ASSERT_EQ(recorded.vt, VT_BSTR);
    EXPECT_EQ(Bstr(recorded.bstrVal).ToAnsi().rfind("out 127.0.0.1:" + std::to_string(receiver.Port()), 0), 0u);

    LONG before = 0, after = 0;
    agent->get_AgentUptime(&before);
    PumpFor(std::chrono::milliseconds(60));
    agent->get_AgentUptime(&after);
    EXPECT_GE(after - before, 5);
    EXPECT_LT(after - before, 500);
    EXPECT_EQ(agent->Close(), S_OK);
    LONG port = -1;
    agent->get_LocalPort(&port);
    EXPECT_EQ(port, 0);
}

}  // namespace
}  // namespace agent_test
