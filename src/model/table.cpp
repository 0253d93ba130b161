// SnmpTable.
#include "model/table.h"

#include "automation/error_reporting.h"
#include "model/oid_compare.h"
#include "runtime/enumerator.h"

namespace velk::model {
namespace {
constexpr LONG kInvalidParam1 = 12001;
}  // namespace

HRESULT NewTable(ComPtr<SnmpTable>* out) {
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpTable); FAILED(hr)) return hr;
    *out = rt::MakeObject<SnmpTable>();
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SnmpTable::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<SnmpTable> table;
    if (HRESULT hr = NewTable(&table); FAILED(hr)) return hr;
    return table->QueryInterface(iid, out);
}

void SnmpTable::Assign(Bstr tableOid, LONG columnCount, std::vector<ComPtr<SnmpTableRow>> rows) {
    tableOid_ = std::move(tableOid);
    columnCount_ = columnCount;
    rows_ = std::move(rows);
}

HRESULT SnmpTable::get_TableOID(BSTR* out) {
    if (!out) return E_POINTER;
    *out = tableOid_.Copy();
    return S_OK;
}

HRESULT SnmpTable::get_RowCount(LONG* out) { return get_Count(out); }

HRESULT SnmpTable::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(rows_.size());
    return S_OK;
}

HRESULT SnmpTable::get_ColumnCount(LONG* out) {
    if (!out) return E_POINTER;
    *out = columnCount_;
    return S_OK;
}

HRESULT SnmpTable::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<ISnmpTableRow*> rows;
    rows.reserve(rows_.size());
    for (const auto& r : rows_) rows.push_back(r.Get());
    return rt::CreateObjectEnumerator(rows, out);
}

HRESULT SnmpTable::Item(VARIANT index, ISnmpTableRow** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    size_t at;
    if (ViewPosition(index, rows_.size(), &at)) {
        *out = rows_[at].Get();
        (*out)->AddRef();
        return S_OK;
    }
    if (index.vt == VT_BSTR) {
        const std::u16string_view key =
            index.bstrVal ? std::u16string_view(index.bstrVal, SysStringLen(index.bstrVal))
                          : std::u16string_view();
        // Half-open bounds that shrink every step: finishes whatever the comparison says.
        size_t lo = 0, hi = rows_.size();
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            const int c = CompareOids(key, rows_[mid]->RowIndexView());
            if (c == 0) {
                *out = rows_[mid].Get();
                (*out)->AddRef();
                return S_OK;
            }
            if (c < 0)
                hi = mid;
            else
                lo = mid + 1;
        }
    }
    return automation::ReportError(CLSID_SnmpVariables, kInvalidParam1);
}

}  // namespace velk::model
