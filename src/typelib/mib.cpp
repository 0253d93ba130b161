// Table of ISnmpMib.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kMibMembers[] = {
    VELK_TL_GET(ISnmpMib, Modules, 1,
                "Collection of module names that have been loaded into the object."),
    VELK_TL_GET(ISnmpMib, Variables, 2, "Collection of SnmpVariable objects."),
    VELK_TL_GET(ISnmpMib, Traps, 3, "Collection of SnmpTrap Objects."),
    VELK_METHOD(ISnmpMib, Load, 10,
                "Loads a standard MIB module and adds its objects to the appropriate collections.",
                "Filename"),
    VELK_PROPGET(ISnmpMib, Name, 4, "Given an OID this property will return a human readable name.",
                 "Oid,pVal"),
    VELK_PROPGET(ISnmpMib, Oid, 5, "Given a human readable name this property will return an OID.",
                 "Name,pVal"),
    VELK_METHOD(ISnmpMib, Compile, 12,
                "Loads standard MIB modules and adds their objects to the appropriate collections.",
                "Filenames"),
    VELK_METHOD(ISnmpMib, RemoveTable, 91, "Removes all OIDs dependent on the specified OID",
                "Oid"),
    VELK_METHOD(ISnmpMib, Clear, 92, "Removes all variables and traps that have been loaded", ""),
};

constexpr InterfaceDef kMib =
    DualTable("ISnmpMib", IID_ISnmpMib, "SnmpMib Interface", kMibMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const ISnmpMib*) { return kMib; }
