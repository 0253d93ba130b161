// The one snapshot IEnumVARIANT every collection returns from _NewEnum.
#pragma once

#include <vector>

#include "velk/com.h"

namespace velk::rt {

// Creates an enumerator over its own copy of `items` (each VARIANT is copied: interfaces
// get a new reference). Later changes to the collection do not affect it.
//   Next(n): n = 0 gives E_INVALIDARG; a null array E_POINTER; n > 1 without a fetched-count
//            pointer E_POINTER; otherwise copies up to n items, S_FALSE when fewer were left.
//   Skip(n): n = 0 gives E_INVALIDARG; S_FALSE when fewer than n were left.
//   Reset:   back to the first item.  Clone: a second enumerator over the same copy and
//            at the same position.
HRESULT CreateSnapshotEnumerator(const VARIANT* items, size_t count, IUnknown** out);

// Convenience for collections of objects: one VT_DISPATCH item per pointer.
template <class I>
HRESULT CreateObjectEnumerator(const std::vector<I*>& objects, IUnknown** out) {
    std::vector<VARIANT> items(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        items[i].vt = VT_DISPATCH;
        items[i].pdispVal = static_cast<IDispatch*>(objects[i]);  // borrowed; copied below
    }
    return CreateSnapshotEnumerator(items.data(), items.size(), out);
}

}  // namespace velk::rt
