// VelkStrings: an ordered list of texts.
#include "sock/velk_strings.h"

#include "automation/error_reporting.h"
#include "runtime/enumerator.h"
#include "typelib/typelib.h"

namespace velk::sock {
namespace {

constexpr LONG kInvalidParam1 = 12001;

std::u16string_view View(BSTR s) { return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view(); }

BSTR NewBstr(std::u16string_view s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

HRESULT Invalid() { return automation::ReportError(CLSID_VelkStrings, kInvalidParam1); }

}  // namespace

HRESULT VelkStrings::get_Item(LONG index, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return Invalid();
    *out = NewBstr(entries_[index - 1]);
    return S_OK;
}

HRESULT VelkStrings::put_Item(LONG index, BSTR text) {
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return Invalid();
    entries_[index - 1] = std::u16string(View(text));
    return S_OK;
}

HRESULT VelkStrings::get_Delimiter(BSTR* out) {
    if (!out) return E_POINTER;
    *out = delimiter_.empty() ? nullptr : NewBstr(delimiter_);
    return S_OK;
}

HRESULT VelkStrings::put_Delimiter(BSTR text) {
    delimiter_ = std::u16string(View(text));
    return S_OK;
}

HRESULT VelkStrings::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = static_cast<LONG>(entries_.size());
    return S_OK;
}

HRESULT VelkStrings::get_All(BSTR* out) {
    if (!out) return E_POINTER;
    std::u16string all;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (i) all += delimiter_;
        all += entries_[i];
    }
    *out = NewBstr(all);
    return S_OK;
}

HRESULT VelkStrings::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    std::vector<VARIANT> items(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        items[i].vt = VT_BSTR;
        items[i].bstrVal = NewBstr(entries_[i]);
    }
    HRESULT hr = rt::CreateSnapshotEnumerator(items.data(), items.size(), out);
    for (VARIANT& v : items) VariantClear(&v);
    return hr;
}

HRESULT VelkStrings::Find(BSTR prefix, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::u16string_view p = View(prefix);
    for (const std::u16string& e : entries_) {
        if (e.size() >= p.size() && std::u16string_view(e).substr(0, p.size()) == p) {
            *out = NewBstr(e);
            return S_OK;
        }
    }
    return S_OK;
}

HRESULT VelkStrings::Clear() {
    entries_.clear();
    return S_OK;
}

HRESULT VelkStrings::Remove(LONG index, BSTR* out) {
    if (out) *out = nullptr;
    if (index < 1 || static_cast<size_t>(index) > entries_.size()) return Invalid();
    if (out) *out = NewBstr(entries_[index - 1]);
    entries_.erase(entries_.begin() + (index - 1));
    return S_OK;
}

HRESULT VelkStrings::Add(BSTR text, LONG position) {
    std::vector<std::u16string> pieces;
    std::u16string_view t = View(text);
    if (delimiter_.empty()) {
        pieces.emplace_back(t);
    } else {
        size_t start = 0;
        while (true) {
            size_t at = t.find(delimiter_, start);
            if (at == std::u16string_view::npos) {
                pieces.emplace_back(t.substr(start));
                break;
            }
            pieces.emplace_back(t.substr(start, at - start));
            start = at + delimiter_.size();
        }
    }
    size_t at = (position >= 1 && static_cast<size_t>(position) <= entries_.size())
                    ? static_cast<size_t>(position - 1)
                    : entries_.size();
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at),
                    std::make_move_iterator(pieces.begin()), std::make_move_iterator(pieces.end()));
    return S_OK;
}

HRESULT CreateVelkStrings(IVelkStrings** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (HRESULT hr = rt::CreationFailure(CLSID_VelkStrings); FAILED(hr)) return hr;
    auto s = rt::MakeObject<VelkStrings>();
    if (!s) return E_OUTOFMEMORY;
    *out = s.Detach();
    return S_OK;
}

VelkStrings* AsVelkStrings(IVelkStrings* strings) {
    return dynamic_cast<VelkStrings*>(strings);
}

}  // namespace velk::sock
