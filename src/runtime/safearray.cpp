// SAFEARRAY: a descriptor (with the element type stored just before it) and one block of
// elements. Bounds are kept in reverse order in the descriptor, as automation does:
// rgsabound[0] describes the last dimension. Elements are laid out with the first
// dimension varying fastest; index vectors list dimensions first to last.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "runtime/placed_array.h"
#include "velk/oleauto.h"

namespace {

constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);
// Largest element block; requests beyond it fail instead of attempting the allocation.
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFFu;

// Stored in front of every descriptor this file allocates (FADF_HAVEVARTYPE).
struct alignas(std::max_align_t) Prefix {
    VARTYPE vt;
    // The element block follows the descriptor in the same allocation (one malloc per
    // array); SafeArrayRedim moves it out before it resizes.
    bool dataInBlock;
};

Prefix* PrefixOf(SAFEARRAY* psa) { return reinterpret_cast<Prefix*>(psa) - 1; }

bool DataInBlock(SAFEARRAY* psa) {
    return (psa->fFeatures & FADF_HAVEVARTYPE) && PrefixOf(psa)->dataInBlock;
}

// Frees the element block unless it lives in the descriptor's allocation.
void FreeData(SAFEARRAY* psa) {
    if (!DataInBlock(psa)) std::free(psa->pvData);
    psa->pvData = nullptr;
}

size_t DescriptorBytes(UINT cDims) {
    return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
}

ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: return 1;
        case VT_I2: case VT_UI2: case VT_BOOL: return 2;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
        case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
        case VT_BSTR: return sizeof(BSTR);
        case VT_UNKNOWN: case VT_DISPATCH: return sizeof(IUnknown*);
        case VT_VARIANT: return sizeof(VARIANT);
        default: return 0;
    }
}

USHORT FeaturesFor(VARTYPE vt) {
    switch (vt) {
        case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
        case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
        case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
        case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
        default: return FADF_HAVEVARTYPE;
    }
}

SAFEARRAYBOUND* Bounds(SAFEARRAY* psa) { return psa->rgsabound; }

// Whether the bound is representable: its upper bound (lower - 1 when empty) fits a LONG.
bool ValidBound(const SAFEARRAYBOUND& b) {
    const int64_t upper = int64_t{b.lLbound} + int64_t{b.cElements} - 1;
    return upper >= std::numeric_limits<LONG>::min() && upper <= std::numeric_limits<LONG>::max();
}

// Total elements of the array (false when the element block would exceed the limit).
bool CountElements(const SAFEARRAY* psa, uint64_t* count) {
    uint64_t n = 1;
    for (USHORT i = 0; i < psa->cDims; ++i) {
        if (__builtin_mul_overflow(n, uint64_t{psa->rgsabound[i].cElements}, &n)) return false;
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(n, uint64_t{psa->cbElements}, &bytes) || bytes > kMaxDataBytes)
        return false;
    *count = n;
    return true;
}

uint64_t ElementCount(const SAFEARRAY* psa) {
    uint64_t n = 0;
    return CountElements(psa, &n) ? n : 0;
}

HRESULT TypeOf(const SAFEARRAY* psa, VARTYPE* vt) {
    if (psa->fFeatures & FADF_HAVEVARTYPE) {
        const auto* prefix = reinterpret_cast<const Prefix*>(psa) - 1;
        *vt = prefix->vt;
    } else if (psa->fFeatures & FADF_BSTR) {
        *vt = VT_BSTR;
    } else if (psa->fFeatures & FADF_UNKNOWN) {
        *vt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_DISPATCH) {
        *vt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_VARIANT) {
        *vt = VT_VARIANT;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

// Releases what elements [first, first + count) own and zeroes them.
void ReleaseElements(SAFEARRAY* psa, uint64_t first, uint64_t count) {
    if (!psa->pvData || count == 0) return;
    auto* base = static_cast<unsigned char*>(psa->pvData) + first * psa->cbElements;
    if (psa->fFeatures & FADF_BSTR) {
        auto* items = reinterpret_cast<BSTR*>(base);
        for (uint64_t i = 0; i < count; ++i) SysFreeString(items[i]);
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* items = reinterpret_cast<IUnknown**>(base);
        for (uint64_t i = 0; i < count; ++i)
            if (items[i]) items[i]->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* items = reinterpret_cast<VARIANT*>(base);
        for (uint64_t i = 0; i < count; ++i) VariantClear(&items[i]);
    }
    std::memset(base, 0, static_cast<size_t>(count * psa->cbElements));
}

// Address of the element at `indices` (first dimension first), or null when out of bounds.
void* ElementAt(SAFEARRAY* psa, const LONG* indices) {
    uint64_t offset = 0;
    uint64_t stride = 1;
    for (UINT d = 0; d < psa->cDims; ++d) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
        const int64_t i = int64_t{indices[d]} - b.lLbound;
        if (i < 0 || i >= int64_t{b.cElements}) return nullptr;
        offset += static_cast<uint64_t>(i) * stride;
        stride *= b.cElements;
    }
    return static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
}

SAFEARRAY* Create(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound) {
    const ULONG size = ElementSize(vt);
    if (size == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound) return nullptr;
    for (UINT i = 0; i < cDims; ++i)
        if (!ValidBound(rgsabound[i])) return nullptr;

    // Count on a descriptor of the caller's bounds first, so the element block can share
    // the descriptor's allocation.
    uint64_t count = 1;
    for (UINT i = 0; i < cDims; ++i) {
        if (__builtin_mul_overflow(count, uint64_t{rgsabound[i].cElements}, &count)) return nullptr;
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(count, uint64_t{size}, &bytes) || bytes > kMaxDataBytes) return nullptr;

    constexpr size_t kAlign = alignof(std::max_align_t);
    const size_t headerBytes = (sizeof(Prefix) + DescriptorBytes(cDims) + kAlign - 1) / kAlign * kAlign;
    // Never a null data pointer, even for no elements: callers may copy from it.
    const size_t total = headerBytes + (bytes ? static_cast<size_t>(bytes) : 1);
    // malloc and memset rather than calloc: calloc bypasses the allocator's per-thread
    // cache, and arrays are made and freed at a high rate (one per decoded string).
    auto* block = static_cast<unsigned char*>(std::malloc(total));
    if (!block) return nullptr;
    std::memset(block, 0, total);
    new (block) Prefix{vt, true};
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + sizeof(Prefix));
    psa->cDims = static_cast<USHORT>(cDims);
    psa->fFeatures = FeaturesFor(vt);
    psa->cbElements = size;
    psa->cLocks = 0;
    for (UINT i = 0; i < cDims; ++i) Bounds(psa)[cDims - 1 - i] = rgsabound[i];
    psa->pvData = block + headerBytes;
    return psa;
}

bool OwnsMemory(const SAFEARRAY* psa) {
    return !(psa->fFeatures & (FADF_AUTO | FADF_STATIC));
}

}  // namespace

namespace velk::rt {

std::size_t PlacedByteVectorBytes(std::size_t count) {
    constexpr size_t kAlign = alignof(std::max_align_t);
    return (sizeof(Prefix) + DescriptorBytes(1) + kAlign - 1) / kAlign * kAlign + count;
}

SAFEARRAY* PlaceByteVector(void* memory, const uint8_t* data, std::size_t count) {
    constexpr size_t kAlign = alignof(std::max_align_t);
    auto* block = static_cast<unsigned char*>(memory);
    new (block) Prefix{VT_UI1, true};
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + sizeof(Prefix));
    psa->cDims = 1;
    psa->fFeatures = FADF_HAVEVARTYPE | FADF_STATIC;
    psa->cbElements = 1;
    psa->cLocks = 0;
    psa->rgsabound[0] = SAFEARRAYBOUND{static_cast<ULONG>(count), 0};
    psa->pvData = block + (sizeof(Prefix) + DescriptorBytes(1) + kAlign - 1) / kAlign * kAlign;
    if (count) std::memcpy(psa->pvData, data, count);
    return psa;
}

}  // namespace velk::rt

// A new array of `cDims` dimensions with the given bounds (first dimension first),
// zero-initialised. Null for an element type without a size, no dimensions, bounds whose
// upper bound does not fit a LONG, a block that is too large, or no memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
    return Create(vt, cDims, rgsabound);
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
    const SAFEARRAYBOUND bound{cElements, lLbound};
    return Create(vt, 1, &bound);
}

// Releases the elements and frees the array. DISP_E_ARRAYISLOCKED while locked. Null is
// accepted (S_OK).
HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (!psa) return S_OK;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    ReleaseElements(psa, 0, ElementCount(psa));
    if (OwnsMemory(psa)) {
        FreeData(psa);
        void* block = (psa->fFeatures & FADF_HAVEVARTYPE) ? static_cast<void*>(reinterpret_cast<Prefix*>(psa) - 1)
                                                         : static_cast<void*>(psa);
        std::free(block);
    }
    return S_OK;
}

// Locks the array and gives its element block; pair with SafeArrayUnaccessData.
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (!psa || !ppvData) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

// A locked array cannot be destroyed or resized. E_UNEXPECTED when the count would overflow.
HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

// E_UNEXPECTED when the array is not locked.
HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!psa) return E_INVALIDARG;
    if (psa->cLocks == 0) return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

// Dimensions are numbered from 1; DISP_E_BADINDEX for any other.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
    if (!psa || !plLbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    *plLbound = Bounds(psa)[psa->cDims - nDim].lLbound;
    return S_OK;
}

// The upper bound is the lower bound minus one for an empty dimension.
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
    if (!psa || !plUbound) return E_INVALIDARG;
    if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = Bounds(psa)[psa->cDims - nDim];
    *plUbound = static_cast<LONG>(int64_t{b.lLbound} + int64_t{b.cElements} - 1);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!psa || !pvt) return E_INVALIDARG;
    return TypeOf(psa, pvt);
}

// Changes the last dimension's bounds; the elements that stay keep their values, new ones
// are zero, removed ones are released. DISP_E_ARRAYISLOCKED while locked; on any failure
// the array is unchanged.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
    if (!psa || !psaboundNew || psa->cDims == 0) return E_INVALIDARG;
    if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    if ((psa->fFeatures & FADF_FIXEDSIZE) || !OwnsMemory(psa)) return E_INVALIDARG;
    if (!ValidBound(*psaboundNew)) return E_INVALIDARG;

    const uint64_t oldCount = ElementCount(psa);
    const SAFEARRAYBOUND oldBound = Bounds(psa)[0];
    Bounds(psa)[0] = *psaboundNew;
    uint64_t newCount = 0;
    if (!CountElements(psa, &newCount)) {
        Bounds(psa)[0] = oldBound;
        return E_OUTOFMEMORY;
    }
    const uint64_t newBytes = newCount * psa->cbElements;
    if (newCount != oldCount && DataInBlock(psa)) {
        // The element block shares the descriptor's allocation: give it one of its own.
        const uint64_t oldBytes = oldCount * psa->cbElements;
        void* own = std::malloc(oldBytes ? static_cast<size_t>(oldBytes) : 1);
        if (!own) {
            Bounds(psa)[0] = oldBound;
            return E_OUTOFMEMORY;
        }
        if (oldBytes) std::memcpy(own, psa->pvData, static_cast<size_t>(oldBytes));
        psa->pvData = own;
        PrefixOf(psa)->dataInBlock = false;
    }
    if (newCount < oldCount) {
        ReleaseElements(psa, newCount, oldCount - newCount);
        if (void* smaller = std::realloc(psa->pvData, newBytes ? static_cast<size_t>(newBytes) : 1))
            psa->pvData = smaller;
    } else if (newCount > oldCount) {
        void* larger = std::realloc(psa->pvData, static_cast<size_t>(newBytes));
        if (!larger) {
            Bounds(psa)[0] = oldBound;
            return E_OUTOFMEMORY;
        }
        const uint64_t oldBytes = oldCount * psa->cbElements;
        std::memset(static_cast<unsigned char*>(larger) + oldBytes, 0,
                    static_cast<size_t>(newBytes - oldBytes));
        psa->pvData = larger;
    }
    return S_OK;
}

// A new array of the same type and shape with copies of the elements (new texts, new
// references, deep-copied VARIANTs). *ppsaOut is null on failure.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (!ppsaOut) return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa) return E_INVALIDARG;
    VARTYPE vt;
    HRESULT hr = TypeOf(psa, &vt);
    if (FAILED(hr)) return hr;
    if (ElementSize(vt) != psa->cbElements) return E_INVALIDARG;

    SAFEARRAYBOUND bounds[1];
    SAFEARRAYBOUND* ordered = bounds;
    std::unique_ptr<SAFEARRAYBOUND[]> many;
    if (psa->cDims > 1) {
        many.reset(new (std::nothrow) SAFEARRAYBOUND[psa->cDims]);
        if (!many) return E_OUTOFMEMORY;
        ordered = many.get();
    }
    for (UINT i = 0; i < psa->cDims; ++i) ordered[i] = Bounds(psa)[psa->cDims - 1 - i];
    SAFEARRAY* copy = Create(vt, psa->cDims, ordered);
    if (!copy) return E_OUTOFMEMORY;

    const uint64_t count = ElementCount(psa);
    if (psa->fFeatures & FADF_BSTR) {
        auto* from = static_cast<BSTR*>(psa->pvData);
        auto* to = static_cast<BSTR*>(copy->pvData);
        for (uint64_t i = 0; i < count; ++i) {
            if (!from[i]) continue;
            to[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(from[i]), SysStringByteLen(from[i]));
            if (!to[i]) {
                SafeArrayDestroy(copy);
                return E_OUTOFMEMORY;
            }
        }
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* from = static_cast<VARIANT*>(psa->pvData);
        auto* to = static_cast<VARIANT*>(copy->pvData);
        for (uint64_t i = 0; i < count; ++i) {
            hr = VariantCopy(&to[i], &from[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(copy);
                return hr;
            }
        }
    } else {
        if (count) std::memcpy(copy->pvData, psa->pvData, static_cast<size_t>(count * psa->cbElements));
        if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            auto* items = static_cast<IUnknown**>(copy->pvData);
            for (uint64_t i = 0; i < count; ++i)
                if (items[i]) items[i]->AddRef();
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

// Copies the element at `rgIndices` (one index per dimension, first dimension first) into
// the storage at `pv`, which is overwritten, not cleared: a BSTR element gives a new BSTR,
// an interface a new reference, a VARIANT a deep copy. DISP_E_BADINDEX when out of bounds.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices || !pv) return E_INVALIDARG;
    void* element = ElementAt(psa, rgIndices);
    if (!element) return DISP_E_BADINDEX;
    if (psa->fFeatures & FADF_BSTR) {
        BSTR source = *static_cast<BSTR*>(element);
        BSTR copy = nullptr;
        if (source) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
            if (!copy) return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(pv) = copy;
    } else if (psa->fFeatures & FADF_VARIANT) {
        auto* out = static_cast<VARIANT*>(pv);
        VariantInit(out);
        return VariantCopy(out, static_cast<VARIANT*>(element));
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* unk = *static_cast<IUnknown**>(element);
        if (unk) unk->AddRef();
        *static_cast<IUnknown**>(pv) = unk;
    } else {
        std::memcpy(pv, element, psa->cbElements);
    }
    return S_OK;
}

// Stores a copy of the value at `pv` into the element at `rgIndices`, releasing the old
// value. For VT_BSTR arrays `pv` is the BSTR itself, for interface arrays the interface
// pointer itself, for VARIANT arrays a VARIANT*, otherwise a pointer to the value.
// DISP_E_BADINDEX when out of bounds; on failure the element is unchanged.
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
    if (!psa || !rgIndices) return E_INVALIDARG;
    const bool nullAllowed = psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH);
    if (!pv && !nullAllowed) return E_INVALIDARG;
    void* element = ElementAt(psa, rgIndices);
    if (!element) return DISP_E_BADINDEX;
    if (psa->fFeatures & FADF_BSTR) {
        auto source = static_cast<BSTR>(pv);
        BSTR copy = nullptr;
        if (source) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(source), SysStringByteLen(source));
            if (!copy) return E_OUTOFMEMORY;
        }
        BSTR old = *static_cast<BSTR*>(element);
        *static_cast<BSTR*>(element) = copy;
        SysFreeString(old);
    } else if (psa->fFeatures & FADF_VARIANT) {
        return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(pv));
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* unk = static_cast<IUnknown*>(pv);
        if (unk) unk->AddRef();
        IUnknown* old = *static_cast<IUnknown**>(element);
        *static_cast<IUnknown**>(element) = unk;
        if (old) old->Release();
    } else {
        std::memmove(element, pv, psa->cbElements);
    }
    return S_OK;
}
