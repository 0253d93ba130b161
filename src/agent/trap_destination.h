// Trap destinations: the entries of an agent's TrapManagers collection.
#pragma once

#include <string_view>

#include "velk/oleauto.h"

namespace velk::agent {

inline constexpr LONG kTrapPort = 162;

struct TrapDestination {
    std::u16string_view host;  // a view into the entry
    LONG port;                 // 1..65535 for a usable entry; out-of-range numbers pass through
};

// Splits an entry. With a ':' the host is the text before the first ':' and the port is the
// decimal number at the start of the text after it (leading blanks and one sign allowed,
// digits up to the first non-digit, no digits giving 0; saturated beyond the 32-bit range).
// Without one (the empty entry included) the whole entry is the host. A port of 0 becomes
// 162. An entry that starts with '[' names an IPv6 address: the host is the text inside the
// brackets and a port may follow "]:".
TrapDestination ParseTrapDestination(std::u16string_view entry);

}  // namespace velk::agent
