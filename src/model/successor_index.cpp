// The successor index of a variable collection.
#include "model/successor_index.h"

#include "model/merge_sort.h"
#include "model/oid_compare.h"

namespace velk::model {

bool SuccessorIndex::IsPlainOid(std::u16string_view text) {
    for (const char16_t c : text)
        if (c != u'.' && (c < u'0' || c > u'9')) return false;
    return true;
}

void SuccessorIndex::Build(std::vector<Entry> entries, uint64_t oidChanges) {
    bool plain = true;
    for (const Entry& e : entries) plain = plain && IsPlainOid(e.oid);
    StableMergeSort(entries, [](const Entry& a, const Entry& b) { return CompareOids(a.oid, b.oid) > 0; });
    entries_ = std::move(entries);
    builtAt_ = oidChanges;
    valid_ = true;
    plain_ = plain;
}

ISnmpVariable* SuccessorIndex::Next(std::u16string_view oid) const {
    // The first entry that sorts after `oid`.
    size_t lo = 0, hi = entries_.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (CompareOids(oid, entries_[mid].oid) < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo < entries_.size() ? entries_[lo].variable : nullptr;
}

}  // namespace velk::model
