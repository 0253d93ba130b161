// The one error-reporting path: failing HRESULTs that carry an error number (0x800A0000
// plus the number) and the thread's error-information record.
#pragma once

#include <string_view>

#include "velk/oleauto.h"

namespace velk::automation {

inline constexpr const char* kErrorHelpFile = "UlvaneTcp.hlp";

// 0x800A0000 plus the number.
constexpr HRESULT ErrorResult(LONG number) {
    return static_cast<HRESULT>(0x800A0000u + static_cast<uint32_t>(number));
}

// Number 0: returns S_OK and sets nothing (an earlier record stays). Otherwise sets the
// thread's record (interface id null; source = the versioned ProgID registered for `clsid`,
// none when there is none; help context = number; help file; description = LoadErrorText,
// or "Unknown Error" when there is none) and returns ErrorResult(number), also when the
// record could not be made.
HRESULT ReportError(REFCLSID clsid, LONG number);
// The same with the caller's description (null: "Unknown Error").
HRESULT ReportError(REFCLSID clsid, LONG number, LPCOLESTR description);
HRESULT ReportError(REFCLSID clsid, LONG number, std::u16string_view description);

// The companion library's message for the number as a new BSTR, or null.
BSTR LoadErrorText(LONG number);

// The companion library's string-resource id for the number (528 for any unlisted number).
UINT ErrorMessageId(LONG number);

}  // namespace velk::automation
