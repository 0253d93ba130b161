// A host program using only the installed headers and library: creates a string collection
// by ProgID and drives it through its C++ interface and by name.
#include <velk/snmp.h>

#include <cstdio>

int main() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(u"Velk.Strings", &clsid))) return 1;
    velk::ComPtr<IVelkStrings> strings;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVelkStrings,
                                strings.PutVoid())))
        return 2;
    velk::Bstr text(u"public");
    strings->Add(text.Get(), 0);
    LONG count = 0;
    strings->get_Count(&count);
    std::printf("consumer: %d text(s)\n", static_cast<int>(count));
    return count == 1 ? 0 : 3;
}
