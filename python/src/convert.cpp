// Conversions between Python values and VARIANTs.
//   to VARIANT:   None -> VT_EMPTY, bool -> VT_BOOL, int -> VT_I4 (VT_I8 or VT_UI8 when it
//                 does not fit), float -> VT_R8, str -> VT_BSTR (UTF-16, NULs kept),
//                 bytes-like -> VT_ARRAY|VT_UI1, wrapper -> VT_DISPATCH.
//   from VARIANT: the reverse, plus other integer and real types, one-dimensional arrays
//                 (bytes for byte arrays, lists otherwise) and enumerators.
#include <algorithm>
#include <climits>
#include <stdexcept>
#include <cstring>

#include "binding.h"

namespace velkpy {
namespace {

void FromLong(py::handle value, VARIANT* out) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow == 0) {
        if (v >= INT32_MIN && v <= INT32_MAX) {
            out->vt = VT_I4;
            out->lVal = static_cast<LONG>(v);
        } else {
            out->vt = VT_I8;
            out->llVal = v;
        }
        return;
    }
    if (overflow > 0) {
        const unsigned long long u = PyLong_AsUnsignedLongLong(value.ptr());
        if (!PyErr_Occurred()) {
            out->vt = VT_UI8;
            out->ullVal = u;
            return;
        }
        PyErr_Clear();
    }
    throw std::overflow_error("int too large for the library (at most 64 bits)");
}

BSTR StrToBstr(py::handle value) {
    PyObject* s = value.ptr();
    const Py_ssize_t length = PyUnicode_GET_LENGTH(s);
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    Py_ssize_t units = length;
    if (kind == PyUnicode_4BYTE_KIND) {
        for (Py_ssize_t i = 0; i < length; ++i)
            if (PyUnicode_READ(kind, data, i) > 0xFFFF) ++units;
    }
    if (units > static_cast<Py_ssize_t>(UINT_MAX / 4)) throw py::value_error("text too long for an automation string");
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(units));
    if (!b) throw std::bad_alloc();
    if (kind == PyUnicode_2BYTE_KIND) {
        std::memcpy(b, data, static_cast<size_t>(length) * 2);
    } else {
        Py_ssize_t k = 0;
        for (Py_ssize_t i = 0; i < length; ++i) {
            Py_UCS4 c = PyUnicode_READ(kind, data, i);
            if (c > 0xFFFF) {
                c -= 0x10000;
                b[k++] = static_cast<OLECHAR>(0xD800 + (c >> 10));
                b[k++] = static_cast<OLECHAR>(0xDC00 + (c & 0x3FF));
            } else {
                b[k++] = static_cast<OLECHAR>(c);
            }
        }
    }
    return b;
}

bool BytesLike(py::handle value, VARIANT* out) {
    if (!PyObject_CheckBuffer(value.ptr())) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(value.ptr(), &view, PyBUF_SIMPLE) != 0) {
        PyErr_Clear();
        return false;
    }
    struct Guard {
        Py_buffer* v;
        ~Guard() { PyBuffer_Release(v); }
    } guard{&view};
    if (view.len > static_cast<Py_ssize_t>(INT32_MAX)) throw py::value_error("byte array too long");
    SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(view.len));
    if (!sa) throw std::bad_alloc();
    if (view.len) {
        void* dst = nullptr;
        SafeArrayAccessData(sa, &dst);
        std::memcpy(dst, view.buf, static_cast<size_t>(view.len));
        SafeArrayUnaccessData(sa);
    }
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = sa;
    return true;
}

py::object FromArray(const VARIANT& v) {
    SAFEARRAY* sa = v.parray;
    if (!sa) return py::none();
    const VARTYPE element = v.vt & VT_TYPEMASK;
    if (SafeArrayGetDim(sa) != 1) throw py::type_error("multi-dimensional arrays are not supported");
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(sa, 1, &lower);
    SafeArrayGetUBound(sa, 1, &upper);
    const int64_t count = int64_t{upper} - lower + 1;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(sa, &data))) throw py::type_error("array cannot be read");
    struct Unaccess {
        SAFEARRAY* sa;
        ~Unaccess() { SafeArrayUnaccessData(sa); }
    } unaccess{sa};
    if (element == VT_UI1 || element == VT_I1) {
        return py::bytes(static_cast<const char*>(data), count > 0 ? static_cast<size_t>(count) : 0);
    }
    py::list items;
    for (int64_t i = 0; i < count; ++i) {
        VARIANT item;
        VariantInit(&item);
        const char* p = static_cast<const char*>(data) + i * SafeArrayGetElemsize(sa);
        if (element == VT_VARIANT) {
            items.append(FromVariant(*reinterpret_cast<const VARIANT*>(p)));
            continue;
        }
        item.vt = element;
        std::memcpy(&item.llVal, p, std::min<size_t>(SafeArrayGetElemsize(sa), sizeof item.llVal));
        items.append(FromVariant(item));  // borrowed: nothing to clear
    }
    return items;
}

// Reads the target of a by-reference VARIANT into a by-value one (borrowing its contents).
VARIANT Deref(const VARIANT& v) {
    VARIANT r;
    VariantInit(&r);
    const VARTYPE base = v.vt & ~VT_BYREF;
    if (!v.byref) return r;
    r.vt = base;
    if (base & VT_ARRAY) {
        r.parray = *v.pparray;
        return r;
    }
    switch (base) {
        case VT_I1: case VT_UI1: r.bVal = *v.pbVal; break;
        case VT_I2: case VT_UI2: r.iVal = *v.piVal; break;
        case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: r.lVal = *v.plVal; break;
        case VT_I8: case VT_UI8: case VT_CY: r.llVal = *v.pllVal; break;
        case VT_R4: r.fltVal = *v.pfltVal; break;
        case VT_R8: case VT_DATE: r.dblVal = *v.pdblVal; break;
        case VT_BOOL: r.boolVal = *v.pboolVal; break;
        case VT_BSTR: r.bstrVal = *v.pbstrVal; break;
        case VT_DISPATCH: case VT_UNKNOWN: r.punkVal = *v.ppunkVal; break;
        default: r.vt = VT_EMPTY; break;
    }
    return r;
}

}  // namespace

py::str FromBstr(BSTR b) {
    const UINT n = b ? SysStringLen(b) : 0;
    // Texts without surrogates are copied straight into the narrowest string kind.
    OLECHAR widest = 0;
    bool surrogates = false;
    for (UINT i = 0; i < n; ++i) {
        widest = std::max(widest, b[i]);
        surrogates = surrogates || (b[i] >= 0xD800 && b[i] < 0xE000);
    }
    if (!surrogates) {
        PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), widest);
        if (!s) throw py::error_already_set();
        if (PyUnicode_KIND(s) == PyUnicode_1BYTE_KIND) {
            Py_UCS1* d = PyUnicode_1BYTE_DATA(s);
            for (UINT i = 0; i < n; ++i) d[i] = static_cast<Py_UCS1>(b[i]);
        } else {
            std::memcpy(PyUnicode_2BYTE_DATA(s), b, static_cast<size_t>(n) * 2);
        }
        return py::reinterpret_steal<py::str>(s);
    }
    int order = -1;  // little-endian, as OLECHAR in memory on this platform
    PyObject* s = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(b), static_cast<Py_ssize_t>(n) * 2,
                                        "surrogatepass", &order);
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

void ToVariant(py::handle value, VARIANT* out) {
    PyObject* o = value.ptr();
    if (o == Py_None) {
        out->vt = VT_EMPTY;
    } else if (PyBool_Check(o)) {
        out->vt = VT_BOOL;
        out->boolVal = (o == Py_True) ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (PyLong_Check(o)) {
        FromLong(value, out);
    } else if (PyFloat_Check(o)) {
        out->vt = VT_R8;
        out->dblVal = PyFloat_AS_DOUBLE(o);
    } else if (PyUnicode_Check(o)) {
        out->bstrVal = StrToBstr(value);
        out->vt = VT_BSTR;
    } else if (DispObject* d = AsDispObject(value)) {
        if (d->Released()) throw py::value_error("a released object cannot be passed to the library");
        out->vt = VT_DISPATCH;
        out->pdispVal = d->Get();
        out->pdispVal->AddRef();
    } else if (BytesLike(value, out)) {
        // done
    } else if (PyIndex_Check(o)) {
        py::object i = py::reinterpret_steal<py::object>(PyNumber_Index(o));
        if (!i) throw py::error_already_set();
        ToVariant(i, out);
    } else {
        throw py::type_error(std::string("cannot pass a value of type '") + Py_TYPE(o)->tp_name +
                             "' to the library (expected None, bool, int, float, str, "
                             "bytes-like or a velksnmp object)");
    }
}

py::object FromVariant(const VARIANT& v) {
    if (v.vt & VT_BYREF) {
        if (v.vt == (VT_BYREF | VT_VARIANT)) return v.pvarVal ? FromVariant(*v.pvarVal) : py::none();
        return FromVariant(Deref(v));
    }
    if (v.vt & VT_ARRAY) return FromArray(v);
    switch (v.vt) {
        case VT_EMPTY: case VT_NULL: return py::none();
        case VT_I1: return py::int_(static_cast<long>(static_cast<signed char>(v.cVal)));
        case VT_UI1: return py::int_(static_cast<unsigned long>(v.bVal));
        case VT_I2: return py::int_(static_cast<long>(v.iVal));
        case VT_UI2: return py::int_(static_cast<unsigned long>(v.uiVal));
        case VT_I4: case VT_INT: return py::int_(static_cast<long>(v.lVal));
        case VT_UI4: case VT_UINT: return py::int_(static_cast<unsigned long>(v.ulVal));
        case VT_I8: return py::reinterpret_steal<py::object>(PyLong_FromLongLong(v.llVal));
        case VT_UI8: return py::reinterpret_steal<py::object>(PyLong_FromUnsignedLongLong(v.ullVal));
        case VT_R4: return py::float_(static_cast<double>(v.fltVal));
        case VT_R8: case VT_DATE: return py::float_(v.dblVal);
        case VT_CY: return py::float_(static_cast<double>(v.cyVal.int64) / 10000.0);
        case VT_BOOL: return py::bool_(v.boolVal != VARIANT_FALSE);
        case VT_BSTR: return FromBstr(v.bstrVal);
        case VT_ERROR:
            if (v.scode == DISP_E_PARAMNOTFOUND) return py::none();
            return py::int_(static_cast<long>(v.scode));
        case VT_DISPATCH: return WrapDispatch(v.pdispVal);
        case VT_UNKNOWN: {
            if (!v.punkVal) return py::none();
            ComPtr<IDispatch> d;
            if (SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, d.PutVoid())) && d)
                return WrapDispatch(d.Get());
            ComPtr<IEnumVARIANT> e;
            if (SUCCEEDED(v.punkVal->QueryInterface(IID_IEnumVARIANT, e.PutVoid())) && e)
                return WrapEnumerator(std::move(e));
            throw py::type_error("the library returned an object without IDispatch");
        }
        default:
            throw py::type_error("the library returned a value of unsupported type " + std::to_string(v.vt));
    }
}

}  // namespace velkpy
