// Host information from the operating system (gethostname, getifaddrs).
#include "sock/host_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <string>

#include "sock/velk_strings.h"
#include "typelib/typelib.h"

namespace velk::sock {
namespace {

std::u16string Widen(const char* s) {
    std::u16string w;
    for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));
    return w;
}

}  // namespace

HRESULT HostInfo::get_HostName(BSTR* out) {
    if (!out) return E_POINTER;
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) name[0] = 0;
    std::u16string w = Widen(name);
    *out = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return S_OK;
}

HRESULT HostInfo::get_Addresses(IVelkStrings** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IVelkStrings> list;
    if (HRESULT hr = CreateVelkStrings(list.Put()); FAILED(hr)) return hr;
    VelkStrings* strings = AsVelkStrings(list.Get());
    ifaddrs* addrs = nullptr;
    if (getifaddrs(&addrs) == 0) {
        for (ifaddrs* a = addrs; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
            if ((ntohl(in->sin_addr.s_addr) >> 24) == 127) continue;
            char text[INET_ADDRSTRLEN] = {};
            if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text))) strings->Append(Widen(text));
        }
        freeifaddrs(addrs);
    }
    if (strings->Entries().empty()) strings->Append(u"127.0.0.1");
    *out = list.Detach();
    return S_OK;
}

HRESULT CreateHostInfo(IVelkHostInfo** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_VelkHostInfo); FAILED(hr)) return hr;
    auto h = rt::MakeObject<HostInfo>();
    if (!h) return E_OUTOFMEMORY;
    *out = h.Detach();
    return S_OK;
}

}  // namespace velk::sock
