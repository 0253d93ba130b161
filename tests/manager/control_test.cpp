// The Manager as a control: creation, shared objects, Open, persistence.
#include <vector>

#include "manager_support.h"
#include "mib/mib.h"

namespace manager_test {
namespace {

std::vector<uint8_t> StreamBytes(IStream* s) {
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::vector<uint8_t> out(256);
    ULONG read = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &read);
    out.resize(read);
    return out;
}

ComPtr<IStream> StreamOf(const std::vector<uint8_t>& bytes) {
    ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.Put());
    s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    LARGE_INTEGER zero{0};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

// A host-implemented MIB: every member fails; only its identity matters.
#define VELK_NOT_IMPLEMENTED \
    { return E_NOTIMPL; }
#define VELK_DISPATCH_NOT_IMPLEMENTED                                                        \
    STDMETHOD(GetTypeInfoCount)(UINT*) override VELK_NOT_IMPLEMENTED                          \
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override VELK_NOT_IMPLEMENTED             \
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override VELK_NOT_IMPLEMENTED \
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)    \
    override VELK_NOT_IMPLEMENTED

class ForeignMib final : public velk::rt::Object<ForeignMib, ISnmpMib> {
public:
    VELK_DISPATCH_NOT_IMPLEMENTED
    STDMETHOD(get_Modules)(IVelkStrings**) override VELK_NOT_IMPLEMENTED
    STDMETHOD(get_Variables)(ISnmpVariables**) override VELK_NOT_IMPLEMENTED
    STDMETHOD(get_Traps)(ISnmpTraps**) override VELK_NOT_IMPLEMENTED
    STDMETHOD(Load)(BSTR) override VELK_NOT_IMPLEMENTED
    STDMETHOD(get_Name)(BSTR, BSTR*) override VELK_NOT_IMPLEMENTED
    STDMETHOD(get_Oid)(BSTR, BSTR*) override VELK_NOT_IMPLEMENTED
    STDMETHOD(Compile)(IVelkStrings*) override VELK_NOT_IMPLEMENTED
    STDMETHOD(RemoveTable)(BSTR) override VELK_NOT_IMPLEMENTED
    STDMETHOD(Clear)() override VELK_NOT_IMPLEMENTED
};

TEST_F(ManagerTest, StartsWithItsDefaultsAndASocketWaiting30Seconds) {
    auto m = NewManager();
    LONG timeout = 0, port = -1;
    Bstr name(u"x");
    VARIANT_BOOL blocked = VARIANT_TRUE;
    m->get_Timeout(&timeout);
    m->get_AgentPort(&port);
    m->get_AgentName(name.Put());
    m->get_Blocked(&blocked);
    EXPECT_EQ(timeout, 30000);
    EXPECT_EQ(SocketTimeout(m.Get()), 30000);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(name.Get(), nullptr);
    EXPECT_EQ(blocked, VARIANT_FALSE);
    ComPtr<ISnmpMessage> msg;
    ComPtr<ISnmpMib> mib;
    EXPECT_EQ(m->get_Message(msg.Put()), S_OK);
    EXPECT_EQ(m->get_Mib(mib.Put()), S_OK);
    EXPECT_TRUE(msg && mib);
}

TEST_F(ManagerTest, CreationFailsWithTheSocketsResultWhenNoSocketCanBeHad) {
    const HRESULT failure = Err(ulNoBufferSpace);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, failure);
    ComPtr<IManager> m;
    EXPECT_EQ(velk::manager::Manager::CreateInstance(IID_IManager, m.PutVoid()), failure);
    EXPECT_FALSE(m);
    velk::rt::SetCreationFailure(CLSID_UdpSocketComponent, S_OK);
}

TEST_F(ManagerTest, MessageAndMibAreSharedAndOnlyOurOwnObjectsAreAccepted) {
    auto m = NewManager();
    ComPtr<ISnmpMessage> original = MessageOf(m.Get());
    ComPtr<ISnmpMib> originalMib;
    m->get_Mib(originalMib.Put());

    auto foreignMib = velk::rt::MakeObject<ForeignMib>();
    EXPECT_EQ(m->put_Message(nullptr), E_POINTER);
    EXPECT_EQ(m->put_Mib(nullptr), E_POINTER);
    EXPECT_EQ(m->putref_Mib(foreignMib.Get()), E_INVALIDARG);
    EXPECT_EQ(MessageOf(m.Get()).Get(), original.Get());
    ComPtr<ISnmpMib> mibNow;
    m->get_Mib(mibNow.Put());
    EXPECT_EQ(mibNow.Get(), originalMib.Get());

    // Our own objects are held by reference, not copied.
    auto replacement = NewMessage();
    ComPtr<ISnmpMib> mib2;
    ASSERT_EQ(velk::mib::CreateSnmpMib(mib2.Put()), S_OK);
    EXPECT_EQ(m->put_Message(replacement.Get()), S_OK);
    EXPECT_EQ(m->put_Mib(mib2.Get()), S_OK);
    EXPECT_EQ(MessageOf(m.Get()).Get(), replacement.Get());
    m->get_Mib(mibNow.Put());
    EXPECT_EQ(mibNow.Get(), mib2.Get());
}

TEST_F(ManagerTest, OpenReportsFailureOnlyWhileTimeoutIsSet) {
    auto m = NewManager();
    // Port 70000 is refused by the socket (12001).
    EXPECT_EQ(m->Open(70000, Bstr(u"127.0.0.1").Get()), Err(ulInvalidParam1));
    m->put_Timeout(0);
    EXPECT_EQ(m->Open(70000, Bstr(u"127.0.0.1").Get()), S_OK);
    EXPECT_EQ(m->Open(0, Bstr(u"127.0.0.1").Get()), S_OK);
    EXPECT_GT(LocalPort(m.Get()), 0);
    Bstr address;
    m->get_LocalAddress(address.Put());
    EXPECT_EQ(address.View(), u"127.0.0.1");
    EXPECT_EQ(m->Close(), S_OK);
    EXPECT_EQ(LocalPort(m.Get()), 0);
}

TEST_F(ManagerTest, SavesTheExactBytesAndLoadsThroughTheSetters) {
    auto m = NewManager();
    m->put_AgentPort(161);
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(m->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, s.Put());
    ASSERT_EQ(persist->Save(s.Get(), TRUE), S_OK);
    EXPECT_EQ(StreamBytes(s.Get()), (std::vector<uint8_t>{0x00, 0x09, 0x00, 0x00,  //
                                                          0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                          0x03, 0x00, 0xA1, 0x00, 0x00, 0x00,
                                                          0x03, 0x00, 0x30, 0x75, 0x00, 0x00}));
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    // Loading goes through the Timeout setter, so the socket follows.
    auto loaded = NewManager();
    ComPtr<IPersistStorage> storage;
    ASSERT_EQ(loaded->QueryInterface(IID_IPersistStorage, storage.PutVoid()), S_OK);
    ComPtr<IStorage> store;
    ASSERT_EQ(VelkCreateMemoryStorage(store.Put()), S_OK);
    m->put_AgentName(Bstr(u"agent.example").Get());
    m->put_Timeout(-5);
    ComPtr<IPersistStorage> source;
    m->QueryInterface(IID_IPersistStorage, source.PutVoid());
    ASSERT_EQ(source->Save(store.Get(), TRUE), S_OK);
    ASSERT_EQ(storage->Load(store.Get()), S_OK);
    Bstr name;
    LONG port = 0, timeout = 0;
    loaded->get_AgentName(name.Put());
    loaded->get_AgentPort(&port);
    loaded->get_Timeout(&timeout);
    EXPECT_EQ(name.View(), u"agent.example");
    EXPECT_EQ(port, 161);
    EXPECT_EQ(timeout, -5);
    EXPECT_EQ(SocketTimeout(loaded.Get()), -5);
}

TEST_F(ManagerTest, RefusesDataOfANewerVersion) {
    auto m = NewManager();
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(m->QueryInterface(IID_IPersistStreamInit, persist.PutVoid()), S_OK);
    auto s = StreamOf({0x00, 0x0A, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,  //
                       0x03, 0x00, 0x07, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(persist->Load(s.Get()), E_FAIL);
    LONG port = -1, timeout = 0;
    m->get_AgentPort(&port);
    m->get_Timeout(&timeout);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(timeout, 30000);
}

}  // namespace
}  // namespace manager_test
