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

// The OID texts of the order index from the anchor on, each read once, when first needed.
// Our own variables are read in place until the first host member is met; from then on every
// text is a copy, taken before any host code runs, so that a host's call that changes one of
// our variables' Oid leaves no text dangling.
class OidTexts {
public:
    OidTexts(std::span<ISnmpVariable* const> index, size_t first) : index_(index), first_(first) {}

    // Requires first <= position < index.size(). Valid until the builder returns.
    Text At(size_t position) {
        const size_t i = position - first_;
        while (texts_.size() <= i) texts_.push_back(Read(index_[first_ + texts_.size()]));
        return texts_[i];
    }

private:
    Text Read(ISnmpVariable* member) {
        if (!member) return Text();
        SnmpVariable* own = dynamic_cast<SnmpVariable*>(member);  // runs no host code
        if (own && !copying_) return own->OidView();
        if (!copying_) {
            copying_ = true;
            for (Text& text : texts_) text = Keep(Bstr(text));
        }
        if (own) return Keep(Bstr(own->OidView()));
        Bstr text;
        if (FAILED(member->get_Oid(text.Put()))) return Text();
        return Keep(std::move(text));
    }
    // The characters of a Bstr stay where they are when the vector moves the Bstr.
    Text Keep(Bstr text) {
        copies_.push_back(std::move(text));
        return copies_.back().View();
    }

    std::span<ISnmpVariable* const> index_;
    size_t first_;
    bool copying_ = false;
    std::vector<Text> texts_;
    std::vector<Bstr> copies_;
};

// A column prefix: the first `length` characters of the OID at `position`.
struct Prefix {
    size_t position;
    size_t length;
    Text In(OidTexts& oids) const { return oids.At(position).substr(0, length); }
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
    const Prefix first{anchor, ColumnPrefix(Parent(oids.At(anchor)), table.size()).size()};
    size_t rows = 1;
    for (; anchor + rows < end; ++rows) {
        const Text oid = oids.At(anchor + rows);  // first: it may run host code
        if (!LiesUnder(oid, first.In(oids))) break;
    }

    size_t columns = 1;
    Prefix column = first;
    for (size_t p = anchor; p < end; ++p) {
        const Text oid = oids.At(p);  // first: it may run host code
        if (!LiesUnder(oid, table)) break;
        if (!LiesUnder(oid, column.In(oids))) {
            ++columns;
            column = Prefix{p, ColumnPrefix(oid, table.size()).size()};
        }
    }
    return {rows, columns};
}

// Row k of the view: the members at anchor + k + j*rows, j < columns, cut short at the end of
// the index (then *complete is false). `rowIndex` is the OID of the member at anchor + k.
HRESULT MakeRow(std::span<ISnmpVariable* const> index, size_t anchor, size_t k, Shape shape,
                Bstr rowIndex, ComPtr<SnmpTableRow>* out, bool* complete = nullptr) {
    ComPtr<SnmpTableRow> row;
    if (HRESULT hr = NewTableRow(&row); FAILED(hr)) return hr;
    std::vector<ComPtr<ISnmpVariable>> cells;
    cells.reserve(shape.columns);
    for (size_t j = 0, p = anchor + k; j < shape.columns && p < index.size(); ++j, p += shape.rows)
        cells.emplace_back(index[p]);
    if (complete) *complete = cells.size() == shape.columns;
    row->Assign(std::move(rowIndex), std::move(cells));
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

    // Every text is copied before the cells' AddRef calls, which may run host code.
    std::vector<Bstr> rowIndexes;
    rowIndexes.reserve(shape.rows);
    for (size_t k = 0; k < shape.rows; ++k) rowIndexes.emplace_back(oids.At(anchor + k));
    Bstr oid = tableOid ? Bstr(View(tableOid)) : Bstr();

    std::vector<ComPtr<SnmpTableRow>> rows;
    rows.reserve(shape.rows);
    for (size_t k = 0; k < shape.rows; ++k) {
        ComPtr<SnmpTableRow> row;
        bool complete = false;
        HRESULT hr =
            MakeRow(orderIndex, anchor, k, shape, std::move(rowIndexes[k]), &row, &complete);
        if (FAILED(hr)) return hr;
        rows.push_back(std::move(row));
        if (!complete) break;  // a row cut short by the end of the index is the last one
    }
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
    if (HRESULT hr = MakeRow(orderIndex, anchor, 0, shape, Bstr(oids.At(anchor)), &row); FAILED(hr))
        return hr;
    *out = row.Detach();
    return S_OK;
}

}  // namespace velk::model
