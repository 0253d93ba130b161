// The private successor index of a variable collection: its members sorted by OID text
// (CompareOids), equal OIDs in insertion order, for logarithmic GetNext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "velk/snmp.h"

namespace velk::model {

class SuccessorIndex {
public:
    struct Entry {
        std::u16string_view oid;  // the member's Oid text when the index was built
        ISnmpVariable* variable;  // borrowed
    };

    // Whether the text holds only digits and dots. On such texts CompareOids is a total
    // order (dot-separated numbers compared by length, then digit by digit, a proper
    // prefix first), so a binary search gives the same member as the linear definition of
    // GetNext; on other texts it is not.
    static bool IsPlainOid(std::u16string_view text);

    // Built for the current membership and the given count of member Oid changes.
    bool Fresh(uint64_t oidChanges) const { return valid_ && builtAt_ == oidChanges; }
    void Invalidate() { valid_ = false; }

    // Rebuilds from the members in insertion order. The views in `entries` must stay valid
    // while the index is fresh.
    void Build(std::vector<Entry> entries, uint64_t oidChanges);

    // Whether every member's Oid is plain (IsPlainOid), so that Next is exact.
    bool Exact() const { return plain_; }

    // The earliest-inserted member with the smallest OID greater than `oid`, or null.
    // Exact when Exact() and IsPlainOid(oid).
    ISnmpVariable* Next(std::u16string_view oid) const;

    const std::vector<Entry>& Entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
    uint64_t builtAt_ = 0;
    bool valid_ = false;
    bool plain_ = false;
};

}  // namespace velk::model
