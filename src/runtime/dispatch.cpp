// Table-driven IDispatch: name lookup, parameter resolution and Invoke.
#include "runtime/dispatch.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

namespace velk::rt {
namespace {

char AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char>(c - u'A' + 'a') : static_cast<char>(c);
}

bool NameEquals(const char* ascii, LPCOLESTR wide) {
    if (!ascii || !wide) return false;
    size_t i = 0;
    for (; ascii[i] && wide[i]; ++i) {
        if (wide[i] > 0x7F) return false;
        char a = ascii[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != AsciiLower(wide[i])) return false;
    }
    return ascii[i] == 0 && wide[i] == 0;
}

// Parses a default value literal: an integer, or a quoted text.
void ParseDefault(const std::string& literal, VARIANT* out) {
    VariantInit(out);
    if (literal.size() >= 2 && literal.front() == '"' && literal.back() == '"') {
        std::string text = literal.substr(1, literal.size() - 2);
        out->vt = VT_BSTR;
        out->bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
        for (size_t i = 0; i < text.size(); ++i)
            out->bstrVal[i] = static_cast<unsigned char>(text[i]);
        return;
    }
    out->vt = VT_I4;
    out->lVal = static_cast<LONG>(std::strtol(literal.c_str(), nullptr, 10));
}

struct ResolvedStore {
    ResolvedStore() = default;
    ResolvedStore(ResolvedStore&&) = default;
    ~ResolvedStore() {
        for (const ResolvedMember& m : members)
            if (m.def)
            for (uint8_t i = 0; i < m.def->binding.count; ++i) VariantClear(&m.params[i].defaultValue);
    }
    std::vector<ResolvedMember> members;
    std::vector<DISPID> ids;  // members[i].def->dispid, contiguous for the scan by DISPID
    std::vector<std::unique_ptr<ParamInfo[]>> params;
    std::vector<std::unique_ptr<char[]>> names;
};

ResolvedStore BuildResolved(const InterfaceDef& itf) {
    ResolvedStore store;
    store.members.resize(itf.count);
    store.ids.resize(itf.count);
    for (size_t m = 0; m < itf.count; ++m) {
        const MemberDef& def = itf.members[m];
        const Binding& b = def.binding;
        auto params = std::make_unique<ParamInfo[]>(b.count ? b.count : 1);
        std::string paramList = def.params ? def.params : "";
        std::vector<std::string> pieces;
        size_t start = 0;
        while (start <= paramList.size() && !paramList.empty()) {
            size_t comma = paramList.find(',', start);
            if (comma == std::string::npos) comma = paramList.size();
            pieces.push_back(paramList.substr(start, comma - start));
            start = comma + 1;
        }
        UINT required = 0;
        bool seenOptional = false;
        for (uint8_t i = 0; i < b.count; ++i) {
            ParamInfo& p = params[i];
            p.type = b.params[i];
            VariantInit(&p.defaultValue);
            std::string piece = i < pieces.size() ? pieces[i] : std::string();
            if (i >= pieces.size()) piece.append(1, 'p').append(std::to_string(i));
            bool isRetval = b.retval && i + 1 == b.count;
            USHORT flags = isRetval ? (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)
                                    : ((p.type.vt & VT_BYREF) ? (PARAMFLAG_FIN | PARAMFLAG_FOUT)
                                                              : PARAMFLAG_FIN);
            size_t eq = piece.find('=');
            if (eq != std::string::npos) {
                ParseDefault(piece.substr(eq + 1), &p.defaultValue);
                piece.resize(eq);
                flags |= PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
            } else if (!piece.empty() && piece.back() == '?') {
                piece.pop_back();
                flags |= PARAMFLAG_FOPT;
            }
            p.flags = flags;
            auto name = std::make_unique<char[]>(piece.size() + 1);
            std::memcpy(name.get(), piece.c_str(), piece.size() + 1);
            p.name = name.get();
            store.names.push_back(std::move(name));
            if (!isRetval) {
                if (flags & PARAMFLAG_FOPT)
                    seenOptional = true;
                else if (!seenOptional)
                    ++required;
            }
        }
        ResolvedMember& r = store.members[m];
        r.def = &def;
        r.params = params.get();
        r.dispatchParams = b.count - (b.retval ? 1 : 0);
        r.required = required;
        store.ids[m] = def.dispid;
        store.params.push_back(std::move(params));
    }
    return store;
}

// The resolved form of every table, built once per table for the process and never freed
// (objects may be invoked during static destruction). Lookups take no lock: an
// open-addressing index of entries, each published with release order once complete;
// entries are only ever added (under the mutex), never moved or removed. Tables beyond
// the index's slots (none in practice) are found under the mutex.
class StoreIndex {
public:
    const ResolvedStore& For(const InterfaceDef& itf) {
        if (const ResolvedStore* found = Find(itf)) return *found;
        std::lock_guard<std::mutex> lock(mutex_);
        if (const ResolvedStore* found = Find(itf)) return *found;
        for (const Entry* e : overflow_)
            if (e->itf == &itf) return e->store;
        auto* entry = new Entry{&itf, BuildResolved(itf)};
        for (size_t i = 0, h = Hash(itf); i < kSlots; ++i, ++h) {
            std::atomic<const Entry*>& slot = slots_[h % kSlots];
            if (!slot.load(std::memory_order_relaxed)) {
                slot.store(entry, std::memory_order_release);
                return entry->store;
            }
        }
        overflow_.push_back(entry);  // more tables than slots: found under the lock
        return entry->store;
    }

private:
    struct Entry {
        const InterfaceDef* itf;
        ResolvedStore store;
    };
    static constexpr size_t kSlots = 256;

    static size_t Hash(const InterfaceDef& itf) { return reinterpret_cast<uintptr_t>(&itf) >> 4; }

    const ResolvedStore* Find(const InterfaceDef& itf) {
        for (size_t i = 0, h = Hash(itf); i < kSlots; ++i, ++h) {
            const Entry* e = slots_[h % kSlots].load(std::memory_order_acquire);
            if (!e) return nullptr;
            if (e->itf == &itf) return &e->store;
        }
        return nullptr;
    }

    std::atomic<const Entry*> slots_[kSlots] = {};
    std::mutex mutex_;
    std::vector<const Entry*> overflow_;
};

const ResolvedStore& StoreFor(const InterfaceDef& itf) {
    static StoreIndex* index = new StoreIndex;
    return index->For(itf);
}

bool Accepts(MemberKind kind, WORD flags) {
    switch (kind) {
        case MemberKind::Method: return flags & DISPATCH_METHOD;
        case MemberKind::PropGet: return flags & DISPATCH_PROPERTYGET;
        case MemberKind::PropPut: return flags & DISPATCH_PROPERTYPUT;
        case MemberKind::PropPutRef: return flags & DISPATCH_PROPERTYPUTREF;
    }
    return false;
}

// Chooses the member for a DISPID and invoke flags.
const ResolvedMember* FindMember(const InterfaceDef& itf, DISPID id, WORD flags) {
    const ResolvedStore& store = StoreFor(itf);
    const ResolvedMember* fallback = nullptr;
    for (size_t i = 0; i < store.ids.size(); ++i) {
        if (store.ids[i] != id) continue;
        const ResolvedMember& m = store.members[i];
        if (Accepts(m.def->kind, flags)) return &m;
        // A put of an object through DISPATCH_PROPERTYPUT may land on a putref and back;
        // a method call of a property get (obj.Item(1)) and the reverse are common in hosts.
        bool putLike = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
        bool mPut = m.def->kind == MemberKind::PropPut || m.def->kind == MemberKind::PropPutRef;
        if (putLike == mPut && !fallback) fallback = &m;
    }
    return fallback;
}

void ClearExcepInfo(EXCEPINFO* e) {
    if (!e) return;
    std::memset(e, 0, sizeof(*e));
}

// Fills EXCEPINFO from the thread's error information for a failed call.
void FillExcepInfo(EXCEPINFO* e, HRESULT hr) {
    ClearExcepInfo(e);
    e->scode = hr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetSource(&e->bstrSource);
        info->GetDescription(&e->bstrDescription);
        info->GetHelpFile(&e->bstrHelpFile);
        info->GetHelpContext(&e->dwHelpContext);
        info->Release();
    }
}

// Per-call storage of n zero-initialised elements: inline for the usual few parameters,
// on the heap only beyond that. Only the n elements in use are cleared.
template <class T, size_t N = 8>
class CallArray {
    static_assert(std::is_trivial_v<T>);

public:
    explicit CallArray(size_t n) {
        if (n > N) {
            heap_ = std::make_unique<T[]>(n);
            data_ = heap_.get();
        } else {
            std::fill_n(inline_, n, T{});
        }
    }
    CallArray(const CallArray&) = delete;
    CallArray& operator=(const CallArray&) = delete;
    T& operator[](size_t i) { return data_[i]; }
    T* data() { return data_; }

private:
    T inline_[N];
    std::unique_ptr<T[]> heap_;
    T* data_ = inline_;
};

// Holds the coerced arguments of one call and releases what it owns. Zeroed VARIANTs are
// empty ones.
struct ArgFrame {
    explicit ArgFrame(UINT n) : count(n), args(n), temps(n), owned(n) {}
    ~ArgFrame() {
        for (UINT i = 0; i < count; ++i) {
            if (owned[i]) {
                if (args[i].vt == VT_UNKNOWN && args[i].byref)
                    static_cast<IUnknown*>(args[i].byref)->Release();
                else
                    VariantClear(&args[i]);
            }
            VariantClear(&temps[i]);
        }
    }
    UINT count;
    CallArray<VARIANT> args;   // what the member receives
    CallArray<VARIANT> temps;  // storage for by-reference parameters
    CallArray<bool> owned;
};

const VARIANT* Deref(const VARIANT* v) {
    for (int depth = 0; depth < 8 && v && v->vt == (VT_BYREF | VT_VARIANT); ++depth)
        v = v->pvarVal;
    return v;
}

bool IsMissing(const VARIANT* v) {
    v = Deref(v);
    return v && v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

// Coerces one caller argument (or its absence) to the parameter's type.
HRESULT Coerce(const ParamInfo& p, const VARIANT* given, ArgFrame& frame, UINT i) {
    VARIANT& out = frame.args[i];
    VARTYPE vt = p.type.vt;
    bool missing = !given || IsMissing(given);
    if (missing) {
        if (!(p.flags & PARAMFLAG_FOPT)) return DISP_E_PARAMNOTOPTIONAL;
    }

    if (vt == (VT_VARIANT | VT_BYREF)) {
        // By-reference VARIANT: pass the caller's VARIANT when it gave one by reference,
        // otherwise a private copy (the caller then does not see changes).
        VARIANT& temp = frame.temps[i];
        if (!missing && given->vt == (VT_BYREF | VT_VARIANT)) {
            out.vt = VT_BYREF | VT_VARIANT;
            out.pvarVal = given->pvarVal;
            return S_OK;
        }
        if (missing) {
            temp.vt = VT_ERROR;
            temp.scode = DISP_E_PARAMNOTFOUND;
        } else if (HRESULT hr = VariantCopy(&temp, given); FAILED(hr)) {
            return hr;
        }
        out.vt = VT_BYREF | VT_VARIANT;
        out.pvarVal = &temp;
        return S_OK;
    }
    if (vt & VT_BYREF) {
        // By-reference scalar out-parameter: use the caller's storage when its type matches,
        // else a temporary of the right type.
        VARTYPE base = vt & ~VT_BYREF;
        if (!missing && given->vt == vt) {
            out.vt = vt;
            out.byref = given->byref;
            return S_OK;
        }
        VARIANT& temp = frame.temps[i];
        temp.vt = base;
        temp.llVal = 0;
        out.vt = vt;
        out.byref = &temp.llVal;
        return S_OK;
    }
    if (vt == VT_VARIANT) {
        if (missing) {
            if (p.flags & PARAMFLAG_FHASDEFAULT) {
                frame.owned[i] = true;
                return VariantCopy(&out, &p.defaultValue);
            }
            out.vt = VT_ERROR;
            out.scode = DISP_E_PARAMNOTFOUND;
            return S_OK;
        }
        out = *given;  // shallow: the callee borrows the caller's VARIANT as automation does
        return S_OK;
    }
    const VARIANT* src = missing ? &p.defaultValue : given;
    if (missing && !(p.flags & PARAMFLAG_FHASDEFAULT)) {
        // Optional without default: the type's zero value.
        out.vt = vt;
        out.llVal = 0;
        if (vt == VT_DISPATCH || vt == VT_UNKNOWN) out.byref = nullptr, out.vt = VT_UNKNOWN;
        return S_OK;
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        const VARIANT* d = Deref(src);
        IUnknown* unk = nullptr;
        if (d->vt == VT_DISPATCH || d->vt == VT_UNKNOWN)
            unk = d->punkVal;
        else if (d->vt == (VT_BYREF | VT_DISPATCH) || d->vt == (VT_BYREF | VT_UNKNOWN))
            unk = d->ppunkVal ? *d->ppunkVal : nullptr;
        else if (d->vt == VT_EMPTY || d->vt == VT_NULL)
            unk = nullptr;
        else
            return DISP_E_TYPEMISMATCH;
        void* typed = nullptr;
        if (unk) {
            if (FAILED(unk->QueryInterface(*p.type.iid, &typed))) return DISP_E_TYPEMISMATCH;
            frame.owned[i] = true;
        }
        out.vt = VT_UNKNOWN;
        out.byref = typed;
        return S_OK;
    }
    if (src->vt == vt) {
        out = *src;  // already of the parameter's type: borrowed, as automation passes it
        return S_OK;
    }
    frame.owned[i] = true;
    HRESULT hr = VariantChangeType(&out, src, 0, vt);
    if (FAILED(hr)) {
        VariantInit(&out);
        return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

// Writes a by-reference scalar back into a caller VARIANT given by reference.
void WriteBack(const ParamInfo& p, const VARIANT* given, ArgFrame& frame, UINT i) {
    if (!given || !(p.type.vt & VT_BYREF) || p.type.vt == (VT_VARIANT | VT_BYREF)) return;
    if (given->vt != (VT_BYREF | VT_VARIANT) || !given->pvarVal) return;
    VARIANT& temp = frame.temps[i];
    VariantClear(given->pvarVal);
    *given->pvarVal = temp;
    VariantInit(&temp);
}

}  // namespace

const ResolvedMember& Resolve(const InterfaceDef& itf, size_t memberIndex) {
    return StoreFor(itf).members[memberIndex];
}

HRESULT DispatchGetIDsOfNames(const InterfaceDef& itf, LPOLESTR* names, UINT count,
                              DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const ResolvedStore& store = StoreFor(itf);
    const ResolvedMember* found = nullptr;
    for (const ResolvedMember& m : store.members) {
        if (NameEquals(m.def->name, names[0])) {
            found = &m;
            break;
        }
    }
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->def->dispid;
    HRESULT hr = S_OK;
    for (UINT n = 1; n < count; ++n) {
        // Parameter names: their position is their DISPID. Look through every member of
        // that DISPID (a get and a put may name parameters differently).
        for (const ResolvedMember& m : store.members) {
            if (m.def->dispid != found->def->dispid) continue;
            for (UINT p = 0; p < m.dispatchParams; ++p) {
                if (NameEquals(m.params[p].name, names[n])) ids[n] = static_cast<DISPID>(p);
            }
        }
        if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchInvoke(const InterfaceDef& itf, void* iface, DISPID id, WORD flags,
                       DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
    if (!params) return E_INVALIDARG;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;
    if (params->cNamedArgs && !params->rgdispidNamedArgs) return E_INVALIDARG;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) result = nullptr;
    if (result) VariantInit(result);

    const ResolvedMember* member = FindMember(itf, id, flags);
    if (!member || !member->def->binding.invoke) return DISP_E_MEMBERNOTFOUND;

    const UINT n = member->dispatchParams;
    // Map the caller's arguments (positional ones are in reverse order) to parameters.
    CallArray<const VARIANT*> given(n);
    CallArray<UINT> givenIndex(n);
    const UINT positional = params->cArgs - params->cNamedArgs;
    bool isPut = member->def->kind == MemberKind::PropPut ||
                 member->def->kind == MemberKind::PropPutRef;
    UINT named = 0;
    for (UINT k = 0; k < params->cNamedArgs; ++k) {
        DISPID nid = params->rgdispidNamedArgs[k];
        UINT target;
        if (nid == DISPID_PROPERTYPUT && isPut && n > 0) {
            target = n - 1;
        } else if (nid >= 0 && static_cast<UINT>(nid) < n) {
            target = static_cast<UINT>(nid);
        } else {
            if (argErr) *argErr = k;
            return DISP_E_PARAMNOTFOUND;
        }
        given[target] = &params->rgvarg[k];
        givenIndex[target] = k;
        ++named;
    }
    if (positional > n) return DISP_E_BADPARAMCOUNT;
    for (UINT p = 0; p < positional; ++p) {
        UINT k = params->cArgs - 1 - p;
        UINT target = p;
        if (isPut && named == 0 && p == positional - 1) target = n - 1;  // value goes last
        if (given[target]) return DISP_E_BADPARAMCOUNT;
        given[target] = &params->rgvarg[k];
        givenIndex[target] = k;
    }
    if (isPut && !given[n - 1]) return DISP_E_BADPARAMCOUNT;
    UINT supplied = 0;
    for (UINT p = 0; p < n; ++p)
        if (given[p] && !IsMissing(given[p])) supplied = p + 1;
    for (UINT p = 0; p < member->required; ++p) {
        if (!given[p] || IsMissing(given[p])) {
            return supplied < member->required ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
        }
    }

    ArgFrame frame(n);
    for (UINT p = 0; p < n; ++p) {
        HRESULT hr = Coerce(member->params[p], given[p], frame, p);
        if (FAILED(hr)) {
            if (argErr) *argErr = given[p] ? givenIndex[p] : 0;
            return hr;
        }
    }

    VARIANT local;
    VariantInit(&local);
    HRESULT hr = member->def->binding.invoke(iface, frame.args.data(), result ? result : &local);
    VariantClear(&local);
    for (UINT p = 0; p < n; ++p) WriteBack(member->params[p], given[p], frame, p);
    if (FAILED(hr)) {
        if (result) VariantClear(result);
        if (excep) {
            FillExcepInfo(excep, hr);
            return DISP_E_EXCEPTION;
        }
        return hr;
    }
    return hr;
}

}  // namespace velk::rt
