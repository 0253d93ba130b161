// SnmpVariables: the collection of variables, in insertion order with OID-ordered lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "model/successor_index.h"
#include "model/variable.h"
#include "runtime/object.h"
#include "sock/pooled_list.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::model {

// Private interface identity answered only by SnmpVariables (see SnmpVariables::From).
// {B37D5A10-8E64-4C2F-A1D9-7F3E20C6B584}
inline constexpr IID IID_SnmpVariablesImpl = {0xb37d5a10, 0x8e64, 0x4c2f, {0xa1, 0xd9, 0x7f, 0x3e, 0x20, 0xc6, 0xb5, 0x84}};

// Members are read only through their Oid and Name. Host-implemented ISnmpVariable objects
// may be members: they are read through the interface, a failing call reads as the empty
// text, and a call that changes the collection ends the lookup that made it (as not found).
//
// The order index (members sorted by CompareOids on their Oid) is rebuilt, when its flag is
// clear, by Item while Sorted is true, GetIndex, GetTable and GetTableRow; Add, Remove and
// Clear clear the flag, changing a member's Oid does not. GetNext answers from the members'
// current Oid values.
class SnmpVariables final : public rt::Object<SnmpVariables, rt::Dual<ISnmpVariables>,
                                              rt::SupportErrorInfo<ISnmpVariables>> {
    using Base = rt::Object<SnmpVariables, rt::Dual<ISnmpVariables>, rt::SupportErrorInfo<ISnmpVariables>>;
    friend Base;

public:
    // One entry of the member list. `own` is the same object as `variable` when it is our
    // class, null for a host object. The entry owns one reference.
    struct Member {
        ISnmpVariable* variable;
        SnmpVariable* own;
    };
    using MemberList = sock::PooledList<Member>;

    SnmpVariables() = default;

    // ISnmpVariables. Failures report 12001 (ulInvalidParam1) with SnmpVariables as source
    // (HRESULT 0x800A2EE1) and set the result to null.
    STDMETHOD(get_Count)(LONG* out) override;
    // Snapshot enumerator of the members (VT_DISPATCH) in insertion order.
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    // Appends with a new reference; no duplicate check. Null: E_POINTER, nothing added.
    STDMETHOD(Add)(ISnmpVariable* variable) override;
    // Removes every entry from the head, releasing each.
    STDMETHOD(Clear)() override;
    // While Sorted: a VT_I4 position 1..Count counts in OID order, and a VT_BSTR starting
    // with a digit is looked up by binary search on the OID. Otherwise, or when that finds
    // nothing: a value that converts to a 32-bit integer is a position in insertion order;
    // a text is compared with each member's Oid, then Name, in insertion order. 12001 when
    // nothing is found.
    STDMETHOD(Item)(VARIANT index, ISnmpVariable** out) override;
    // Removes the entry found as Item finds it without the Sorted fast paths (positions
    // always count in insertion order). 12001 when nothing is found.
    STDMETHOD(Remove)(VARIANT index) override;
    // The earliest-inserted member with the smallest Oid greater than `oid` (the empty text
    // gives the smallest); 12001 when none is greater.
    STDMETHOD(GetNext)(BSTR oid, ISnmpVariable** out) override;
    // Oid of the first member with that Name; a null text when none has it.
    STDMETHOD(GetOIDFromName)(BSTR name, BSTR* out) override;
    // Table views over the order index: the anchor is GetNext(oid), found again in the
    // order index by binary search; 12001 when there is no anchor or it is not found again.
    STDMETHOD(GetTableRow)(BSTR oid, ISnmpTableRow** out) override;
    STDMETHOD(GetTable)(BSTR oid, ISnmpTable** out) override;
    // 1-based position in OID order of a member whose Oid equals `oid`, or -1.
    STDMETHOD(GetIndex)(BSTR oid, LONG* out) override;
    STDMETHOD(get_Sorted)(VARIANT_BOOL* out) override;
    STDMETHOD(put_Sorted)(VARIANT_BOOL value) override;

    // Object map entry: a new collection answering `iid`; honours the creation-failure seam.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Our collection behind an ISnmpVariables, or null for a host object. Borrowed.
    static SnmpVariables* From(ISnmpVariables* collection);

    // ---- Fast surface for the codec, the MIB store and the controls ----
    // Appends `variable`, taking over the reference the caller holds (no AddRef).
    void AppendOwned(SnmpVariable* variable);
    // The members in insertion order; iterate with Head() and Node::next.
    const MemberList& Members() const { return list_; }
    size_t Size() const { return list_.Size(); }
    bool IsSorted() const { return sorted_ != VARIANT_FALSE; }
    // The member found by the binary search of GetIndex, or null. Borrowed.
    ISnmpVariable* FindByOid(std::u16string_view oid);
    // The member GetNext returns, or null (no error record). Borrowed.
    ISnmpVariable* Next(std::u16string_view oid);
    // The order index, rebuilt first when its flag is clear. Valid until the next change of
    // membership.
    std::span<ISnmpVariable* const> OrderIndex();

    HRESULT QueryExtraInterface(REFIID iid, void** out);

private:
    using Node = MemberList::Node;
    static constexpr size_t kNotFound = SIZE_MAX;

    ~SnmpVariables() override;

    void Link(ISnmpVariable* variable, SnmpVariable* own);
    void Unlink(Node* node);
    void RemoveAll();
    void MembershipChanged();

    // Oid or Name of a member: ours in place, a host object's through the interface into
    // `holder`.
    static std::u16string_view OidOf(const Member& m, Bstr* holder);
    static std::u16string_view NameOf(const Member& m, Bstr* holder);

    void EnsureOrder();
    void BuildOrderWithHostMembers();
    void EnsureSuccessors();
    // 0-based position in the order index of a member whose current Oid equals `oid`.
    size_t SearchOrder(std::u16string_view oid);
    // GetNext by the linear walk over the member list.
    ISnmpVariable* LinearNext(std::u16string_view oid);
    // The general lookup of Item and Remove.
    Node* Lookup(const VARIANT& index);
    // The anchor position of the table views.
    HRESULT TableAnchor(BSTR oid, size_t* position);
    template <class Result, class Build>
    HRESULT BuildView(BSTR oid, Result** out, Build build);

    MemberList list_;
    size_t hostMembers_ = 0;    // entries that are not our class
    uint64_t mutations_ = 0;    // membership changes, to notice re-entrant changes
    uint64_t oidChanges_ = 0;   // Oid changes of our own members (they count here)
    std::vector<ISnmpVariable*> order_;
    bool orderValid_ = false;
    SuccessorIndex successors_;
    VARIANT_BOOL sorted_ = VARIANT_TRUE;
};

}  // namespace velk::model
