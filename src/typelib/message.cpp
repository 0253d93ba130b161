// Table of ISnmpMessage.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kMessageMembers[] = {
    VELK_TL_PROPERTY(ISnmpMessage, Community, 1,
                     "Used as a password between the manager and agent."),
    VELK_TL_PROPERTY(ISnmpMessage, Exception, 2,
                     "An exception occurred while processing a request."),
    VELK_TL_PROPERTY(ISnmpMessage, ExceptionIndex, 3,
                     "Index of the variable that caused the exception."),
    VELK_TL_PROPERTY(ISnmpMessage, Id, 4, "Used to correlate between request and reply messages."),
    VELK_TL_PROPERTY(
        ISnmpMessage, MaxRepetition, 5,
        "Maximum number of successor variables to return for each repeating variable."),
    VELK_TL_PROPERTY(ISnmpMessage, Ref, 11, "Provides storage for any Variant."),
    VELK_TL_PROPERTY(ISnmpMessage, Type, 6, "Type of message."),
    VELK_TL_PROPERTY(ISnmpMessage, Enterprise, 7,
                     "The agent's sysObjectID. Used when Type is snmpTrap1."),
    VELK_TL_PROPERTY(ISnmpMessage, GenericTrap, 8,
                     "Generic trap type. Used when Type is snmpTrap1."),
    VELK_TL_PROPERTY(ISnmpMessage, SpecificTrap, 9,
                     "Specific trap code. Used when Type is snmpTrap1."),
    VELK_TL_PROPERTY(ISnmpMessage, UpTime, 10,
                     "Elapsed time between the last (re)initialization of the agent and the "
                     "generation of the trap. Used when Type is snmpTrap1."),
    VELK_TL_GET(ISnmpMessage, Variables, 20, "Collection of SnmpVariable Objects."),
    VELK_METHOD(ISnmpMessage, Decode, 30, "Decode a message into the SnmpMessage Object.",
                "Message"),
    VELK_METHOD(ISnmpMessage, Encode, 31, "Encode the SnmpMessage Object into a message.",
                "Message"),
    VELK_METHOD(ISnmpMessage, Reset, 32, "Resets the object to default values.", ""),
    VELK_TL_PROPERTY(ISnmpMessage, AgentAddress, 12, nullptr),
};

constexpr InterfaceDef kMessage = DualTable("ISnmpMessage", IID_ISnmpMessage,
                                            "SnmpMessage Interface", kMessageMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const ISnmpMessage*) { return kMessage; }
