// SnmpTableRow: one row of a read-only table view (the cells are the collection's very
// variable objects, in column order).
#pragma once

#include <string_view>
#include <vector>

#include "runtime/object.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

class SnmpTableRow final : public rt::Object<SnmpTableRow, rt::Dual<ISnmpTableRow>,
                                             rt::SupportErrorInfo<ISnmpTableRow>> {
public:
    // Object-map entry: a new, empty row (no cells, empty RowIndex). Fails with the
    // creation failure set for CLSID_SnmpTableRow.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Copy of the full OID text of the row's first cell (null for an empty row).
    STDMETHOD(get_RowIndex)(BSTR* out) override;
    // Number of cells; ColumnCount and Count always agree.
    STDMETHOD(get_ColumnCount)(LONG* out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    // Snapshot enumerator over the cells (VT_DISPATCH), in column order.
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    // Cell n (1-based) with a new reference. The index must be exactly VT_I4, VT_I2 or VT_UI1
    // with 1 <= n <= Count; anything else fails with 12001 (source SnmpVariables) and *out
    // is null.
    STDMETHOD(Item)(VARIANT index, ISnmpVariable** out) override;

    // Fills a new row; takes ownership of `rowIndex` and of one reference per cell. Called
    // once, by the builder, before the row is handed out.
    void Assign(Bstr rowIndex, std::vector<ComPtr<ISnmpVariable>> cells);

    std::u16string_view RowIndexView() const { return rowIndex_.View(); }

private:
    Bstr rowIndex_;
    std::vector<ComPtr<ISnmpVariable>> cells_;
};

// The 0-based position that a view's Item index selects among `count` entries: the index
// must be exactly VT_I4, VT_I2 or VT_UI1 (no reference) with a value in 1..count. False
// for any other index.
bool ViewPosition(const VARIANT& index, size_t count, size_t* position);

// A new, empty row; fails with the creation failure set for CLSID_SnmpTableRow, or
// E_OUTOFMEMORY.
HRESULT NewTableRow(ComPtr<SnmpTableRow>* out);

}  // namespace velk::model
