#include "session.h"

#include <chrono>
#include <random>

namespace vs {

namespace {

using Clock = std::chrono::steady_clock;

bool IsHostError(int number) {
    return number == ulHostNotFound || number == ulTryAgain || number == ulNoRecovery || number == ulNoData;
}

}  // namespace

TypeConstants RequestType(bool v1, TypeConstants v2Type) {
    return static_cast<TypeConstants>(v1 ? (v2Type & ~snmp2) | snmp1 : v2Type);
}

ComPtr<ISnmpVariable> AddVariable(ISnmpMessage* message, const std::string& oid) {
    ComPtr<ISnmpVariable> v = Create<ISnmpVariable>(CLSID_SnmpVariable);
    v->put_Oid(B(oid).Get());
    ComPtr<ISnmpVariables> list;
    message->get_Variables(list.Put());
    list->Add(v.Get());
    return v;
}

Session::Session(const Endpoint& target, const TargetOptions& options) : target_(target), options_(options) {
    std::random_device seed;
    nextId_ = static_cast<LONG>(seed() & 0x3FFFFFFF);
    manager_ = Create<IManager>(CLSID_Manager);
    // Received variables are named by the tool itself: an empty MIB keeps the control from
    // searching one for every variable.
    ComPtr<ISnmpMib> noMib = Create<ISnmpMib>(CLSID_SnmpMib);
    manager_->putref_Mib(noMib.Get());
    spare_ = Create<ISnmpMessage>(CLSID_SnmpMessage);
    // Open while blocking so that a failure is reported, then go non-blocking: the session
    // does its own waiting and retries.
    manager_->put_Timeout(5000);
    Check(manager_->Open(0, B("").Get()), "cannot open a UDP socket");
    manager_->put_Timeout(0);
    events_ = velk::ConnectEvents(manager_, DIID__IManagerEvents);
    events_.On(DISPID_ManagerEvents_Response, [this](velk::EventArgs&) { OnResponse(); });
}

Session::~Session() {
    events_.Disconnect();
    if (manager_) manager_->Close();
}

void Session::OnResponse() {
    if (!waiting_) return;
    ComPtr<ISnmpMessage> message;
    if (FAILED(manager_->get_Message(message.Put())) || !message) return;
    TypeConstants type = snmpGet1;
    LONG id = 0;
    message->get_Type(&type);
    message->get_Id(&id);
    if ((type != snmpResponse1 && type != snmpResponse2) || id != waitingId_) return;
    // Keep this message as the response; later datagrams decode into the spare one.
    waiting_ = false;
    response_ = message;
    if (spare_) manager_->putref_Message(spare_.Get());
    spare_.Reset();
}

HRESULT Session::SendCurrent() {
    manager_->put_AgentName(B(target_.host).Get());
    manager_->put_AgentPort(target_.port);
    const HRESULT hr = manager_->Send();
    if (FAILED(hr)) {
        const int number = ErrorNumber(hr);
        if (IsHostError(number)) Fail("unknown host " + target_.host);
        Fail("cannot send to " + target_.Text() + ": " + ErrorText(hr));
    }
    return hr;
}

ISnmpMessage* Session::Request(const std::function<void(ISnmpMessage*)>& build) {
    // The previous response becomes the spare message again.
    if (!spare_ && response_) spare_ = response_;
    response_.Reset();
    const LONG id = NewId();
    const int tries = options_.retries + 1;
    for (int attempt = 0; attempt < tries; ++attempt) {
        ComPtr<ISnmpMessage> message;
        manager_->get_Message(message.Put());
        // The fields a request uses, set afresh (Reset would also look up this host's
        // address, which requests do not carry).
        ComPtr<ISnmpVariables> variables;
        message->get_Variables(variables.Put());
        variables->Clear();
        message->put_Exception(snmpOk);
        message->put_ExceptionIndex(0);
        message->put_MaxRepetition(0);
        message->put_Community(B(options_.community).Get());
        build(message.Get());
        message->put_Id(id);
        waitingId_ = id;
        waiting_ = true;
        SendCurrent();
        const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
        while (waiting_) {
            const auto now = Clock::now();
            if (now >= deadline) break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            VelkWaitMessage(static_cast<DWORD>(left < 1 ? 1 : left));
        }
        if (!waiting_) return response_.Get();
    }
    waiting_ = false;
    Fail("no answer from " + target_.Text() + " after " + std::to_string(tries) + (tries == 1 ? " try" : " tries"));
}

void Session::Send(const std::function<void(ISnmpMessage*)>& build) {
    if (!spare_ && response_) spare_ = response_;
    response_.Reset();
    ComPtr<ISnmpMessage> message;
    manager_->get_Message(message.Put());
    message->Reset();
    message->put_Community(B(options_.community).Get());
    build(message.Get());
    SendCurrent();
    // Let the socket hand the datagram to the system before the program ends.
    for (int i = 0; i < 20 && VelkPumpPendingMessages() > 0; ++i) {
    }
}

}  // namespace vs
