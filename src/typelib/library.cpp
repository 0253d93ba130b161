// Classes of the two type libraries and the libraries themselves.
#include <iterator>

#include "typelib/typelib.h"

namespace {

using velk::rt::ClassDef;
using velk::rt::EnumDef;
using velk::rt::InterfaceDef;
using velk::rt::LibraryDef;

template <class I>
const InterfaceDef* Table() {
    return &DescribeInterface(static_cast<const I*>(nullptr));
}

}  // namespace

const LibraryDef& VelkSnmpLibrary() {
    static const InterfaceDef* const interfaces[] = {
        Table<ISnmpVariable>(),    Table<ISnmpVariables>(), Table<ISnmpTrap>(),
        Table<ISnmpTraps>(),       Table<ISnmpMib>(),       Table<ISnmpMessage>(),
        Table<IAgent>(),           Table<IManager>(),       Table<ISnmpTableRow>(),
        Table<ISnmpTable>(),       Table<IVelkStrings>(),   &AgentEventsInterface(),
        &ManagerEventsInterface(),
    };
    static const EnumDef* const enums[] = {
        &VariableTypeConstantsEnum(), &VariableExceptionConstantsEnum(),
        &AccessConstantsEnum(),       &StatusConstantsEnum(),
        &TypeConstantsEnum(),         &ExceptionConstantsEnum(),
        &TrapConstantsEnum(),         &ErrorConstantsEnum(),
    };
    static const ClassDef classes[] = {
        {"SnmpVariable", "Velk.SnmpVariable", &CLSID_SnmpVariable,
         "An SNMP variable: a variable binding or the definition of a MIB object.",
         Table<ISnmpVariable>(), nullptr, false},
        {"SnmpVariables", "Velk.SnmpVariables", &CLSID_SnmpVariables,
         "A collection of SnmpVariable objects with lookups in OID order.", Table<ISnmpVariables>(),
         nullptr, false},
        {"SnmpTrap", "Velk.SnmpTrap", &CLSID_SnmpTrap, "The definition of a trap or notification.",
         Table<ISnmpTrap>(), nullptr, false},
        {"SnmpTraps", "Velk.SnmpTraps", &CLSID_SnmpTraps, "A collection of SnmpTrap objects.",
         Table<ISnmpTraps>(), nullptr, false},
        {"SnmpMib", "Velk.SnmpMib", &CLSID_SnmpMib,
         "A MIB store filled by compiling or loading MIB files.", Table<ISnmpMib>(), nullptr,
         false},
        {"SnmpMessage", "Velk.SnmpMessage", &CLSID_SnmpMessage,
         "An SNMP version 1 or 2c message, encoded to and decoded from BER.", Table<ISnmpMessage>(),
         nullptr, false},
        {"Agent", "Velk.Agent", &CLSID_Agent, "SNMP agent control.", Table<IAgent>(),
         &AgentEventsInterface(), true},
        {"Manager", "Velk.Manager", &CLSID_Manager, "SNMP manager control.", Table<IManager>(),
         &ManagerEventsInterface(), true},
        {"SnmpTableRow", "Velk.SnmpTableRow", &CLSID_SnmpTableRow,
         "One row of a table view: the variables of the row's cells.", Table<ISnmpTableRow>(),
         nullptr, false},
        {"SnmpTable", "Velk.SnmpTable", &CLSID_SnmpTable,
         "A read-only table view over a variable collection.", Table<ISnmpTable>(), nullptr, false},
    };
    static const ClassDef* const classPtrs[] = {
        &classes[0], &classes[1], &classes[2], &classes[3], &classes[4],
        &classes[5], &classes[6], &classes[7], &classes[8], &classes[9],
    };
    static_assert(std::size(classPtrs) == std::size(classes));
    static const LibraryDef library{
        "VelkSnmp",
        "Velk Snmp Controls and Objects (Version 2.0)",
        "AxUlvaneSNMP.chm",
        &LIBID_VelkSnmp,
        1,
        0,
        interfaces,
        std::size(interfaces),
        enums,
        std::size(enums),
        classPtrs,
        std::size(classPtrs),
    };
    return library;
}

const LibraryDef& VelkSockLibrary() {
    static const InterfaceDef* const interfaces[] = {
        Table<IUdpSocket>(),
        &UdpEventsInterface(),
        Table<IVelkHostInfo>(),
    };
    static const ClassDef classes[] = {
        {"UdpSocketComponent", "Velk.UdpSocket", &CLSID_UdpSocketComponent,
         "A UDP datagram socket.", Table<IUdpSocket>(), &UdpEventsInterface(), false},
        {"VelkHostInfo", "Velk.HostInfo", &CLSID_VelkHostInfo, "Information about the local host.",
         Table<IVelkHostInfo>(), nullptr, false},
        {"VelkStrings", "Velk.Strings", &CLSID_VelkStrings, "An ordered list of texts.",
         Table<IVelkStrings>(), nullptr, false},
    };
    static const ClassDef* const classPtrs[] = {&classes[0], &classes[1], &classes[2]};
    static_assert(std::size(classPtrs) == std::size(classes));
    static const LibraryDef library{
        "VelkSock",
        "Velk Socket Components (Version 2.0)",
        "UlvaneTcp.hlp",
        &LIBID_VelkSock,
        1,
        0,
        interfaces,
        std::size(interfaces),
        nullptr,
        0,
        classPtrs,
        std::size(classPtrs),
    };
    return library;
}

const ClassDef* FindClassDef(REFCLSID clsid) {
    for (const LibraryDef* lib : {&VelkSnmpLibrary(), &VelkSockLibrary()}) {
        for (size_t i = 0; i < lib->classCount; ++i)
            if (*lib->classes[i]->clsid == clsid) return lib->classes[i];
    }
    return nullptr;
}

namespace velk::typelib {

const rt::LibraryDef* SnmpLibrary() { return &VelkSnmpLibrary(); }
const rt::LibraryDef* SockLibrary() { return &VelkSockLibrary(); }

}  // namespace velk::typelib
