// Splitting TrapManagers entries into host and port.
#include "agent/trap_destination.h"

#include <cstdint>

namespace velk::agent {
namespace {

// The leading decimal number of `text`, as the C library's atol reads it, saturated.
LONG LeadingNumber(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > INT32_MAX) value = int64_t{INT32_MAX} + 1;  // stays out of range, no overflow
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<LONG>(value);
}

TrapDestination WithPort(std::u16string_view host, std::u16string_view portText) {
    const LONG port = LeadingNumber(portText);
    return {host, port == 0 ? kTrapPort : port};
}

}  // namespace

TrapDestination ParseTrapDestination(std::u16string_view entry) {
    if (!entry.empty() && entry.front() == u'[') {
        const size_t close = entry.find(u']');
        if (close != std::u16string_view::npos) {
            const std::u16string_view host = entry.substr(1, close - 1);
            const std::u16string_view rest = entry.substr(close + 1);
            if (!rest.empty() && rest.front() == u':') return WithPort(host, rest.substr(1));
            return {host, kTrapPort};
        }
    }
    const size_t colon = entry.find(u':');
    if (colon == std::u16string_view::npos) return {entry, kTrapPort};
    return WithPort(entry.substr(0, colon), entry.substr(colon + 1));
}

}  // namespace velk::agent
