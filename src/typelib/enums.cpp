// The enumerations of the VelkSnmp type library, with the help string of every constant.
#include <iterator>

#include "typelib/typelib.h"

namespace {

using velk::rt::EnumConstantDef;
using velk::rt::EnumDef;

constexpr EnumConstantDef kVariableType[] = {
    {"snmpNull", snmpNull, "The data type for the variable is NULL."},
    {"snmpInteger", snmpInteger, "The data type for the variable is an signed 32 bit integer."},
    {"snmpOctetString", snmpOctetString, "The data type for the variable is a string."},
    {"snmpObjectID", snmpObjectID,
     "The data type for the variable is a string that represents an Object Identifier."},
    {"snmpIpAddress", snmpIpAddress,
     "The data type for the variable is a string that represents an IP Address."},
    {"snmpCounter32", snmpCounter32,
     "The data type of the variable is a unsigned 32 bit integer that represents a counter."},
    {"snmpGuage32", snmpGuage32,
     "The data type of the variable is a unsigned 32 bit integer that represents a guage."},
    {"snmpTimeTicks", snmpTimeTicks,
     "The data type of the variable is a unsigned 32 bit integer that represents time ticks"},
    {"snmpOpaque", snmpOpaque, "The data type for the variable is a string."},
    {"snmpNSAPAddress", snmpNSAPAddress,
     "The data type for the variable is a string that represents an NSAP Address."},
    {"snmpUInteger32", snmpUInteger32,
     "The data type of the variable is a unsigned 32 bit integer."},
    {"snmpCounter64", snmpCounter64, "The data type of the variable is a unsigned 64 bit integer."},
};

constexpr EnumConstantDef kVariableException[] = {
    {"snmpNoException", snmpNoException, "The variable caused no exception."},
    {"snmpNoSuchObject", snmpNoSuchObject,
     "The variable did not have an Object identifier prefix  that exactly matched a accessible "
     "variables prefix on the agent."},
    {"snmpNoSuchInstance", snmpNoSuchInstance,
     "The variable did not have an Object identifier that exactly matched a accessible variable "
     "on the agent."},
    {"snmpEndOfMibView", snmpEndOfMibView, "The variable has no lexicographic successor."},
};

constexpr EnumConstantDef kAccess[] = {
    {"snmpVariableNotAccessible", snmpVariableNotAccessible, nullptr},
    {"snmpVariableReadOnly", snmpVariableReadOnly, nullptr},
    {"snmpVariableWriteOnly", snmpVariableWriteOnly, nullptr},
    {"snmpVariableReadWrite", snmpVariableReadWrite, nullptr},
    {"snmpVariableReadCreate", snmpVariableReadCreate, nullptr},
    {"snmpVariableAccessibleForNotify", snmpVariableAccessibleForNotify, nullptr},
    {"snmpVariableAccessNotUsed", snmpVariableAccessNotUsed, nullptr},
};

constexpr EnumConstantDef kStatus[] = {
    {"snmpMandatory", snmpMandatory, nullptr}, {"snmpObsolete", snmpObsolete, nullptr},
    {"snmpOptional", snmpOptional, nullptr},   {"snmpDeprecated", snmpDeprecated, nullptr},
    {"snmpCurrent", snmpCurrent, nullptr},
};

constexpr EnumConstantDef kType[] = {
    {"snmp1", snmp1, "Message was or will be encoded as a version 1 message (use this as a mask)."},
    {"snmp2", snmp2, "Message was or will be encoded as a version 2 message (use this as a mask)."},
    {"snmpGet1", snmpGet1, "Message was or will be encoded as a GetRequest version 1 message."},
    {"snmpGet2", snmpGet2, "Message was or will be encoded as a GetRequest version 2 message."},
    {"snmpGetNext1", snmpGetNext1,
     "Message was or will be encoded as a GetNextRequest version 1 message."},
    {"snmpGetNext2", snmpGetNext2,
     "Message was or will be encoded as a GetNextRequest version 2 message."},
    {"snmpResponse1", snmpResponse1,
     "Message was or will be encoded as a Response version 1 message."},
    {"snmpResponse2", snmpResponse2,
     "Message was or will be encoded as a Response version 2 message."},
    {"snmpSet1", snmpSet1, "Message was or will be encoded as a SetRequest version 1 message."},
    {"snmpSet2", snmpSet2, "Message was or will be encoded as a SetRequest version 2 message."},
    {"snmpTrap1", snmpTrap1, "Message was or will be encoded as a Trap version 1 message."},
    {"snmpTrap2", snmpTrap2, "Message was or will be encoded as a Trap version 2 message."},
    {"snmpGetBulk2", snmpGetBulk2,
     "Message was or will be encoded as a GetBulkRequest version 2 message."},
    {"snmpInform2", snmpInform2,
     "Message was or will be encoded as an InformRequest version 2 message."},
};

constexpr EnumConstantDef kException[] = {
    {"snmpOk", snmpOk, "Indicates no Exception."},
    {"snmpTooBig", snmpTooBig,
     "The response generated is too big for the local limitations of the agent."},
    {"snmpNoSuchName", snmpNoSuchName, "The OID can not be found in the agents MIB."},
    {"snmpBadValue", snmpBadValue, "The value is not appropriate for the variable being set."},
    {"snmpReadOnly", snmpReadOnly, "The variable can only been read."},
    {"snmpGeneralError", snmpGeneralError, "An error occurred."},
    {"snmpNoAccess", snmpNoAccess, "No such variable or no access to the variable."},
    {"snmpWrongType", snmpWrongType,
     "The type of the value being set does not match the type of the variable on the agent."},
    {"snmpWrongLength", snmpWrongLength,
     "The length of the value exceeds the maximum length of the possible values of the "
     "variable."},
    {"snmpWrongEncoding", snmpWrongEncoding, "Error in the encoding of a variable."},
    {"snmpWrongValue", snmpWrongValue, "The value could not be assigned to the agents variable."},
    {"snmpNoCreation", snmpNoCreation, "The variable can not be created on the agent."},
    {"snmpIncosistentValue", snmpIncosistentValue,
     "The value can not be set to the variable under the current circumstances. Possibly could "
     "be set under other circumstances."},
    {"snmpResourceUnavailable", snmpResourceUnavailable,
     "Could not allocate a resource needed for the variable."},
    {"snmpCommitFailed", snmpCommitFailed,
     "An assignment failed and all other assignments are being undone."},
    {"snmpUndoFailed", snmpUndoFailed, "An undo of an assignment failed."},
    {"snmpAuthorizationError", snmpAuthorizationError,
     "The community name does not match the one on the agent."},
    {"snmpNotWritable", snmpNotWritable, "The variable can not be set."},
    {"snmpInconsistentName", snmpInconsistentName,
     "The variable does not exist and currently can not be created under the current "
     "circumstances. May be possible under other circumstances."},
};

constexpr EnumConstantDef kTrap[] = {
    {"snmpColdStart", snmpColdStart, "Agent is initializing (cold start)."},
    {"snmpWarmStart", snmpWarmStart, "Agent is reinitializing (warm start)."},
    {"snmpLinkDown", snmpLinkDown,
     "Interface has changed from the up to down state. The first variable of the variable "
     "bindings contains the interface."},
    {"snmpLinkUp", snmpLinkUp,
     "Interface has changed from the down to up state. The first variable of the variable "
     "bindings contains the interface."},
    {"snmpAuthenticationFailure", snmpAuthenticationFailure,
     "Message was received from a manager with an invalid community."},
    {"snmpEgpNeighborLoss", snmpEgpNeighborLoss,
     "EGP peer has changed to down state. The first variable of the variable bindings contains "
     "the IP address of the peer."},
    {"snmpEnterpriseSpecific", snmpEnterpriseSpecific,
     "SpecificTrap Property contains information on the trap."},
};

constexpr EnumConstantDef kError[] = {
    {"ulOk", ulOk, "Ok"},
    {"ulNoAccess", ulNoAccess, "The user does not have the proper permissions"},
    {"ulOptionNotSupported", ulOptionNotSupported, "Specified socket option not supported"},
    {"ulAddressInUse", ulAddressInUse, "Specified address in use (Connect method)"},
    {"ulAddressNotAvailable", ulAddressNotAvailable, "The remote address is not a valid address"},
    {"ulNetworkDown", ulNetworkDown, "The network subsystem has failed"},
    {"ulNetworkUnreachable", ulNetworkUnreachable, "The network is unreachable"},
    {"ulNetworkReset", ulNetworkReset,
     "Connection has been broken due to keep-alive activity detecting a failure"},
    {"ulConnectionAborted", ulConnectionAborted,
     "Connection was aborted due to timeout or other failure"},
    {"ulConnectionReset", ulConnectionReset,
     "Connection was reset by the remote side executing a hard close"},
    {"ulNoBufferSpace", ulNoBufferSpace, "No buffer space is available"},
    {"ulNotConnected", ulNotConnected, "Not connected"},
    {"ulTimeout", ulTimeout, "Timeout occurred for requested operation"},
    {"ulConnectionRefused", ulConnectionRefused, "Connection forcefully refused"},
    {"ulHostUnreachable", ulHostUnreachable, "The host is not found"},
    {"ulNotInitialized", ulNotInitialized, "Network interface could not be initialized"},
    {"ulHostNotFound", ulHostNotFound, "Authoritative: Host name could not be resolved"},
    {"ulTryAgain", ulTryAgain, "Non-authoritiative: Host name could not be resolved"},
    {"ulNoRecovery", ulNoRecovery, "A non-recoverable error"},
    {"ulNoData", ulNoData, "Valid name, no data record of requested type"},
    {"ulError", ulError, "Unexpected error"},
    {"ulProtocol", ulProtocol, "An error has occurred in the the protocol"},
    {"ulFile", ulFile, "An error has occurred while performing a File I/O operation."},
    {"ulAbort", ulAbort, "Blocking operation cancelled by user"},
    {"ulInvalidParam1", ulInvalidParam1, "Parameter #1 is invalid"},
    {"ulInvalidParam2", ulInvalidParam2, "Parameter #2 is invalid"},
    {"ulInvalidParam3", ulInvalidParam3, "Parameter #3 is invalid"},
    {"ulInvalidParam4", ulInvalidParam4, "Parameter #4 is invalid"},
    {"ulHttpInvalidUrl", ulHttpInvalidUrl, "The Url is unspecified or invalid."},
    {"ulInvalidProperty", ulInvalidProperty, "Invalid property assignment"},
    {"ulBlocked", ulBlocked, "User thread is blocking in another method"},
    {"ulAuthentication", ulAuthentication, "An invalid UserName or Password was specified"},
    {"ulCompile", ulCompile, "An error occurred while compiling"},
    {"ulConnected", ulConnected, "A connection already exists"},
    {"ulFormatError", ulFormatError, "The server was unable to interpret the query"},
    {"ulServerError", ulServerError, "There was a failure on the server"},
    {"ulNotFound", ulNotFound, "The name referred to in the query does not exist"},
    {"ulNotImplemented", ulNotImplemented, "The server does not support the request type of query"},
    {"ulOperationRefused", ulOperationRefused,
     "The server refused to perform the specified operation"},
    {"ulNoCertificate", ulNoCertificate, "There was an error in creating credentials"},
    {"ulInvalidMailAddress", ulInvalidMailAddress, "The EMail address specified was not valid"},
    {"ulNoSecurity", ulNoSecurity, "Secure communications is not available on this machine"},
    {"ulSocks4NoAcceptableMethods", ulSocks4NoAcceptableMethods,
     "The SOCKS5 server will not accept any of the requested methods"},
    {"ulSocks5ServerFailure", ulSocks5ServerFailure,
     "The SOCKS5 server reported a general failure"},
    {"ulSocks5NoRuleSet", ulSocks5NoRuleSet,
     "The SOCKS5 server reported that the connection was not allowed by the ruleset"},
    {"ulSocks5NetworkUnreachable", ulSocks5NetworkUnreachable,
     "The SOCKS5 server reported that the network was unreachable"},
    {"ulSocks5HostUnreachable", ulSocks5HostUnreachable,
     "The SOCKS5 server reported that the host was unreachable"},
    {"ulSocks5ConnectionRefused", ulSocks5ConnectionRefused,
     "The SOCKS5 server reported that the host connection was refused"},
    {"ulSocks5TTLExpired", ulSocks5TTLExpired,
     "The SOCKS5 server reported that the TTL has expired"},
    {"ulSocks5CommandNotSupported", ulSocks5CommandNotSupported,
     "The SOCKS5 server reported that the command is not supported"},
    {"ulSocks5AddressTypeNotSupported", ulSocks5AddressTypeNotSupported,
     "The SOCKS5 server reported that the address type is not supported"},
    {"ulSocks5AuthFailed", ulSocks5AuthFailed,
     "The SOCKS5 server rejected the connection because authorization failed"},
    {"ulSocks4RequestRejected", ulSocks4RequestRejected,
     "The SOCKS4 server rejected the connection (No reason given)"},
    {"ulSocks4NoIdentd", ulSocks4NoIdentd,
     "The SOCKS4 server rejected the connection because it was unable to connect to identd on "
     "the client"},
    {"ulSocks4DifferentUserID", ulSocks4DifferentUserID,
     "The SOCKS4 server rejected the connection because the client program and identd report "
     "different user-ids"},
    {"ulHeader", ulHeader, "The header is not properly terminated"},
    {"zipError", zipError, "An error occurred during a zip operation"},
};

#define VELK_TL_ENUM(Name, Help, Constants) \
    constexpr EnumDef k##Name##Def{#Name, Help, Constants, std::size(Constants)};

VELK_TL_ENUM(VariableTypeConstants, "SNMP Variable Type Constants", kVariableType)
VELK_TL_ENUM(VariableExceptionConstants, "Constants used to specify the exception of the variable.",
             kVariableException)
VELK_TL_ENUM(AccessConstants, nullptr, kAccess)
VELK_TL_ENUM(StatusConstants, nullptr, kStatus)
VELK_TL_ENUM(TypeConstants, "Values of the Type Property.", kType)
VELK_TL_ENUM(ExceptionConstants, "Values of the Exception Property.", kException)
VELK_TL_ENUM(TrapConstants, "Values of the GenericTrap Property.", kTrap)
VELK_TL_ENUM(ErrorConstants, "Communication Error Constants", kError)

#undef VELK_TL_ENUM

}  // namespace

const EnumDef& VariableTypeConstantsEnum() { return kVariableTypeConstantsDef; }
const EnumDef& VariableExceptionConstantsEnum() { return kVariableExceptionConstantsDef; }
const EnumDef& AccessConstantsEnum() { return kAccessConstantsDef; }
const EnumDef& StatusConstantsEnum() { return kStatusConstantsDef; }
const EnumDef& TypeConstantsEnum() { return kTypeConstantsDef; }
const EnumDef& ExceptionConstantsEnum() { return kExceptionConstantsDef; }
const EnumDef& TrapConstantsEnum() { return kTrapConstantsDef; }
const EnumDef& ErrorConstantsEnum() { return kErrorConstantsDef; }
