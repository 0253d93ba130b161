// Agent: creation, properties, Open, Close, Send, About, and the socket's events.
#include "agent/agent.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "agent/trap_destination.h"
#include "automation/error_reporting.h"
#include "codec/message.h"
#include "mib/mib.h"
#include "sock/velk_strings.h"

namespace velk::agent {
namespace {

constexpr std::u16string_view kDefaultCommunity = u"cobalt";
constexpr std::u16string_view kEnterprise = u"1.3.6.1.4.1";
constexpr LONG kOpenCloseTimeoutMs = 30000;
// Datagrams taken per announcement before the loop gets a turn for other work.
constexpr int kBatch = 32;

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// A companion result that counts as a failure: a non-zero error number in the low word.
bool IsFailure(HRESULT hr) { return FAILED(hr) || transport::ErrorNumber(hr) != 0; }

// The encoded message: in place in the message's own buffer, or, when the message is being
// encoded already further up the stack, in an array of its own.
class Encoded {
public:
    HRESULT From(ISnmpMessage* message) {
        codec::SnmpMessage* own = codec::SnmpMessage::From(message);
        HRESULT hr = own ? own->EncodeBytes(&bytes_) : E_UNEXPECTED;
        if (hr != E_UNEXPECTED) return hr;
        array_.vt = VT_ARRAY | VT_UI1;
        array_.parray = nullptr;
        if (hr = message->Encode(&array_); FAILED(hr)) return hr;
        SAFEARRAY* sa = array_.vt == (VT_ARRAY | VT_UI1) ? array_.parray : nullptr;
        if (!sa || sa->cDims != 1 || !sa->pvData) return automation::ErrorResult(codec::kFormatError);
        bytes_ = {static_cast<const uint8_t*>(sa->pvData), sa->rgsabound[0].cElements};
        return S_OK;
    }
    std::span<const uint8_t> Bytes() const { return bytes_; }

private:
    std::span<const uint8_t> bytes_;
    Variant array_;
};

}  // namespace

// ---- Re-entrancy ----

class Agent::BusyScope {
public:
    explicit BusyScope(Agent& agent) : agent_(agent) { ++agent_.busy_; }
    ~BusyScope() {
        if (--agent_.busy_ == 0 && agent_.pending_) agent_.Reannounce();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    Agent& agent_;
};

// ---- Creation ----

Agent::Agent()
    : SocketControl(DIID__IAgentEvents),
      community_(kDefaultCommunity),
      start_(std::chrono::steady_clock::now()),
      self_(std::make_shared<Agent*>(this)) {}

Agent::~Agent() {
    *self_ = nullptr;
    for (ISnmpVariable* v : members_) v->Release();
}

HRESULT Agent::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_Agent); FAILED(hr)) return hr;
    auto agent = rt::MakeObject<Agent>();
    if (!agent) return E_OUTOFMEMORY;
    if (HRESULT hr = agent->Init(); FAILED(hr)) return hr;
    return agent->QueryInterface(iid, out);
}

HRESULT Agent::Init() {
    if (HRESULT hr = sock::CreateVelkStrings(trapManagers_.Put()); FAILED(hr)) return hr;
    if (HRESULT hr = CreateSocket(); FAILED(hr)) return hr;
    if (HRESULT hr = codec::SnmpMessage::CreateInstance(IID_ISnmpMessage, message_.PutVoid());
        FAILED(hr))
        return hr;
    if (HRESULT hr = mib::CreateSnmpMib(mib_.Put()); FAILED(hr)) return hr;
    if (!community_.Get()) return E_OUTOFMEMORY;
    start_ = std::chrono::steady_clock::now();
    return S_OK;
}

std::span<const automation::PersistedProperty> Agent::PersistedProperties() {
    static const automation::PersistedProperty kProperties[] = {
        {"Auto", 1, VT_BOOL},
        {"Community", 2, VT_BSTR},
    };
    return kProperties;
}

// ---- Properties ----

HRESULT Agent::get_Auto(VARIANT_BOOL* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = auto_;
    return S_OK;
}

HRESULT Agent::put_Auto(VARIANT_BOOL newVal) {
    auto_ = newVal;
    SetDirty();
    return S_OK;
}

HRESULT Agent::get_Community(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = community_.Copy();
    return community_.Get() && !*pVal ? E_OUTOFMEMORY : S_OK;
}

HRESULT Agent::put_Community(BSTR newVal) {
    Bstr copy = newVal ? Bstr(View(newVal)) : Bstr();
    if (newVal && !copy.Get()) return E_OUTOFMEMORY;
    community_ = std::move(copy);
    SetDirty();
    return S_OK;
}

HRESULT Agent::get_ManagerName(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = managerName_.Copy();
    return managerName_.Get() && !*pVal ? E_OUTOFMEMORY : S_OK;
}

HRESULT Agent::put_ManagerName(BSTR newVal) {
    Bstr copy = newVal ? Bstr(View(newVal)) : Bstr();
    if (newVal && !copy.Get()) return E_OUTOFMEMORY;
    managerName_ = std::move(copy);
    return S_OK;
}

HRESULT Agent::get_ManagerPort(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = managerPort_;
    return S_OK;
}

HRESULT Agent::put_ManagerPort(LONG newVal) {
    managerPort_ = newVal;
    return S_OK;
}

HRESULT Agent::get_TrapManagers(IVelkStrings** pVal) { return trapManagers_.CopyTo(pVal); }

HRESULT Agent::put_TrapManagers(IVelkStrings* newVal) {
    if (!newVal) return E_POINTER;
    if (!sock::AsVelkStrings(newVal)) return E_INVALIDARG;
    trapManagers_ = newVal;
    return S_OK;
}

HRESULT Agent::putref_TrapManagers(IVelkStrings* newVal) { return put_TrapManagers(newVal); }

LONG Agent::Uptime() const {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const auto centiseconds = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() / 10;
    return static_cast<LONG>(static_cast<uint32_t>(static_cast<uint64_t>(centiseconds)));
}

HRESULT Agent::get_AgentUptime(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = Uptime();
    return S_OK;
}

// ---- Open, Close, About ----

HRESULT Agent::Open(LONG LocalPort, BSTR LocalAddress) {
    ComPtr<Agent> keep(this);
    openTick_ = VelkTickCount();
    ComPtr<IUdpSocket> socket(Socket());
    socket->put_BlockingTimeout(kOpenCloseTimeoutMs);
    const HRESULT hr = socket->OpenSocket(LocalPort, LocalAddress);
    socket->put_BlockingTimeout(0);
    if (IsFailure(hr) || auto_ == VARIANT_FALSE) return hr;

    // Announce the agent with a coldStart trap; whatever the Message held is replaced.
    ComPtr<ISnmpMessage> message = message_;
    message->Reset();
    message->put_Type(snmpTrap1);
    message->put_GenericTrap(snmpColdStart);
    message->put_SpecificTrap(0);
    message->put_UpTime(0);
    Bstr enterprise(kEnterprise);
    message->put_Enterprise(enterprise.Get());
    return Send();
}

HRESULT Agent::Close() {
    ComPtr<Agent> keep(this);
    ComPtr<IUdpSocket> socket(Socket());
    socket->put_BlockingTimeout(kOpenCloseTimeoutMs);
    const HRESULT hr = socket->CloseSocket();
    socket->put_BlockingTimeout(0);
    return hr;
}

HRESULT Agent::About() {
    ComPtr<Agent> keep(this);  // the host's dialog may run other work
    VelkShowDialog(u"About Velk SNMP Agent",
                   u"Velk SNMP Agent control, version 2.0\n"
                   u"Answers SNMP v1 and v2c requests from its MIB and sends traps.");
    return S_OK;
}

// ---- Send ----

HRESULT Agent::Send() {
    ComPtr<Agent> keep(this);
    BusyScope busy(*this);
    Fire(DIID__IAgentEvents, DISPID_AgentEvents_Response);

    // The handler may have replaced or changed the Message: everything is read afterwards.
    ComPtr<ISnmpMessage> message = message_;
    TypeConstants type = snmpGet1;
    LONG upTime = 0;
    Bstr community;
    message->get_Type(&type);
    message->get_UpTime(&upTime);
    message->get_Community(community.Put());

    // A message left at the default community goes out with the agent's own.
    if (community.View() == kDefaultCommunity && community_.View() != kDefaultCommunity)
        message->put_Community(community_.Get());

    const bool stamp = type == snmpTrap1 && upTime == 0;
    if (stamp) message->put_UpTime(Uptime());
    Encoded encoded;
    const HRESULT hr = encoded.From(message.Get());
    if (stamp) message->put_UpTime(0);
    if (FAILED(hr)) return hr;

    if (type == snmpTrap1 || type == snmpTrap2) return SendToTrapManagers(encoded.Bytes());
    return SendBytes(encoded.Bytes(), managerName_.Get(), managerPort_ == 0 ? kTrapPort : managerPort_);
}

HRESULT Agent::SendBytes(std::span<const uint8_t> bytes, BSTR host, LONG port) {
    // A static array descriptor over the encoded bytes: the socket only reads them.
    SAFEARRAY array{};
    array.cDims = 1;
    array.fFeatures = FADF_STATIC | FADF_FIXEDSIZE;
    array.cbElements = 1;
    array.pvData = const_cast<uint8_t*>(bytes.data());
    array.rgsabound[0].cElements = static_cast<ULONG>(bytes.size());
    VARIANT data;
    VariantInit(&data);
    data.vt = VT_ARRAY | VT_UI1;
    data.parray = &array;
    LONG sent = 0;
    ComPtr<IUdpSocket> socket(Socket());
    return socket->SendDatagram(&data, host, port, 0, 0, &sent);
}

HRESULT Agent::SendToTrapManagers(std::span<const uint8_t> bytes) {
    ComPtr<IVelkStrings> destinations = trapManagers_;
    LONG count = 0;
    destinations->get_Count(&count);
    HRESULT result = S_OK;
    for (LONG i = 1; i <= count; ++i) {
        Bstr entry;
        if (FAILED(destinations->get_Item(i, entry.Put()))) break;
        const TrapDestination to = ParseTrapDestination(entry.View());
        Bstr host(to.host);
        result = SendBytes(bytes, host.Get(), to.port);
        if (IsFailure(result)) break;
    }
    return result;
}

// ---- Socket events ----

void Agent::OnSocketError(LONG number, BSTR description) {
    ComPtr<Agent> keep(this);
    FireError(DIID__IAgentEvents, DISPID_AgentEvents_Error, number, description);
}

void Agent::OnDatagramArrived() {
    if (busy_ > 0) {
        // Taken when the current work is finished, never nested into it.
        pending_ = true;
        return;
    }
    ComPtr<Agent> keep(this);
    BusyScope busy(*this);
    // Takes what has queued up, in arrival order. While more than one datagram waits, the
    // last is left for the socket's next announcement, which follows through the message
    // loop at once: under load the socket keeps announcing from its queue instead of
    // re-arming its descriptor watch after every datagram (a system call each). At least
    // one datagram is taken, as every announcement requires. Each receive also re-arms the
    // announcements deferred before it; one deferred after the last receive is re-announced
    // when the busy section ends.
    ComPtr<IUdpSocket> socket(Socket());
    LONG queued = 0;
    socket->get_QueuedDatagramCount(&queued);
    const LONG batch = queued > 1 ? std::min<LONG>(queued - 1, kBatch) : 1;
    for (LONG taken = 0; taken < batch; ++taken) {
        pending_ = false;
        if (!TakeDatagram()) break;
    }
}

void Agent::Reannounce() {
    pending_ = false;
    if (reannouncing_) return;
    reannouncing_ = true;
    VelkPostTask([weak = self_] {
        Agent* agent = *weak;
        if (!agent) return;
        agent->reannouncing_ = false;
        agent->OnDatagramArrived();
    });
}

bool Agent::TakeDatagram() {
    ComPtr<IUdpSocket> socket(Socket());
    Variant data, address, port;
    data.vt = VT_ARRAY | VT_UI1;
    data.parray = nullptr;
    address.vt = VT_BSTR;
    address.bstrVal = nullptr;
    port.vt = VT_I4;
    port.lVal = 0;
    LONG count = 0;
    const HRESULT received = socket->ReceiveDatagram(&data, &address, &port, &count);
    if (IsFailure(received) || count <= 0 || data.vt != (VT_ARRAY | VT_UI1) || !data.parray)
        return false;

    ComPtr<ISnmpMessage> message = message_;
    const std::span<const uint8_t> bytes(static_cast<const uint8_t*>(data.parray->pvData),
                                         static_cast<size_t>(count));
    const HRESULT decoded = codec::SnmpMessage::From(message.Get())->DecodeBytes(bytes);
    data.Clear();
    if (FAILED(decoded)) {
        const LONG number = transport::ErrorNumber(decoded);
        Bstr description = Bstr::Adopt(automation::LoadErrorText(number));
        FireError(DIID__IAgentEvents, DISPID_AgentEvents_Error, number, description.Get());
        return true;
    }

    managerPort_ = port.vt == VT_I4 ? port.lVal : 0;
    if (address.vt == VT_BSTR) {
        // Reuse the held text when the same manager asks again.
        if (View(address.bstrVal) != managerName_.View()) managerName_ = Bstr::Adopt(std::exchange(address.bstrVal, nullptr));
    } else {
        managerName_ = Bstr();
    }
    message.Reset();

    Fire(DIID__IAgentEvents, DISPID_AgentEvents_Request);
    if (auto_ != VARIANT_FALSE) AnswerAutomatically();
    return true;
}

}  // namespace velk::agent
