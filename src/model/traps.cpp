// SnmpTraps.
#include "model/traps.h"

#include <vector>

#include "automation/error_reporting.h"
#include "model/trap.h"
#include "runtime/enumerator.h"

namespace velk::model {
namespace {

constexpr LONG kInvalidParam1 = 12001;

HRESULT Invalid() { return automation::ReportError(CLSID_SnmpTraps, kInvalidParam1); }

// The trap's Name, when it is a host's: asked through its interface (an unset Name, or one
// that cannot be read, is the empty text).
Bstr HostName(ISnmpTrap* trap) {
    Bstr name;
    if (FAILED(trap->get_Name(name.Put()))) name = Bstr();
    return name;
}

}  // namespace

HRESULT SnmpTraps::CreateInstance(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_SnmpTraps); FAILED(hr)) return hr;
    auto traps = rt::MakeObject<SnmpTraps>();
    if (!traps) return E_OUTOFMEMORY;
    return traps->QueryInterface(iid, out);
}

SnmpTraps::~SnmpTraps() { Clear(); }

HRESULT SnmpTraps::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(list_.Size());
    return S_OK;
}

HRESULT SnmpTraps::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<ISnmpTrap*> traps;
    traps.reserve(list_.Size());
    list_.ForEach([&](ISnmpTrap* t) { traps.push_back(t); });
    return rt::CreateObjectEnumerator(traps, out);
}

HRESULT SnmpTraps::Add(ISnmpTrap* trap) {
    if (!trap) return E_POINTER;
    trap->AddRef();
    return AppendOwned(trap);
}

HRESULT SnmpTraps::AppendOwned(ISnmpTrap* trap) {
    if (!trap) return E_POINTER;
    list_.PushBack(trap);
    ++version_;
    return S_OK;
}

HRESULT SnmpTraps::Clear() {
    // Unlink before releasing: a trap's destruction must never see itself in the list.
    while (List::Node* head = list_.Head()) {
        ++version_;
        list_.Remove(head)->Release();
    }
    return S_OK;
}

HRESULT SnmpTraps::Find(const VARIANT& index, List::Node** found) {
    *found = nullptr;
    const VARIANT* v = &index;
    if (v->vt == (VT_BYREF | VT_VARIANT)) {
        if (!v->pvarVal) return Invalid();
        v = v->pvarVal;
    }
    Variant number;
    if (SUCCEEDED(VariantChangeType(&number, v, 0, VT_I4))) {
        const LONG n = number.lVal;
        if (n < 1 || static_cast<size_t>(n) > list_.Size()) return Invalid();
        *found = list_.At(static_cast<size_t>(n - 1));
        return S_OK;
    }
    std::u16string_view key;
    if (v->vt == VT_BSTR) {
        key = v->bstrVal ? std::u16string_view(v->bstrVal, SysStringLen(v->bstrVal)) : key;
    } else if (v->vt == (VT_BYREF | VT_BSTR)) {
        const BSTR text = v->pbstrVal ? *v->pbstrVal : nullptr;
        key = text ? std::u16string_view(text, SysStringLen(text)) : key;
    } else {
        return Invalid();
    }
    for (List::Node* n = list_.Head(); n; n = n->next) {
        if (SnmpTrap* own = AsSnmpTrap(n->value)) {
            if (own->NameView() == key) {
                *found = n;
                return S_OK;
            }
            continue;
        }
        // A host's get_Name may change the collection; the walk cannot go on past that.
        const ComPtr<ISnmpTrap> hold(n->value);
        const uint64_t version = version_;
        const Bstr name = HostName(hold.Get());
        if (version != version_) return S_OK;
        if (name.View() == key) {
            *found = n;
            return S_OK;
        }
    }
    return S_OK;
}

HRESULT SnmpTraps::Item(VARIANT index, ISnmpTrap** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    List::Node* node;
    if (HRESULT hr = Find(index, &node); FAILED(hr)) return hr;
    if (node) {
        *out = node->value;
        (*out)->AddRef();
    }
    return S_OK;
}

HRESULT SnmpTraps::Remove(VARIANT index) {
    List::Node* node;
    if (HRESULT hr = Find(index, &node); FAILED(hr)) return hr;
    if (node) {
        ++version_;
        list_.Remove(node)->Release();
    }
    return S_OK;
}

}  // namespace velk::model
