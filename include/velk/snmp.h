// The VelkSnmp type library as C++: enumerations, the dual interfaces of the ten classes and
// of the string collection, and the fixed GUIDs of the library, its classes and interfaces.
// Vtable order is the type library's member order; each property's get precedes its put.
// Results are the last ([out, retval]) parameter.
#pragma once

#include "velk/com.h"

// The type-library name of each enumeration (used by the dispatch tables and type info).
#define VELK_SNMP_ENUM_NAME(E) \
    template <>                \
    inline constexpr const char* velk::kEnumName<E> = #E;

// ---------------------------------------------------------------------------------------
// Library, class and interface identifiers. Fixed for all time: never change a value.

// {3CE609BD-FD73-4012-92E8-3C8272100614}
inline constexpr GUID LIBID_VelkSnmp = {0x3ce609bd, 0xfd73, 0x4012, {0x92, 0xe8, 0x3c, 0x82, 0x72, 0x10, 0x06, 0x14}};

// {92A645EF-98AD-4737-8DBE-48AE308327DD}
inline constexpr IID IID_IVelkStrings = {0x92a645ef, 0x98ad, 0x4737, {0x8d, 0xbe, 0x48, 0xae, 0x30, 0x83, 0x27, 0xdd}};
// {EC8EA54D-7A51-4ECE-9482-0EBCC7DAA5AC}
inline constexpr IID IID_ISnmpVariable = {0xec8ea54d, 0x7a51, 0x4ece, {0x94, 0x82, 0x0e, 0xbc, 0xc7, 0xda, 0xa5, 0xac}};
// {CDA3D239-EF71-4963-BC69-8BD2227BE297}
inline constexpr IID IID_ISnmpVariables = {0xcda3d239, 0xef71, 0x4963, {0xbc, 0x69, 0x8b, 0xd2, 0x22, 0x7b, 0xe2, 0x97}};
// {18EBA0AB-4556-4129-8C90-A1C289578BB0}
inline constexpr IID IID_ISnmpTrap = {0x18eba0ab, 0x4556, 0x4129, {0x8c, 0x90, 0xa1, 0xc2, 0x89, 0x57, 0x8b, 0xb0}};
// {2D60E529-0BC1-49EC-A24B-BC5163336C2B}
inline constexpr IID IID_ISnmpTraps = {0x2d60e529, 0x0bc1, 0x49ec, {0xa2, 0x4b, 0xbc, 0x51, 0x63, 0x33, 0x6c, 0x2b}};
// {40776E7E-9D52-47CE-A155-829AB8D48ED2}
inline constexpr IID IID_ISnmpMib = {0x40776e7e, 0x9d52, 0x47ce, {0xa1, 0x55, 0x82, 0x9a, 0xb8, 0xd4, 0x8e, 0xd2}};
// {51CE311F-C099-42CF-9EBD-A92F468D5CBB}
inline constexpr IID IID_ISnmpMessage = {0x51ce311f, 0xc099, 0x42cf, {0x9e, 0xbd, 0xa9, 0x2f, 0x46, 0x8d, 0x5c, 0xbb}};
// {51FA8EA9-646E-4FA5-9E56-CA016F54CE38}
inline constexpr IID IID_IAgent = {0x51fa8ea9, 0x646e, 0x4fa5, {0x9e, 0x56, 0xca, 0x01, 0x6f, 0x54, 0xce, 0x38}};
// {EA672681-CCF0-4E9A-9DAF-2737D35D6C66}
inline constexpr IID IID_IManager = {0xea672681, 0xccf0, 0x4e9a, {0x9d, 0xaf, 0x27, 0x37, 0xd3, 0x5d, 0x6c, 0x66}};
// {EF06D9D0-5FAE-4A67-AA3F-A7002A3EAD52}
inline constexpr IID IID_ISnmpTableRow = {0xef06d9d0, 0x5fae, 0x4a67, {0xaa, 0x3f, 0xa7, 0x00, 0x2a, 0x3e, 0xad, 0x52}};
// {3EE97CD2-7980-4F27-81C1-89FEDED52167}
inline constexpr IID IID_ISnmpTable = {0x3ee97cd2, 0x7980, 0x4f27, {0x81, 0xc1, 0x89, 0xfe, 0xde, 0xd5, 0x21, 0x67}};

// Event dispinterfaces of the controls.
// {9422925E-4639-42FE-91A9-EAB59E9CE527}
inline constexpr IID DIID__IAgentEvents = {0x9422925e, 0x4639, 0x42fe, {0x91, 0xa9, 0xea, 0xb5, 0x9e, 0x9c, 0xe5, 0x27}};
// {E1B28B26-536C-4AB8-B812-0CF055DC74E1}
inline constexpr IID DIID__IManagerEvents = {0xe1b28b26, 0x536c, 0x4ab8, {0xb8, 0x12, 0x0c, 0xf0, 0x55, 0xdc, 0x74, 0xe1}};

// {AB45D9F1-6D3D-4E4B-9DB9-41CAB707C112}
inline constexpr CLSID CLSID_SnmpVariable = {0xab45d9f1, 0x6d3d, 0x4e4b, {0x9d, 0xb9, 0x41, 0xca, 0xb7, 0x07, 0xc1, 0x12}};
// {55DD7D90-3407-499A-A0EB-C5B185E20ADB}
inline constexpr CLSID CLSID_SnmpVariables = {0x55dd7d90, 0x3407, 0x499a, {0xa0, 0xeb, 0xc5, 0xb1, 0x85, 0xe2, 0x0a, 0xdb}};
// {8AB33E3A-0F76-4E08-98CA-20632454F489}
inline constexpr CLSID CLSID_SnmpTrap = {0x8ab33e3a, 0x0f76, 0x4e08, {0x98, 0xca, 0x20, 0x63, 0x24, 0x54, 0xf4, 0x89}};
// {6E3DD731-6674-430D-8C02-E580B9560D07}
inline constexpr CLSID CLSID_SnmpTraps = {0x6e3dd731, 0x6674, 0x430d, {0x8c, 0x02, 0xe5, 0x80, 0xb9, 0x56, 0x0d, 0x07}};
// {64BC1578-DC0F-4637-B542-859B5AA07FAC}
inline constexpr CLSID CLSID_SnmpMib = {0x64bc1578, 0xdc0f, 0x4637, {0xb5, 0x42, 0x85, 0x9b, 0x5a, 0xa0, 0x7f, 0xac}};
// {9CEC0504-FA39-452F-989C-2BBA315FA352}
inline constexpr CLSID CLSID_SnmpMessage = {0x9cec0504, 0xfa39, 0x452f, {0x98, 0x9c, 0x2b, 0xba, 0x31, 0x5f, 0xa3, 0x52}};
// {88CF9D8C-8924-4B20-BAF5-E510A68C36A5}
inline constexpr CLSID CLSID_Agent = {0x88cf9d8c, 0x8924, 0x4b20, {0xba, 0xf5, 0xe5, 0x10, 0xa6, 0x8c, 0x36, 0xa5}};
// {D026A680-4608-4047-BC03-CA4F417A4B2F}
inline constexpr CLSID CLSID_Manager = {0xd026a680, 0x4608, 0x4047, {0xbc, 0x03, 0xca, 0x4f, 0x41, 0x7a, 0x4b, 0x2f}};
// {5564704D-A522-440E-A4AB-BB28BB94D46E}
inline constexpr CLSID CLSID_SnmpTableRow = {0x5564704d, 0xa522, 0x440e, {0xa4, 0xab, 0xbb, 0x28, 0xbb, 0x94, 0xd4, 0x6e}};
// {A6AA1FC2-4AD1-44FC-AC71-D546C90A0ED3}
inline constexpr CLSID CLSID_SnmpTable = {0xa6aa1fc2, 0x4ad1, 0x44fc, {0xac, 0x71, 0xd5, 0x46, 0xc9, 0x0a, 0x0e, 0xd3}};

// ---------------------------------------------------------------------------------------
// Enumerations

// SNMP Variable Type Constants
enum VariableTypeConstants : LONG {
    snmpNull = 0,
    snmpInteger = 1,
    snmpOctetString = 2,
    snmpObjectID = 3,
    snmpIpAddress = 4,
    snmpCounter32 = 5,
    snmpGuage32 = 6,
    snmpTimeTicks = 7,
    snmpOpaque = 8,
    snmpNSAPAddress = 9,
    snmpUInteger32 = 10,
    snmpCounter64 = 11,
};
VELK_SNMP_ENUM_NAME(VariableTypeConstants)

// Exception of a variable binding (SNMPv2 exception values).
enum VariableExceptionConstants : LONG {
    snmpNoException = 0,
    snmpNoSuchObject = 1,
    snmpNoSuchInstance = 2,
    snmpEndOfMibView = 3,
};
VELK_SNMP_ENUM_NAME(VariableExceptionConstants)

enum AccessConstants : LONG {
    snmpVariableNotAccessible = 0,
    snmpVariableReadOnly = 1,
    snmpVariableWriteOnly = 2,
    snmpVariableReadWrite = 3,
    snmpVariableReadCreate = 4,
    snmpVariableAccessibleForNotify = 5,
    snmpVariableAccessNotUsed = 6,
};
VELK_SNMP_ENUM_NAME(AccessConstants)

enum StatusConstants : LONG {
    snmpMandatory = 0,
    snmpObsolete = 1,
    snmpOptional = 2,
    snmpDeprecated = 3,
    snmpCurrent = 4,
};
VELK_SNMP_ENUM_NAME(StatusConstants)

// Message type: bit 0x20 is version 1, bit 0x40 version 2c; the low five bits are the PDU kind.
enum TypeConstants : LONG {
    snmp1 = 32,
    snmp2 = 64,
    snmpGet1 = 32,
    snmpGet2 = 64,
    snmpGetNext1 = 33,
    snmpGetNext2 = 65,
    snmpResponse1 = 34,
    snmpResponse2 = 66,
    snmpSet1 = 35,
    snmpSet2 = 67,
    snmpTrap1 = 36,
    snmpTrap2 = 71,
    snmpGetBulk2 = 69,
    snmpInform2 = 70,
};
VELK_SNMP_ENUM_NAME(TypeConstants)

// SNMP error-status values.
enum ExceptionConstants : LONG {
    snmpOk = 0,
    snmpTooBig = 1,
    snmpNoSuchName = 2,
    snmpBadValue = 3,
    snmpReadOnly = 4,
    snmpGeneralError = 5,
    snmpNoAccess = 6,
    snmpWrongType = 7,
    snmpWrongLength = 8,
    snmpWrongEncoding = 9,
    snmpWrongValue = 10,
    snmpNoCreation = 11,
    snmpIncosistentValue = 12,
    snmpResourceUnavailable = 13,
    snmpCommitFailed = 14,
    snmpUndoFailed = 15,
    snmpAuthorizationError = 16,
    snmpNotWritable = 17,
    snmpInconsistentName = 18,
};
VELK_SNMP_ENUM_NAME(ExceptionConstants)

// Generic trap numbers of version 1 traps.
enum TrapConstants : LONG {
    snmpColdStart = 0,
    snmpWarmStart = 1,
    snmpLinkDown = 2,
    snmpLinkUp = 3,
    snmpAuthenticationFailure = 4,
    snmpEgpNeighborLoss = 5,
    snmpEnterpriseSpecific = 6,
};
VELK_SNMP_ENUM_NAME(TrapConstants)

// Error numbers. A failing HRESULT is 0x800A0000 plus the number; callers test the low 16 bits.
enum ErrorConstants : LONG {
    ulOk = 0,
    ulNoAccess = 10013,
    ulOptionNotSupported = 10042,
    ulAddressInUse = 10048,
    ulAddressNotAvailable = 10049,
    ulNetworkDown = 10050,
    ulNetworkUnreachable = 10051,
    ulNetworkReset = 10052,
    ulConnectionAborted = 10053,
    ulConnectionReset = 10054,
    ulNoBufferSpace = 10055,
    ulNotConnected = 10057,
    ulTimeout = 10060,
    ulConnectionRefused = 10061,
    ulHostUnreachable = 10065,
    ulNotInitialized = 10093,
    ulHostNotFound = 11001,
    ulTryAgain = 11002,
    ulNoRecovery = 11003,
    ulNoData = 11004,
    ulError = 11100,
    ulProtocol = 11101,
    ulFile = 11102,
    ulAbort = 11103,
    ulInvalidParam1 = 12001,
    ulInvalidParam2 = 12002,
    ulInvalidParam3 = 12003,
    ulInvalidParam4 = 12004,
    ulHttpInvalidUrl = 12005,
    ulInvalidProperty = 12009,
    ulBlocked = 12011,
    ulAuthentication = 12012,
    ulCompile = 12013,
    ulConnected = 12014,
    ulFormatError = 12015,
    ulServerError = 12016,
    ulNotFound = 12017,
    ulNotImplemented = 12018,
    ulOperationRefused = 12019,
    ulNoCertificate = 12020,
    ulInvalidMailAddress = 12021,
    ulNoSecurity = 12022,
    ulSocks4NoAcceptableMethods = 12024,
    ulSocks5ServerFailure = 12031,
    ulSocks5NoRuleSet = 12032,
    ulSocks5NetworkUnreachable = 12033,
    ulSocks5HostUnreachable = 12034,
    ulSocks5ConnectionRefused = 12035,
    ulSocks5TTLExpired = 12036,
    ulSocks5CommandNotSupported = 12037,
    ulSocks5AddressTypeNotSupported = 12038,
    ulSocks5AuthFailed = 12039,
    ulSocks4RequestRejected = 12091,
    ulSocks4NoIdentd = 12092,
    ulSocks4DifferentUserID = 12093,
    ulHeader = 12101,
    zipError = 14001,
};
VELK_SNMP_ENUM_NAME(ErrorConstants)

#undef VELK_SNMP_ENUM_NAME

// ---------------------------------------------------------------------------------------
// Interfaces

struct ISnmpVariable;
struct ISnmpVariables;
struct ISnmpTrap;
struct ISnmpTraps;
struct ISnmpMib;
struct ISnmpMessage;
struct ISnmpTableRow;
struct ISnmpTable;

// An ordered list of texts (class VelkStrings of the companion library). Positions are 1-based.
struct IVelkStrings : IDispatch {
    STDMETHOD(get_Item)(LONG Index, BSTR* pVal) = 0;
    STDMETHOD(put_Item)(LONG Index, BSTR newVal) = 0;
    STDMETHOD(get_Delimiter)(BSTR* pVal) = 0;
    STDMETHOD(put_Delimiter)(BSTR newVal) = 0;
    STDMETHOD(get_Count)(LONG* pVal) = 0;
    STDMETHOD(get_All)(BSTR* pVal) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;
    // First entry that begins with Text, or an empty text.
    STDMETHOD(Find)(BSTR Text, BSTR* pVal) = 0;
    STDMETHOD(Clear)() = 0;
    STDMETHOD(Remove)(LONG Index, BSTR* pVal) = 0;
    // Position 0 appends; with a Delimiter set, Text is split into several entries.
    STDMETHOD(Add)(BSTR Text, LONG Position) = 0;

protected:
    ~IVelkStrings() = default;
};
VELK_INTERFACE_TRAITS(IVelkStrings, IDispatch, IID_IVelkStrings)

struct ISnmpVariable : IDispatch {
    STDMETHOD(get_Access)(AccessConstants* pVal) = 0;
    STDMETHOD(put_Access)(AccessConstants newVal) = 0;
    STDMETHOD(get_Exception)(VariableExceptionConstants* pVal) = 0;
    STDMETHOD(put_Exception)(VariableExceptionConstants newVal) = 0;
    STDMETHOD(get_Description)(BSTR* pVal) = 0;
    STDMETHOD(put_Description)(BSTR newVal) = 0;
    STDMETHOD(get_Oid)(BSTR* pVal) = 0;
    STDMETHOD(put_Oid)(BSTR newVal) = 0;
    STDMETHOD(get_Name)(BSTR* pVal) = 0;
    STDMETHOD(put_Name)(BSTR newVal) = 0;
    STDMETHOD(get_Repeat)(VARIANT_BOOL* pVal) = 0;
    STDMETHOD(put_Repeat)(VARIANT_BOOL newVal) = 0;
    STDMETHOD(get_Status)(StatusConstants* pVal) = 0;
    STDMETHOD(put_Status)(StatusConstants newVal) = 0;
    STDMETHOD(get_Type)(VariableTypeConstants* pVal) = 0;
    STDMETHOD(put_Type)(VariableTypeConstants newVal) = 0;
    STDMETHOD(get_Value)(BSTR* pVal) = 0;
    STDMETHOD(put_Value)(BSTR newVal) = 0;
    STDMETHOD(get_Syntax)(BSTR* pVal) = 0;
    STDMETHOD(put_Syntax)(BSTR newVal) = 0;
    STDMETHOD(get_ValueEx)(VARIANT* pVal) = 0;
    STDMETHOD(put_ValueEx)(VARIANT newVal) = 0;
    STDMETHOD(get_Reference)(BSTR* pVal) = 0;
    STDMETHOD(put_Reference)(BSTR newVal) = 0;
    STDMETHOD(get_Index)(IVelkStrings** pVal) = 0;
    STDMETHOD(get_ValueName)(BSTR* pVal) = 0;
    STDMETHOD(get_BaseSyntax)(BSTR* pVal) = 0;
    STDMETHOD(put_BaseSyntax)(BSTR newVal) = 0;

protected:
    ~ISnmpVariable() = default;
};
VELK_INTERFACE_TRAITS(ISnmpVariable, IDispatch, IID_ISnmpVariable)

struct ISnmpVariables : IDispatch {
    STDMETHOD(get_Count)(LONG* pVal) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;
    STDMETHOD(Add)(ISnmpVariable* pSnmpVariable) = 0;
    STDMETHOD(Clear)() = 0;
    STDMETHOD(Item)(VARIANT Index, ISnmpVariable** pVal) = 0;
    STDMETHOD(Remove)(VARIANT Index) = 0;
    STDMETHOD(GetNext)(BSTR Oid, ISnmpVariable** pVal) = 0;
    STDMETHOD(GetOIDFromName)(BSTR Name, BSTR* Oid) = 0;
    STDMETHOD(GetTableRow)(BSTR Oid, ISnmpTableRow** pVal) = 0;
    STDMETHOD(GetTable)(BSTR Oid, ISnmpTable** pVal) = 0;
    STDMETHOD(GetIndex)(BSTR Oid, LONG* pVal) = 0;
    STDMETHOD(get_Sorted)(VARIANT_BOOL* pVal) = 0;
    STDMETHOD(put_Sorted)(VARIANT_BOOL newVal) = 0;

protected:
    ~ISnmpVariables() = default;
};
VELK_INTERFACE_TRAITS(ISnmpVariables, IDispatch, IID_ISnmpVariables)

struct ISnmpTrap : IDispatch {
    STDMETHOD(get_Name)(BSTR* pVal) = 0;
    STDMETHOD(put_Name)(BSTR newVal) = 0;
    STDMETHOD(get_SpecificTrap)(LONG* pVal) = 0;
    STDMETHOD(put_SpecificTrap)(LONG newVal) = 0;
    STDMETHOD(get_Enterprise)(BSTR* pVal) = 0;
    STDMETHOD(put_Enterprise)(BSTR newVal) = 0;
    STDMETHOD(get_Description)(BSTR* pVal) = 0;
    STDMETHOD(put_Description)(BSTR newVal) = 0;
    STDMETHOD(get_Oids)(IVelkStrings** pVal) = 0;
    STDMETHOD(get_Status)(StatusConstants* pVal) = 0;
    STDMETHOD(put_Status)(StatusConstants newVal) = 0;
    STDMETHOD(get_Reference)(BSTR* pVal) = 0;
    STDMETHOD(put_Reference)(BSTR newVal) = 0;

protected:
    ~ISnmpTrap() = default;
};
VELK_INTERFACE_TRAITS(ISnmpTrap, IDispatch, IID_ISnmpTrap)

struct ISnmpTraps : IDispatch {
    STDMETHOD(get_Count)(LONG* pVal) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;
    STDMETHOD(Add)(ISnmpTrap* pSnmpTrap) = 0;
    STDMETHOD(Item)(VARIANT Index, ISnmpTrap** pVal) = 0;
    STDMETHOD(Remove)(VARIANT Index) = 0;
    STDMETHOD(Clear)() = 0;

protected:
    ~ISnmpTraps() = default;
};
VELK_INTERFACE_TRAITS(ISnmpTraps, IDispatch, IID_ISnmpTraps)

struct ISnmpMib : IDispatch {
    STDMETHOD(get_Modules)(IVelkStrings** pVal) = 0;
    STDMETHOD(get_Variables)(ISnmpVariables** pVal) = 0;
    STDMETHOD(get_Traps)(ISnmpTraps** pVal) = 0;
    STDMETHOD(Load)(BSTR Filename) = 0;
    STDMETHOD(get_Name)(BSTR Oid, BSTR* pVal) = 0;
    STDMETHOD(get_Oid)(BSTR Name, BSTR* pVal) = 0;
    STDMETHOD(Compile)(IVelkStrings* Filenames) = 0;
    STDMETHOD(RemoveTable)(BSTR Oid) = 0;
    STDMETHOD(Clear)() = 0;

protected:
    ~ISnmpMib() = default;
};
VELK_INTERFACE_TRAITS(ISnmpMib, IDispatch, IID_ISnmpMib)

struct ISnmpMessage : IDispatch {
    STDMETHOD(get_Community)(BSTR* pVal) = 0;
    STDMETHOD(put_Community)(BSTR newVal) = 0;
    STDMETHOD(get_Exception)(ExceptionConstants* pVal) = 0;
    STDMETHOD(put_Exception)(ExceptionConstants newVal) = 0;
    STDMETHOD(get_ExceptionIndex)(LONG* pVal) = 0;
    STDMETHOD(put_ExceptionIndex)(LONG newVal) = 0;
    STDMETHOD(get_Id)(LONG* pVal) = 0;
    STDMETHOD(put_Id)(LONG newVal) = 0;
    STDMETHOD(get_MaxRepetition)(LONG* pVal) = 0;
    STDMETHOD(put_MaxRepetition)(LONG newVal) = 0;
    STDMETHOD(get_Ref)(VARIANT* pVal) = 0;
    STDMETHOD(put_Ref)(VARIANT newVal) = 0;
    STDMETHOD(get_Type)(TypeConstants* pVal) = 0;
    STDMETHOD(put_Type)(TypeConstants newVal) = 0;
    STDMETHOD(get_Enterprise)(BSTR* pVal) = 0;
    STDMETHOD(put_Enterprise)(BSTR newVal) = 0;
    STDMETHOD(get_GenericTrap)(TrapConstants* pVal) = 0;
    STDMETHOD(put_GenericTrap)(TrapConstants newVal) = 0;
    STDMETHOD(get_SpecificTrap)(LONG* pVal) = 0;
    STDMETHOD(put_SpecificTrap)(LONG newVal) = 0;
    STDMETHOD(get_UpTime)(LONG* pVal) = 0;
    STDMETHOD(put_UpTime)(LONG newVal) = 0;
    STDMETHOD(get_Variables)(ISnmpVariables** pVal) = 0;
    STDMETHOD(Decode)(VARIANT Message) = 0;
    STDMETHOD(Encode)(VARIANT* Message) = 0;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(get_AgentAddress)(BSTR* pVal) = 0;
    STDMETHOD(put_AgentAddress)(BSTR newVal) = 0;

protected:
    ~ISnmpMessage() = default;
};
VELK_INTERFACE_TRAITS(ISnmpMessage, IDispatch, IID_ISnmpMessage)

// The agent control. Events: _IAgentEvents (DIID__IAgentEvents).
struct IAgent : IDispatch {
    STDMETHOD(get_Auto)(VARIANT_BOOL* pVal) = 0;
    STDMETHOD(put_Auto)(VARIANT_BOOL newVal) = 0;
    STDMETHOD(get_Community)(BSTR* pVal) = 0;
    STDMETHOD(put_Community)(BSTR newVal) = 0;
    STDMETHOD(get_Message)(ISnmpMessage** pVal) = 0;
    STDMETHOD(put_Message)(ISnmpMessage* newVal) = 0;
    STDMETHOD(putref_Message)(ISnmpMessage* newVal) = 0;
    STDMETHOD(get_Mib)(ISnmpMib** pVal) = 0;
    STDMETHOD(put_Mib)(ISnmpMib* newVal) = 0;
    STDMETHOD(putref_Mib)(ISnmpMib* newVal) = 0;
    STDMETHOD(get_ManagerName)(BSTR* pVal) = 0;
    STDMETHOD(put_ManagerName)(BSTR newVal) = 0;
    STDMETHOD(get_ManagerPort)(LONG* pVal) = 0;
    STDMETHOD(put_ManagerPort)(LONG newVal) = 0;
    STDMETHOD(get_TrapManagers)(IVelkStrings** pVal) = 0;
    STDMETHOD(put_TrapManagers)(IVelkStrings* newVal) = 0;
    STDMETHOD(putref_TrapManagers)(IVelkStrings* newVal) = 0;
    STDMETHOD(get_LocalAddress)(BSTR* pVal) = 0;
    STDMETHOD(get_LocalPort)(LONG* pVal) = 0;
    STDMETHOD(get_SendDatagramCount)(LONG* pVal) = 0;
    STDMETHOD(Close)() = 0;
    STDMETHOD(Open)(LONG LocalPort, BSTR LocalAddress) = 0;
    STDMETHOD(Send)() = 0;
    STDMETHOD(About)() = 0;
    STDMETHOD(Trace)(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive, BSTR SendPrompt,
                     BSTR ReceivePrompt) = 0;
    STDMETHOD(get_AgentUptime)(LONG* pVal) = 0;

protected:
    ~IAgent() = default;
};
VELK_INTERFACE_TRAITS(IAgent, IDispatch, IID_IAgent)

// The manager control. Events: _IManagerEvents (DIID__IManagerEvents).
struct IManager : IDispatch {
    STDMETHOD(get_AgentName)(BSTR* pVal) = 0;
    STDMETHOD(put_AgentName)(BSTR newVal) = 0;
    STDMETHOD(get_AgentPort)(LONG* pVal) = 0;
    STDMETHOD(put_AgentPort)(LONG newVal) = 0;
    STDMETHOD(get_Message)(ISnmpMessage** pVal) = 0;
    STDMETHOD(put_Message)(ISnmpMessage* newVal) = 0;
    STDMETHOD(putref_Message)(ISnmpMessage* newVal) = 0;
    STDMETHOD(get_Timeout)(LONG* pVal) = 0;
    STDMETHOD(put_Timeout)(LONG newVal) = 0;
    STDMETHOD(get_AgentVariable)(BSTR Oid, ISnmpVariable** pVal) = 0;
    STDMETHOD(put_AgentVariable)(BSTR Oid, ISnmpVariable* newVal) = 0;
    STDMETHOD(get_Blocked)(VARIANT_BOOL* pVal) = 0;
    STDMETHOD(get_LocalAddress)(BSTR* pVal) = 0;
    STDMETHOD(get_LocalPort)(LONG* pVal) = 0;
    STDMETHOD(get_SendDatagramCount)(LONG* pVal) = 0;
    STDMETHOD(Close)() = 0;
    STDMETHOD(Open)(LONG LocalPort, BSTR LocalAddress) = 0;
    STDMETHOD(Send)() = 0;
    STDMETHOD(About)() = 0;
    STDMETHOD(Abort)() = 0;
    STDMETHOD(Trace)(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive, BSTR SendPrompt,
                     BSTR ReceivePrompt) = 0;
    STDMETHOD(get_Mib)(ISnmpMib** pVal) = 0;
    STDMETHOD(put_Mib)(ISnmpMib* newVal) = 0;
    STDMETHOD(putref_Mib)(ISnmpMib* newVal) = 0;

protected:
    ~IManager() = default;
};
VELK_INTERFACE_TRAITS(IManager, IDispatch, IID_IManager)

struct ISnmpTableRow : IDispatch {
    STDMETHOD(get_RowIndex)(BSTR* pVal) = 0;
    STDMETHOD(get_ColumnCount)(LONG* pVal) = 0;
    STDMETHOD(get_Count)(LONG* pVal) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;
    STDMETHOD(Item)(VARIANT Index, ISnmpVariable** pVal) = 0;

protected:
    ~ISnmpTableRow() = default;
};
VELK_INTERFACE_TRAITS(ISnmpTableRow, IDispatch, IID_ISnmpTableRow)

struct ISnmpTable : IDispatch {
    STDMETHOD(get_TableOID)(BSTR* pVal) = 0;
    STDMETHOD(get_RowCount)(LONG* pVal) = 0;
    STDMETHOD(get_Count)(LONG* pVal) = 0;
    STDMETHOD(get_ColumnCount)(LONG* pVal) = 0;
    STDMETHOD(get__NewEnum)(IUnknown** ppEnum) = 0;
    STDMETHOD(Item)(VARIANT Index, ISnmpTableRow** pVal) = 0;

protected:
    ~ISnmpTable() = default;
};
VELK_INTERFACE_TRAITS(ISnmpTable, IDispatch, IID_ISnmpTable)

// Event dispatch identifiers of the controls (dispinterfaces: fired through IDispatch::Invoke).
constexpr DISPID DISPID_AgentEvents_Response = 1;
constexpr DISPID DISPID_AgentEvents_Request = 2;
constexpr DISPID DISPID_AgentEvents_Error = 3;
constexpr DISPID DISPID_ManagerEvents_Response = 1;
constexpr DISPID DISPID_ManagerEvents_Trap = 2;
constexpr DISPID DISPID_ManagerEvents_Error = 3;
constexpr DISPID DISPID_ManagerEvents_Send = 4;
