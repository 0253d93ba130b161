// ReportError, LoadErrorText and ErrorMessageId.
#include "automation/error_reporting.h"

#include "automation/message_texts.h"
#include "velk/com.h"

namespace velk::automation {
namespace {

struct MessageId {
    LONG number;
    UINT id;
};

constexpr MessageId kMessageIds[] = {
    {0, 0},         {10013, 552}, {10042, 536}, {10048, 513}, {10049, 514}, {10050, 515},
    {10051, 516},   {10052, 517}, {10053, 518}, {10054, 519}, {10055, 520}, {10057, 521},
    {10060, 522},   {10061, 523}, {10065, 553}, {10093, 524}, {11001, 525}, {11002, 526},
    {11003, 532},   {11004, 527}, {11101, 534}, {11102, 535}, {11103, 533}, {12001, 529},
    {12002, 530},   {12003, 531}, {12004, 541}, {12009, 549}, {12011, 512}, {12012, 537},
    {12014, 550},   {12015, 128}, {12016, 127}, {12017, 126}, {12018, 125}, {12019, 124},
    {12020, 542},   {12021, 554}, {12022, 555}, {12024, 556}, {12031, 557}, {12032, 558},
    {12033, 559},   {12034, 560}, {12035, 561}, {12036, 562}, {12037, 563}, {12038, 564},
    {12039, 565},   {12091, 566}, {12092, 567}, {12093, 568},
};

constexpr char16_t kUnknownError[] = u"Unknown Error";

HRESULT SetRecord(REFCLSID clsid, LONG number, LPCOLESTR description) {
    const HRESULT result = ErrorResult(number);
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Put())) || !create) return result;
    create->SetGUID(GUID_NULL);
    LPOLESTR progId = nullptr;
    if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId) {
        create->SetSource(progId);
        CoTaskMemFree(progId);
    }
    create->SetHelpContext(static_cast<DWORD>(number));
    Bstr helpFile = Bstr::FromAnsi(kErrorHelpFile);
    create->SetHelpFile(helpFile.Get());
    create->SetDescription(const_cast<LPOLESTR>(description ? description : kUnknownError));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
    return result;
}

}  // namespace

UINT ErrorMessageId(LONG number) {
    for (const MessageId& m : kMessageIds)
        if (m.number == number) return m.id;
    return 528;
}

BSTR LoadErrorText(LONG number) { return LoadMessageText(ErrorMessageId(number)); }

HRESULT ReportError(REFCLSID clsid, LONG number) {
    if (number == 0) return S_OK;
    Bstr text = Bstr::Adopt(LoadErrorText(number));
    return SetRecord(clsid, number, text.Get());
}

HRESULT ReportError(REFCLSID clsid, LONG number, LPCOLESTR description) {
    if (number == 0) return S_OK;
    return SetRecord(clsid, number, description);
}

HRESULT ReportError(REFCLSID clsid, LONG number, std::u16string_view description) {
    if (number == 0) return S_OK;
    Bstr text(description);
    return SetRecord(clsid, number, text.Get());
}

}  // namespace velk::automation
