// Tables of ISnmpVariable and ISnmpVariables.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kVariableMembers[] = {
    VELK_TL_PROPERTY(
        ISnmpVariable, Access, 1,
        "Access privileges for the variable. Only used when part of an SnmpMib Object."),
    VELK_TL_PROPERTY(ISnmpVariable, Exception, 2,
                     "VariableExceptionConstants Set to flag an exception. Version 2 only."),
    VELK_TL_PROPERTY(ISnmpVariable, Description, 3,
                     "Human readable description that explains the meaning of the variable. Only "
                     "used when part of a SnmpMib Object."),
    VELK_TL_PROPERTY(ISnmpVariable, Oid, 4,
                     "Object identifier (OID) that represents the variable."),
    VELK_TL_PROPERTY(ISnmpVariable, Name, 5,
                     "Human readable identifier that represents the variable. Only used when part "
                     "of a SnmpMib Object."),
    VELK_TL_PROPERTY(ISnmpVariable, Repeat, 6,
                     "Specifies multiple successors for the variable if the SnmpMessage Object's "
                     "Type Property is snmpGetBulk. Version 2 only."),
    VELK_TL_PROPERTY(ISnmpVariable, Status, 7,
                     "Current status of the variable. Only used when part of a SnmpMib Object."),
    VELK_TL_PROPERTY(ISnmpVariable, Type, 8, "VariableTypeConstants. Data type of the variable."),
    VELK_TL_PROPERTY(ISnmpVariable, Value, 9,
                     "Value of the variable. The least significant 32bits in a 64bit value."),
    VELK_TL_PROPERTY(ISnmpVariable, Syntax, 11, nullptr),
    VELK_TL_PROPERTY(ISnmpVariable, ValueEx, 10, "property ValueEx"),
    VELK_TL_PROPERTY(ISnmpVariable, Reference, 12, "Reference to another document."),
    VELK_TL_GET(ISnmpVariable, Index, 13, "Index for this table"),
    VELK_TL_GET(ISnmpVariable, ValueName, 14,
                "Human readable name of an enumerate type Value Property"),
    VELK_TL_PROPERTY(ISnmpVariable, BaseSyntax, 15, "The syntax as defined in the mib."),
};

constexpr InterfaceDef kVariable = DualTable(
    "ISnmpVariable", IID_ISnmpVariable, "SnmpVariable Interface", kVariableMembers, &SnmpLibrary);

constexpr const char* kGetNextHelp = "Gets the next item in Lexigraphical order.";

constexpr MemberDef kVariablesMembers[] = {
    VELK_TL_GET(ISnmpVariables, Count, 1, "Number of objects in the collection."),
    VELK_TL_NEWENUM(ISnmpVariables, "property _NewEnum"),
    VELK_METHOD(ISnmpVariables, Add, 2, "Add an SnmpVariable Object to the collection.",
                "pSnmpVariable"),
    VELK_METHOD(ISnmpVariables, Clear, 3, "Removes all objects from the collection.", ""),
    VELK_METHOD_R(ISnmpVariables, Item, DISPID_VALUE,
                  "Return an SnmpVariable Object from the collection given a specific index, Oid "
                  "or Name.",
                  "Index,pVal"),
    VELK_METHOD(ISnmpVariables, Remove, 4, "Remove an object from the collection.", "Index"),
    VELK_METHOD_R(ISnmpVariables, GetNext, 5, kGetNextHelp, "Oid,pVal"),
    VELK_METHOD_R(ISnmpVariables, GetOIDFromName, 6, kGetNextHelp, "Name,Oid"),
    VELK_METHOD_R(ISnmpVariables, GetTableRow, 8, "Gets the row after this OID", "Oid,pVal"),
    VELK_METHOD_R(ISnmpVariables, GetTable, 7, "Gets the table after this OID", "Oid,pVal"),
    VELK_METHOD_R(ISnmpVariables, GetIndex, 9, "Gets the numerical index of this ", "Oid,pVal"),
    VELK_TL_PROPERTY(ISnmpVariables, Sorted, 89,
                     "Decides whether the Variables are sorted or not."),
};

constexpr InterfaceDef kVariables =
    DualTable("ISnmpVariables", IID_ISnmpVariables, "SnmpVariables Interface", kVariablesMembers,
              &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const ISnmpVariable*) { return kVariable; }
const InterfaceDef& DescribeInterface(const ISnmpVariables*) { return kVariables; }
