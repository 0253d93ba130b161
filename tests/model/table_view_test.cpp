// Table views over a collection's order index: shape of the view, which members become
// cells, Item rules and error records. The collection is stood in for by a sorted array of
// variables, the anchor found as the collection finds it (the first OID after the table's).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "model/oid_compare.h"
#include "model/table.h"
#include "model/table_builder.h"
#include "model/table_row.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "runtime/registry.h"
#include "model/model_support.h"
#include "support/host_objects.h"
#include "velk/com.h"

namespace velk::model {
namespace {

constexpr HRESULT kInvalidParam1 = static_cast<HRESULT>(0x800A2EE1u);
const std::u16string kEntry = u"1.3.6.1.2.1.2.2.1";

using velk::testing::HostVariable;

std::u16string Num(int n) {
    std::u16string text;
    for (char ch : std::to_string(n)) text.push_back(static_cast<char16_t>(ch));
    return text;
}

std::u16string OidOf(ISnmpVariable* v) {
    Bstr oid;
    v->get_Oid(oid.Put());
    return std::u16string(oid.View());
}

// The collection's part: members in OID order, and the anchor after an OID.
class Collection {
public:
    // Every other member is a host object, so both kinds meet in one view.
    explicit Collection(const std::vector<std::u16string>& oids) {
        for (const auto& oid : oids) {
            if (members_.size() % 2) {
                members_.push_back(ComPtr<ISnmpVariable>::Adopt(new HostVariable(oid)));
            } else {
                auto v = ComPtr<ISnmpVariable>::Adopt(NewSnmpVariable());
                v->put_Oid(Bstr(oid).Get());
                members_.push_back(v);
            }
        }
        for (const auto& m : members_) index_.push_back(m.Get());
        std::stable_sort(index_.begin(), index_.end(), [](ISnmpVariable* a, ISnmpVariable* b) {
            return CompareOids(OidOf(a), OidOf(b)) < 0;
        });
    }

    size_t Anchor(std::u16string_view oid) const {
        size_t s = 0;
        while (s < index_.size() && CompareOids(oid, OidOf(index_[s])) >= 0) ++s;
        return s;
    }
    ComPtr<ISnmpTable> Table(const std::u16string& oid) const {
        ComPtr<ISnmpTable> table;
        EXPECT_EQ(BuildTable(index_, Anchor(oid), Bstr(oid).Get(), table.Put()), S_OK);
        return table;
    }
    ComPtr<ISnmpTableRow> Row(const std::u16string& oid) const {
        ComPtr<ISnmpTableRow> row;
        EXPECT_EQ(BuildTableRow(index_, Anchor(oid), Bstr(oid).Get(), row.Put()), S_OK);
        return row;
    }
    const std::vector<ISnmpVariable*>& Index() const { return index_; }

private:
    std::vector<ComPtr<ISnmpVariable>> members_;
    std::vector<ISnmpVariable*> index_;
};

std::u16string RowIndexOf(ISnmpTableRow* row) {
    Bstr text;
    row->get_RowIndex(text.Put());
    return std::u16string(text.View());
}

std::vector<std::u16string> CellOids(ISnmpTableRow* row) {
    LONG n = 0, columns = 0;
    row->get_Count(&n);
    row->get_ColumnCount(&columns);
    EXPECT_EQ(n, columns);
    std::vector<std::u16string> oids;
    for (LONG i = 1; i <= n; ++i) {
        ComPtr<ISnmpVariable> cell;
        EXPECT_EQ(row->Item(Variant(i), cell.Put()), S_OK);
        oids.push_back(OidOf(cell.Get()));
    }
    return oids;
}

// Each row's cells as OIDs, with the counts checked for agreement.
std::vector<std::vector<std::u16string>> Cells(ISnmpTable* table) {
    LONG rows = 0, count = 0;
    table->get_RowCount(&rows);
    table->get_Count(&count);
    EXPECT_EQ(rows, count);
    std::vector<std::vector<std::u16string>> all;
    for (LONG k = 1; k <= rows; ++k) {
        ComPtr<ISnmpTableRow> row;
        EXPECT_EQ(table->Item(Variant(k), row.Put()), S_OK);
        EXPECT_EQ(RowIndexOf(row.Get()), CellOids(row.Get()).front());
        all.push_back(CellOids(row.Get()));
    }
    return all;
}

LONG ColumnCount(ISnmpTable* table) {
    LONG c = -1;
    table->get_ColumnCount(&c);
    return c;
}

std::vector<std::u16string> Under(const std::u16string& entry,
                                  std::initializer_list<const char16_t*> tails) {
    std::vector<std::u16string> oids;
    for (const char16_t* t : tails) oids.push_back(entry + u"." + t);
    return oids;
}

class TableView : public testing::ModelTest {};

// The dense table: columns 1..3 of the entry, instances 1 and 2, inserted out of order.
std::vector<std::u16string> SixCells() {
    return Under(kEntry, {u"3.2", u"1.1", u"2.2", u"1.2", u"3.1", u"2.1"});
}

TEST_F(TableView, DenseTableGivesOneRowPerInstanceWithWhateverFollows) {
    const std::vector<std::vector<std::u16string>> expected = {
        Under(kEntry, {u"1.1", u"2.1", u"3.1"}), Under(kEntry, {u"1.2", u"2.2", u"3.2"})};
    auto followed = SixCells();
    followed.push_back(u"1.3.6.1.2.1.3.1.1.1.1");
    for (const auto& oids : {SixCells(), followed}) {
        Collection c(oids);
        auto table = c.Table(kEntry);
        EXPECT_EQ(ColumnCount(table.Get()), 3);
        EXPECT_EQ(Cells(table.Get()), expected);
        Bstr tableOid;
        table->get_TableOID(tableOid.Put());
        EXPECT_EQ(tableOid.View(), kEntry);
    }
}

struct ShapeCase {
    const char* name;
    std::vector<std::u16string> members;
    std::u16string table;
    LONG columns;
    std::vector<std::vector<std::u16string>> rows;
};

TEST_F(TableView, ShapesFollowTheOidTexts) {
    const std::u16string ifTable = u"1.3.6.1.2.1.2.2";
    const std::u16string neighbour = u"1.3.6.1.2.1.2.20.1.1";
    const ShapeCase cases[] = {
        {"one level above the entry: every cell a row", SixCells(), ifTable, 1,
         {{kEntry + u".1.1"}, {kEntry + u".1.2"}, {kEntry + u".2.1"}, {kEntry + u".2.2"},
          {kEntry + u".3.1"}, {kEntry + u".3.2"}}},
        {"single instance", Under(kEntry, {u"1.7", u"2.7", u"4.7"}), kEntry, 3,
         {Under(kEntry, {u"1.7", u"2.7", u"4.7"})}},
        {"columns 1 and 10 are two columns", Under(kEntry, {u"1.1", u"1.2", u"10.1", u"10.2"}),
         kEntry, 2, {Under(kEntry, {u"1.1", u"10.1"}), Under(kEntry, {u"1.2", u"10.2"})}},
        {"a foreign neighbour is no cell",
         {kEntry + u".1.1", kEntry + u".1.2", neighbour, neighbour + u"0"}, ifTable, 1,
         {{kEntry + u".1.1"}, {kEntry + u".1.2"}}},
        {"nothing under the OID: the members that follow, one column", SixCells(),
         u"1.3.6.1.2.1.2.1", 1,
         {{kEntry + u".1.1"}, {kEntry + u".1.2"}, {kEntry + u".2.1"}, {kEntry + u".2.2"},
          {kEntry + u".3.1"}, {kEntry + u".3.2"}}},
        {"short last column: the row cut at the end of the index is the last",
         Under(kEntry, {u"1.1", u"1.2", u"1.3", u"2.1"}), kEntry, 2,
         {Under(kEntry, {u"1.1", u"2.1"}), Under(kEntry, {u"1.2"})}},
    };
    for (const ShapeCase& k : cases) {
        SCOPED_TRACE(k.name);
        Collection c(k.members);
        auto table = c.Table(k.table);
        EXPECT_EQ(ColumnCount(table.Get()), k.columns);
        EXPECT_EQ(Cells(table.Get()), k.rows);
    }
}

TEST_F(TableView, RowViewIsTheFirstRowOfTheTable) {
    Collection c(SixCells());
    auto row = c.Row(kEntry);
    EXPECT_EQ(RowIndexOf(row.Get()), kEntry + u".1.1");
    EXPECT_EQ(CellOids(row.Get()), Under(kEntry, {u"1.1", u"2.1", u"3.1"}));

    Collection tens(Under(kEntry, {u"1.1", u"1.2", u"10.1", u"10.2"}));
    EXPECT_EQ(CellOids(tens.Row(kEntry).Get()), Under(kEntry, {u"1.1", u"10.1"}));
}

TEST_F(TableView, CellsAreTheCollectionsOwnObjectsAndOutliveIt) {
    ComPtr<ISnmpTable> table;
    ComPtr<ISnmpVariable> member;
    {
        Collection c(SixCells());
        table = c.Table(kEntry);
        member = c.Index()[3];  // kEntry.2.2, our own class
        ASSERT_NE(SnmpVariable::From(member.Get()), nullptr);
    }
    ComPtr<ISnmpTableRow> row;
    ASSERT_EQ(table->Item(Variant(2), row.Put()), S_OK);
    ComPtr<ISnmpVariable> cell;
    ASSERT_EQ(row->Item(Variant(2), cell.Put()), S_OK);
    EXPECT_EQ(cell.Get(), member.Get());
    cell->put_Value(Bstr(u"eth0").Get());
    Bstr seen;
    member->get_Value(seen.Put());
    EXPECT_EQ(seen.View(), u"eth0");
}

TEST_F(TableView, HostCodeChangingAnOidWhileTheViewIsBuiltLeavesNoStaleText) {
    auto own = [](const std::u16string& oid) {
        auto v = ComPtr<ISnmpVariable>::Adopt(NewSnmpVariable());
        v->put_Oid(Bstr(oid).Get());
        return v;
    };
    auto first = own(kEntry + u".1.1");
    auto* host = new HostVariable(kEntry + u".1.2");
    auto hostRef = ComPtr<ISnmpVariable>::Adopt(host);
    host->onGetOid = [&] { first->put_Oid(Bstr(u"1.3.6.1.4.1.99999.1.2.3.4.5.6.7.8.9").Get()); };
    auto c21 = own(kEntry + u".2.1"), c22 = own(kEntry + u".2.2");
    const std::vector<ISnmpVariable*> index = {first.Get(), hostRef.Get(), c21.Get(), c22.Get()};

    ComPtr<ISnmpTable> table;
    ASSERT_EQ(BuildTable(index, 0, Bstr(kEntry).Get(), table.Put()), S_OK);
    host->onGetOid = nullptr;
    // The view is made from the texts as they were read.
    EXPECT_EQ(ColumnCount(table.Get()), 2);
    ComPtr<ISnmpTableRow> row;
    ASSERT_EQ(table->Item(Variant(LONG{1}), row.Put()), S_OK);
    EXPECT_EQ(RowIndexOf(row.Get()), kEntry + u".1.1");
}

Variant Typed(VARTYPE vt, LONG value) {
    Variant v;
    v.vt = vt;
    if (vt == VT_I2) v.iVal = static_cast<SHORT>(value);
    else if (vt == VT_UI1) v.bVal = static_cast<BYTE>(value);
    else if (vt == VT_R8) v.dblVal = value;
    else v.lVal = value;
    return v;
}

TEST_F(TableView, ItemTakesOnlySmallIntegerTypesInRange) {
    Collection c(SixCells());
    auto table = c.Table(kEntry);  // 2 rows
    ComPtr<ISnmpTableRow> firstRow;
    ASSERT_EQ(table->Item(Variant(1), firstRow.Put()), S_OK);  // 3 cells

    Variant inner(LONG{1});
    Variant byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &inner;
    struct Case {
        const char* name;
        Variant index;
        LONG rowPosition;   // 0: fails with 12001
        LONG cellPosition;  // 0: fails with 12001
    };
    const Case cases[] = {
        {"VT_I4 1", Typed(VT_I4, 1), 1, 1},
        {"VT_I2 2", Typed(VT_I2, 2), 2, 2},
        {"VT_UI1 1", Typed(VT_UI1, 1), 1, 1},
        {"VT_I4 3: cells only", Typed(VT_I4, 3), 0, 3},
        {"VT_I4 0", Typed(VT_I4, 0), 0, 0},
        {"VT_I2 0", Typed(VT_I2, 0), 0, 0},
        {"VT_UI1 0", Typed(VT_UI1, 0), 0, 0},
        {"VT_I2 -1", Typed(VT_I2, -1), 0, 0},
        {"VT_I4 Count + 1 of cells", Typed(VT_I4, 4), 0, 0},
        {"double 1", Typed(VT_R8, 1), 0, 0},
        {"reference to a VARIANT", byRef, 0, 0},
        {"text 1", Variant(std::u16string_view(u"1")), 0, 0},
        {"empty", Variant(), 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // Out pointers start non-null: a failing Item must set them to null.
        ISnmpTableRow* rawRow = firstRow.Get();
        EXPECT_EQ(table->Item(k.index, &rawRow), k.rowPosition ? S_OK : kInvalidParam1);
        if (k.rowPosition) {
            auto row = ComPtr<ISnmpTableRow>::Adopt(rawRow);
            EXPECT_EQ(RowIndexOf(row.Get()), kEntry + u".1." + Num(k.rowPosition));
        } else {
            EXPECT_EQ(rawRow, nullptr);
        }
        ISnmpVariable* rawCell = c.Index()[0];
        EXPECT_EQ(firstRow->Item(k.index, &rawCell), k.cellPosition ? S_OK : kInvalidParam1);
        if (k.cellPosition) {
            auto cell = ComPtr<ISnmpVariable>::Adopt(rawCell);
            EXPECT_EQ(OidOf(cell.Get()), kEntry + u"." + Num(k.cellPosition) + u".1");
        } else {
            EXPECT_EQ(rawCell, nullptr);
        }
    }
}

TEST_F(TableView, TextIndexFindsTheRowByItsRowIndex) {
    // 1..12 sorts numerically (1, 2, ..., 10, 11, 12), not as text.
    std::vector<std::u16string> members;
    for (int i = 12; i >= 1; --i)
        for (const char16_t* column : {u"1", u"2"})
            members.push_back(kEntry + u"." + column + u"." + Num(i));
    Collection c(members);
    auto table = c.Table(kEntry);
    for (int i = 1; i <= 12; ++i) {
        const std::u16string key = kEntry + u".1." + Num(i);
        ComPtr<ISnmpTableRow> row;
        ASSERT_EQ(table->Item(Variant(std::u16string_view(key)), row.Put()), S_OK) << i;
        EXPECT_EQ(RowIndexOf(row.Get()), key);
        ComPtr<ISnmpTableRow> byPosition;
        table->Item(Variant(LONG{i}), byPosition.Put());
        EXPECT_EQ(row.Get(), byPosition.Get());
    }
    for (const char16_t* miss : {u"", u"1.3.6.1.2.1.2.2.1.2.1", u"1.3.6.1.2.1.2.2.1.1.13",
                                 u"1.3.6.1.2.1.2.2.1.1", u"x"}) {
        ComPtr<ISnmpTableRow> row;
        EXPECT_EQ(table->Item(Variant(std::u16string_view(miss)), row.Put()), kInvalidParam1);
        EXPECT_FALSE(row);
    }
}

TEST_F(TableView, ViewsCreatedOnTheirOwnAreEmpty) {
    ComPtr<ISnmpTable> table;
    ASSERT_EQ(SnmpTable::CreateInstance(IID_ISnmpTable, table.PutVoid()), S_OK);
    ComPtr<ISnmpTableRow> row;
    ASSERT_EQ(SnmpTableRow::CreateInstance(IID_ISnmpTableRow, row.PutVoid()), S_OK);
    EXPECT_EQ(ColumnCount(table.Get()), 0);
    EXPECT_TRUE(Cells(table.Get()).empty());
    EXPECT_TRUE(CellOids(row.Get()).empty());
    Bstr text;
    table->get_TableOID(text.Put());
    EXPECT_TRUE(text.Empty());
    row->get_RowIndex(text.Put());
    EXPECT_TRUE(text.Empty());
    ComPtr<ISnmpTableRow> none;
    EXPECT_EQ(table->Item(Variant(LONG{1}), none.Put()), kInvalidParam1);
}

TEST_F(TableView, CreationFailuresLeaveNothingBehind) {
    Collection c(SixCells());
    const std::pair<const CLSID*, rt::CreateInstanceFn> classes[] = {
        {&CLSID_SnmpTable, &SnmpTable::CreateInstance},
        {&CLSID_SnmpTableRow, &SnmpTableRow::CreateInstance}};
    for (const auto& [clsid, create] : classes) {
        rt::SetCreationFailure(*clsid, E_OUTOFMEMORY);
        ComPtr<ISnmpTable> table;
        EXPECT_EQ(BuildTable(c.Index(), 0, Bstr(kEntry).Get(), table.Put()), E_OUTOFMEMORY);
        EXPECT_FALSE(table);
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(create(IID_IUnknown, unknown.PutVoid()), E_OUTOFMEMORY);
        rt::SetCreationFailure(*clsid, S_OK);
    }
}

HRESULT NoCreate(REFIID, void**) { return E_NOTIMPL; }

TEST_F(TableView, FailuresReportInvalidParam1WithTheCollectionAsSource) {
    // The versioned ProgID comes from the registry; register it only if nobody did.
    LPOLESTR progId = nullptr;
    const bool registered = ProgIDFromCLSID(CLSID_SnmpVariables, &progId) == S_OK;
    CoTaskMemFree(progId);
    if (!registered) rt::RegisterClass(CLSID_SnmpVariables, "Velk.SnmpVariables", &NoCreate);

    Collection c(SixCells());
    auto table = c.Table(kEntry);
    ComPtr<ISnmpTable> beyond;
    // An anchor past the end (one the collection could not find again) builds nothing.
    EXPECT_EQ(BuildTable(c.Index(), c.Index().size(), Bstr(kEntry).Get(), beyond.Put()),
              kInvalidParam1);
    ComPtr<ISnmpTableRow> beyondRow;
    EXPECT_EQ(BuildTableRow(c.Index(), c.Index().size(), Bstr(kEntry).Get(), beyondRow.Put()),
              kInvalidParam1);
    EXPECT_FALSE(beyond);
    EXPECT_FALSE(beyondRow);

    ComPtr<ISnmpTableRow> row;
    ASSERT_EQ(table->Item(Variant(LONG{3}), row.Put()), kInvalidParam1);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(table.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ISnmpTable), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr source, helpFile;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetHelpFile(helpFile.Put());
    info->GetHelpContext(&context);
    EXPECT_EQ(source.View(), u"Velk.SnmpVariables.1");
    EXPECT_EQ(helpFile.View(), u"UlvaneTcp.hlp");
    EXPECT_EQ(context, 12001u);

    if (!registered) rt::UnregisterClass(CLSID_SnmpVariables);
}

}  // namespace
}  // namespace velk::model
