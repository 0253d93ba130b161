// The error-reporting path: results, records, message ids and the missing-texts case.
#include <gtest/gtest.h>

#include "automation/error_reporting.h"
#include "automation/message_texts.h"
#include "runtime/object.h"
#include "runtime/registry.h"
#include "velk/com.h"

namespace {

using velk::Bstr;
using velk::ComPtr;
using namespace velk::automation;

const CLSID CLSID_Reporter = {0x2e0f0c13, 0x2222, 0x4b4b, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID CLSID_Unregistered = {0x2e0f0c14, 0x2222, 0x4b4b, {1, 2, 3, 4, 5, 6, 7, 8}};

HRESULT NoCreate(REFIID, void**) { return E_NOTIMPL; }

struct Record {
    bool present = false;
    GUID guid{};
    std::u16string source, description, helpFile;
    DWORD context = 0;
};

Record TakeRecord() {
    Record r;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return r;
    r.present = true;
    info->GetGUID(&r.guid);
    Bstr s, d, h;
    info->GetSource(s.Put());
    info->GetDescription(d.Put());
    info->GetHelpFile(h.Put());
    info->GetHelpContext(&r.context);
    r.source = s.View();
    r.description = d.View();
    r.helpFile = h.View();
    return r;
}

class ErrorReporting : public ::testing::Test {
protected:
    void SetUp() override {
        velk::rt::RegisterClass(CLSID_Reporter, "Velk.Reporter", &NoCreate);
        TakeRecord();
    }
    void TearDown() override {
        velk::rt::UnregisterClass(CLSID_Reporter);
        SetMessageTextsMissingForTesting(false);
        TakeRecord();
    }
};

TEST_F(ErrorReporting, RecordCarriesSourceHelpAndMessageText) {
    EXPECT_EQ(ReportError(CLSID_Reporter, 12001), static_cast<HRESULT>(0x800A2EE1u));
    Record r = TakeRecord();
    ASSERT_TRUE(r.present);
    EXPECT_TRUE(r.guid == GUID_NULL);
    EXPECT_EQ(r.source, u"Velk.Reporter.1");
    EXPECT_EQ(r.helpFile, u"UlvaneTcp.hlp");
    EXPECT_EQ(r.context, 12001u);
    Bstr expected = Bstr::Adopt(LoadMessageText(529));
    EXPECT_FALSE(expected.Empty());
    EXPECT_EQ(r.description, expected.View());
}

TEST_F(ErrorReporting, GivenDescriptionAndUnregisteredClass) {
    EXPECT_EQ(ReportError(CLSID_Unregistered, 11102, u"foo.mib does not exist."),
              ErrorResult(11102));
    Record r = TakeRecord();
    ASSERT_TRUE(r.present);
    EXPECT_TRUE(r.source.empty());  // no ProgID registered: no source
    EXPECT_EQ(r.description, u"foo.mib does not exist.");
    EXPECT_EQ(r.context, 11102u);
    // A null description reads "Unknown Error".
    ReportError(CLSID_Reporter, 12013, static_cast<LPCOLESTR>(nullptr));
    EXPECT_EQ(TakeRecord().description, u"Unknown Error");
}

TEST_F(ErrorReporting, NumberZeroSucceedsAndLeavesTheEarlierRecord) {
    ReportError(CLSID_Reporter, 12015);
    EXPECT_EQ(ReportError(CLSID_Reporter, 0), S_OK);
    EXPECT_EQ(ReportError(CLSID_Reporter, 0, u"ignored"), S_OK);
    Record r = TakeRecord();
    ASSERT_TRUE(r.present);
    EXPECT_EQ(r.context, 12015u);
}

TEST_F(ErrorReporting, MissingTextsGiveUnknownErrorButSameResult) {
    SetMessageTextsMissingForTesting(true);
    EXPECT_EQ(LoadErrorText(12001), nullptr);
    EXPECT_EQ(ReportError(CLSID_Reporter, 12001), static_cast<HRESULT>(0x800A2EE1u));
    Record r = TakeRecord();
    EXPECT_EQ(r.description, u"Unknown Error");
    EXPECT_EQ(r.source, u"Velk.Reporter.1");
}

TEST(ErrorMessageIds, MappingTable) {
    struct Case {
        LONG number;
        UINT id;
    } cases[] = {{0, 0},         {10013, 552}, {10048, 513}, {10060, 522}, {10061, 523},
                 {11001, 525},   {11103, 533}, {12001, 529}, {12004, 541}, {12011, 512},
                 {12015, 128},   {12019, 124}, {12093, 568}, {12013, 528}, {12005, 528},
                 {11100, 528},   {12101, 528}, {14001, 528}, {0x7FFFFFFF, 528}, {-1, 528}};
    for (const Case& c : cases) EXPECT_EQ(ErrorMessageId(c.number), c.id) << c.number;
    // Every mapped id other than 0 has a text.
    for (const Case& c : cases) {
        if (c.id) {
            EXPECT_NE(Bstr::Adopt(LoadMessageText(c.id)).Get(), nullptr) << c.id;
        }
    }
}

}  // namespace
