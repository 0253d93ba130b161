// Member tables of every interface of the VelkSnmp and VelkSock type libraries, their
// enumerations and classes. Dual<I> finds an interface's table through DescribeInterface.
#pragma once

#include "runtime/dispatch.h"
#include "velk/snmp.h"
#include "velk/sock.h"

// Dual interfaces.
const velk::rt::InterfaceDef& DescribeInterface(const IVelkStrings*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpVariable*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpVariables*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpTrap*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpTraps*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpMib*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpMessage*);
const velk::rt::InterfaceDef& DescribeInterface(const IAgent*);
const velk::rt::InterfaceDef& DescribeInterface(const IManager*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpTableRow*);
const velk::rt::InterfaceDef& DescribeInterface(const ISnmpTable*);
const velk::rt::InterfaceDef& DescribeInterface(const IUdpSocket*);
const velk::rt::InterfaceDef& DescribeInterface(const IVelkHostInfo*);

// Event dispinterfaces (described, never invoked through a table).
const velk::rt::InterfaceDef& AgentEventsInterface();    // _IAgentEvents
const velk::rt::InterfaceDef& ManagerEventsInterface();  // _IManagerEvents
const velk::rt::InterfaceDef& UdpEventsInterface();      // _IUdpEvents

// Enumerations.
const velk::rt::EnumDef& VariableTypeConstantsEnum();
const velk::rt::EnumDef& VariableExceptionConstantsEnum();
const velk::rt::EnumDef& AccessConstantsEnum();
const velk::rt::EnumDef& StatusConstantsEnum();
const velk::rt::EnumDef& TypeConstantsEnum();
const velk::rt::EnumDef& ExceptionConstantsEnum();
const velk::rt::EnumDef& TrapConstantsEnum();
const velk::rt::EnumDef& ErrorConstantsEnum();

// The two type libraries: VelkSnmp (the ten classes) and VelkSock (the companion classes).
const velk::rt::LibraryDef& VelkSnmpLibrary();
const velk::rt::LibraryDef& VelkSockLibrary();

// The class of either library with that CLSID, or null.
const velk::rt::ClassDef* FindClassDef(REFCLSID clsid);

namespace velk::typelib {

// Containing-library callbacks for InterfaceDef::library.
const rt::LibraryDef* SnmpLibrary();
const rt::LibraryDef* SockLibrary();

// The table of a dual interface, or of an event dispinterface.
template <size_t N>
constexpr rt::InterfaceDef DualTable(const char* name, const IID& iid, const char* help,
                                     const rt::MemberDef (&members)[N],
                                     const rt::LibraryDef* (*library)()) {
    return {name, &iid, help, members, N, false, library};
}
template <size_t N>
constexpr rt::InterfaceDef EventTable(const char* name, const IID& iid, const char* help,
                                      const rt::MemberDef (&members)[N],
                                      const rt::LibraryDef* (*library)()) {
    return {name, &iid, help, members, N, true, library};
}

// A table entry marked hidden and restricted (the _NewEnum members).
constexpr rt::MemberDef Hidden(rt::MemberDef m) {
    m.flags = rt::kMemberHidden;
    return m;
}

}  // namespace velk::typelib

// A read-write property: get ("pVal") and put ("newVal") entries with one DISPID and help.
#define VELK_TL_PROPERTY(I, Name, Id, Help) \
    VELK_PROPGET(I, Name, Id, Help, "pVal"), VELK_PROPPUT(I, Name, Id, Help, "newVal")
// An object property the host may replace: get, put and putref.
#define VELK_TL_OBJECT_PROPERTY(I, Name, Id, Help)                                      \
    VELK_PROPGET(I, Name, Id, Help, "pVal"), VELK_PROPPUT(I, Name, Id, Help, "newVal"), \
        VELK_PROPPUTREF(I, Name, Id, Help, "newVal")
// A read-only property.
#define VELK_TL_GET(I, Name, Id, Help) VELK_PROPGET(I, Name, Id, Help, "pVal")
// The hidden enumerator member of a collection.
#define VELK_TL_NEWENUM(I, Help) \
    velk::typelib::Hidden(VELK_PROPGET(I, _NewEnum, DISPID_NEWENUM, Help, "ppEnum"))
