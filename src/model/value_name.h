// The label of an enumerated INTEGER value, read from the syntax text of a MIB object.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velk::model {

// The text a variable's ValueName gives when no label applies.
inline constexpr std::u16string_view kInvalidEnumerationValue = u"Invalid Enumeration Value";

// The label in `baseSyntax` ("INTEGER { up(1), down(2) }") of the item whose number equals
// the number read from `valueText` (a signed decimal, saturated to 32 bits), or nothing.
// The syntax is taken as 8-bit text (characters the code page lacks read as '?'), must
// begin with INTEGER after white space and hold a '{' before a '}'; items are split at
// commas up to the end of the text, empty ones skipped, and the first item whose number in
// parentheses matches gives its text from the first non-blank character up to the '('.
std::optional<std::u16string> EnumerationLabel(std::u16string_view valueText,
                                               std::u16string_view baseSyntax);

}  // namespace velk::model
