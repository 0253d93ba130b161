// A scripting host's view: everything by name through IDispatch only. The classes are
// created by ProgID, a message is built, encoded, decoded into a second message, and its
// variables are walked with _NewEnum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message_test_support.h"
#include "model/variables.h"
#include "runtime/registry.h"

namespace velk::codec::testing {
namespace {

// Late-bound calls by member name.
class Script {
public:
    static ComPtr<IDispatch> Create(const char16_t* progId) {
        CLSID clsid;
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        ComPtr<IDispatch> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid()), S_OK);
        return object;
    }

    static DISPID Id(IDispatch* object, const char16_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << std::string(name, name + std::char_traits<char16_t>::length(name));
        return id;
    }

    // Arguments in the caller's order.
    static HRESULT Invoke(IDispatch* object, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                          VARIANT* result = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // DISPPARAMS lists them last first
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &named;
            params.cNamedArgs = 1;
        }
        EXCEPINFO excep{};
        UINT argErr = 0;
        const HRESULT hr = object->Invoke(Id(object, name), IID_NULL, 0, flags, &params, result, &excep, &argErr);
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        return hr;
    }

    static void Put(IDispatch* object, const char16_t* name, const Variant& value) {
        EXPECT_EQ(Invoke(object, name, DISPATCH_PROPERTYPUT, {value}), S_OK);
    }
    static Variant Get(IDispatch* object, const char16_t* name) {
        Variant result;
        EXPECT_EQ(Invoke(object, name, DISPATCH_PROPERTYGET, {}, &result), S_OK);
        return result;
    }
    static HRESULT Call(IDispatch* object, const char16_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr) {
        return Invoke(object, name, DISPATCH_METHOD, std::move(args), result);
    }
};

Variant Text(std::u16string_view s) { return Variant(s); }
Variant Long(LONG v) { return Variant(v); }
VARIANT Dispatch(IDispatch* d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = d;  // borrowed for the call
    return v;
}

class LateBinding : public LeakChecked {
protected:
    void SetUp() override {
        LeakChecked::SetUp();
        rt::RegisterClass(CLSID_SnmpMessage, "Velk.SnmpMessage", &SnmpMessage::CreateInstance);
        rt::RegisterClass(CLSID_SnmpVariable, "Velk.SnmpVariable", &model::SnmpVariable::CreateInstance);
        rt::RegisterClass(CLSID_SnmpVariables, "Velk.SnmpVariables", &model::SnmpVariables::CreateInstance);
    }
    void TearDown() override {
        rt::UnregisterClass(CLSID_SnmpMessage);
        rt::UnregisterClass(CLSID_SnmpVariable);
        rt::UnregisterClass(CLSID_SnmpVariables);
        LeakChecked::TearDown();
    }
};

TEST_F(LateBinding, BuildEncodeDecodeAndWalkByName) {
    auto message = Script::Create(u"Velk.SnmpMessage");
    ASSERT_TRUE(message);
    Script::Put(message.Get(), u"Type", Long(snmpResponse2));
    Script::Put(message.Get(), u"Id", Long(4711));
    Script::Put(message.Get(), u"Community", Text(u"public"));
    Variant variables = Script::Get(message.Get(), u"Variables");
    ASSERT_EQ(variables.vt, VT_DISPATCH);

    struct Case {
        const char16_t* oid;
        LONG type;
        const char16_t* value;
    } specs[] = {{u"1.3.6.1.2.1.1.5.0", snmpOctetString, u"router"},
                 {u"1.3.6.1.2.1.1.3.0", snmpTimeTicks, u"123456"},
                 {u"1.3.6.1.2.1.2.2.1.10.1", snmpCounter64, u"18446744073709551615"}};
    for (const Case& s : specs) {
        auto variable = Script::Create(u"Velk.SnmpVariable.1");
        Script::Put(variable.Get(), u"Oid", Text(s.oid));
        Script::Put(variable.Get(), u"type", Long(s.type));  // names are case-insensitive
        Script::Put(variable.Get(), u"Value", Text(s.value));
        ASSERT_EQ(Script::Call(variables.pdispVal, u"Add", {Dispatch(variable.Get())}), S_OK);
    }

    // Encode into a byte array passed by reference, as a script passes a variable.
    Variant bytes = ByteArray({});
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &bytes;
    ASSERT_EQ(Script::Call(message.Get(), u"Encode", {ref}), S_OK);
    ASSERT_EQ(bytes.vt, VT_ARRAY | VT_UI1);
    EXPECT_GT(ArrayBytes(bytes).size(), 60u);

    auto received = Script::Create(u"Velk.SnmpMessage");
    ASSERT_EQ(Script::Call(received.Get(), u"Decode", {bytes}), S_OK);
    EXPECT_EQ(Script::Get(received.Get(), u"Id").lVal, 4711);
    EXPECT_EQ(Script::Get(received.Get(), u"Type").lVal, snmpResponse2);
    EXPECT_EQ(ViewOf(Script::Get(received.Get(), u"Community").bstrVal), u"public");

    // For Each v In received.Variables
    Variant list = Script::Get(received.Get(), u"Variables");
    EXPECT_EQ(Script::Get(list.pdispVal, u"Count").lVal, 3);
    Variant enumerator = Script::Get(list.pdispVal, u"_NewEnum");
    ASSERT_EQ(enumerator.vt, VT_UNKNOWN);
    ComPtr<IEnumVARIANT> items;
    ASSERT_EQ(enumerator.punkVal->QueryInterface(IID_IEnumVARIANT, items.PutVoid()), S_OK);
    std::size_t n = 0;
    for (Variant item; items->Next(1, item.Put(), nullptr) == S_OK; ++n) {
        ASSERT_EQ(item.vt, VT_DISPATCH);
        ASSERT_LT(n, std::size(specs));
        EXPECT_EQ(ViewOf(Script::Get(item.pdispVal, u"Oid").bstrVal), specs[n].oid);
        EXPECT_EQ(Script::Get(item.pdispVal, u"Type").lVal, specs[n].type);
        EXPECT_EQ(ViewOf(Script::Get(item.pdispVal, u"Value").bstrVal), specs[n].value);
    }
    EXPECT_EQ(n, std::size(specs));

    // A failed Decode reaches the script as an exception with the error's number.
    Variant garbage = ByteArray(Hex("30 03 02 01"));
    EXCEPINFO excep{};
    UINT argErr = 0;
    VARIANT arg = garbage;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    const HRESULT hr = received->Invoke(Script::Id(received.Get(), u"Decode"), IID_NULL, 0, DISPATCH_METHOD, &params,
                                        nullptr, &excep, &argErr);
    EXPECT_TRUE(hr == DISP_E_EXCEPTION || hr == kFormatErrorResult);
    if (hr == DISP_E_EXCEPTION) {
        EXPECT_EQ(excep.scode, kFormatErrorResult);
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
}

}  // namespace
}  // namespace velk::codec::testing
