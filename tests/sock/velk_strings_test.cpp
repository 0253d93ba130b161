// VelkStrings through its C++ interface and by name through IDispatch; the pooled list.
#include <gtest/gtest.h>

#include <vector>

#include "sock/host_info.h"
#include "sock/pooled_list.h"
#include "sock/velk_strings.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using velk::Variant;

ComPtr<IVelkStrings> NewStrings() {
    ComPtr<IVelkStrings> s;
    EXPECT_EQ(velk::sock::CreateVelkStrings(s.Put()), S_OK);
    return s;
}

std::u16string Item(IVelkStrings* s, LONG i) {
    Bstr b;
    EXPECT_EQ(s->get_Item(i, b.Put()), S_OK);
    return std::u16string(b.View());
}

TEST(VelkStrings, AddSplitsAtTheDelimiterAndAllJoins) {
    auto s = NewStrings();
    Bstr comma(u",");
    s->put_Delimiter(comma.Get());
    s->Add(Bstr(u"ifIndex,ifDescr").Get(), 0);
    s->Add(Bstr(u"last").Get(), 0);
    s->Add(Bstr(u"first").Get(), 1);
    LONG n = 0;
    s->get_Count(&n);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(Item(s.Get(), 1), u"first");
    EXPECT_EQ(Item(s.Get(), 2), u"ifIndex");
    Bstr all;
    s->get_All(all.Put());
    EXPECT_EQ(all.View(), u"first,ifIndex,ifDescr,last");
}

TEST(VelkStrings, FindIsAPrefixSearchAndRemoveReturnsTheText) {
    auto s = NewStrings();
    s->Add(Bstr(u"FOO-MIB-EXT").Get(), 0);
    s->Add(Bstr(u"BAR-MIB").Get(), 0);
    Bstr found;
    s->Find(Bstr(u"FOO-MIB").Get(), found.Put());
    EXPECT_EQ(found.View(), u"FOO-MIB-EXT");
    s->Find(Bstr(u"BAZ").Get(), found.Put());
    EXPECT_TRUE(found.Empty());
    Bstr removed;
    EXPECT_EQ(s->Remove(1, removed.Put()), S_OK);
    EXPECT_EQ(removed.View(), u"FOO-MIB-EXT");
    EXPECT_EQ(Item(s.Get(), 1), u"BAR-MIB");
}

TEST(VelkStrings, PositionsOutsideTheListFailWith12001) {
    auto s = NewStrings();
    s->Add(Bstr(u"a").Get(), 0);
    Bstr b;
    for (LONG bad : {0, 2, -1}) {
        EXPECT_EQ(s->get_Item(bad, b.Put()), static_cast<HRESULT>(0x800A2EE1u)) << bad;
        EXPECT_EQ(s->put_Item(bad, b.Get()), static_cast<HRESULT>(0x800A2EE1u)) << bad;
        EXPECT_EQ(s->Remove(bad, b.Put()), static_cast<HRESULT>(0x800A2EE1u)) << bad;
    }
    ComPtr<IErrorInfo> info;
    GetErrorInfo(0, info.Put());
    LONG n = 0;
    s->get_Count(&n);
    EXPECT_EQ(n, 1);
}

TEST(VelkStrings, LateBoundByNameWithEnumeration) {
    auto s = NewStrings();
    ComPtr<IDispatch> d;
    ASSERT_EQ(s.As(&d), S_OK);
    auto call = [&](const char16_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* r) {
        DISPID id;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << (const char*)nullptr;
        std::vector<VARIANT> rev(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS p{rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) p.rgdispidNamedArgs = &put, p.cNamedArgs = 1;
        return d->Invoke(id, IID_NULL, 0, flags, &p, r, nullptr, nullptr);
    };
    Variant a(u"one"), b(u"two"), r;
    ASSERT_EQ(call(u"add", DISPATCH_METHOD, {a}, nullptr), S_OK);  // Position optional
    ASSERT_EQ(call(u"Add", DISPATCH_METHOD, {b}, nullptr), S_OK);
    ASSERT_EQ(call(u"Count", DISPATCH_PROPERTYGET, {}, &r), S_OK);
    EXPECT_EQ(r.lVal, 2);
    ASSERT_EQ(call(u"Item", DISPATCH_PROPERTYGET, {Variant(2)}, r.Put()), S_OK);
    EXPECT_EQ(Bstr(r.bstrVal).View(), u"two");
    ASSERT_EQ(call(u"Item", DISPATCH_PROPERTYPUT, {Variant(1), Variant(u"uno")}, nullptr), S_OK);
    EXPECT_EQ(Item(s.Get(), 1), u"uno");

    ASSERT_EQ(call(u"_NewEnum", DISPATCH_PROPERTYGET, {}, r.Put()), S_OK);
    ASSERT_EQ(r.vt, VT_UNKNOWN);
    ComPtr<IEnumVARIANT> e;
    ASSERT_EQ(r.punkVal->QueryInterface(IID_IEnumVARIANT, e.PutVoid()), S_OK);
    VARIANT items[3];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(Bstr::Adopt(items[0].bstrVal).View(), u"uno");
    EXPECT_EQ(Bstr::Adopt(items[1].bstrVal).View(), u"two");
}

TEST(HostInfo, FirstAddressIsDottedIpv4) {
    ComPtr<IVelkHostInfo> host;
    ASSERT_EQ(velk::sock::CreateHostInfo(host.Put()), S_OK);
    ComPtr<IVelkStrings> addresses;
    ASSERT_EQ(host->get_Addresses(addresses.Put()), S_OK);
    std::u16string first = Item(addresses.Get(), 1);
    int dots = 0;
    for (char16_t c : first) {
        if (c == u'.') ++dots;
        else EXPECT_TRUE(c >= u'0' && c <= u'9');
    }
    EXPECT_EQ(dots, 3);
}

TEST(PooledList, NodesComeFromBlocksOfTenAndAreReused) {
    velk::sock::PooledList<int> list;
    std::vector<velk::sock::PooledList<int>::Node*> nodes;
    for (int i = 0; i < 11; ++i) nodes.push_back(list.PushBack(i));
    EXPECT_EQ(list.Capacity(), 20u);
    list.Remove(nodes[0]);
    list.Remove(nodes[5]);
    list.Remove(nodes[10]);
    std::vector<int> seen;
    list.ForEach([&](int v) { seen.push_back(v); });
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 6, 7, 8, 9}));
    for (int i = 0; i < 12; ++i) list.PushBack(100 + i);  // 3 reused + 9 of the free block
    EXPECT_EQ(list.Capacity(), 20u);
    EXPECT_EQ(list.Size(), 20u);
    list.PushBack(999);
    EXPECT_EQ(list.Capacity(), 30u);
    EXPECT_EQ(list.Tail()->value, 999);
    EXPECT_EQ(list.At(0)->value, 1);
}

}  // namespace
