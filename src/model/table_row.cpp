// SnmpTableRow.
#include "model/table_row.h"

#include "automation/error_reporting.h"
#include "runtime/enumerator.h"

namespace velk::model {
namespace {
constexpr LONG kInvalidParam1 = 12001;
}  // namespace

bool ViewPosition(const VARIANT& index, size_t count, size_t* position) {
    long long n;
    switch (index.vt) {
        case VT_I4: n = index.lVal; break;
        case VT_I2: n = index.iVal; break;
        case VT_UI1: n = index.bVal; break;
        default: return false;
    }
    if (n < 1 || static_cast<unsigned long long>(n) > count) return false;
    *position = static_cast<size_t>(n - 1);
    return true;
}

HRESULT NewTableRow(ComPtr<SnmpTableRow>* out) {
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpTableRow); FAILED(hr)) return hr;
    *out = rt::MakeObject<SnmpTableRow>();
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SnmpTableRow::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<SnmpTableRow> row;
    if (HRESULT hr = NewTableRow(&row); FAILED(hr)) return hr;
    return row->QueryInterface(iid, out);
}

void SnmpTableRow::Assign(Bstr rowIndex, std::vector<ComPtr<ISnmpVariable>> cells) {
    rowIndex_ = std::move(rowIndex);
    cells_ = std::move(cells);
}

HRESULT SnmpTableRow::get_RowIndex(BSTR* out) {
    if (!out) return E_POINTER;
    *out = rowIndex_.Copy();
    return S_OK;
}

HRESULT SnmpTableRow::get_ColumnCount(LONG* out) { return get_Count(out); }

HRESULT SnmpTableRow::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(cells_.size());
    return S_OK;
}

HRESULT SnmpTableRow::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<ISnmpVariable*> cells;
    cells.reserve(cells_.size());
    for (const auto& c : cells_) cells.push_back(c.Get());
    return rt::CreateObjectEnumerator(cells, out);
}

HRESULT SnmpTableRow::Item(VARIANT index, ISnmpVariable** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    size_t at;
    if (!ViewPosition(index, cells_.size(), &at))
        return automation::ReportError(CLSID_SnmpVariables, kInvalidParam1);
    return cells_[at].CopyTo(out);
}

}  // namespace velk::model
