// SnmpTable: a read-only table view of rows (SnmpTableRow), built once from a variable
// collection's order index.
#pragma once

#include <vector>

#include "model/table_row.h"
#include "runtime/object.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

class SnmpTable final
    : public rt::Object<SnmpTable, rt::Dual<ISnmpTable>, rt::SupportErrorInfo<ISnmpTable>> {
public:
    // Object-map entry: a new, empty table (no rows, empty TableOID). Fails with the
    // creation failure set for CLSID_SnmpTable.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Copy of the OID the view was built for, unchanged (null for an empty table).
    STDMETHOD(get_TableOID)(BSTR* out) override;
    // Number of rows; RowCount and Count always agree.
    STDMETHOD(get_RowCount)(LONG* out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(get_ColumnCount)(LONG* out) override;
    // Snapshot enumerator over the rows (VT_DISPATCH), in row order.
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    // Row with a new reference, chosen by a 1-based position (exactly VT_I4, VT_I2 or
    // VT_UI1, 1 <= n <= Count) or by a text (exactly VT_BSTR) that compares equal, by
    // CompareOids, to a row's RowIndex (binary search; the rows stand in OID order). Any
    // other index, or a text that selects no row, fails with 12001 (source SnmpVariables)
    // and *out is null.
    STDMETHOD(Item)(VARIANT index, ISnmpTableRow** out) override;

    // Fills a new table; takes ownership of `tableOid` and of one reference per row. Called
    // once, by the builder, before the table is handed out.
    void Assign(Bstr tableOid, LONG columnCount, std::vector<ComPtr<SnmpTableRow>> rows);

private:
    Bstr tableOid_;
    LONG columnCount_ = 0;
    std::vector<ComPtr<SnmpTableRow>> rows_;
};

// A new, empty table; fails with the creation failure set for CLSID_SnmpTable, or
// E_OUTOFMEMORY.
HRESULT NewTable(ComPtr<SnmpTable>* out);

}  // namespace velk::model
