// SnmpVariable: initial state, the text/byte views of the value store, by-reference puts,
// ValueName, and the Index collection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/velk_variant.h"
#include "model_support.h"
#include "sock/velk_strings.h"
#include "velk/sock.h"

namespace velk::model {
namespace {

using testing::ModelTest;
using testing::View;

std::vector<uint8_t> ArrayBytes(const VARIANT& v) {
    CVelkVariant b;
    EXPECT_TRUE(b.Read(v));
    return {b.Data(), b.Data() + b.Size()};
}

std::u16string ValueText(ISnmpVariable* v) {
    Bstr text;
    EXPECT_EQ(v->get_Value(text.Put()), S_OK);
    return std::u16string(text.View());
}

class Variable : public ModelTest {
protected:
    ComPtr<ISnmpVariable> v_ = testing::NewVariable(u"");
};

TEST_F(Variable, StartsEmptyWithTheDocumentedDefaults) {
    ComPtr<ISnmpVariable> v;
    ASSERT_EQ(CreateSnmpVariable(v.Put()), S_OK);
    AccessConstants access;
    StatusConstants status;
    VariableTypeConstants type;
    VariableExceptionConstants exception;
    VARIANT_BOOL repeat = -5;
    v->get_Access(&access);
    v->get_Status(&status);
    v->get_Type(&type);
    v->get_Exception(&exception);
    v->get_Repeat(&repeat);
    EXPECT_EQ(access, snmpVariableAccessNotUsed);
    EXPECT_EQ(status, snmpMandatory);
    EXPECT_EQ(type, snmpNull);
    EXPECT_EQ(exception, snmpNoException);
    EXPECT_EQ(repeat, VARIANT_FALSE);
    EXPECT_EQ(ValueText(v.Get()), u"");
    Variant ex;
    ASSERT_EQ(v->get_ValueEx(&ex), S_OK);
    EXPECT_EQ(ex.vt, VT_ARRAY | VT_UI1);
    EXPECT_TRUE(ArrayBytes(ex).empty());
    Bstr name, oid;
    v->get_ValueName(name.Put());
    EXPECT_EQ(name.View(), u"Invalid Enumeration Value");
    ASSERT_EQ(v->get_Oid(oid.Put()), S_OK);
    EXPECT_EQ(oid.Get(), nullptr);

    ComPtr<IVelkStrings> first, second;
    ASSERT_EQ(v->get_Index(first.Put()), S_OK);
    ASSERT_EQ(v->get_Index(second.Put()), S_OK);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get());
    LONG count = -1;
    first->get_Count(&count);
    EXPECT_EQ(count, 0);
}

TEST_F(Variable, TextAndBytesConvertThroughTheCodePageBothWays) {
    Bstr hello(u"hello");
    v_->put_Value(hello.Get());
    Variant ex;
    v_->get_ValueEx(&ex);
    EXPECT_EQ(ArrayBytes(ex), (std::vector<uint8_t>{0x68, 0x65, 0x6C, 0x6C, 0x6F}));

    Bstr wide(u"a\u0100");  // beyond the code page: '?'
    v_->put_Value(wide.Get());
    v_->get_ValueEx(ex.Put());
    EXPECT_EQ(ArrayBytes(ex), (std::vector<uint8_t>{'a', '?'}));

    ASSERT_TRUE(SnmpVariable::From(v_.Get())->SetValueBytes(reinterpret_cast<const uint8_t*>("A\0B"), 3));
    EXPECT_EQ(ValueText(v_.Get()), std::u16string(u"A\0B", 3));
}

TEST_F(Variable, AStoreOfAnotherTypeReadsAsEmptyTextAndNoValue) {
    v_->put_ValueEx(testing::I4(12));
    Variant ex;
    ASSERT_EQ(v_->get_ValueEx(&ex), S_OK);
    EXPECT_EQ(ex.vt, VT_EMPTY);
    EXPECT_EQ(ValueText(v_.Get()), u"");
}

TEST_F(Variable, ValueExOfAReferenceStoresACopyOfTheReferencedValue) {
    Variant text(std::u16string_view(u"abc"));
    VARIANT ref = testing::RefTo(&text);
    ASSERT_EQ(v_->put_ValueEx(ref), S_OK);
    text.Clear();  // the caller's value goes away; the variable kept its own copy
    EXPECT_EQ(ValueText(v_.Get()), u"abc");

    BSTR inner = SysAllocString(u"xyz");
    VARIANT byRefText;
    byRefText.vt = VT_BYREF | VT_BSTR;
    byRefText.pbstrVal = &inner;
    ASSERT_EQ(v_->put_ValueEx(byRefText), S_OK);
    SysFreeString(inner);
    EXPECT_EQ(ValueText(v_.Get()), u"xyz");

    VARIANT dangling;
    dangling.vt = VT_BYREF | VT_VARIANT;
    dangling.pvarVal = nullptr;
    ASSERT_EQ(v_->put_ValueEx(dangling), S_OK);
    Variant ex;
    v_->get_ValueEx(&ex);
    EXPECT_EQ(ex.vt, VT_EMPTY) << "an unfollowable reference stores no value";
}

TEST_F(Variable, TypeAndValueAreIndependent) {
    Bstr twelve(u"12");
    v_->put_Value(twelve.Get());
    v_->put_Type(snmpObjectID);
    EXPECT_EQ(ValueText(v_.Get()), u"12");
    v_->put_Repeat(1);
    VARIANT_BOOL repeat = 0;
    v_->get_Repeat(&repeat);
    EXPECT_EQ(repeat, 1);
}

TEST_F(Variable, ValueNameFindsTheLabelOfAnIntegerEnumeration) {
    struct Case {
        LONG type;
        std::u16string_view syntax;
        std::u16string_view value;
        std::u16string_view expected;
    } cases[] = {
        {1, u"INTEGER { up(1), down(2), testing(3) }", u"2", u"down"},
        {1, u"INTEGER { up(1), down(2), testing(3) }", u"4", u"Invalid Enumeration Value"},
        {1, u"  INTEGER {a(1),,b(2)}", u"2", u"b"},
        {1, u"Integer32 { a(1) }", u"1", u"Invalid Enumeration Value"},
        {2, u"INTEGER { a(1) }", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER { up (1) }", u"1", u"up "},
        {1, u"INTEGER { a(-3), b(+4) }", u" -3", u"a"},
        {1, u"INTEGER { a(1) }", u"", u"Invalid Enumeration Value"},
        {1, u"", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER } a(1) {", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER a(1)", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER { a(1 , b(1) }", u"1", u"b"},
        {1, u"INTEGER { a1), b(1) }", u"1", u"b"},
        {1, u"INTEGER { first(7), second(7) }", u"7", u"first"},
        {1, u"INTEGER { x\u0100y(5) }", u"5", u"x?y"},
        // Saturated numbers: the value clamps to 32 bits, the item's number does not wrap.
        {1, u"INTEGER { big(2147483647) }", u"99999999999", u"big"},
        {1, u"INTEGER { wrap(4294967297) }", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER { a(1) } -- (1)", u"1", u"a"},
    };
    for (const Case& c : cases) {
        Bstr syntax(c.syntax), value(c.value), name;
        v_->put_Type(static_cast<VariableTypeConstants>(c.type));
        v_->put_BaseSyntax(syntax.Get());
        v_->put_Value(value.Get());
        ASSERT_EQ(v_->get_ValueName(name.Put()), S_OK);
        EXPECT_EQ(name.View(), c.expected) << std::string(c.syntax.begin(), c.syntax.end());
    }
}

TEST_F(Variable, TextFieldsStoreCopiesAndNullReadsAsNull) {
    BSTR text = SysAllocString(u"1.3.6");
    v_->put_Oid(text);
    v_->put_Name(text);
    text[0] = u'9';  // the caller's text changes; the variable's copies do not
    EXPECT_EQ(testing::OidOf(v_.Get()), u"1.3.6");
    Bstr name;
    v_->get_Name(name.Put());
    EXPECT_EQ(name.View(), u"1.3.6");
    SysFreeString(text);
    v_->put_Name(nullptr);
    v_->get_Name(name.Put());
    EXPECT_EQ(name.Get(), nullptr);
}

TEST_F(Variable, CreationFailuresAreReported) {
    rt::SetCreationFailure(CLSID_VelkStrings, E_OUTOFMEMORY);
    ComPtr<IVelkStrings> index;
    EXPECT_EQ(v_->get_Index(index.Put()), S_OK);
    EXPECT_FALSE(index) << "no collection, with success";
    rt::SetCreationFailure(CLSID_VelkStrings, S_OK);
    EXPECT_EQ(v_->get_Index(index.Put()), S_OK);
    EXPECT_TRUE(index) << "created on a later read";

    rt::SetCreationFailure(CLSID_SnmpVariable, E_OUTOFMEMORY);
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(CreateSnmpVariable(v.Put()), E_OUTOFMEMORY);
    EXPECT_FALSE(v);
    rt::SetCreationFailure(CLSID_SnmpVariable, S_OK);
}

TEST_F(Variable, ReplaceIndexSwapsTheCollection) {
    ComPtr<IVelkStrings> mine;
    ASSERT_EQ(sock::CreateVelkStrings(mine.Put()), S_OK);
    SnmpVariable* own = SnmpVariable::From(v_.Get());
    own->ReplaceIndex(mine.Get());
    ComPtr<IVelkStrings> read;
    v_->get_Index(read.Put());
    EXPECT_EQ(read.Get(), mine.Get());
}

}  // namespace
}  // namespace velk::model
