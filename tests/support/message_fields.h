// The header and PDU fields of a message, read through its interface: for comparing two
// messages in tests and in the message fuzz target. No test framework here.
#pragma once

#include <string>

#include "velk/com.h"
#include "velk/snmp.h"

namespace velk::testing {

struct MessageFields {
    LONG type = 0, id = 0, exception = 0, exceptionIndex = 0, maxRepetition = 0;
    LONG genericTrap = 0, specificTrap = 0, upTime = 0;
    std::u16string community, enterprise, agentAddress;
    bool operator==(const MessageFields&) const = default;
};

inline MessageFields ReadMessageFields(ISnmpMessage* m) {
    MessageFields f;
    TypeConstants type{};
    ExceptionConstants exception{};
    TrapConstants generic{};
    m->get_Type(&type);
    m->get_Exception(&exception);
    m->get_GenericTrap(&generic);
    f.type = type;
    f.exception = exception;
    f.genericTrap = generic;
    m->get_Id(&f.id);
    m->get_ExceptionIndex(&f.exceptionIndex);
    m->get_MaxRepetition(&f.maxRepetition);
    m->get_SpecificTrap(&f.specificTrap);
    m->get_UpTime(&f.upTime);
    Bstr community, enterprise, address;
    m->get_Community(community.Put());
    m->get_Enterprise(enterprise.Put());
    m->get_AgentAddress(address.Put());
    f.community = std::u16string(community.View());
    f.enterprise = std::u16string(enterprise.View());
    f.agentAddress = std::u16string(address.View());
    return f;
}

}  // namespace velk::testing
