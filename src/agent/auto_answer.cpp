// Automatic answers to Get and Set requests from the agent's MIB, and the
// authenticationFailure trap for a request with a wrong community.
//
// The request in Message is turned into the response in place, so the response keeps the
// request's Id, Community and variable order. MIB variables are found by exact OID only
// (a scalar instance's ".0" dropped); positions and names never match. Version 1, which has
// no Counter64, sees no Counter64 object: its Get of one is answered noSuchName.
#include <string>
#include <string_view>
#include <utility>

#include "agent/agent.h"
#include "model/variable.h"
#include "model/variables.h"

namespace velk::agent {
namespace {

constexpr std::u16string_view kEnterprise = u"1.3.6.1.4.1";
constexpr LONG kPduKindMask = 0x1F;
constexpr LONG kSetKind = snmpSet1 & kPduKindMask;

bool IsAnswered(LONG type) {
    return type == snmpGet1 || type == snmpGet2 || type == snmpSet1 || type == snmpSet2;
}

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// Copies the MIB key of a variable's Oid into `key`: the Oid with a trailing ".0" (the
// scalar instance suffix) dropped when it is longer than two characters.
void MibKey(ISnmpVariable* variable, std::u16string* key) {
    std::u16string_view oid;
    Bstr holder;
    if (model::SnmpVariable* own = model::SnmpVariable::From(variable)) {
        oid = own->OidView();
    } else if (SUCCEEDED(variable->get_Oid(holder.Put()))) {
        oid = holder.View();
    }
    if (oid.size() > 2 && oid.ends_with(u".0")) oid.remove_suffix(2);
    key->assign(oid);
}

LONG AccessOf(ISnmpVariable* variable) {
    AccessConstants access = snmpVariableNotAccessible;
    variable->get_Access(&access);
    return access;
}

LONG TypeOf(ISnmpVariable* variable) {
    VariableTypeConstants type = snmpNull;
    variable->get_Type(&type);
    return type;
}

// Gauge32 and Unsigned32 share one encoding, so either may be written into the other.
bool TypesAgree(LONG request, LONG mib) {
    if (request == mib) return true;
    return (request == snmpGuage32 && mib == snmpUInteger32) ||
           (request == snmpUInteger32 && mib == snmpGuage32);
}

// Gives `to` the Type and the Value text of `from`.
void CopyTypeAndValue(ISnmpVariable* from, ISnmpVariable* to) {
    to->put_Type(static_cast<VariableTypeConstants>(TypeOf(from)));
    Bstr value;
    from->get_Value(value.Put());
    if (model::SnmpVariable* own = model::SnmpVariable::From(to))
        own->SetValueText(value.Detach());
    else
        to->put_Value(value.Get());
}

// The request's variables in Item position order (the order the encoder writes them), one
// reference each. Uses the agent's scratch vector unless it is already in use further up.
class Snapshot {
public:
    Snapshot(std::vector<ISnmpVariable*>& scratch, bool* inUse)
        : list_(*inUse ? local_ : scratch), inUse_(*inUse ? nullptr : inUse) {
        if (inUse_) *inUse_ = true;
    }
    ~Snapshot() {
        for (ISnmpVariable* v : list_) v->Release();
        list_.clear();
        if (inUse_) *inUse_ = false;
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    void Take(model::SnmpVariables& variables) {
        if (variables.IsSorted()) {
            for (ISnmpVariable* v : variables.OrderIndex()) Push(v);
        } else {
            for (auto* node = variables.Members().Head(); node; node = node->next)
                Push(node->value.variable);
        }
    }
    const std::vector<ISnmpVariable*>& Members() const { return list_; }

private:
    void Push(ISnmpVariable* v) {
        v->AddRef();
        list_.push_back(v);
    }

    std::vector<ISnmpVariable*> local_;
    std::vector<ISnmpVariable*>& list_;
    bool* inUse_;
};

}  // namespace

void Agent::AnswerAutomatically() {
    // Type and Community are read after the Request event: a handler that changed them
    // decides what happens here.
    ComPtr<ISnmpMessage> message = message_;
    TypeConstants type = snmpGet1;
    message->get_Type(&type);
    if (!IsAnswered(type)) return;
    const bool v1 = (type & snmp1) != 0;
    const bool set = (type & kPduKindMask) == kSetKind;

    Bstr community;
    message->get_Community(community.Put());
    if (community.View() != community_.View()) {
        SendAuthenticationFailure(community.Get());
        return;
    }

    ComPtr<ISnmpMib> mib = mib_;
    ComPtr<ISnmpVariables> mibVariables;
    mib->get_Variables(mibVariables.Put());
    model::SnmpVariables* store = model::SnmpVariables::From(mibVariables.Get());
    ComPtr<ISnmpVariables> requestVariables;
    message->get_Variables(requestVariables.Put());
    model::SnmpVariables* request = model::SnmpVariables::From(requestVariables.Get());

    ExceptionConstants status = snmpOk;
    LONG errorIndex = 0;
    {
        Snapshot snapshot(members_, &answering_);
        if (request) snapshot.Take(*request);
        std::u16string key;
        const auto& members = snapshot.Members();
        for (size_t k = 0; k < members.size() && status == snmpOk; ++k) {
            ISnmpVariable* variable = members[k];
            const LONG position = static_cast<LONG>(k + 1);
            MibKey(variable, &key);
            ComPtr<ISnmpVariable> found(store ? store->FindByOid(key) : nullptr);
            if (!found) {
                if (!v1 && !set) {
                    variable->put_Exception(snmpNoSuchObject);
                    continue;
                }
                // A version 2 Set of an unknown object is refused as not writable.
                status = v1 ? snmpNoSuchName : snmpNotWritable;
                errorIndex = position;
                break;
            }
            const LONG access = AccessOf(found.Get());
            if (!set) {
                if (v1 && TypeOf(found.Get()) == snmpCounter64) {
                    // Version 1 cannot carry a Counter64: to its managers the object does
                    // not exist.
                    status = snmpNoSuchName;
                    errorIndex = position;
                } else if (access == snmpVariableNotAccessible || access == snmpVariableWriteOnly) {
                    status = v1 ? snmpGeneralError : snmpNoAccess;
                    errorIndex = position;
                } else {
                    CopyTypeAndValue(found.Get(), variable);
                }
            } else if (access == snmpVariableWriteOnly || access == snmpVariableReadWrite) {
                if (TypesAgree(TypeOf(variable), TypeOf(found.Get()))) {
                    // Not atomic: values written for earlier variables stay on a later failure.
                    Bstr value;
                    variable->get_Value(value.Put());
                    found->put_Value(value.Get());
                } else {
                    status = v1 ? snmpBadValue : snmpWrongType;
                    errorIndex = position;
                }
            } else {
                status = snmpReadOnly;
                errorIndex = position;
            }
        }
        if (status != snmpOk) {
            message->put_Exception(status);
            message->put_ExceptionIndex(errorIndex);
            // An error response carries the request's names with NULL values.
            for (ISnmpVariable* variable : members) {
                variable->put_Type(snmpNull);
                variable->put_Value(nullptr);
                variable->put_Exception(snmpNoException);
            }
        }
    }
    message->put_Type(v1 ? snmpResponse1 : snmpResponse2);
    Send();
}

void Agent::SendAuthenticationFailure(BSTR received) {
    // The trap carries the rejected community: Send's community rule puts the agent's
    // Community into the reset message, so the agent holds the received one meanwhile.
    Bstr own = std::move(community_);
    community_ = received ? Bstr(View(received)) : Bstr();
    ComPtr<ISnmpMessage> message = message_;
    message->Reset();
    message->put_Type(snmpTrap1);
    message->put_GenericTrap(snmpAuthenticationFailure);
    message->put_SpecificTrap(0);
    message->put_UpTime(static_cast<LONG>(static_cast<DWORD>(VelkTickCount() - openTick_) / 10));
    Bstr enterprise(kEnterprise);
    message->put_Enterprise(enterprise.Get());
    Send();
    community_ = std::move(own);
}

}  // namespace velk::agent
