// Trap definitions and the trap collection: initial values, the shared Oids collection,
// lookup by position and by Name, removal, ownership and error records.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "model/trap.h"
#include "model/traps.h"
#include "runtime/object.h"
#include "runtime/registry.h"
#include "sock/velk_strings.h"
#include "model/model_support.h"
#include "support/host_objects.h"
#include "velk/com.h"

namespace velk::model {
namespace {

constexpr HRESULT kInvalidParam1 = static_cast<HRESULT>(0x800A2EE1u);

// A trap implemented by a host: only its Name answers.
class HostTrap final : public velk::testing::HostObject<ISnmpTrap> {
public:
    explicit HostTrap(std::u16string name) : name_(std::move(name)) {}

    std::function<void()> onGetName;  // host code run inside get_Name
    STDMETHOD(get_Name)(BSTR* out) override {
        if (onGetName) onGetName();
        *out = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return S_OK;
    }
    STDMETHOD(put_Name)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_SpecificTrap)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(put_SpecificTrap)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_Enterprise)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Enterprise)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Description)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Description)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_Oids)(IVelkStrings**) override { return E_NOTIMPL; }
    STDMETHOD(get_Status)(StatusConstants*) override { return E_NOTIMPL; }
    STDMETHOD(put_Status)(StatusConstants) override { return E_NOTIMPL; }
    STDMETHOD(get_Reference)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(put_Reference)(BSTR) override { return E_NOTIMPL; }

private:
    std::u16string name_;
};

ComPtr<ISnmpTrap> NewTrap(std::u16string_view name) {
    ComPtr<ISnmpTrap> trap;
    EXPECT_EQ(CreateSnmpTrap(trap.Put()), S_OK);
    if (trap && !name.empty()) trap->put_Name(Bstr(name).Get());
    return trap;
}

ComPtr<ISnmpTraps> NewTraps() {
    ComPtr<ISnmpTraps> traps;
    EXPECT_EQ(SnmpTraps::CreateInstance(IID_ISnmpTraps, traps.PutVoid()), S_OK);
    return traps;
}

std::u16string NameOf(ISnmpTrap* trap) {
    Bstr name;
    trap->get_Name(name.Put());
    return std::u16string(name.View());
}

std::vector<std::u16string> Names(ISnmpTraps* traps) {
    LONG n = 0;
    traps->get_Count(&n);
    std::vector<std::u16string> names;
    for (LONG i = 1; i <= n; ++i) {
        ComPtr<ISnmpTrap> t;
        EXPECT_EQ(traps->Item(Variant(i), t.Put()), S_OK);
        names.push_back(NameOf(t.Get()));
    }
    return names;
}

LONG CountOf(IVelkStrings* strings) {
    LONG n = -1;
    strings->get_Count(&n);
    return n;
}

class Traps : public testing::ModelTest {};

TEST_F(Traps, NewTrapHasItsInitialValuesAndOneOidsCollection) {
    auto trap = NewTrap(u"");
    ASSERT_TRUE(trap);
    for (auto get : {&ISnmpTrap::get_Name, &ISnmpTrap::get_Enterprise, &ISnmpTrap::get_Description,
                     &ISnmpTrap::get_Reference}) {
        BSTR text = SysAllocString(u"sentinel");
        BSTR before = text;
        EXPECT_EQ((trap.Get()->*get)(&text), S_OK);
        EXPECT_EQ(text, nullptr);
        SysFreeString(before);
    }
    LONG specific = 0;
    trap->get_SpecificTrap(&specific);
    EXPECT_EQ(specific, -1);
    StatusConstants status = snmpCurrent;
    trap->get_Status(&status);
    EXPECT_EQ(status, snmpMandatory);

    ComPtr<IVelkStrings> first, second;
    ASSERT_EQ(trap->get_Oids(first.Put()), S_OK);
    ASSERT_EQ(trap->get_Oids(second.Put()), S_OK);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(CountOf(first.Get()), 0);
    first->Add(Bstr(u"1.3.6.1.2.1.2.2.1.1").Get(), 0);
    EXPECT_EQ(CountOf(second.Get()), 1);
}

TEST_F(Traps, ReplacingOidsReleasesTheOldCollection) {
    ComPtr<SnmpTrap> trap;
    ASSERT_EQ(CreateSnmpTrap(&trap), S_OK);
    ComPtr<IVelkStrings> old, replacement, seen;
    trap->get_Oids(old.Put());
    ASSERT_EQ(sock::CreateVelkStrings(replacement.Put()), S_OK);
    replacement->Add(Bstr(u"1.3.6.1.6.3.1.1.5.3").Get(), 0);

    const long before = rt::LiveObjectCount();
    old.Reset();  // the trap still holds it
    EXPECT_EQ(rt::LiveObjectCount(), before);
    ASSERT_EQ(trap->ReplaceOids(replacement.Get()), S_OK);
    EXPECT_EQ(rt::LiveObjectCount(), before - 1);
    EXPECT_EQ(trap->ReplaceOids(nullptr), E_POINTER);
    trap->get_Oids(seen.Put());
    EXPECT_EQ(seen.Get(), replacement.Get());
    EXPECT_EQ(CountOf(seen.Get()), 1);
}

TEST_F(Traps, CreationFailsWhenItsOidsCollectionCannotBeCreated) {
    for (const CLSID* clsid : {&CLSID_VelkStrings, &CLSID_SnmpTrap}) {
        rt::SetCreationFailure(*clsid, E_ACCESSDENIED);
        ComPtr<IUnknown> unknown;
        EXPECT_EQ(SnmpTrap::CreateInstance(IID_IUnknown, unknown.PutVoid()), E_ACCESSDENIED);
        EXPECT_FALSE(unknown);
        ComPtr<ISnmpTrap> trap;
        EXPECT_EQ(CreateSnmpTrap(trap.Put()), E_ACCESSDENIED);
        EXPECT_FALSE(trap);
        rt::SetCreationFailure(*clsid, S_OK);
    }
    rt::SetCreationFailure(CLSID_SnmpTraps, E_ACCESSDENIED);
    ComPtr<IUnknown> traps;
    EXPECT_EQ(SnmpTraps::CreateInstance(IID_IUnknown, traps.PutVoid()), E_ACCESSDENIED);
    rt::SetCreationFailure(CLSID_SnmpTraps, S_OK);
}

Variant Typed(VARTYPE vt) {
    Variant v;
    v.vt = vt;
    return v;
}

TEST_F(Traps, ItemFindsByPositionOrName) {
    auto traps = NewTraps();
    for (const char16_t* name : {u"a", u"b", u"c"}) traps->Add(NewTrap(name).Get());
    // A host's trap is found by the Name its interface gives.
    auto host = ComPtr<ISnmpTrap>::Adopt(new HostTrap(u"host"));
    traps->Add(host.Get());

    Variant two(LONG{2});
    Variant refToTwo = Typed(VT_BYREF | VT_VARIANT);
    refToTwo.pvarVal = &two;
    Bstr c(u"c");
    BSTR cText = c.Get();
    Variant refToText = Typed(VT_BYREF | VT_BSTR);
    refToText.pbstrVal = &cText;
    Variant rounded = Typed(VT_R8);
    rounded.dblVal = 1.4;
    Variant yes = Typed(VT_BOOL);
    yes.boolVal = VARIANT_TRUE;
    Variant small = Typed(VT_I2);
    small.iVal = 3;
    Variant object = Typed(VT_DISPATCH);
    object.pdispVal = host.Get();
    host->AddRef();

    struct Case {
        const char* name;
        const VARIANT* index;
        HRESULT result;
        const char16_t* found;  // null: no object
    };
    const Variant b(std::u16string_view(u"b")), twoText(std::u16string_view(u"2")),
        upperB(std::u16string_view(u"B")), hostName(std::u16string_view(u"host")),
        zero(LONG{0}), five(LONG{5}), empty, null = Typed(VT_NULL),
        noName(std::u16string_view(u""));
    const Case cases[] = {
        {"position 2", &two, S_OK, u"b"},
        {"VT_I2 3", &small, S_OK, u"c"},
        {"name b", &b, S_OK, u"b"},
        {"text 2 reads as a number", &twoText, S_OK, u"b"},
        {"name of a host trap", &hostName, S_OK, u"host"},
        {"reference to a VARIANT", &refToTwo, S_OK, u"b"},
        {"reference to a text", &refToText, S_OK, u"c"},
        {"double rounds", &rounded, S_OK, u"a"},
        {"names are case-sensitive", &upperB, S_OK, nullptr},
        {"empty name matches no named trap", &noName, S_OK, nullptr},
        {"position 0", &zero, kInvalidParam1, nullptr},
        {"Count + 1", &five, kInvalidParam1, nullptr},
        {"true is -1", &yes, kInvalidParam1, nullptr},
        {"empty VARIANT is 0", &empty, kInvalidParam1, nullptr},
        {"null VARIANT", &null, kInvalidParam1, nullptr},
        {"an object", &object, kInvalidParam1, nullptr},
    };
    auto sentinel = ComPtr<ISnmpTrap>::Adopt(new HostTrap(u"sentinel"));
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ISnmpTrap* raw = sentinel.Get();  // must be overwritten, also on failure
        EXPECT_EQ(traps->Item(*k.index, &raw), k.result);
        ASSERT_NE(raw, sentinel.Get());
        auto found = ComPtr<ISnmpTrap>::Adopt(raw);
        if (k.found) {
            ASSERT_TRUE(found);
            EXPECT_EQ(NameOf(found.Get()), k.found);
        } else {
            EXPECT_FALSE(found);
        }
    }
}

TEST_F(Traps, HostTrapEmptyingTheCollectionFromGetNameEndsTheLookup) {
    auto traps = NewTraps();
    auto* host = new HostTrap(u"a");
    traps->Add(host);
    host->Release();  // the collection holds the only reference
    traps->Add(NewTrap(u"b").Get());
    host->onGetName = [&] { traps->Clear(); };
    ComPtr<ISnmpTrap> found;
    EXPECT_EQ(traps->Item(Variant(std::u16string_view(u"b")), found.Put()), S_OK);
    EXPECT_FALSE(found);
    LONG n = -1;
    traps->get_Count(&n);
    EXPECT_EQ(n, 0);
}

TEST_F(Traps, RemoveTakesOutOnlyTheEntryFound) {
    auto traps = NewTraps();
    auto twin = NewTrap(u"x");
    for (const char16_t* name : {u"a", u"b", u"c"}) traps->Add(NewTrap(name).Get());
    traps->Add(twin.Get());
    traps->Add(NewTrap(u"x").Get());
    traps->Add(twin.Get());  // the same object twice
    twin->put_SpecificTrap(1);

    EXPECT_EQ(traps->Remove(Variant(std::u16string_view(u"c"))), S_OK);
    EXPECT_EQ(Names(traps.Get()), (std::vector<std::u16string>{u"a", u"b", u"x", u"x", u"x"}));
    EXPECT_EQ(traps->Remove(Variant(std::u16string_view(u"d"))), S_OK);
    EXPECT_EQ(traps->Remove(Variant(LONG{0})), kInvalidParam1);
    EXPECT_EQ(traps->Remove(Variant(LONG{6})), kInvalidParam1);
    LONG n = 0;
    traps->get_Count(&n);
    EXPECT_EQ(n, 5);

    // By name the first added goes; the others stay.
    ComPtr<ISnmpTrap> first;
    traps->Item(Variant(std::u16string_view(u"x")), first.Put());
    EXPECT_EQ(first.Get(), twin.Get());
    EXPECT_EQ(traps->Remove(Variant(std::u16string_view(u"x"))), S_OK);
    ComPtr<ISnmpTrap> next;
    traps->Item(Variant(std::u16string_view(u"x")), next.Put());
    EXPECT_NE(next.Get(), twin.Get());
    ComPtr<ISnmpTrap> last;
    traps->Item(Variant(LONG{4}), last.Put());
    EXPECT_EQ(last.Get(), twin.Get());

    EXPECT_EQ(traps->Clear(), S_OK);
    traps->get_Count(&n);
    EXPECT_EQ(n, 0);
}

TEST_F(Traps, AppendingTakesOverTheCallersReferenceAndRefusesNull) {
    ComPtr<ISnmpTraps> traps = NewTraps();
    auto* own = static_cast<SnmpTraps*>(traps.Get());
    EXPECT_EQ(traps->Add(nullptr), E_POINTER);
    EXPECT_EQ(own->AppendOwned(nullptr), E_POINTER);
    const long before = rt::LiveObjectCount();
    for (int i = 0; i < 25; ++i) {  // across several pool blocks
        ComPtr<SnmpTrap> trap;
        ASSERT_EQ(CreateSnmpTrap(&trap), S_OK);
        ASSERT_EQ(own->AppendOwned(trap.Detach()), S_OK);
    }
    LONG n = 0;
    traps->get_Count(&n);
    EXPECT_EQ(n, 25);
    EXPECT_GT(rt::LiveObjectCount(), before);
    traps.Reset();  // releases every trap and its Oids collection
    EXPECT_EQ(rt::LiveObjectCount(), before - 1);
}

HRESULT CreateTraps(REFIID iid, void** out) { return SnmpTraps::CreateInstance(iid, out); }

TEST_F(Traps, FailuresCarryARecordWithTheCollectionAsSource) {
    // The versioned ProgID comes from the registry; register the class only if nobody did.
    LPOLESTR progId = nullptr;
    const bool registered = ProgIDFromCLSID(CLSID_SnmpTraps, &progId) == S_OK;
    CoTaskMemFree(progId);
    if (!registered) rt::RegisterClass(CLSID_SnmpTraps, "Velk.SnmpTraps", &CreateTraps);
    ComPtr<ISnmpTraps> traps;
    ASSERT_EQ(CoCreateInstance(CLSID_SnmpTraps, nullptr, CLSCTX_INPROC_SERVER, IID_ISnmpTraps,
                               traps.PutVoid()),
              S_OK);
    traps->Add(NewTrap(u"a").Get());
    ComPtr<ISnmpTrap> none;
    ASSERT_EQ(traps->Item(Variant(LONG{2}), none.Put()), kInvalidParam1);

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(traps.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ISnmpTraps), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr source, helpFile;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetHelpFile(helpFile.Put());
    info->GetHelpContext(&context);
    EXPECT_EQ(source.View(), u"Velk.SnmpTraps.1");
    EXPECT_EQ(helpFile.View(), u"UlvaneTcp.hlp");
    EXPECT_EQ(context, 12001u);

    // A text that matches nothing is no error: no new record.
    ASSERT_EQ(traps->Item(Variant(std::u16string_view(u"zz")), none.Put()), S_OK);
    ComPtr<IErrorInfo> noRecord;
    EXPECT_EQ(GetErrorInfo(0, noRecord.Put()), S_FALSE);
    traps.Reset();
    if (!registered) rt::UnregisterClass(CLSID_SnmpTraps);
}


}  // namespace
}  // namespace velk::model
