// CVelkVariant: byte access to a VARIANT.
#include "model/velk_variant.h"

#include <algorithm>
#include <limits>

namespace velk::model {
namespace {

constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;
// Largest text or array a writer creates (the runtime's own limit for one block).
constexpr size_t kMaxWrite = 0x7FFFFFFF;

// Element count of a byte array, or false when it cannot be read as bytes in place.
bool ByteCount(const SAFEARRAY* psa, size_t* count) {
    if (!psa || psa->cbElements != 1) return false;
    uint64_t n = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        if (__builtin_mul_overflow(n, uint64_t{psa->rgsabound[i].cElements}, &n)) return false;
    }
    if (psa->cDims == 0) n = 0;
    if (n > 0 && !psa->pvData) return false;
    if (n > std::numeric_limits<size_t>::max()) return false;
    *count = static_cast<size_t>(n);
    return true;
}

}  // namespace

const VARIANT* FollowVariantReferences(const VARIANT* v) {
    for (int depth = 0; v && v->vt == (VT_BYREF | VT_VARIANT); ++depth) {
        if (depth == CVelkVariant::kMaxIndirection) return nullptr;
        v = v->pvarVal;
    }
    return v;
}

CVelkVariant::~CVelkVariant() { Unbind(); }

bool CVelkVariant::Read(const VARIANT& source, size_t max) {
    Unbind();
    const VARIANT* v = FollowVariantReferences(&source);
    if (!v) return false;
    const bool byRef = (v->vt & VT_BYREF) != 0;
    const VARTYPE vt = v->vt & ~VT_BYREF;
    if (byRef && !v->byref) return false;

    if (vt == VT_BSTR) {
        const BSTR s = byRef ? *v->pbstrVal : v->bstrVal;
        const size_t n = std::min<size_t>(SysStringLen(s), max);
        buffer_.resize(n);
        if (n) VelkWideToAnsi(s, static_cast<int>(n), reinterpret_cast<char*>(buffer_.data()), static_cast<int>(n));
        mode_ = Mode::Read;
        kind_ = Kind::Text;
        data_ = buffer_.data();
        size_ = n;
        return true;
    }
    if (vt == VT_UI1) {
        byte_ = byRef ? *v->pbVal : v->bVal;
        mode_ = Mode::Read;
        kind_ = Kind::Byte;
        data_ = &byte_;
        size_ = max == 0 ? 0 : 1;
        return true;
    }
    if (vt == kByteArray) {
        SAFEARRAY* psa = byRef ? *v->pparray : v->parray;
        size_t n = 0;
        if (!ByteCount(psa, &n) || FAILED(SafeArrayLock(psa))) return false;
        locked_ = psa;
        mode_ = Mode::Read;
        kind_ = Kind::Array;
        data_ = static_cast<uint8_t*>(psa->pvData);
        size_ = std::min(n, max);
        return true;
    }
    return false;
}

uint8_t* CVelkVariant::Write(VARIANT* target, size_t n) {
    Unbind();
    if (!target) return nullptr;
    VARIANT* v = const_cast<VARIANT*>(FollowVariantReferences(target));
    if (!v) return nullptr;
    const bool byRef = (v->vt & VT_BYREF) != 0;
    const VARTYPE vt = v->vt & ~VT_BYREF;
    if (byRef && !v->byref) return nullptr;

    if (vt == VT_BSTR) {
        if (n > kMaxWrite) return nullptr;
        buffer_.assign(n, 0);
        text_ = byRef ? v->pbstrVal : &v->bstrVal;
        mode_ = Mode::Write;
        kind_ = Kind::Text;
        data_ = n ? buffer_.data() : &byte_;  // non-null also for n = 0
        size_ = n;
        return data_;
    }
    if (vt == VT_UI1) {
        mode_ = Mode::Write;
        kind_ = Kind::Byte;
        data_ = byRef ? v->pbVal : &v->bVal;
        size_ = 1;
        return data_;
    }
    if (vt == kByteArray) {
        if (n > kMaxWrite) return nullptr;
        SAFEARRAY** slot = byRef ? v->pparray : &v->parray;
        SAFEARRAY* fresh = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n));
        if (!fresh) return nullptr;
        if (FAILED(SafeArrayDestroy(*slot))) {  // a locked array stays where it is
            SafeArrayDestroy(fresh);
            return nullptr;
        }
        *slot = fresh;
        void* data = nullptr;
        SafeArrayAccessData(fresh, &data);
        locked_ = fresh;
        mode_ = Mode::Write;
        kind_ = Kind::Array;
        data_ = data ? static_cast<uint8_t*>(data) : &byte_;  // non-null also for n = 0
        size_ = n;
        return data_;
    }
    return nullptr;
}

HRESULT CVelkVariant::Commit(size_t used) {
    if (mode_ != Mode::Write) return E_UNEXPECTED;
    used = std::min(used, size_);
    HRESULT hr = S_OK;
    if (kind_ == Kind::Text) {
        BSTR fresh = SysAllocStringLen(nullptr, static_cast<UINT>(used));
        if (fresh) {
            if (used) VelkAnsiToWide(reinterpret_cast<const char*>(buffer_.data()), static_cast<int>(used), fresh, static_cast<int>(used));
            SysFreeString(*text_);
            *text_ = fresh;
        } else {
            hr = E_OUTOFMEMORY;
        }
    } else if (kind_ == Kind::Array) {
        SafeArrayUnaccessData(locked_);
        if (used < size_) {
            SAFEARRAYBOUND bound{static_cast<ULONG>(used), 0};
            SafeArrayRedim(locked_, &bound);
        }
        locked_ = nullptr;
    }
    mode_ = Mode::None;
    kind_ = Kind::None;
    data_ = nullptr;
    size_ = 0;
    text_ = nullptr;
    buffer_.clear();
    return hr;
}

void CVelkVariant::Unbind() {
    if (mode_ == Mode::Write) {
        Commit(size_);
        return;
    }
    if (locked_) SafeArrayUnlock(locked_);
    locked_ = nullptr;
    mode_ = Mode::None;
    kind_ = Kind::None;
    data_ = nullptr;
    size_ = 0;
    buffer_.clear();
}

}  // namespace velk::model
