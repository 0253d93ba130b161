// SnmpVariables: positions in OID and insertion order, the general lookup, removal, the
// stale order index, error records, host-implemented members and late binding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model_support.h"
#include "runtime/registry.h"

namespace velk::model {
namespace {

using testing::I2;
using testing::I4;
using testing::kInvalidParam1;
using testing::ModelTest;
using testing::NewVariable;
using testing::OidOf;
using testing::Text;

constexpr char16_t kSysUpTime[] = u"1.3.6.1.2.1.1.3.0";
constexpr char16_t kSysDescr[] = u"1.3.6.1.2.1.1.1.0";
constexpr char16_t kSysServices[] = u"1.3.6.1.2.1.1.10.0";

class Variables : public ModelTest {
protected:
    // Adds variables with these OIDs (and names n1, n2, ...), in this order.
    void Fill(std::initializer_list<std::u16string_view> oids) {
        for (auto oid : oids) {
            std::u16string name = u"n" + std::u16string(1, char16_t(u'0' + ++named_));
            ASSERT_EQ(c_->Add(NewVariable(oid, name).Get()), S_OK);
        }
    }
    std::u16string ItemOid(const VARIANT& index) {
        ComPtr<ISnmpVariable> v;
        const HRESULT hr = c_->Item(index, v.Put());
        if (FAILED(hr)) return u"<" + std::u16string(hr == kInvalidParam1 ? u"12001" : u"failed") + u">";
        return OidOf(v.Get());
    }
    std::u16string NextOid(std::u16string_view oid) {
        ComPtr<ISnmpVariable> v;
        Bstr key(oid);
        if (FAILED(c_->GetNext(key.Get(), v.Put()))) return u"<none>";
        return OidOf(v.Get());
    }
    LONG IndexOf(std::u16string_view oid) {
        Bstr key(oid);
        LONG at = 0;
        EXPECT_EQ(c_->GetIndex(key.Get(), &at), S_OK);
        return at;
    }
    void SetSorted(bool sorted) { c_->put_Sorted(sorted ? VARIANT_TRUE : VARIANT_FALSE); }

    ComPtr<SnmpVariables> c_ = testing::NewCollection();
    int named_ = 0;
};

TEST_F(Variables, ANewCollectionIsEmptyAndSorted) {
    LONG count = -1;
    VARIANT_BOOL sorted = 0;
    c_->get_Count(&count);
    c_->get_Sorted(&sorted);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(sorted, VARIANT_TRUE);
    EXPECT_EQ(ItemOid(I4(1)), u"<12001>");
    EXPECT_EQ(NextOid(u""), u"<none>");
    EXPECT_EQ(IndexOf(u"1.3"), -1);
    ComPtr<IUnknown> unk;
    ASSERT_EQ(c_->get__NewEnum(unk.Put()), S_OK);
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(unk.As(&e), S_OK);
    Variant item;
    EXPECT_EQ(e->Next(1, &item, nullptr), S_FALSE);
}

TEST_F(Variables, PositionsCountInOidOrderOnlyForVT_I4WhileSorted) {
    Fill({kSysUpTime, kSysDescr, kSysServices});
    struct Case {
        bool sorted;
        Variant index;
        std::u16string_view expected;
    } cases[] = {
        {true, I4(1), kSysDescr},      {true, I4(3), kSysServices},   {true, I2(1), kSysUpTime},
        {true, testing::R8(2.6), kSysServices}, {true, I4(4), u"<12001>"}, {true, I4(0), u"<12001>"},
        {false, I4(1), kSysUpTime},    {false, I4(3), kSysServices},  {false, I2(2), kSysDescr},
        {true, testing::Bool(true), u"<12001>"},  // true is -1
        {true, Variant(), u"<12001>"},             // empty converts to 0
    };
    for (const Case& c : cases) {
        SetSorted(c.sorted);
        EXPECT_EQ(ItemOid(c.index), c.expected) << "sorted " << c.sorted << " vt " << c.index.vt;
    }
    for (bool sorted : {true, false}) {
        SetSorted(sorted);
        EXPECT_EQ(IndexOf(kSysServices), 3);
        EXPECT_EQ(IndexOf(kSysDescr), 1);
        EXPECT_EQ(IndexOf(u"1.3.6.1.2.1.1.2.0"), -1);
    }
}

TEST_F(Variables, TextKeysFindOidsThenNamesThenPositions) {
    Fill({u"1.3.6.1.2.1.1.5.0", u"1.3.6.1.2.1.1.6.0", u"1.3.6.1.2.1.1.7.0"});
    struct Case {
        bool sorted;
        std::u16string_view key;
        std::u16string_view expected;
    } cases[] = {
        {true, u"1.3.6.1.2.1.1.6.0", u"1.3.6.1.2.1.1.6.0"},
        {false, u"1.3.6.1.2.1.1.6.0", u"1.3.6.1.2.1.1.6.0"},
        {true, u"2", u"1.3.6.1.2.1.1.6.0"},   // no such OID: the number 2 in insertion order
        {true, u"n3", u"1.3.6.1.2.1.1.7.0"},  // a name
        {true, u"N3", u"<12001>"},            // case-sensitive
        {true, u"", u"<12001>"},              // no member with an empty Oid or Name
        {true, u"1.3.6.1.2.1.1.6", u"<12001>"},
    };
    for (const Case& c : cases) {
        SetSorted(c.sorted);
        EXPECT_EQ(ItemOid(Text(c.key)), c.expected) << std::string(c.key.begin(), c.key.end());
    }
    // A reference to a text VARIANT goes to the general lookup.
    Variant key = Text(u"n1");
    EXPECT_EQ(ItemOid(testing::RefTo(&key)), u"1.3.6.1.2.1.1.5.0");
    // A member with an unset Name matches the empty text.
    ASSERT_EQ(c_->Add(NewVariable(u"9.9").Get()), S_OK);
    EXPECT_EQ(ItemOid(Text(u"")), u"9.9");
}

TEST_F(Variables, EachMemberIsTestedForOidThenNameBeforeTheNext) {
    ASSERT_EQ(c_->Add(NewVariable(u"first", u"key").Get()), S_OK);
    ASSERT_EQ(c_->Add(NewVariable(u"key", u"second").Get()), S_OK);
    SetSorted(false);
    EXPECT_EQ(ItemOid(Text(u"key")), u"first");
}

TEST_F(Variables, RemoveUsesInsertionOrderAndTakesOnlyTheEntryFound) {
    for (bool sorted : {true, false}) {
        c_->Clear();
        Fill({kSysUpTime, kSysDescr, kSysServices});
        SetSorted(sorted);
        ASSERT_EQ(c_->Remove(I4(1)), S_OK);
        EXPECT_EQ(IndexOf(kSysUpTime), -1) << sorted;
        EXPECT_EQ(c_->Remove(I4(3)), kInvalidParam1);
        LONG count = 0;
        c_->get_Count(&count);
        EXPECT_EQ(count, 2) << "a failed removal changes nothing";
    }

    c_->Clear();
    ComPtr<ISnmpVariable> twice = NewVariable(u"1.1");
    c_->Add(twice.Get());
    c_->Add(twice.Get());
    ComPtr<ISnmpVariable> held;
    c_->Item(I4(1), held.Put());
    ASSERT_EQ(c_->Remove(Text(u"1.1")), S_OK);
    LONG count = 0;
    c_->get_Count(&count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(c_->Remove(Text(u"1.1")), S_OK);
    EXPECT_EQ(OidOf(held.Get()), u"1.1") << "a removed member stays valid for its holder";
}

TEST_F(Variables, GetNextGivesTheSmallestGreaterOid) {
    Fill({kSysUpTime, kSysDescr, kSysServices});
    EXPECT_EQ(NextOid(u"1.3.6.1.2.1.1.9"), kSysServices);
    EXPECT_EQ(NextOid(kSysServices), u"<none>");
    EXPECT_EQ(NextOid(u"1.3.6.1.2.1.1"), kSysDescr);
    EXPECT_EQ(NextOid(u""), kSysDescr);
}

TEST_F(Variables, TheOrderIndexKeepsItsOrderUntilMembershipChanges) {
    Fill({u"1.1", u"1.2", u"1.3"});
    EXPECT_EQ(ItemOid(I4(1)), u"1.1");
    ComPtr<ISnmpVariable> first;
    c_->Item(I4(1), first.Put());
    Bstr moved(u"1.9");
    first->put_Oid(moved.Get());
    EXPECT_EQ(ItemOid(I4(1)), u"1.9") << "positions keep the old order";
    EXPECT_EQ(IndexOf(u"1.2"), 2);
    // GetNext answers from the current OIDs at once.
    EXPECT_EQ(NextOid(u"1.3"), u"1.9");
    EXPECT_EQ(NextOid(u"1.0"), u"1.2");

    Fill({u"1.0"});  // a membership change rebuilds the order
    EXPECT_EQ(ItemOid(I4(1)), u"1.0");
    EXPECT_EQ(ItemOid(I4(4)), u"1.9");
}

TEST_F(Variables, NonOidTextsSortAndSearchToAnEnd) {
    // CompareOids is not an order on such texts (each of "1a" and "1b" sorts after the other);
    // the order index is still a permutation of the members and the searches finish.
    std::vector<std::u16string> oids = {u"1b", u"1a", u"x", u"", u"1.2", u"1a", u"y.1", u"..", u"01", u"1\u0660"};
    for (const auto& oid : oids) Fill({oid});
    std::vector<std::u16string> positional;
    for (LONG i = 1; i <= static_cast<LONG>(oids.size()); ++i) positional.push_back(ItemOid(I4(i)));
    std::sort(positional.begin(), positional.end());
    std::sort(oids.begin(), oids.end());
    EXPECT_EQ(positional, oids);
    for (const auto& oid : oids) IndexOf(oid);
}

TEST_F(Variables, AddRefusesNull) {
    EXPECT_EQ(c_->Add(nullptr), E_POINTER);
    LONG count = -1;
    c_->get_Count(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(Variables, GetOIDFromNameGivesTheFirstMatchOrNull) {
    Fill({u"1.1", u"1.2"});
    ASSERT_EQ(c_->Add(NewVariable(u"1.3", u"n2").Get()), S_OK);
    Bstr name(u"n2"), missing(u"nope"), oid;
    ASSERT_EQ(c_->GetOIDFromName(name.Get(), oid.Put()), S_OK);
    EXPECT_EQ(oid.View(), u"1.2");
    ASSERT_EQ(c_->GetOIDFromName(missing.Get(), oid.Put()), S_OK);
    EXPECT_EQ(oid.Get(), nullptr);
}

TEST_F(Variables, FailuresCarryTheErrorRecordOfTheCollection) {
    rt::RegisterClass(CLSID_SnmpVariables, "Velk.SnmpVariables", &SnmpVariables::CreateInstance);
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(c_->Item(I4(0), v.Put()), kInvalidParam1);
    EXPECT_FALSE(v);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr source, file, description;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetHelpFile(file.Put());
    info->GetHelpContext(&context);
    info->GetDescription(description.Put());
    EXPECT_EQ(source.View(), u"Velk.SnmpVariables.1");
    EXPECT_EQ(file.View(), u"UlvaneTcp.hlp");
    EXPECT_EQ(context, 12001u);
    EXPECT_FALSE(description.Empty());
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(c_->QueryInterface(IID_ISupportErrorInfo, support.PutVoid()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ISnmpVariables), S_OK);
    rt::UnregisterClass(CLSID_SnmpVariables);
}

TEST_F(Variables, CreationHonoursTheFailureSeam) {
    rt::SetCreationFailure(CLSID_SnmpVariables, E_OUTOFMEMORY);
    ComPtr<ISnmpVariables> c;
    EXPECT_EQ(SnmpVariables::CreateInstance(IID_ISnmpVariables, c.PutVoid()), E_OUTOFMEMORY);
    rt::SetCreationFailure(CLSID_SnmpVariables, S_OK);
    EXPECT_EQ(SnmpVariables::CreateInstance(IID_ISnmpVariables, c.PutVoid()), S_OK);
}

// ---- Host-implemented members ----

TEST_F(Variables, HostMembersAreReadThroughTheInterfaceAndMayFail) {
    auto host = testing::HostVariable::Make(u"1.5", u"host");
    auto failing = testing::HostVariable::Make(u"1.0", u"failing");
    failing->fail = true;  // reads as an empty Oid and Name
    Fill({u"1.2", u"1.7"});
    c_->Add(host.Get());
    c_->Add(failing.Get());
    EXPECT_EQ(NextOid(u"1.2"), u"1.5");
    EXPECT_EQ(NextOid(u""), u"1.2");
    EXPECT_EQ(ItemOid(Text(u"host")), u"1.5");
    EXPECT_EQ(ItemOid(Text(u"1.5")), u"1.5");
    EXPECT_EQ(IndexOf(u"1.5"), 3) << "the failing member sorts first with an empty Oid";
    EXPECT_EQ(ItemOid(I4(2)), u"1.2");
    Bstr name(u"host"), oid;
    EXPECT_EQ(c_->GetOIDFromName(name.Get(), oid.Put()), S_OK);
    EXPECT_EQ(oid.View(), u"1.5");
    ASSERT_EQ(c_->Remove(Text(u"host")), S_OK);
    EXPECT_EQ(NextOid(u"1.2"), u"1.7");
}

TEST_F(Variables, AHostMemberThatChangesTheCollectionDuringACallEndsThatLookupSafely) {
    Fill({u"1.1", u"1.3"});
    auto host = testing::HostVariable::Make(u"1.2");
    c_->Add(host.Get());
    Fill({u"1.4"});
    // While it is asked for its Oid, the host clears the collection.
    host->hook = [this] { c_->Clear(); };
    EXPECT_EQ(NextOid(u"1.1"), u"<none>");
    LONG count = -1;
    c_->get_Count(&count);
    EXPECT_EQ(count, 0);

    Fill({u"1.1"});
    c_->Add(host.Get());
    Fill({u"1.9"});
    host->hook = [this] { c_->Remove(I4(1)); };
    EXPECT_EQ(ItemOid(Text(u"1.9")), u"1.9") << "the index is rebuilt after the change";
    c_->get_Count(&count);
    EXPECT_EQ(count, 2);
}

// ---- Late binding ----

// Calls a member by name through IDispatch; positional arguments in natural order.
HRESULT CallByName(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args,
                   VARIANT* result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

Variant Dispatch(IDispatch* d) {
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    d->AddRef();
    return v;
}

TEST_F(Variables, AScriptingHostDrivesTheCollectionByName) {
    ComPtr<IDispatch> c;
    ASSERT_EQ(SnmpVariables::CreateInstance(IID_IDispatch, c.PutVoid()), S_OK);
    for (auto oid : {u"1.3.6.1.2.1.1.5.0", u"1.3.6.1.2.1.1.1.0"}) {
        ComPtr<IDispatch> v;
        ASSERT_EQ(SnmpVariable::CreateInstance(IID_IDispatch, v.PutVoid()), S_OK);
        ASSERT_EQ(CallByName(v.Get(), u"Oid", DISPATCH_PROPERTYPUT, {Text(oid)}, nullptr), S_OK);
        ASSERT_EQ(CallByName(c.Get(), u"Add", DISPATCH_METHOD, {Dispatch(v.Get())}, nullptr), S_OK);
    }
    Variant count, item, next, oid, index;
    ASSERT_EQ(CallByName(c.Get(), u"Count", DISPATCH_PROPERTYGET, {}, &count), S_OK);
    EXPECT_EQ(count.lVal, 2);
    ASSERT_EQ(CallByName(c.Get(), u"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(1)}, &item), S_OK);
    ASSERT_EQ(item.vt, VT_DISPATCH);
    ASSERT_EQ(CallByName(item.pdispVal, u"Oid", DISPATCH_PROPERTYGET, {}, &oid), S_OK);
    EXPECT_EQ(testing::View(oid.bstrVal), u"1.3.6.1.2.1.1.1.0");
    ASSERT_EQ(CallByName(c.Get(), u"GetNext", DISPATCH_METHOD, {Text(u"1.3.6.1.2.1.1.1.0")}, &next), S_OK);
    ASSERT_EQ(CallByName(next.pdispVal, u"Oid", DISPATCH_PROPERTYGET, {}, oid.Put()), S_OK);
    EXPECT_EQ(testing::View(oid.bstrVal), u"1.3.6.1.2.1.1.5.0");
    ASSERT_EQ(CallByName(c.Get(), u"GetIndex", DISPATCH_METHOD, {Text(u"1.3.6.1.2.1.1.5.0")}, &index), S_OK);
    EXPECT_EQ(index.lVal, 2);

    EXCEPINFO excep{};
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    Variant walked;
    ASSERT_EQ(c->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &walked, &excep, nullptr), S_OK);
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(walked.punkVal->QueryInterface(IID_IEnumVARIANT, e.PutVoid()), S_OK);
    Variant items[3];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u) << "insertion order, both members";

    // A failure comes back as an exception with the error number.
    Variant missing;
    DISPID itemId = DISPID_VALUE;
    Variant arg = I4(7);
    DISPPARAMS one{&arg, nullptr, 1, 0};
    EXPECT_EQ(c->Invoke(itemId, IID_NULL, 0, DISPATCH_METHOD, &one, &missing, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, kInvalidParam1);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
}

}  // namespace
}  // namespace velk::model
