// VARIANT lifetime: initialise, clear, deep copy and copy through references.
#include "velk/oleauto.h"

namespace {

// References followed by VariantCopyInd (VT_BYREF|VT_VARIANT chains) before giving up.
constexpr int kMaxIndirection = 8;

bool IsScalarType(VARTYPE base) {
    switch (base) {
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
        case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8:
        case VT_CY: case VT_DATE: case VT_BOOL: case VT_ERROR: case VT_BSTR:
        case VT_UNKNOWN: case VT_DISPATCH:
            return true;
        default:
            return false;
    }
}

// Whether `vt` may stand in a VARIANT.
bool IsValidVariantType(VARTYPE vt) {
    if (vt & ~(VT_BYREF | VT_ARRAY | VT_TYPEMASK)) return false;
    const VARTYPE base = vt & VT_TYPEMASK;
    if (vt & VT_ARRAY) return IsScalarType(base) || base == VT_VARIANT;
    if (vt & VT_BYREF) return IsScalarType(base) || base == VT_VARIANT;
    return base == VT_EMPTY || base == VT_NULL || IsScalarType(base);
}

// A shallow, non-owning VARIANT holding the value a by-reference VARIANT points at.
HRESULT ReadReference(const VARIANT& ref, VARIANT* value) {
    VariantInit(value);
    if (!ref.byref) return E_INVALIDARG;
    const VARTYPE vt = ref.vt & ~VT_BYREF;
    if (vt & VT_ARRAY) {
        value->parray = *ref.pparray;
    } else {
        switch (vt) {
            case VT_I1: value->cVal = *ref.pcVal; break;
            case VT_UI1: value->bVal = *ref.pbVal; break;
            case VT_I2: value->iVal = *ref.piVal; break;
            case VT_UI2: value->uiVal = *ref.puiVal; break;
            case VT_BOOL: value->boolVal = *ref.pboolVal; break;
            case VT_I4: value->lVal = *ref.plVal; break;
            case VT_UI4: value->ulVal = *ref.pulVal; break;
            case VT_INT: value->intVal = *ref.pintVal; break;
            case VT_UINT: value->uintVal = *ref.puintVal; break;
            case VT_ERROR: value->scode = *ref.pscode; break;
            case VT_R4: value->fltVal = *ref.pfltVal; break;
            case VT_I8: value->llVal = *ref.pllVal; break;
            case VT_UI8: value->ullVal = *ref.pullVal; break;
            case VT_R8: value->dblVal = *ref.pdblVal; break;
            case VT_CY: value->cyVal = *ref.pcyVal; break;
            case VT_DATE: value->date = *ref.pdate; break;
            case VT_BSTR: value->bstrVal = *ref.pbstrVal; break;
            case VT_UNKNOWN: value->punkVal = *ref.ppunkVal; break;
            case VT_DISPATCH: value->pdispVal = *ref.ppdispVal; break;
            default: return DISP_E_BADVARTYPE;
        }
    }
    value->vt = vt;
    return S_OK;
}

}  // namespace

void VariantInit(VARIANT* pvarg) {
    if (!pvarg) return;
    pvarg->vt = VT_EMPTY;
    pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
    pvarg->llVal = 0;
}

// Frees what the VARIANT owns (text, interface reference, array) and leaves it VT_EMPTY.
// A by-reference VARIANT owns nothing. Fails, leaving the VARIANT as it was, for an
// invalid type (DISP_E_BADVARTYPE) or a locked array (DISP_E_ARRAYISLOCKED).
HRESULT VariantClear(VARIANT* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const VARTYPE vt = pvarg->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            if (pvarg->parray) {
                HRESULT hr = SafeArrayDestroy(pvarg->parray);
                if (FAILED(hr)) return hr;
            }
        } else if (vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            // Reset first: the release may re-enter code that looks at this VARIANT.
            IUnknown* unk = pvarg->punkVal;
            VariantInit(pvarg);
            if (unk) unk->Release();
            return S_OK;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

// Deep copy: a new BSTR, a new array, a new interface reference; a by-reference VARIANT
// is copied as the reference. The destination is cleared only once the copy succeeded;
// on failure it is unchanged. Source and destination may be the same VARIANT.
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    const VARTYPE vt = pvargSrc->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            copy.parray = nullptr;
            if (pvargSrc->parray) {
                HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
                if (FAILED(hr)) return hr;
            }
        } else if (vt == VT_BSTR) {
            if (pvargSrc->bstrVal) {
                copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(pvargSrc->bstrVal),
                                                     SysStringByteLen(pvargSrc->bstrVal));
                if (!copy.bstrVal) return E_OUTOFMEMORY;
            }
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            if (copy.punkVal) copy.punkVal->AddRef();
        }
    }
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

// Like VariantCopy, but a by-reference source is replaced by a deep copy of the value it
// refers to, following VT_BYREF|VT_VARIANT chains up to a small depth (deeper chains and
// null references give E_INVALIDARG). Source and destination may be the same VARIANT.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANT* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    const VARIANT* current = pvargSrc;
    for (int depth = 0; current->vt == (VT_BYREF | VT_VARIANT); ++depth) {
        if (depth == kMaxIndirection || !current->pvarVal) return E_INVALIDARG;
        current = current->pvarVal;
    }
    if (!IsValidVariantType(current->vt)) return DISP_E_BADVARTYPE;
    if (!(current->vt & VT_BYREF)) {
        if (current == pvarDest) return S_OK;
        return VariantCopy(pvarDest, current);
    }
    VARIANT value;
    HRESULT hr = ReadReference(*current, &value);
    if (FAILED(hr)) return hr;
    // `value` borrows what the reference points at; VariantCopy makes the owned copy.
    VARIANT owned;
    VariantInit(&owned);
    hr = VariantCopy(&owned, &value);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
        VariantClear(&owned);
        return hr;
    }
    *pvarDest = owned;
    return S_OK;
}
