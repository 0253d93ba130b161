// The object map: every registered class is creatable by both ProgIDs, answers IDispatch
// and ISupportErrorInfo for its interface, and reports errors with its versioned ProgID.
#include <gtest/gtest.h>

#include <string>

#include "server/object_map.h"
#include "typelib/typelib.h"
#include "velk/sock.h"

namespace {

using velk::Bstr;
using velk::ComPtr;

class ObjectMap : public ::testing::Test {
protected:
    static void SetUpTestSuite() { velk::server::RegisterClasses(); }
};

std::u16string Widen(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

TEST_F(ObjectMap, EveryRegisteredClassIsCreatableByBothProgIds) {
    int registered = 0;
    for (const velk::rt::LibraryDef* lib : {&VelkSnmpLibrary(), &VelkSockLibrary()}) {
        for (size_t i = 0; i < lib->classCount; ++i) {
            const velk::rt::ClassDef& c = *lib->classes[i];
            std::u16string progId = Widen(c.progId);
            CLSID clsid{};
            if (CLSIDFromProgID(progId.c_str(), &clsid) != S_OK) continue;  // not built yet
            ++registered;
            EXPECT_TRUE(clsid == *c.clsid) << c.name;
            CLSID versioned{};
            EXPECT_EQ(CLSIDFromProgID((progId + u".1").c_str(), &versioned), S_OK);
            EXPECT_TRUE(versioned == clsid);
            ComPtr<IDispatch> d;
            ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       d.PutVoid()),
                      S_OK)
                << c.name;
            ComPtr<IUnknown> itf;
            EXPECT_EQ(d->QueryInterface(*c.defaultInterface->iid, itf.PutVoid()), S_OK) << c.name;
            ComPtr<ISupportErrorInfo> sei;
            ASSERT_EQ(d->QueryInterface(IID_ISupportErrorInfo, sei.PutVoid()), S_OK) << c.name;
            EXPECT_EQ(sei->InterfaceSupportsErrorInfo(*c.defaultInterface->iid), S_OK) << c.name;
            ComPtr<ITypeInfo> info;
            ASSERT_EQ(d->GetTypeInfo(0, 0, info.Put()), S_OK);
            TYPEATTR* attr = nullptr;
            ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
            EXPECT_TRUE(attr->guid == *c.defaultInterface->iid);
            info->ReleaseTypeAttr(attr);
        }
    }
    EXPECT_GE(registered, 2);
}

TEST_F(ObjectMap, ErrorsCarryTheVersionedProgIdAsSource) {
    ComPtr<IVelkStrings> strings;
    ASSERT_EQ(CoCreateInstance(CLSID_VelkStrings, nullptr, CLSCTX_INPROC_SERVER, IID_IVelkStrings,
                               strings.PutVoid()),
              S_OK);
    Bstr text;
    EXPECT_EQ(strings->get_Item(0, text.Put()), static_cast<HRESULT>(0x800A2EE1u));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.Put()), S_OK);
    Bstr source, help;
    DWORD context = 0;
    info->GetSource(source.Put());
    info->GetHelpFile(help.Put());
    info->GetHelpContext(&context);
    EXPECT_EQ(source.View(), u"Velk.Strings.1");
    EXPECT_EQ(help.View(), u"UlvaneTcp.hlp");
    EXPECT_EQ(context, 12001u);
}

TEST_F(ObjectMap, TypeLibrariesAreRegisteredAndListEnumerations) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_VelkSnmp, 1, 0, 0, lib.Put()), S_OK);
    Bstr name, doc;
    ASSERT_EQ(lib->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.View(), u"VelkSnmp");
    EXPECT_EQ(doc.View(), u"Velk Snmp Controls and Objects (Version 2.0)");
    int classes = 0;
    bool sawErrorConstants = false;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind;
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        if (kind == TKIND_COCLASS) ++classes;
        if (kind != TKIND_ENUM) continue;
        ComPtr<ITypeInfo> e;
        ASSERT_EQ(lib->GetTypeInfo(i, e.Put()), S_OK);
        Bstr ename;
        e->GetDocumentation(-1, ename.Put(), nullptr, nullptr, nullptr);
        if (ename.View() != u"ErrorConstants") continue;
        sawErrorConstants = true;
        TYPEATTR* attr = nullptr;
        e->GetTypeAttr(&attr);
        EXPECT_EQ(attr->cVars, 57);
        e->ReleaseTypeAttr(attr);
    }
    EXPECT_EQ(classes, 10);
    EXPECT_TRUE(sawErrorConstants);
    ComPtr<ITypeLib> none;
    EXPECT_EQ(LoadRegTypeLib(LIBID_VelkSnmp, 2, 0, 0, none.Put()), TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
