// SnmpVariables: positions in OID and insertion order, the general lookup, removal, the
// stale order index, error records, host-implemented members and late binding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model_support.h"
#include "runtime/registry.h"

namespace velk::model {
namespace {

using testing::I4;
using testing::kInvalidParam1;
using testing::OidOf;
using testing::Text;

constexpr char16_t kUpTime[] = u"1.3.6.1.2.1.1.3.0";
constexpr char16_t kDescr[] = u"1.3.6.1.2.1.1.1.0";
constexpr char16_t kServices[] = u"1.3.6.1.2.1.1.10.0";

class Variables : public testing::ModelTest {
protected:
    // Adds variables with these OIDs, named n1, n2, ... in the order of all additions.
    void Fill(std::initializer_list<std::u16string_view> oids) {
        for (auto oid : oids) ASSERT_EQ(c_->Add(testing::NewVariable(oid, u"n" + std::u16string(1, u'0' + ++n_)).Get()), S_OK);
    }
    std::u16string Item(const VARIANT& index) {
        ComPtr<ISnmpVariable> v;
        const HRESULT hr = c_->Item(index, v.Put());
        EXPECT_EQ(SUCCEEDED(hr), static_cast<bool>(v));
        return hr == kInvalidParam1 ? u"12001" : OidOf(v.Get());
    }
    std::u16string Next(std::u16string_view oid) {
        ComPtr<ISnmpVariable> v;
        return c_->GetNext(Bstr(oid).Get(), v.Put()) == kInvalidParam1 ? u"12001" : OidOf(v.Get());
    }
    LONG IndexOf(std::u16string_view oid) {
        LONG at = 0;
        EXPECT_EQ(c_->GetIndex(Bstr(oid).Get(), &at), S_OK);
        return at;
    }
    LONG Count() {
        LONG n = -1;
        c_->get_Count(&n);
        return n;
    }

    ComPtr<SnmpVariables> c_ = rt::MakeObject<SnmpVariables>();
    int n_ = 0;
};

TEST_F(Variables, ANewCollectionIsEmptyAndSorted) {
    VARIANT_BOOL sorted = 0;
    c_->get_Sorted(&sorted);
    EXPECT_EQ(sorted, VARIANT_TRUE);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(Item(I4(1)), u"12001");
    EXPECT_EQ(Next(u""), u"12001");
    EXPECT_EQ(IndexOf(u"1.3"), -1);
    EXPECT_EQ(c_->Add(nullptr), E_POINTER);
    EXPECT_EQ(Count(), 0);
}

TEST_F(Variables, ItemFindsPositionsOidsAndNames) {
    Fill({kUpTime, kDescr, kServices});
    struct Case {
        VARIANT_BOOL sorted;
        Variant index;
        std::u16string_view expected;
    } cases[] = {
        // While sorted, only a VT_I4 position counts in OID order.
        {-1, I4(1), kDescr}, {-1, I4(3), kServices}, {-1, testing::Of(VT_I2, 1), kUpTime},
        {-1, testing::Of(VT_R8, 0x4004CCCCCCCCCCCD) /* 2.6 */, kServices},
        {0, I4(1), kUpTime}, {0, testing::Of(VT_I2, 2), kDescr},
        {-1, I4(4), u"12001"}, {-1, I4(0), u"12001"}, {-1, testing::Of(VT_BOOL, -1), u"12001"},
        {-1, Variant(), u"12001"}, {-1, testing::Of(VT_ERROR, 0), u"12001"},
        // Texts: an OID, then a number in insertion order, then Oid or Name of each member.
        {-1, Text(kDescr), kDescr}, {0, Text(kDescr), kDescr},
        {-1, Text(u"2"), kDescr}, {-1, Text(u"n3"), kServices}, {-1, Text(u"N3"), u"12001"},
        {-1, Text(u""), u"12001"}, {-1, Text(u"1.3.6.1.2.1.1"), u"12001"},
    };
    for (const Case& c : cases) {
        c_->put_Sorted(c.sorted);
        EXPECT_EQ(Item(c.index), c.expected) << "sorted " << c.sorted << " vt " << c.index.vt;
    }
    for (VARIANT_BOOL sorted : {-1, 0}) {
        c_->put_Sorted(sorted);
        EXPECT_EQ(IndexOf(kServices), 3);
        EXPECT_EQ(IndexOf(u"1.3.6.1.2.1.1.2.0"), -1);
    }
    Variant key = Text(u"n1");
    EXPECT_EQ(Item(testing::RefTo(&key)), kUpTime);
    // Each member is tested for Oid, then Name, before the next; an unset Name is empty.
    Fill({u"n1"});
    c_->Add(testing::NewVariable(u"9.9").Get());
    c_->put_Sorted(0);
    EXPECT_EQ(Item(Text(u"n1")), kUpTime);
    EXPECT_EQ(Item(Text(u"n4")), u"n1");
    EXPECT_EQ(Item(Text(u"")), u"9.9");

}

TEST_F(Variables, RemoveCountsInInsertionOrderAndTakesOnlyTheEntryFound) {
    for (VARIANT_BOOL sorted : {-1, 0}) {
        c_->Clear();
        Fill({kUpTime, kDescr, kServices});
        c_->put_Sorted(sorted);
        ASSERT_EQ(c_->Remove(I4(1)), S_OK);
        EXPECT_EQ(IndexOf(kUpTime), -1);
        EXPECT_EQ(c_->Remove(I4(3)), kInvalidParam1);
        EXPECT_EQ(Count(), 2) << "a failed removal changes nothing";
    }
    c_->Clear();
    ComPtr<ISnmpVariable> twice = testing::NewVariable(u"1.1");
    c_->Add(twice.Get());
    c_->Add(twice.Get());
    ASSERT_EQ(c_->Remove(Text(u"n9")), kInvalidParam1);
    ASSERT_EQ(c_->Remove(Text(u"1.1")), S_OK);
    EXPECT_EQ(Count(), 1);
}

TEST_F(Variables, GetNextGivesTheSmallestGreaterOidFromTheCurrentOids) {
    Fill({kUpTime, kDescr, kServices});
    EXPECT_EQ(Next(u"1.3.6.1.2.1.1.9"), kServices);
    EXPECT_EQ(Next(kServices), u"12001");
    EXPECT_EQ(Next(u"1.3.6.1.2.1.1"), kDescr);
    EXPECT_EQ(Next(u""), kDescr);
    Bstr name, oid;
    ASSERT_EQ(c_->GetOIDFromName(Bstr(u"n2").Get(), oid.Put()), S_OK);
    EXPECT_EQ(oid.View(), kDescr);
    ASSERT_EQ(c_->GetOIDFromName(Bstr(u"nope").Get(), oid.Put()), S_OK);
    EXPECT_EQ(oid.Get(), nullptr);

    // A variable in two collections: both see its Oid change, and after leaving one the
    // other still does.
    ComPtr<SnmpVariables> other = rt::MakeObject<SnmpVariables>();
    ComPtr<ISnmpVariable> shared = testing::NewVariable(u"1.3.6.1.2.1.1.2.0"), next;
    c_->Add(shared.Get());
    other->Add(testing::NewVariable(u"1.5").Get());
    other->Add(shared.Get());
    EXPECT_EQ(Next(kDescr), u"1.3.6.1.2.1.1.2.0");
    shared->put_Oid(Bstr(u"1.3.6.1.2.1.1.99.0").Get());
    EXPECT_EQ(Next(kDescr), kUpTime);
    c_->Remove(I4(4));
    ASSERT_EQ(other->GetNext(Bstr(u"").Get(), next.Put()), S_OK);
    EXPECT_EQ(next.Get(), shared.Get());
    shared->put_Oid(Bstr(u"2.0").Get());
    ASSERT_EQ(other->GetNext(Bstr(u"").Get(), next.Put()), S_OK);
    EXPECT_EQ(OidOf(next.Get()), u"1.5");
}

TEST_F(Variables, TheOrderIndexKeepsItsOrderUntilMembershipChanges) {
    Fill({u"1.1", u"1.2", u"1.3"});
    ComPtr<ISnmpVariable> first;
    c_->Item(I4(1), first.Put());
    first->put_Oid(Bstr(u"1.9").Get());
    EXPECT_EQ(Item(I4(1)), u"1.9") << "positions keep the old order";
    EXPECT_EQ(IndexOf(u"1.2"), 2);
    EXPECT_EQ(Next(u"1.3"), u"1.9") << "GetNext sees the change at once";
    Fill({u"1.0"});
    EXPECT_EQ(Item(I4(1)), u"1.0");
    EXPECT_EQ(Item(I4(4)), u"1.9");
}

TEST_F(Variables, FailuresCarryTheErrorRecordOfTheCollection) {
    rt::RegisterClass(CLSID_SnmpVariables, "Velk.SnmpVariables", &SnmpVariables::CreateInstance);
    EXPECT_EQ(Item(I4(0)), u"12001");
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
    rt::UnregisterClass(CLSID_SnmpVariables);

    rt::SetCreationFailure(CLSID_SnmpVariables, E_OUTOFMEMORY);
    ComPtr<ISnmpVariables> c;
    EXPECT_EQ(SnmpVariables::CreateInstance(IID_ISnmpVariables, c.PutVoid()), E_OUTOFMEMORY);
    rt::SetCreationFailure(CLSID_SnmpVariables, S_OK);
}

TEST_F(Variables, HostMembersAreReadThroughTheInterfaceAndMayFailOrInterfere) {
    testing::HostVariable *host, *failing;
    auto hostRef = testing::HostVariable::Make(u"1.5", &host);
    auto failingRef = testing::HostVariable::Make(u"1.0", &failing);
    failing->fail = true;  // reads as empty Oid and Name
    Fill({u"1.2", u"1.7"});
    c_->Add(hostRef.Get());
    c_->Add(failingRef.Get());
    EXPECT_EQ(Next(u"1.2"), u"1.5");
    EXPECT_EQ(Next(u""), u"1.2");
    EXPECT_EQ(Item(Text(u"1.5")), u"1.5");
    EXPECT_EQ(IndexOf(u"1.5"), 3) << "the failing member sorts first with an empty Oid";

    // A host that changes the collection while it is asked ends that lookup, safely.
    host->hook = [this] { c_->Remove(I4(1)); };
    EXPECT_EQ(Next(u"1.2"), u"12001");
    EXPECT_EQ(Count(), 3);
    host->hook = [this] { c_->Clear(); };
    EXPECT_EQ(Item(Text(u"1.7")), u"12001");
    EXPECT_EQ(Count(), 0);
    Fill({u"1.1"});
    c_->Add(hostRef.Get());
    Fill({u"1.9"});
    host->hook = [this] { c_->Remove(I4(1)); };
    EXPECT_EQ(Item(Text(u"1.9")), u"1.9") << "the order index is rebuilt after the change";
}

// Calls a member by name through IDispatch; positional arguments in natural order.
HRESULT Call(IDispatch* d, const char16_t* name, WORD flags, std::vector<Variant> args, VARIANT* result = nullptr) {
    DISPID id = 0, put = DISPID_PROPERTYPUT;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id); FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    const bool isPut = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
    return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}

TEST_F(Variables, AScriptingHostDrivesTheCollectionByName) {
    ComPtr<IDispatch> c;
    ASSERT_EQ(SnmpVariables::CreateInstance(IID_IDispatch, c.PutVoid()), S_OK);
    for (auto oid : {kServices, kDescr}) {
        Variant v = testing::Of(VT_DISPATCH, 0);
        ASSERT_EQ(SnmpVariable::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal)), S_OK);
        ASSERT_EQ(Call(v.pdispVal, u"Oid", DISPATCH_PROPERTYPUT, {Text(oid)}), S_OK);
        ASSERT_EQ(Call(c.Get(), u"Add", DISPATCH_METHOD, {v}), S_OK);
    }
    Variant count, item, next, oid, index, walked;
    ASSERT_EQ(Call(c.Get(), u"Count", DISPATCH_PROPERTYGET, {}, &count), S_OK);
    EXPECT_EQ(count.lVal, 2);
    ASSERT_EQ(Call(c.Get(), u"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(1)}, &item), S_OK);
    ASSERT_EQ(Call(item.pdispVal, u"Oid", DISPATCH_PROPERTYGET, {}, &oid), S_OK);
    EXPECT_EQ(std::u16string_view(oid.bstrVal), kDescr);
    ASSERT_EQ(Call(c.Get(), u"GetNext", DISPATCH_METHOD, {Text(kDescr)}, &next), S_OK);
    ASSERT_EQ(Call(next.pdispVal, u"Oid", DISPATCH_PROPERTYGET, {}, oid.Put()), S_OK);
    EXPECT_EQ(std::u16string_view(oid.bstrVal), kServices);
    ASSERT_EQ(Call(c.Get(), u"GetIndex", DISPATCH_METHOD, {Text(kServices)}, &index), S_OK);
    EXPECT_EQ(index.lVal, 2);
    ASSERT_EQ(Call(c.Get(), u"_NewEnum", DISPATCH_PROPERTYGET, {}, &walked), S_OK);
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(walked.punkVal->QueryInterface(IID_IEnumVARIANT, e.PutVoid()), S_OK);
    Variant items[3];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    ASSERT_EQ(Call(items[0].pdispVal, u"Oid", DISPATCH_PROPERTYGET, {}, oid.Put()), S_OK);
    EXPECT_EQ(std::u16string_view(oid.bstrVal), kServices) << "insertion order";

    // A failure comes back as an exception carrying the error number.
    EXCEPINFO excep{};
    Variant missing, arg = I4(7);
    DISPPARAMS one{&arg, nullptr, 1, 0};
    EXPECT_EQ(c->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &one, &missing, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, kInvalidParam1);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
}

}  // namespace
}  // namespace velk::model
