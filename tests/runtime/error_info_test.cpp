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

TEST(ErrorInfo, RecordKeepsWhatWasSet) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Put()), S_OK);
    const GUID guid = IID_IStream;
    EXPECT_EQ(create->SetGUID(guid), S_OK);
    EXPECT_EQ(create->SetSource(const_cast<LPOLESTR>(u"Velk.SnmpMessage.1")), S_OK);
    EXPECT_EQ(create->SetHelpFile(const_cast<LPOLESTR>(u"help.hlp")), S_OK);
    EXPECT_EQ(create->SetHelpContext(12001), S_OK);

    ComPtr<IErrorInfo> info;
    ASSERT_EQ(create.As(&info), S_OK);
    GUID read{};
    EXPECT_EQ(info->GetGUID(&read), S_OK);
    EXPECT_TRUE(read == guid);
    Bstr source, description, helpFile;
    EXPECT_EQ(info->GetSource(source.Put()), S_OK);
    EXPECT_EQ(source.View(), u"Velk.SnmpMessage.1");
    EXPECT_EQ(info->GetDescription(description.Put()), S_OK);
    EXPECT_EQ(description.Get(), nullptr);  // never set
    EXPECT_EQ(info->GetHelpFile(helpFile.Put()), S_OK);
    EXPECT_EQ(helpFile.View(), u"help.hlp");
    DWORD context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 12001u);
    EXPECT_EQ(info->GetSource(nullptr), E_POINTER);

    ComPtr<IUnknown> a, b;
    ASSERT_EQ(info.As(&a), S_OK);
    ASSERT_EQ(create.As(&b), S_OK);
    EXPECT_EQ(a.Get(), b.Get());  // one identity
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
