// Taking datagrams: the one receive path of the event-driven arrival and of the blocking
// Send, and the completion of received variables from the MIB.
#include <string>
#include <utility>

#include "automation/error_reporting.h"
#include "manager/manager.h"
#include "mib/mib.h"
#include "model/variable.h"
#include "model/variables.h"

namespace velk::manager {

namespace {

// The OID under which the MIB holds the object of a received variable: an instance ".0"
// of a scalar is dropped, any other OID is used unchanged.
std::u16string_view MibKey(std::u16string_view oid) {
    if (oid.size() > 2 && oid.ends_with(u".0")) oid.remove_suffix(2);
    return oid;
}

// Copies one text property from `from` to `to` through their interfaces.
template <class Get, class Put>
void CopyText(ISnmpVariable* from, ISnmpVariable* to, Get get, Put put) {
    BSTR text = nullptr;
    if (SUCCEEDED((from->*get)(&text))) (to->*put)(text);
    SysFreeString(text);
}

}  // namespace

void Manager::OnDatagramArrived() {
    if (receiving_) {
        // The datagram being processed (or the blocking Send's next pass) comes first; this
        // announcement is repeated when the processing ends.
        missed_ = true;
        return;
    }
    ComPtr<Manager> keep(this);
    IUdpSocket* socket = Socket();
    socket->put_BlockingTimeout(0);
    bool taken = false;
    TakeDatagram(&taken);
    // A handler may have changed Timeout; the socket follows the current value.
    socket->put_BlockingTimeout(timeout_);
}

void Manager::RepeatMissedAnnouncement() {
    if (!missed_ || repeating_) return;
    missed_ = false;
    repeating_ = true;
    VelkPostTask([weak = self_] {
        if (Manager* m = *weak) {
            m->repeating_ = false;
            m->OnDatagramArrived();
        }
    });
}

HRESULT Manager::TakeDatagram(bool* taken) {
    *taken = false;
    ComPtr<Manager> keep(this);
    const bool outer = receiving_;
    receiving_ = true;

    Variant data, address, port;
    LONG count = 0;
    HRESULT hr = Socket()->ReceiveDatagram(&data, &address, &port, &count);
    missed_ = false;  // every receive makes the socket announce what is left
    if (transport::ErrorNumber(hr) == 0 && count > 0) {
        *taken = true;
        ComPtr<ISnmpMessage> message = message_;
        const HRESULT decoded = message->Decode(data);
        data.Clear();
        agentPort_ = port.vt == VT_I4 ? port.lVal : 0;
        if (address.vt == VT_BSTR) {
            agentName_ = Bstr::Adopt(std::exchange(address.bstrVal, nullptr));
            address.vt = VT_EMPTY;
        } else {
            agentName_ = Bstr();
        }
        if (FAILED(decoded)) {
            const LONG number = transport::ErrorNumber(decoded);
            Bstr text = Bstr::Adopt(automation::LoadErrorText(number));
            FireError(number, text.Get());
            hr = decoded;
        } else {
            CompleteFromMib(message.Get());
            TypeConstants type = snmpGet1;
            message->get_Type(&type);
            const bool trap = type == snmpTrap1 || type == snmpTrap2;
            Fire(DIID__IManagerEvents,
                 trap ? DISPID_ManagerEvents_Trap : DISPID_ManagerEvents_Response);
            hr = S_OK;
        }
    } else if (transport::ErrorNumber(hr) == 0) {
        hr = S_OK;
    }

    receiving_ = outer;
    if (!outer) RepeatMissedAnnouncement();
    return hr;
}

void Manager::CompleteFromMib(ISnmpMessage* message) {
    ComPtr<ISnmpMib> mibHeld = mib_;
    mib::SnmpMib* mib = mib::SnmpMib::From(mibHeld.Get());
    if (!mib) return;
    model::SnmpVariables& dictionary = mib->Store().Variables();
    if (dictionary.Size() == 0) return;
    ComPtr<ISnmpVariables> variables;
    if (FAILED(message->get_Variables(variables.Put())) || !variables) return;
    model::SnmpVariables* received = model::SnmpVariables::From(variables.Get());
    if (!received) return;

    // Host objects may run code while they are read or written, so the variables are
    // taken (with a reference each) before the first of them is touched.
    std::vector<ComPtr<ISnmpVariable>> work;
    work.swap(completing_);
    work.clear();
    for (auto* n = received->Members().Head(); n; n = n->next) work.emplace_back(n->value.variable);

    ComPtr<model::SnmpVariables> dictionaryHeld(&dictionary);
    std::u16string key;  // a copy: host members of the MIB may run code during the search
    for (const ComPtr<ISnmpVariable>& variable : work) {
        if (model::SnmpVariable* own = model::SnmpVariable::From(variable.Get())) {
            key.assign(MibKey(own->OidView()));
        } else {
            Bstr oid;
            variable->get_Oid(oid.Put());
            key.assign(MibKey(oid.View()));
        }
        // Exact OID only: positions and names never match here.
        ComPtr<ISnmpVariable> source(dictionary.FindByOid(key));
        if (!source) continue;
        ISnmpVariable* from = source.Get();
        ISnmpVariable* to = variable.Get();
        CopyText(from, to, &ISnmpVariable::get_Description, &ISnmpVariable::put_Description);
        CopyText(from, to, &ISnmpVariable::get_Name, &ISnmpVariable::put_Name);
        CopyText(from, to, &ISnmpVariable::get_Syntax, &ISnmpVariable::put_Syntax);
        CopyText(from, to, &ISnmpVariable::get_BaseSyntax, &ISnmpVariable::put_BaseSyntax);
        StatusConstants status = snmpMandatory;
        if (SUCCEEDED(from->get_Status(&status))) to->put_Status(status);
    }
    work.clear();
    if (work.capacity() > completing_.capacity()) work.swap(completing_);
}

}  // namespace velk::manager
