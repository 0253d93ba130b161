// SnmpTraps: an insertion-ordered collection of trap definitions, found by position or Name.
#pragma once

#include <cstdint>

#include "runtime/object.h"
#include "sock/pooled_list.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

class SnmpTraps final
    : public rt::Object<SnmpTraps, rt::Dual<ISnmpTraps>, rt::SupportErrorInfo<ISnmpTraps>> {
public:
    // Object-map entry: a new, empty collection. Fails with the creation failure set for
    // CLSID_SnmpTraps.
    static HRESULT CreateInstance(REFIID iid, void** out);

    STDMETHOD(get_Count)(LONG* out) override;
    // Snapshot enumerator over the entries (VT_DISPATCH), in insertion order.
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    // Appends the trap with a new reference; no duplicate check. A null trap gives E_POINTER
    // and adds nothing.
    STDMETHOD(Add)(ISnmpTrap* trap) override;
    // The entry chosen by the index, with a new reference:
    //  - a reference to a VARIANT is followed once;
    //  - an index that converts to a 32-bit integer n selects the n-th entry (1-based, in
    //    insertion order); n outside 1..Count fails with 12001 (source SnmpTraps);
    //  - otherwise a text selects the first entry whose Name equals it exactly (an unset
    //    Name equals the empty text); no such entry is success with a null result, and so
    //    is a walk cut short because a host's trap changed the collection from its get_Name;
    //  - any other index fails with 12001.
    // *out is null on failure.
    STDMETHOD(Item)(VARIANT index, ISnmpTrap** out) override;
    // Removes the entry that Item would choose and releases it (only that entry, when the
    // same trap stands in the list more than once). A text that matches no Name removes
    // nothing and succeeds; the other failures are those of Item.
    STDMETHOD(Remove)(VARIANT index) override;
    // Removes every entry from the head, releasing each.
    STDMETHOD(Clear)() override;

    // Appends a trap taking over the caller's reference (no AddRef/Release pair). A null
    // trap gives E_POINTER.
    HRESULT AppendOwned(ISnmpTrap* trap);

private:
    using List = sock::PooledList<ISnmpTrap*>;
    ~SnmpTraps() override;
    // The node the index selects; S_OK with null for a text that matches no Name, or the
    // reported 12001.
    HRESULT Find(const VARIANT& index, List::Node** found);

    List list_;
    uint64_t version_ = 0;  // bumped by every change of membership
    friend class rt::Object<SnmpTraps, rt::Dual<ISnmpTraps>, rt::SupportErrorInfo<ISnmpTraps>>;
};

}  // namespace velk::model
