// Tables of ISnmpTrap and ISnmpTraps.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kTrapMembers[] = {
    VELK_TL_PROPERTY(ISnmpTrap, Name, 1, "Human readable identifier that represents the trap."),
    VELK_TL_PROPERTY(ISnmpTrap, SpecificTrap, 2, "Specific trap value that identifies the trap."),
    VELK_TL_PROPERTY(ISnmpTrap, Enterprise, 3, "OID of the Enterprise the trap belongs to."),
    VELK_TL_PROPERTY(ISnmpTrap, Description, 4,
                     "Human readable description of what the trap means."),
    VELK_TL_GET(ISnmpTrap, Oids, 5, "VelkStrings collection of Object IDs that the trap contains."),
    VELK_TL_PROPERTY(ISnmpTrap, Status, 7,
                     "Current status of the trap. Only used when part of a SnmpMib Object."),
    VELK_TL_PROPERTY(ISnmpTrap, Reference, 6, "Reference to another document."),
};

constexpr InterfaceDef kTrap =
    DualTable("ISnmpTrap", IID_ISnmpTrap, "SnmpTrap Interface", kTrapMembers, &SnmpLibrary);

constexpr MemberDef kTrapsMembers[] = {
    VELK_TL_GET(ISnmpTraps, Count, 1, "The number of SnmpTrap Objects in the collection."),
    VELK_TL_NEWENUM(ISnmpTraps, nullptr),
    VELK_METHOD(ISnmpTraps, Add, 2, "Adds an SnmpTrap object to the collection.", "pSnmpTrap"),
    VELK_METHOD_R(ISnmpTraps, Item, DISPID_VALUE,
                  "Returns an SnmpTrap object from the collection given a specific index or Trap "
                  "name.",
                  "Index,pVal"),
    VELK_METHOD(ISnmpTraps, Remove, 91, "Removes a Trap from the Collection", "Index"),
    VELK_METHOD(ISnmpTraps, Clear, 92, "Removes all Traps from the Collection", ""),
};

constexpr InterfaceDef kTraps =
    DualTable("ISnmpTraps", IID_ISnmpTraps, "SnmpTraps Interface", kTrapsMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const ISnmpTrap*) { return kTrap; }
const InterfaceDef& DescribeInterface(const ISnmpTraps*) { return kTraps; }
