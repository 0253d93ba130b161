// The Manager control: creation, properties, the socket's pass-through members, About and
// the socket's error and send events. Sending and receiving live in send.cpp and
// receive.cpp, AgentVariable in agent_variable.cpp.
#include "manager/manager.h"

#include "codec/message.h"
#include "mib/mib.h"

namespace velk::manager {

namespace {

constexpr LONG kDefaultTimeout = 30000;

constexpr automation::PersistedProperty kPersisted[] = {
    {"AgentName", 1, VT_BSTR},
    {"AgentPort", 2, VT_I4},
    {"TimeOut", 4, VT_I4},
};

// An exact copy of a text (null stays null, embedded nulls kept).
Bstr CopyText(BSTR text) {
    return text ? Bstr::Adopt(SysAllocStringLen(text, SysStringLen(text))) : Bstr();
}

}  // namespace

Manager::Manager() : SocketControl(DIID__IManagerEvents), self_(std::make_shared<Manager*>(this)) {}

Manager::~Manager() { *self_ = nullptr; }

HRESULT Manager::Init() {
    if (HRESULT hr = CreateSocket(); FAILED(hr)) return hr;
    Socket()->put_BlockingTimeout(kDefaultTimeout);
    if (HRESULT hr = codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, message_.PutVoid());
        FAILED(hr))
        return hr;
    return mib::CreateSnmpMib(mib_.Put());
}

HRESULT Manager::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_Manager); FAILED(hr)) return hr;
    auto manager = rt::MakeObject<Manager>();
    if (!manager || !manager->self_) return E_OUTOFMEMORY;
    if (HRESULT hr = manager->Init(); FAILED(hr)) return hr;
    return manager->QueryInterface(iid, out);
}

std::span<const automation::PersistedProperty> Manager::PersistedProperties() {
    return kPersisted;
}

// ---- Properties ----

HRESULT Manager::get_AgentName(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = agentName_.Copy();
    return S_OK;
}

HRESULT Manager::put_AgentName(BSTR newVal) {
    agentName_ = CopyText(newVal);
    SetDirty();
    return S_OK;
}

HRESULT Manager::get_AgentPort(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = agentPort_;
    return S_OK;
}

HRESULT Manager::put_AgentPort(LONG newVal) {
    agentPort_ = newVal;
    SetDirty();
    return S_OK;
}

HRESULT Manager::get_Timeout(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = timeout_;
    return S_OK;
}

HRESULT Manager::put_Timeout(LONG newVal) {
    timeout_ = newVal;
    Socket()->put_BlockingTimeout(newVal);
    SetDirty();
    return S_OK;
}

HRESULT Manager::get_Blocked(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = blocked_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

// ---- Socket pass-through ----

HRESULT Manager::Close() {
    ComPtr<Manager> keep(this);
    return Socket()->CloseSocket();
}

HRESULT Manager::Open(LONG LocalPort, BSTR LocalAddress) {
    ComPtr<Manager> keep(this);
    const HRESULT hr = Socket()->OpenSocket(LocalPort, LocalAddress);
    return timeout_ != 0 ? hr : S_OK;
}

HRESULT Manager::Abort() {
    Socket()->AbortSocket();
    return S_OK;
}

HRESULT Manager::About() {
    ComPtr<Manager> keep(this);  // the host's dialog may run other work
    VelkShowDialog(u"About Velk SNMP Manager",
                   u"Velk SNMP Manager control, version 2.0\n"
                   u"SNMP v1 and v2c requests, responses and traps over UDP.");
    return S_OK;
}

// ---- Socket events ----

void Manager::FireError(LONG number, BSTR description) {
    ConnectionPoints::FireError(DIID__IManagerEvents, DISPID_ManagerEvents_Error, number, description);
}

void Manager::OnSocketError(LONG number, BSTR description) {
    ComPtr<Manager> keep(this);
    FireError(number, description);
}

void Manager::OnSendNotification() {
    ComPtr<Manager> keep(this);
    Fire(DIID__IManagerEvents, DISPID_ManagerEvents_Send);
}

}  // namespace velk::manager
