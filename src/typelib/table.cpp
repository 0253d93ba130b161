// Tables of the table views ISnmpTableRow and ISnmpTable.
#include "typelib/typelib.h"

namespace {

using velk::rt::InterfaceDef;
using velk::rt::MemberDef;
using namespace velk::typelib;

constexpr MemberDef kRowMembers[] = {
    VELK_TL_GET(ISnmpTableRow, RowIndex, 2, "The Row OID"),
    VELK_TL_GET(ISnmpTableRow, ColumnCount, 3, "The number of Columns in this tablerow."),
    VELK_TL_GET(ISnmpTableRow, Count, 1, "The number of Columns in this tablerow."),
    VELK_TL_NEWENUM(ISnmpTableRow, nullptr),
    VELK_METHOD_R(ISnmpTableRow, Item, DISPID_VALUE,
                  "Returns an SnmpVariable object from the collection given a specific numerical "
                  "index or OID.",
                  "Index,pVal"),
};

constexpr InterfaceDef kRow = DualTable("ISnmpTableRow", IID_ISnmpTableRow,
                                        "SnmpTableRow Interface", kRowMembers, &SnmpLibrary);

constexpr MemberDef kTableMembers[] = {
    VELK_TL_GET(ISnmpTable, TableOID, 4, "The OID corresponding to this table."),
    VELK_TL_GET(ISnmpTable, RowCount, 2, "The number of rows in this table."),
    VELK_TL_GET(ISnmpTable, Count, 1, "The number of rows in this table."),
    VELK_TL_GET(ISnmpTable, ColumnCount, 3, "The number of Columns in this table."),
    VELK_TL_NEWENUM(ISnmpTable, nullptr),
    VELK_METHOD_R(ISnmpTable, Item, DISPID_VALUE,
                  "Returns an SnmpTableRow object from the collection given a specific numerical "
                  "index or OID.",
                  "Index,pVal"),
};

constexpr InterfaceDef kTable =
    DualTable("ISnmpTable", IID_ISnmpTable, "SnmpTable Interface", kTableMembers, &SnmpLibrary);

}  // namespace

const InterfaceDef& DescribeInterface(const ISnmpTableRow*) { return kRow; }
const InterfaceDef& DescribeInterface(const ISnmpTable*) { return kTable; }
