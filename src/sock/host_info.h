// The host-information object: this host's name and IPv4 addresses.
#pragma once

#include "runtime/object.h"
#include "velk/sock.h"

namespace velk::sock {

class HostInfo final : public rt::Object<HostInfo, rt::Dual<IVelkHostInfo>,
                                         rt::SupportErrorInfo<IVelkHostInfo>> {
public:
    STDMETHOD(get_HostName)(BSTR* out) override;
    // Item 1 is the first non-loopback IPv4 address (dotted decimal), or 127.0.0.1 when the
    // host has none; further non-loopback addresses follow.
    STDMETHOD(get_Addresses)(IVelkStrings** out) override;
};

HRESULT CreateHostInfo(IVelkHostInfo** out);

}  // namespace velk::sock
