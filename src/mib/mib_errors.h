// Error reports of the MIB compiler, loaders and store. All go through
// automation::ReportError with the SnmpMib class as source; the texts are the numbered
// messages of the message-text table.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "mib/ansi_text.h"
#include "velk/oleauto.h"

namespace velk::mib {

// Message ids.
inline constexpr UINT kMsgUnexpectedEnd = 102;      // "Unexpected end of file. %s"
inline constexpr UINT kMsgExpected = 103;           // "\"%s\" expected."
inline constexpr UINT kMsgUnknownIdentifier = 104;  // "\"%s\" is an unknown identifier."
inline constexpr UINT kMsgUnknownStatus = 105;      // "\"%s\" is an unknown status type."
inline constexpr UINT kMsgUnknownAccess = 106;      // "\"%s\" is an unknown access type."
inline constexpr UINT kMsgBusy = 107;               // "A MIB file is currently being loaded."
inline constexpr UINT kMsgNoFile = 108;             // "%s does not exist."
inline constexpr UINT kMsgCompilePrefix = 109;      // "An error occured while compiling a mib:\r\n%s(%lu) - "
inline constexpr UINT kMsgOidTooLong = 113;         // "\"%s\" has an OID of more than 128 sub-identifiers."
inline constexpr UINT kMsgEndOfFileFound = 112;     // "Unexpected end of file found."
inline constexpr UINT kMsgIllegalImage = 116;       // "Illegal Serialized File."

// The text of a message, with each "%s" replaced in turn by the next of `args` (missing
// ones by nothing) and "%lu" by `number`. An unknown id gives an empty text.
std::u16string FormatMessageText(UINT id, std::initializer_list<std::u16string_view> args,
                                 unsigned long number = 0);

// Reports `number` with `description` (SnmpMib as source) and returns its failing HRESULT.
HRESULT ReportMibError(LONG number, std::u16string_view description);

// A compile error: message 109 with `fileName` and `line`, followed by message `id` with
// `argument` (ANSI bytes) as its %s; for message 102 pass the text of message 112 (see
// UnexpectedEndArgument). Reported as ulCompile (12013).
HRESULT FormatCompileError(std::u16string_view fileName, UINT id, unsigned long line,
                           std::string_view argument);
HRESULT FormatCompileError(std::u16string_view fileName, UINT id, unsigned long line,
                           std::u16string_view argument);
// The text of message 112, the argument of message 102 in the compiler.
std::u16string UnexpectedEndArgument();

// Message 107 with ulBlocked (12011).
HRESULT ReportBusy();
// Message 108 naming the file, with ulFile (11102).
HRESULT ReportNoFile(std::u16string_view fileName);

}  // namespace velk::mib
