// Builds the read-only table views over a collection's order index.
#pragma once

#include <cstddef>
#include <span>

#include "velk/snmp.h"

namespace velk::model {

// Builds the table view of `tableOid` from `orderIndex` (the collection's members sorted by
// CompareOids), whose member at position `anchor` is the first member after `tableOid`.
// The caller guarantees anchor < orderIndex.size(). Rows and cells hold new references to
// the very members. Never reads outside `orderIndex`.
HRESULT BuildTable(std::span<ISnmpVariable* const> orderIndex, size_t anchor, BSTR tableOid,
                   ISnmpTable** out);
// The first row of the same view.
HRESULT BuildTableRow(std::span<ISnmpVariable* const> orderIndex, size_t anchor, BSTR oid,
                      ISnmpTableRow** out);

}  // namespace velk::model
