// Byte and UTF-16 text conversions of the MIB subsystem.
#include "mib/ansi_text.h"

namespace velk::mib {

std::u16string Widen(std::string_view bytes) {
    std::u16string s(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) s[i] = static_cast<unsigned char>(bytes[i]);
    return s;
}

BSTR WidenToBstr(std::string_view bytes) {
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size()));
    if (b)
        for (size_t i = 0; i < bytes.size(); ++i) b[i] = static_cast<unsigned char>(bytes[i]);
    return b;
}

void NarrowInto(std::u16string_view text, std::string* out) {
    out->resize(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        (*out)[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
}

std::string Narrow(std::u16string_view text) {
    std::string s;
    NarrowInto(text, &s);
    return s;
}

}  // namespace velk::mib
