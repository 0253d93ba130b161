#include <gtest/gtest.h>

#include <thread>

#include "runtime/object.h"
#include "velk/com.h"
#include "velk/oleauto.h"

namespace {

using velk::Bstr;
using velk::ComPtr;

ComPtr<IErrorInfo> MakeRecord(const OLECHAR* description) {
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.Put()), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(create.As(&info), S_OK);
    return info;
}

TEST(ErrorInfo, RecordGivesCopiesOfWhatWasSet) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
    EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Velk.SnmpMessage.1")), S_OK);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(&info), S_OK);
    Bstr source, description;
    EXPECT_EQ(info->GetSource(source.Put()), S_OK);
    EXPECT_EQ(source.View(), u"Velk.SnmpMessage.1");
    EXPECT_EQ(info->GetDescription(description.Put()), S_OK);
    EXPECT_EQ(description.Get(), nullptr);  // never set
    EXPECT_EQ(info->GetSource(nullptr), E_POINTER);
}

TEST(ErrorInfo, GetTakesTheRecordAndLeavesNone) {
    const long before = velk::rt::LiveObjectCount();
    {
        ComPtr<IErrorInfo> record = MakeRecord(u"first");
        ASSERT_EQ(SetErrorInfo(0, record.Get()), S_OK);
        ASSERT_EQ(SetErrorInfo(0, MakeRecord(u"second").Get()), S_OK);  // replaces and releases

        ComPtr<IErrorInfo> taken;
        ASSERT_EQ(GetErrorInfo(0, taken.Put()), S_OK);
        Bstr text;
        taken->GetDescription(text.Put());
        EXPECT_EQ(text.View(), u"second");

        IErrorInfo* again = record.Get();
        EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
        EXPECT_EQ(again, nullptr);

        ASSERT_EQ(SetErrorInfo(0, record.Get()), S_OK);
        ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);  // clears
        EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
        EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
        EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
    }
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

TEST(ErrorInfo, EachThreadHasItsOwnRecord) {
    const long before = velk::rt::LiveObjectCount();
    SetErrorInfo(0, MakeRecord(u"main").Get());
    std::thread other([] {
        IErrorInfo* none = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
        SetErrorInfo(0, MakeRecord(u"left behind").Get());  // released when the thread ends
    });
    other.join();
    EXPECT_EQ(velk::rt::LiveObjectCount(), before + 1);
    ComPtr<IErrorInfo> mine;
    ASSERT_EQ(GetErrorInfo(0, mine.Put()), S_OK);
    Bstr text;
    mine->GetDescription(text.Put());
    EXPECT_EQ(text.View(), u"main");
    mine.Reset();
    EXPECT_EQ(velk::rt::LiveObjectCount(), before);
}

}  // namespace
