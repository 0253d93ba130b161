// Error reports of the MIB subsystem.
#include "mib/mib_errors.h"

#include <string>

#include "automation/error_reporting.h"
#include "automation/message_texts.h"
#include "velk/com.h"
#include "velk/snmp.h"

namespace velk::mib {

std::u16string FormatMessageText(UINT id, std::initializer_list<std::u16string_view> args,
                                 unsigned long number) {
    Bstr format = Bstr::Adopt(automation::LoadMessageText(id));
    const std::u16string_view f = format.View();
    std::u16string out;
    auto arg = args.begin();
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] == u'%' && f.substr(i, 2) == u"%s") {
            if (arg != args.end()) out.append(*arg++);
            ++i;
        } else if (f[i] == u'%' && f.substr(i, 3) == u"%lu") {
            for (char c : std::to_string(number)) out.push_back(static_cast<char16_t>(c));
            i += 2;
        } else {
            out.push_back(f[i]);
        }
    }
    return out;
}

HRESULT ReportMibError(LONG number, std::u16string_view description) {
    return automation::ReportError(CLSID_SnmpMib, number, description);
}

HRESULT FormatCompileError(std::u16string_view fileName, UINT id, unsigned long line,
                           std::u16string_view argument) {
    std::u16string text = FormatMessageText(kMsgCompilePrefix, {fileName}, line);
    text += FormatMessageText(id, {argument});
    return ReportMibError(ulCompile, text);
}

HRESULT FormatCompileError(std::u16string_view fileName, UINT id, unsigned long line,
                           std::string_view argument) {
    return FormatCompileError(fileName, id, line, std::u16string_view(Widen(argument)));
}

std::u16string UnexpectedEndArgument() { return FormatMessageText(kMsgEndOfFileFound, {}); }

HRESULT ReportBusy() { return ReportMibError(ulBlocked, FormatMessageText(kMsgBusy, {})); }

HRESULT ReportNoFile(std::u16string_view fileName) {
    return ReportMibError(ulFile, FormatMessageText(kMsgNoFile, {fileName}));
}

}  // namespace velk::mib
