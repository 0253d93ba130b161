// CompareOids.
#include "model/oid_compare.h"

namespace velk::model {
namespace {
inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
}  // namespace

int CompareOids(std::u16string_view a, std::u16string_view b) {
    const size_t na = a.size(), nb = b.size();
    size_t i = 0;
    while (i < na && i < nb && a[i] == b[i]) ++i;
    if (i == na || i == nb) {
        // Equal, or one is a prefix of the other: the shorter sorts first.
        if (na == nb) return 0;
        return na < nb ? -1 : 1;
    }
    if (IsDigit(a[i]) && IsDigit(b[i])) {
        const bool aGreater = a[i] > b[i];
        while (i < na && i < nb && IsDigit(a[i]) && IsDigit(b[i])) ++i;
        if (i < nb && IsDigit(b[i])) return -1;  // b's number has more digits
        if (i < na && IsDigit(a[i])) return 1;
        return aGreater ? 1 : -1;
    }
    return a[i] == u'.' ? -1 : 1;
}

}  // namespace velk::model
