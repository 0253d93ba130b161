// SnmpVariable: initial state, the text and byte views of the value store, by-reference
// puts, ValueName and the Index collection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/velk_variant.h"
#include "model_support.h"
#include "velk/sock.h"

namespace velk::model {
namespace {

std::vector<uint8_t> ValueBytes(ISnmpVariable* v) {
    Variant ex;
    EXPECT_EQ(v->get_ValueEx(&ex), S_OK);
    CVelkVariant b;
    if (!b.Read(ex)) return {0xEE};  // not bytes
    return {b.Data(), b.Data() + b.Size()};
}

std::u16string ValueText(ISnmpVariable* v) {
    Bstr text;
    EXPECT_EQ(v->get_Value(text.Put()), S_OK);
    return std::u16string(text.View());
}

class Variable : public testing::ModelTest {
protected:
    ComPtr<ISnmpVariable> v_ = testing::NewVariable(u"");
};

TEST_F(Variable, StartsWithAnEmptyValueAndOneIndexCollection) {
    ComPtr<ISnmpVariable> v;
    ASSERT_EQ(CreateSnmpVariable(v.Put()), S_OK);
    EXPECT_EQ(ValueText(v.Get()), u"");
    EXPECT_EQ(ValueBytes(v.Get()), std::vector<uint8_t>()) << "an empty byte array";
    Bstr name;
    v->get_ValueName(name.Put());
    EXPECT_EQ(name.View(), u"Invalid Enumeration Value");
    ComPtr<IVelkStrings> first, second;
    v->get_Index(first.Put());
    v->get_Index(second.Put());
    ASSERT_TRUE(first);
    EXPECT_EQ(first.Get(), second.Get());
}

// Variables made in one allocation (decoded, or read from a MIB image) hold their texts
// inside it: every setter replaces such a text without freeing it, and the variable reads
// and ends like any other (the sanitizers check the frees).
TEST_F(Variable, TextsHeldInTheObjectsAllocationAreReplacedSafely) {
    SnmpVariable::TextFields texts{u"1.3.6.1", u"name", u"description", u"reference", u"syntax", u"value"};
    auto own = ComPtr<SnmpVariable>::Adopt(SnmpVariable::NewWithFields(texts));
    ASSERT_TRUE(own);
    EXPECT_EQ(own->NameView(), u"name");
    EXPECT_EQ(own->SyntaxView(), u"syntax");
    EXPECT_EQ(ValueText(own.Get()), u"value");
    const Bstr next(u"next");
    EXPECT_EQ(own->put_Name(next.Get()), S_OK);
    EXPECT_EQ(own->put_Description(nullptr), S_OK);
    own->SetReference(SysAllocString(u"r2"));
    EXPECT_EQ(own->put_Oid(next.Get()), S_OK);
    EXPECT_EQ(own->put_Value(next.Get()), S_OK);
    EXPECT_EQ(own->NameView(), u"next");
    EXPECT_EQ(own->DescriptionView(), u"");
    EXPECT_EQ(own->ReferenceView(), u"r2");
    EXPECT_EQ(own->SyntaxView(), u"syntax");  // untouched, still in place
    EXPECT_EQ(own->OidView(), u"next");

    const uint8_t bytes[] = {0, 0xFF, 0x41};
    auto decoded = ComPtr<SnmpVariable>::Adopt(SnmpVariable::NewWithBytes(u"1.3", bytes, sizeof bytes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(ValueBytes(decoded.Get()), std::vector<uint8_t>(bytes, bytes + 3));
    EXPECT_EQ(decoded->put_ValueEx(Variant(LONG{5})), S_OK);  // the placed array is let go, not freed
    EXPECT_EQ(ValueText(decoded.Get()), u"");
}

TEST_F(Variable, TextAndBytesConvertThroughTheCodePage) {
    Bstr hello(u"hello"), wide(u"a\u0100");
    v_->put_Value(hello.Get());
    EXPECT_EQ(ValueBytes(v_.Get()), (std::vector<uint8_t>{0x68, 0x65, 0x6C, 0x6C, 0x6F}));
    v_->put_Value(wide.Get());
    EXPECT_EQ(ValueBytes(v_.Get()), (std::vector<uint8_t>{'a', '?'}));
    ASSERT_TRUE(SnmpVariable::From(v_.Get())->SetValueBytes(reinterpret_cast<const uint8_t*>("A\0B"), 3));
    EXPECT_EQ(ValueText(v_.Get()), std::u16string(u"A\0B", 3));
    // Type and value are independent.
    v_->put_Type(snmpObjectID);
    EXPECT_EQ(ValueText(v_.Get()), std::u16string(u"A\0B", 3));
}

TEST_F(Variable, OtherStoresReadAsNoValueAndReferencesStoreACopy) {
    v_->put_ValueEx(testing::I4(12));
    EXPECT_EQ(ValueBytes(v_.Get()), std::vector<uint8_t>{0xEE}) << "VT_EMPTY";
    EXPECT_EQ(ValueText(v_.Get()), u"");

    Variant text(std::u16string_view(u"abc"));
    ASSERT_EQ(v_->put_ValueEx(testing::RefTo(&text)), S_OK);
    text.Clear();  // the caller's value goes away; the variable kept its own copy
    EXPECT_EQ(ValueText(v_.Get()), u"abc");

    ASSERT_EQ(v_->put_ValueEx(testing::RefTo(nullptr)), S_OK);
    EXPECT_EQ(ValueBytes(v_.Get()), std::vector<uint8_t>{0xEE}) << "an unfollowable reference stores nothing";
}

TEST_F(Variable, ValueNameFindsTheLabelOfAnIntegerEnumeration) {
    struct Case {
        LONG type;
        std::u16string_view syntax, value, expected;
    } cases[] = {
        {1, u"INTEGER { up(1), down(2), testing(3) }", u"2", u"down"},
        {1, u"INTEGER { up(1), down(2), testing(3) }", u"4", u"Invalid Enumeration Value"},
        {1, u"  INTEGER {a(1),,b(2)}", u"2", u"b"},
        {1, u"Integer32 { a(1) }", u"1", u"Invalid Enumeration Value"},
        {2, u"INTEGER { a(1) }", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER { up (1) }", u"1", u"up "},
        {1, u"INTEGER { a(-3), b(+4) }", u" -3", u"a"},
        {1, u"INTEGER { a(1) }", u"", u"Invalid Enumeration Value"},
        {1, u"INTEGER } a(1) {", u"1", u"Invalid Enumeration Value"},
        {1, u"INTEGER { a(1 , b1), c(1) }", u"1", u"c"},  // items lacking "(" or ")" are skipped
        {1, u"INTEGER { first(7), second(7) }", u"7", u"first"},
        {1, u"INTEGER { x\u0100y(5) }", u"5", u"x?y"},
        // Numbers saturate: the value at 32 bits, the item's number does not wrap.
        {1, u"INTEGER { big(2147483647) }", u"99999999999", u"big"},
        {1, u"INTEGER { wrap(4294967297) }", u"1", u"Invalid Enumeration Value"},
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

TEST_F(Variable, CreationFailuresAreReported) {
    rt::SetCreationFailure(CLSID_VelkStrings, E_OUTOFMEMORY);
    ComPtr<IVelkStrings> index;
    EXPECT_EQ(v_->get_Index(index.Put()), S_OK);
    EXPECT_FALSE(index) << "no collection, with success";
    rt::SetCreationFailure(CLSID_VelkStrings, S_OK);
    v_->get_Index(index.Put());
    EXPECT_TRUE(index) << "created on a later read";

    rt::SetCreationFailure(CLSID_SnmpVariable, E_OUTOFMEMORY);
    ComPtr<ISnmpVariable> v;
    EXPECT_EQ(CreateSnmpVariable(v.Put()), E_OUTOFMEMORY);
    rt::SetCreationFailure(CLSID_SnmpVariable, S_OK);
}

}  // namespace
}  // namespace velk::model
