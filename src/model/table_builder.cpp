// The table views over a collection's order index. Rows and columns are derived from the
// member OID texts alone: the column prefix of a member is its OID cut to one arc below the
// table OID, a run of members under one prefix is a column, and row k takes the k-th member
// of every column (taken by position, so every column is assumed to hold the same rows).
#include "model/table_builder.h"

#include <string_view>
#include <vector>

#include "automation/error_reporting.h"
#include "model/table.h"
#include "model/table_row.h"
#include "model/variable.h"

namespace velk::model {
namespace {

constexpr LONG kInvalidParam1 = 12001;

using Text = std::u16string_view;

Text View(BSTR s) { return s ? Text(s, SysStringLen(s)) : Text(); }

// The part before the last '.', or the empty text.
Text Parent(Text x) {
    const size_t dot = x.rfind(u'.');
    return dot == Text::npos ? Text() : x.substr(0, dot);
}

// x lies under y when x equals y or begins with y followed by '.'. Every text lies under
// the empty text (the root, the parent of a text without a '.').
bool LiesUnder(Text x, Text y) {
    if (y.empty()) return true;
    if (x.size() < y.size() || x.substr(0, y.size()) != y) return false;
    return x.size() == y.size() || x[y.size()] == u'.';
}

// `start` cut to its parent while the parent is longer than the table OID.
Text ColumnPrefix(Text start, size_t tableLength) {
    Text prefix = start;
    for (Text up = Parent(prefix); up.size() > tableLength; up = Parent(prefix)) prefix = up;
    return prefix;
}

// The OID texts of the order index from the anchor on, each read once, when first needed:
// our own variables are read in place, a host's through its interface.
class OidTexts {
public:
    OidTexts(std::span<ISnmpVariable* const> index, size_t first) : index_(index), first_(first) {}

    // Requires first <= position < index.size().
    Text At(size_t position) {
        const size_t i = position - first_;
        while (texts_.size() <= i) texts_.push_back(Read(index_[first_ + texts_.size()]));
        return texts_[i];
    }
    Bstr Copy(size_t position) { return Bstr(At(position)); }

private:
    Text Read(ISnmpVariable* member) {
        if (!member) return Text();
        if (SnmpVariable* own = SnmpVariable::From(member)) return own->OidView();
        Bstr text;
        if (FAILED(member->get_Oid(text.Put()))) return Text();
        hostTexts_.push_back(std::move(text));  // the characters do not move with the Bstr
        return hostTexts_.back().View();
    }

    std::span<ISnmpVariable* const> index_;
    size_t first_;
    std::vector<Text> texts_;
    std::vector<Bstr> hostTexts_;
};

// Row and column counts of the view whose first member sits at `anchor`.
struct Shape {
    size_t rows;
    size_t columns;
};

Shape MeasureTable(std::span<ISnmpVariable* const> index, size_t anchor, Text table,
                   OidTexts& oids) {
    const size_t end = index.size();
    // The first column: the anchor's parent cut to one arc below the table OID. The anchor
    // lies under it, so there is at least one row.
    const Text first = ColumnPrefix(Parent(oids.At(anchor)), table.size());
    size_t rows = 0;
    while (anchor + rows < end && LiesUnder(oids.At(anchor + rows), first)) ++rows;

    size_t columns = 1;
    Text column = first;
    for (size_t p = anchor; p < end; ++p) {
        const Text oid = oids.At(p);
        if (!LiesUnder(oid, table)) break;
        if (!LiesUnder(oid, column)) {
            ++columns;
            column = ColumnPrefix(oid, table.size());
        }
    }
    return {rows, columns};
}

// Row k: the members at anchor + k + j*rows, j < columns, cut short at the end of the index
// (then *complete is false).
HRESULT MakeRow(std::span<ISnmpVariable* const> index, size_t anchor, size_t k, Shape shape,
                OidTexts& oids, ComPtr<SnmpTableRow>* out, bool* complete = nullptr) {
    ComPtr<SnmpTableRow> row;
    if (HRESULT hr = NewTableRow(&row); FAILED(hr)) return hr;
    std::vector<ComPtr<ISnmpVariable>> cells;
    cells.reserve(shape.columns);
    for (size_t j = 0, p = anchor + k; j < shape.columns && p < index.size(); ++j, p += shape.rows)
        cells.emplace_back(index[p]);
    if (complete) *complete = cells.size() == shape.columns;
    row->Assign(oids.Copy(anchor + k), std::move(cells));
    *out = std::move(row);
    return S_OK;
}

}  // namespace

HRESULT BuildTable(std::span<ISnmpVariable* const> orderIndex, size_t anchor, BSTR tableOid,
                   ISnmpTable** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (anchor >= orderIndex.size())
        return automation::ReportError(CLSID_SnmpVariables, kInvalidParam1);

    ComPtr<SnmpTable> table;
    if (HRESULT hr = NewTable(&table); FAILED(hr)) return hr;
    OidTexts oids(orderIndex, anchor);
    const Shape shape = MeasureTable(orderIndex, anchor, View(tableOid), oids);

    std::vector<ComPtr<SnmpTableRow>> rows;
    rows.reserve(shape.rows);
    for (size_t k = 0; k < shape.rows; ++k) {
        ComPtr<SnmpTableRow> row;
        bool complete = false;
        HRESULT hr = MakeRow(orderIndex, anchor, k, shape, oids, &row, &complete);
        if (FAILED(hr)) return hr;
        rows.push_back(std::move(row));
        if (!complete) break;  // a row cut short by the end of the index is the last one
    }
    Bstr oid = tableOid ? Bstr(View(tableOid)) : Bstr();
    table->Assign(std::move(oid), static_cast<LONG>(shape.columns), std::move(rows));
    *out = table.Detach();
    return S_OK;
}

HRESULT BuildTableRow(std::span<ISnmpVariable* const> orderIndex, size_t anchor, BSTR oid,
                      ISnmpTableRow** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (anchor >= orderIndex.size())
        return automation::ReportError(CLSID_SnmpVariables, kInvalidParam1);

    OidTexts oids(orderIndex, anchor);
    const Shape shape = MeasureTable(orderIndex, anchor, View(oid), oids);
    ComPtr<SnmpTableRow> row;
    if (HRESULT hr = MakeRow(orderIndex, anchor, 0, shape, oids, &row); FAILED(hr)) return hr;
    *out = row.Detach();
    return S_OK;
}

}  // namespace velk::model
