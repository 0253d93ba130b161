// Conversions between the byte texts of MIB files (ANSI code page, ISO-8859-1: byte b is
// U+00bb) and automation texts.
#pragma once

#include <string>
#include <string_view>

#include "velk/oleauto.h"

namespace velk::mib {

// Bytes as UTF-16.
std::u16string Widen(std::string_view bytes);
// The same as a new BSTR; null when memory runs out (empty bytes give an empty BSTR).
BSTR WidenToBstr(std::string_view bytes);
// UTF-16 as bytes; characters above U+00FF become '?'. Embedded NULs are kept.
std::string Narrow(std::u16string_view text);
void NarrowInto(std::u16string_view text, std::string* out);
// The whole of a BSTR (null is empty), embedded NULs included.
inline std::u16string_view BstrView(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

}  // namespace velk::mib
