// SnmpVariables.
#include "model/variables.h"

#include <limits>
#include <utility>

#include "automation/error_reporting.h"
#include "model/merge_sort.h"
#include "model/oid_compare.h"
#include "model/table_builder.h"
#include "model/velk_variant.h"
#include "runtime/enumerator.h"

namespace velk::model {
namespace {

HRESULT NotFound() { return automation::ReportError(CLSID_SnmpVariables, ulInvalidParam1); }

std::u16string_view View(BSTR s) {
    return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

// A host object's text property; a failing call reads as the empty text (whatever it left
// in the out parameter is not trusted).
template <class Getter>
std::u16string_view HostText(ISnmpVariable* v, Getter getter, Bstr* holder) {
    BSTR text = nullptr;
    if (FAILED((v->*getter)(&text))) return {};
    *holder = Bstr::Adopt(text);
    return holder->View();
}

}  // namespace

SnmpVariables::~SnmpVariables() { RemoveAll(); }

HRESULT SnmpVariables::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpVariables); FAILED(hr)) return hr;
    return rt::CreateInstanceOf<SnmpVariables>(iid, out);
}

HRESULT SnmpVariables::QueryExtraInterface(REFIID iid, void** out) {
    return rt::AnswerOwnIdentity(this, iid, IID_SnmpVariablesImpl, out);
}

SnmpVariables* SnmpVariables::From(ISnmpVariables* collection) { return rt::OwnObjectBehind<SnmpVariables>(collection, IID_SnmpVariablesImpl); }

// ---- Membership ----

void SnmpVariables::MembershipChanged() {
    orderValid_ = false;
    successors_.Invalidate();
    ++mutations_;
}

void SnmpVariables::Link(ISnmpVariable* variable, SnmpVariable* own) {
    list_.PushBack(Member{variable, own});
    if (own)
        own->AddWatch(&oidChanges_);
    else
        ++hostMembers_;
    MembershipChanged();
}

void SnmpVariables::Unlink(Node* node) {
    const Member m = list_.Remove(node);
    if (m.own)
        m.own->RemoveWatch(&oidChanges_);
    else
        --hostMembers_;
    MembershipChanged();
    m.variable->Release();  // last: the release may run host code
}

void SnmpVariables::RemoveAll() {
    orderValid_ = false;
    while (Node* head = list_.Head()) Unlink(head);
}

void SnmpVariables::AppendOwned(SnmpVariable* variable) {
    if (variable) Link(variable, variable);
}

HRESULT SnmpVariables::Add(ISnmpVariable* variable) {
    if (!variable) return E_POINTER;
    SnmpVariable* own = SnmpVariable::From(variable);
    variable->AddRef();
    Link(variable, own);
    return S_OK;
}

HRESULT SnmpVariables::Clear() {
    RemoveAll();
    return S_OK;
}

HRESULT SnmpVariables::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(std::min<size_t>(list_.Size(), std::numeric_limits<LONG>::max()));
    return S_OK;
}

HRESULT SnmpVariables::get_Sorted(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = sorted_;
    return S_OK;
}

HRESULT SnmpVariables::put_Sorted(VARIANT_BOOL value) {
    sorted_ = value;
    return S_OK;
}

HRESULT SnmpVariables::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<ISnmpVariable*> members;
    members.reserve(list_.Size());
    for (Node* n = list_.Head(); n; n = n->next) members.push_back(n->value.variable);
    return rt::CreateObjectEnumerator(members, out);
}

// ---- Reading members ----

std::u16string_view SnmpVariables::OidOf(const Member& m, Bstr* holder) {
    if (m.own) return m.own->OidView();
    return HostText(m.variable, &ISnmpVariable::get_Oid, holder);
}

std::u16string_view SnmpVariables::NameOf(const Member& m, Bstr* holder) {
    if (m.own) return m.own->NameView();
    return HostText(m.variable, &ISnmpVariable::get_Name, holder);
}

// ---- Order index ----

void SnmpVariables::EnsureOrder() {
    if (orderValid_) return;
    if (hostMembers_ == 0) {
        // Our own members only: the successor index is the same sort.
        EnsureSuccessors();
        order_.clear();
        order_.reserve(successors_.Entries().size());
        for (const SuccessorIndex::Entry& e : successors_.Entries()) order_.push_back(e.variable);
    } else {
        BuildOrderWithHostMembers();
    }
    orderValid_ = true;
}

void SnmpVariables::BuildOrderWithHostMembers() {
    struct Keyed {
        std::u16string_view oid;
        ISnmpVariable* variable;
    };
    // Host objects are asked first; should one of them change the collection or an Oid of
    // ours meanwhile, start again, and after a few tries take their Oid as empty text.
    for (int attempt = 0;; ++attempt) {
        const bool ask = attempt < 3;
        const uint64_t mutations = mutations_, oidChanges = oidChanges_;
        std::vector<Bstr> held(hostMembers_);
        std::vector<Keyed> keys;
        keys.reserve(list_.Size());
        size_t h = 0;
        for (Node* n = list_.Head(); n; n = n->next) {
            keys.push_back({{}, n->value.variable});
            if (!n->value.own && ask && h < held.size()) keys.back().oid = OidOf(n->value, &held[h++]);
            if (mutations != mutations_) break;
        }
        if (mutations != mutations_ || oidChanges != oidChanges_) continue;
        size_t i = 0;
        for (Node* n = list_.Head(); n; n = n->next, ++i)
            if (n->value.own) keys[i].oid = n->value.own->OidView();
        StableMergeSort(keys, [](const Keyed& a, const Keyed& b) { return CompareOids(a.oid, b.oid) > 0; });
        order_.clear();
        order_.reserve(keys.size());
        for (const Keyed& k : keys) order_.push_back(k.variable);
        return;
    }
}

size_t SnmpVariables::SearchOrder(std::u16string_view oid) {
    const uint64_t mutations = mutations_;
    const bool own = hostMembers_ == 0;
    // Current Oid of the member at `i`; false when a host call changed the collection.
    auto current = [&](size_t i, Bstr* holder, std::u16string_view* text) {
        ISnmpVariable* v = order_[i];
        if (own) {
            *text = static_cast<SnmpVariable*>(v)->OidView();
            return true;
        }
        *text = HostText(v, &ISnmpVariable::get_Oid, holder);
        return mutations == mutations_;
    };
    // The classic search: it stops at the first member it meets whose Oid is equal.
    size_t lo = 0, hi = order_.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        Bstr holder;
        std::u16string_view text;
        if (!current(mid, &holder, &text)) return kNotFound;
        const int order = CompareOids(text, oid);
        if (order == 0) return mid;
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return kNotFound;
}

std::span<ISnmpVariable* const> SnmpVariables::OrderIndex() {
    EnsureOrder();
    return order_;
}

ISnmpVariable* SnmpVariables::FindByOid(std::u16string_view oid) {
    EnsureOrder();
    const size_t at = SearchOrder(oid);
    return at == kNotFound ? nullptr : order_[at];
}

HRESULT SnmpVariables::GetIndex(BSTR oid, LONG* out) {
    if (!out) return E_POINTER;
    EnsureOrder();
    const size_t at = SearchOrder(View(oid));
    *out = at == kNotFound ? -1 : static_cast<LONG>(at + 1);
    return S_OK;
}

// ---- GetNext ----

void SnmpVariables::EnsureSuccessors() {
    if (successors_.Fresh(oidChanges_)) return;
    std::vector<SuccessorIndex::Entry> entries;
    entries.reserve(list_.Size());
    for (Node* n = list_.Head(); n; n = n->next)
        entries.push_back({n->value.own ? n->value.own->OidView() : std::u16string_view(), n->value.variable});
    successors_.Build(std::move(entries), oidChanges_);
}

ISnmpVariable* SnmpVariables::LinearNext(std::u16string_view oid) {
    const uint64_t mutations = mutations_, oidChanges = oidChanges_;
    ISnmpVariable* best = nullptr;
    Bstr bestHolder;
    std::u16string_view bestOid;
    for (Node* n = list_.Head(); n; n = n->next) {
        Bstr holder;
        const std::u16string_view text = OidOf(n->value, &holder);
        // A host call that changed the collection or one of our Oids ends the walk.
        if (mutations != mutations_ || oidChanges != oidChanges_) return nullptr;
        if (CompareOids(oid, text) != -1) continue;
        if (!best || CompareOids(bestOid, text) == 1) {
            best = n->value.variable;
            bestOid = text;
            bestHolder = std::move(holder);  // keeps `bestOid` alive for a host object
        }
    }
    return best;
}

ISnmpVariable* SnmpVariables::Next(std::u16string_view oid) {
    if (hostMembers_ == 0 && SuccessorIndex::IsPlainOid(oid)) {
        EnsureSuccessors();
        if (successors_.Exact()) return successors_.Next(oid);
    }
    return LinearNext(oid);
}

HRESULT SnmpVariables::GetNext(BSTR oid, ISnmpVariable** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ISnmpVariable* next = Next(View(oid));
    if (!next) return NotFound();
    next->AddRef();
    *out = next;
    return S_OK;
}

// ---- Item, Remove, GetOIDFromName ----

SnmpVariables::Node* SnmpVariables::Lookup(const VARIANT& index) {
    const VARIANT* key = FollowVariantReferences(&index);
    if (!key) return nullptr;
    Variant number;
    if (SUCCEEDED(VariantChangeType(&number, key, 0, VT_I4))) {
        const LONG n = number.lVal;
        if (n < 1 || static_cast<size_t>(n) > list_.Size()) return nullptr;
        return list_.At(static_cast<size_t>(n - 1));
    }
    BSTR text;
    if (key->vt == VT_BSTR)
        text = key->bstrVal;
    else if (key->vt == (VT_BYREF | VT_BSTR) && key->pbstrVal)
        text = *key->pbstrVal;
    else
        return nullptr;
    const std::u16string_view wanted = View(text);
    const uint64_t mutations = mutations_;
    for (Node* n = list_.Head(); n; n = n->next) {
        Bstr holder;
        const bool oidMatches = OidOf(n->value, &holder) == wanted;
        if (mutations != mutations_) return nullptr;
        if (oidMatches) return n;
        const bool nameMatches = NameOf(n->value, &holder) == wanted;
        if (mutations != mutations_) return nullptr;
        if (nameMatches) return n;
    }
    return nullptr;
}

HRESULT SnmpVariables::Item(VARIANT index, ISnmpVariable** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ISnmpVariable* found = nullptr;
    if (sorted_) {
        if (index.vt == VT_I4 && index.lVal >= 1 && static_cast<size_t>(index.lVal) <= list_.Size()) {
            EnsureOrder();
            if (static_cast<size_t>(index.lVal) <= order_.size()) found = order_[index.lVal - 1];
        } else if (index.vt == VT_BSTR && SysStringLen(index.bstrVal) > 0 && index.bstrVal[0] >= u'0' &&
                   index.bstrVal[0] <= u'9') {
            found = FindByOid(View(index.bstrVal));
        }
    }
    if (!found) {
        Node* node = Lookup(index);
        if (!node) return NotFound();
        found = node->value.variable;
    }
    found->AddRef();
    *out = found;
    return S_OK;
}

HRESULT SnmpVariables::Remove(VARIANT index) {
    orderValid_ = false;
    Node* node = Lookup(index);
    if (!node) return NotFound();
    Unlink(node);
    return S_OK;
}

HRESULT SnmpVariables::GetOIDFromName(BSTR name, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::u16string_view wanted = View(name);
    const uint64_t mutations = mutations_;
    for (Node* n = list_.Head(); n; n = n->next) {
        Bstr holder;
        const bool matches = NameOf(n->value, &holder) == wanted;
        if (mutations != mutations_) return S_OK;
        if (!matches) continue;
        if (n->value.own) {
            const BSTR oid = n->value.own->oid_;
            if (oid && !(*out = SysAllocStringLen(oid, SysStringLen(oid)))) return E_OUTOFMEMORY;
        } else {
            BSTR oid = nullptr;
            if (SUCCEEDED(n->value.variable->get_Oid(&oid))) *out = oid;
        }
        return S_OK;
    }
    return S_OK;
}

// ---- Table views ----

HRESULT SnmpVariables::TableAnchor(BSTR oid, size_t* position) {
    EnsureOrder();
    ComPtr<ISnmpVariable> anchor(Next(View(oid)));
    if (!anchor) return NotFound();
    Bstr holder;
    const std::u16string_view anchorOid = OidOf(Member{anchor.Get(), SnmpVariable::From(anchor.Get())}, &holder);
    const Bstr anchorCopy(anchorOid);  // the search may run host code that changes the anchor
    EnsureOrder();
    *position = SearchOrder(anchorCopy.View());
    return *position == kNotFound ? NotFound() : S_OK;
}

template <class Result, class Build>
HRESULT SnmpVariables::BuildView(BSTR oid, Result** out, Build build) {
    if (!out) return E_POINTER;
    *out = nullptr;
    size_t anchor = 0;
    if (HRESULT hr = TableAnchor(oid, &anchor); FAILED(hr)) return hr;
    if (hostMembers_ == 0) return build(std::span<ISnmpVariable* const>(order_), anchor, oid, out);
    // Host members may run code that changes the collection while the view reads them:
    // the builder works on a copy of the index whose members are kept alive meanwhile.
    std::vector<ComPtr<ISnmpVariable>> alive(order_.begin(), order_.end());
    const std::vector<ISnmpVariable*> index(order_);
    return build(std::span<ISnmpVariable* const>(index), anchor, oid, out);
}

HRESULT SnmpVariables::GetTable(BSTR oid, ISnmpTable** out) {
    return BuildView(oid, out, &BuildTable);
}

HRESULT SnmpVariables::GetTableRow(BSTR oid, ISnmpTableRow** out) {
    return BuildView(oid, out, &BuildTableRow);
}

}  // namespace velk::model
