// VariantChangeType: conversions between the integer, real, boolean, text, error and
// interface types. Reals and decimal text round half to even when they become integers.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "velk/oleauto.h"

namespace {

using Int = __int128;  // holds every value of the 64-bit integer types, signed and unsigned

// ---------------------------------------------------------------------------------------
// Reading numbers from text.

// A number read from text: value = (negative ? -1 : 1) * digits * 10^exponent, with
// `digits` free of leading and trailing zeros (empty for zero).
struct DecimalText {
    bool negative = false;
    std::string digits;
    long exponent = 0;
};

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::u16string_view TextOf(BSTR b) { return b ? std::u16string_view(b, SysStringLen(b)) : std::u16string_view(); }

// One number, blanks around it allowed: [sign] digits [. digits] [e [sign] digits], with at
// least one digit before the exponent.
bool ParseNumber(std::u16string_view text, DecimalText* out) {
    constexpr long kExponentCap = 100000;  // a written exponent beyond any representable value
    std::u16string_view s = Trim(text);
    size_t i = 0;
    DecimalText d;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) d.negative = s[i++] == u'-';
    bool anyDigit = false;
    long exponent = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        anyDigit = true;
        if (!d.digits.empty() || s[i] != u'0') d.digits.push_back(static_cast<char>(s[i]));
    }
    if (i < s.size() && s[i] == u'.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            anyDigit = true;
            if (!d.digits.empty() || s[i] != u'0') d.digits.push_back(static_cast<char>(s[i]));
            --exponent;
        }
    }
    if (!anyDigit) return false;
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negativeExponent = s[i++] == u'-';
        if (i == s.size() || !IsDigit(s[i])) return false;
        long e = 0;
        for (; i < s.size() && IsDigit(s[i]); ++i)
            if (e < kExponentCap) e = e * 10 + (s[i] - u'0');
        exponent += negativeExponent ? -e : e;
    }
    if (i != s.size()) return false;
    while (!d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
        ++exponent;
    }
    d.exponent = d.digits.empty() ? 0 : exponent;
    *out = std::move(d);
    return true;
}

// Decimal digits before the point: the magnitude of a nonzero number is 10^(n-1)..10^n.
long IntegerDigits(const DecimalText& d) { return static_cast<long>(d.digits.size()) + d.exponent; }

// The integer nearest to the number, ties to even. False when it is beyond 20 digits.
bool RoundToInteger(const DecimalText& d, Int* out) {
    if (d.digits.empty()) {
        *out = 0;
        return true;
    }
    const long whole = IntegerDigits(d);
    if (whole > 20) return false;
    Int value = 0;
    for (long k = 0; k < whole; ++k)
        value = value * 10 + (k < static_cast<long>(d.digits.size()) ? d.digits[k] - '0' : 0);
    if (whole >= 0 && whole < static_cast<long>(d.digits.size())) {
        // Fraction digits follow; the last one is nonzero.
        const int first = d.digits[whole] - '0';
        const bool more = whole + 1 < static_cast<long>(d.digits.size());
        if (first > 5 || (first == 5 && (more || value % 2 != 0))) ++value;
    }
    *out = d.negative ? -value : value;
    return true;
}

// The real nearest to the number; DISP_E_OVERFLOW when beyond the type's range, zero when
// too small to represent.
template <class Real>
HRESULT ToReal(const DecimalText& d, Real* out) {
    Real value = 0;
    if (!d.digits.empty()) {
        const long magnitude = IntegerDigits(d);
        if (magnitude > 400) return DISP_E_OVERFLOW;
        if (magnitude >= -400) {
            const std::string text = d.digits + "e" + std::to_string(d.exponent);
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (ec == std::errc::result_out_of_range) {
                if (magnitude > 0) return DISP_E_OVERFLOW;
                value = 0;
            } else if (ec != std::errc() || end != text.data() + text.size()) {
                return DISP_E_TYPEMISMATCH;
            }
        }
    }
    *out = d.negative ? -value : value;
    return S_OK;
}

bool EqualsIgnoringAsciiCase(std::u16string_view s, std::string_view lower) {
    if (s.size() != lower.size()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        if (c != static_cast<unsigned char>(lower[i])) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Writing text.

BSTR AllocAscii(std::string_view s) {
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(s.size()));
    if (b)
        for (size_t i = 0; i < s.size(); ++i) b[i] = static_cast<OLECHAR>(s[i]);
    return b;
}

BSTR IntegerText(Int v) {
    char buf[32];
    std::to_chars_result r = v < 0 ? std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v))
                                   : std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(v));
    return AllocAscii(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

// Up to `precision` significant digits, exponent form for very large or small magnitudes
// ("1E+20", "1.5E-07").
template <class Real>
BSTR RealText(Real v, int precision) {
    if (v == 0) return AllocAscii("0");
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
    for (char* p = buf; p != r.ptr; ++p)
        if (*p == 'e') *p = 'E';
    return AllocAscii(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

// ---------------------------------------------------------------------------------------
// Conversions, source already dereferenced.

bool IsIntegerType(VARTYPE vt) {
    switch (vt) {
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
        case VT_INT: case VT_UINT: case VT_I8: case VT_UI8:
            return true;
        default:
            return false;
    }
}

Int IntegerOf(const VARIANT& v) {
    switch (v.vt) {
        case VT_I1: return static_cast<int8_t>(v.cVal);
        case VT_UI1: return v.bVal;
        case VT_I2: return v.iVal;
        case VT_UI2: return v.uiVal;
        case VT_I4: return v.lVal;
        case VT_UI4: return v.ulVal;
        case VT_INT: return v.intVal;
        case VT_UINT: return v.uintVal;
        case VT_I8: return v.llVal;
        case VT_UI8: return v.ullVal;
        default: return 0;
    }
}

void Range(VARTYPE vt, Int* lo, Int* hi) {
    switch (vt) {
        case VT_I1: *lo = INT8_MIN; *hi = INT8_MAX; break;
        case VT_UI1: *lo = 0; *hi = UINT8_MAX; break;
        case VT_I2: *lo = INT16_MIN; *hi = INT16_MAX; break;
        case VT_UI2: *lo = 0; *hi = UINT16_MAX; break;
        case VT_I4: case VT_INT: *lo = INT32_MIN; *hi = INT32_MAX; break;
        case VT_UI4: case VT_UINT: *lo = 0; *hi = UINT32_MAX; break;
        case VT_I8: *lo = INT64_MIN; *hi = INT64_MAX; break;
        default: *lo = 0; *hi = UINT64_MAX; break;
    }
}

void StoreInteger(VARTYPE vt, Int v, VARIANT* out) {
    switch (vt) {
        case VT_I1: out->cVal = static_cast<CHAR>(static_cast<int8_t>(v)); break;
        case VT_UI1: out->bVal = static_cast<BYTE>(v); break;
        case VT_I2: out->iVal = static_cast<SHORT>(v); break;
        case VT_UI2: out->uiVal = static_cast<USHORT>(v); break;
        case VT_I4: out->lVal = static_cast<LONG>(v); break;
        case VT_UI4: out->ulVal = static_cast<ULONG>(v); break;
        case VT_INT: out->intVal = static_cast<INT>(v); break;
        case VT_UINT: out->uintVal = static_cast<UINT>(v); break;
        case VT_I8: out->llVal = static_cast<LONGLONG>(v); break;
        default: out->ullVal = static_cast<ULONGLONG>(v); break;
    }
    out->vt = vt;
}

// Nearest integer, ties to even (independent of the floating-point rounding mode).
bool RealToInteger(double d, Int* out) {
    if (!(d >= -1e30 && d <= 1e30)) return false;  // also rejects NaN
    double r = std::floor(d);
    const double fraction = d - r;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    *out = static_cast<Int>(r);
    return true;
}

HRESULT ToInteger(const VARIANT& src, VARTYPE vt, VARIANT* out) {
    Int lo, hi;
    Range(vt, &lo, &hi);
    Int value = 0;
    if (IsIntegerType(src.vt)) {
        value = IntegerOf(src);
    } else {
        switch (src.vt) {
            case VT_EMPTY:
                break;
            case VT_BOOL:
                // True is all bits set: -1, or the largest value of an unsigned type.
                value = src.boolVal ? (lo < 0 ? Int{-1} : hi) : 0;
                break;
            case VT_R4:
            case VT_R8:
                if (!RealToInteger(src.vt == VT_R4 ? src.fltVal : src.dblVal, &value)) return DISP_E_OVERFLOW;
                break;
            case VT_BSTR: {
                DecimalText d;
                if (!ParseNumber(TextOf(src.bstrVal), &d)) return DISP_E_TYPEMISMATCH;
                if (!RoundToInteger(d, &value)) return DISP_E_OVERFLOW;
                break;
            }
            case VT_ERROR:
                if (vt != VT_I4) return DISP_E_TYPEMISMATCH;
                value = src.scode;
                break;
            default:
                return DISP_E_TYPEMISMATCH;
        }
    }
    if (value < lo || value > hi) return DISP_E_OVERFLOW;
    StoreInteger(vt, value, out);
    return S_OK;
}

HRESULT ToDouble(const VARIANT& src, double* out) {
    if (IsIntegerType(src.vt)) {
        *out = static_cast<double>(IntegerOf(src));
        return S_OK;
    }
    switch (src.vt) {
        case VT_EMPTY: *out = 0; return S_OK;
        case VT_BOOL: *out = src.boolVal ? -1.0 : 0.0; return S_OK;
        case VT_R4: *out = src.fltVal; return S_OK;
        case VT_R8: *out = src.dblVal; return S_OK;
        case VT_BSTR: {
            DecimalText d;
            if (!ParseNumber(TextOf(src.bstrVal), &d)) return DISP_E_TYPEMISMATCH;
            return ToReal(d, out);
        }
        default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToR4(const VARIANT& src, VARIANT* out) {
    float value;
    if (src.vt == VT_BSTR) {
        // Read directly as a float: rounding through a double first could differ.
        DecimalText d;
        if (!ParseNumber(TextOf(src.bstrVal), &d)) return DISP_E_TYPEMISMATCH;
        HRESULT hr = ToReal(d, &value);
        if (FAILED(hr)) return hr;
    } else {
        double d;
        HRESULT hr = ToDouble(src, &d);
        if (FAILED(hr)) return hr;
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        value = static_cast<float>(d);
    }
    out->vt = VT_R4;
    out->fltVal = value;
    return S_OK;
}

HRESULT ToR8(const VARIANT& src, VARIANT* out) {
    double value;
    HRESULT hr = ToDouble(src, &value);
    if (FAILED(hr)) return hr;
    out->vt = VT_R8;
    out->dblVal = value;
    return S_OK;
}

HRESULT ToBool(const VARIANT& src, VARIANT* out) {
    bool value;
    if (IsIntegerType(src.vt)) {
        value = IntegerOf(src) != 0;
    } else {
        switch (src.vt) {
            case VT_EMPTY: value = false; break;
            case VT_R4: value = src.fltVal != 0; break;
            case VT_R8: value = src.dblVal != 0; break;
            case VT_BSTR: {
                const std::u16string_view text = Trim(TextOf(src.bstrVal));
                DecimalText d;
                if (EqualsIgnoringAsciiCase(text, "true"))
                    value = true;
                else if (EqualsIgnoringAsciiCase(text, "false"))
                    value = false;
                else if (ParseNumber(text, &d))
                    value = !d.digits.empty();
                else
                    return DISP_E_TYPEMISMATCH;
                break;
            }
            default: return DISP_E_TYPEMISMATCH;
        }
    }
    out->vt = VT_BOOL;
    out->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT ToBstr(const VARIANT& src, VARIANT* out) {
    BSTR text;
    if (IsIntegerType(src.vt)) {
        text = IntegerText(IntegerOf(src));
    } else {
        switch (src.vt) {
            case VT_EMPTY: text = SysAllocStringLen(nullptr, 0); break;
            case VT_BOOL: text = AllocAscii(src.boolVal ? "True" : "False"); break;
            case VT_R4: text = RealText(src.fltVal, 7); break;
            case VT_R8: text = RealText(src.dblVal, 15); break;
            default: return DISP_E_TYPEMISMATCH;
        }
    }
    if (!text) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = text;
    return S_OK;
}

HRESULT ToInterface(const VARIANT& src, VARTYPE vt, VARIANT* out) {
    if (src.vt != VT_UNKNOWN && src.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    void* result = nullptr;
    if (src.punkVal) {
        HRESULT hr = src.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &result);
        if (FAILED(hr)) return hr;
    }
    out->vt = vt;
    out->punkVal = static_cast<IUnknown*>(result);
    return S_OK;
}

// Converts to a type other than the source's own.
HRESULT Convert(const VARIANT& src, VARTYPE vt, VARIANT* out) {
    if ((src.vt & VT_ARRAY) || (vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
    if (src.vt == VT_NULL && vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
    if (IsIntegerType(vt)) return ToInteger(src, vt, out);
    switch (vt) {
        case VT_EMPTY:
            return S_OK;
        case VT_NULL:
            if (src.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
            out->vt = VT_NULL;
            return S_OK;
        case VT_R4: return ToR4(src, out);
        case VT_R8: return ToR8(src, out);
        case VT_BOOL: return ToBool(src, out);
        case VT_BSTR: return ToBstr(src, out);
        case VT_ERROR:
            if (src.vt != VT_I4) return DISP_E_TYPEMISMATCH;
            out->vt = VT_ERROR;
            out->scode = src.lVal;
            return S_OK;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            return ToInterface(src, vt, out);
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

// Target types this file converts to (arrays only from the same array type).
bool IsSupportedTarget(VARTYPE vt) {
    if (vt & VT_BYREF) return false;
    if (vt & VT_ARRAY) return (vt & ~(VT_ARRAY | VT_TYPEMASK)) == 0;
    if (IsIntegerType(vt)) return true;
    switch (vt) {
        case VT_EMPTY: case VT_NULL: case VT_R4: case VT_R8: case VT_BOOL: case VT_BSTR:
        case VT_ERROR: case VT_UNKNOWN: case VT_DISPATCH: case VT_CY: case VT_DATE:
            return true;
        default:
            return false;
    }
}

}  // namespace

// Converts *pvarSrc (following references) to type `vt` into *pvargDest. Overflow gives
// DISP_E_OVERFLOW; text that is not one number, and conversions that have no meaning, give
// DISP_E_TYPEMISMATCH; a target type that cannot hold a converted value gives
// DISP_E_BADVARTYPE. VT_CY and VT_DATE convert only to and from themselves. Interfaces
// convert to VT_UNKNOWN/VT_DISPATCH by QueryInterface (its failure is returned). On
// failure the destination is unchanged; source and destination may be the same VARIANT.
HRESULT VariantChangeType(VARIANT* pvargDest, const VARIANT* pvarSrc, USHORT, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!IsSupportedTarget(vt)) return DISP_E_BADVARTYPE;

    // A by-value copy of the source value: references followed, the source left intact.
    VARIANT source;
    VariantInit(&source);
    HRESULT hr = VariantCopyInd(&source, pvarSrc);
    if (FAILED(hr)) return hr;

    VARIANT result;
    VariantInit(&result);
    if (source.vt == vt) {
        result = source;  // the copy already is the result
    } else {
        hr = Convert(source, vt, &result);
        VariantClear(&source);
    }
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}
