// The OID text order of the variable collection and the table views.
#pragma once

#include <string_view>

namespace velk::model {

// Compares two OID texts code unit by code unit: -1 when `a` sorts first, 0 when equal, +1
// when `a` sorts after. Arc by arc numerically for dotted-decimal OIDs, a proper prefix
// first; a number with leading zeros sorts after the same number without them. For texts
// that are not OIDs the result is defined but not a consistent order.
int CompareOids(std::u16string_view a, std::u16string_view b);

}  // namespace velk::model
