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

Manager::Manager() : self_(std::make_shared<Manager*>(this)) {
    AddPoint(DIID__IManagerEvents);
}

Manager::~Manager() { *self_ = nullptr; }

HRESULT Manager::Init() {
    if (HRESULT hr = link_.Create(this); FAILED(hr)) return hr;
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

HRESULT Manager::get_Message(ISnmpMessage** pVal) { return message_.CopyTo(pVal); }

HRESULT Manager::put_Message(ISnmpMessage* newVal) {
    if (!newVal) return E_POINTER;
    if (!codec::SnmpMessage::From(newVal)) return E_INVALIDARG;
    message_ = newVal;
    return S_OK;
}

HRESULT Manager::putref_Message(ISnmpMessage* newVal) { return put_Message(newVal); }

HRESULT Manager::get_Mib(ISnmpMib** pVal) { return mib_.CopyTo(pVal); }

HRESULT Manager::put_Mib(ISnmpMib* newVal) {
    if (!newVal) return E_POINTER;
    if (!mib::SnmpMib::From(newVal)) return E_INVALIDARG;
    mib_ = newVal;
    return S_OK;
}

HRESULT Manager::putref_Mib(ISnmpMib* newVal) { return put_Mib(newVal); }

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

HRESULT Manager::get_LocalAddress(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    Socket()->get_SocketLocalAddress(pVal);
    return S_OK;
}

HRESULT Manager::get_LocalPort(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = 0;
    Socket()->get_SocketLocalPort(pVal);
    return S_OK;
}

HRESULT Manager::get_SendDatagramCount(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = 0;
    Socket()->get_QueuedDatagramCount(pVal);
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

HRESULT Manager::Trace(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive,
                       BSTR SendPrompt, BSTR ReceivePrompt) {
    return Socket()->TraceSocket(Result, Send, Receive, SendPrompt, ReceivePrompt);
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
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = number;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = description;  // borrowed for the call
    Fire(DIID__IManagerEvents, DISPID_ManagerEvents_Error, args, 2);
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
