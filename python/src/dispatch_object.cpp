// velksnmp.Object: a late-bound wrapper over one IDispatch reference. Attribute reads call
// property gets, attribute writes property puts, other members come back as bound members
// (velksnmp.Member) that are called; the default member answers obj[...] and obj(...),
// _NewEnum answers iteration and Count answers len(). Names and parameters come from the
// type information; an object without it is driven by GetIDsOfNames alone.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <stdexcept>
#include <type_traits>

#include "binding.h"

namespace velkpy {
namespace {

PyTypeObject* g_objectType = nullptr;  // velksnmp.Object

// An array of n zeroed elements that needs no allocation for the usual few; only the
// elements in use are cleared.
template <class T, size_t N>
class SmallArray {
    static_assert(std::is_trivial_v<T>);

public:
    explicit SmallArray(size_t n) : n_(n) {
        if (n > N) {
            heap_ = std::make_unique<T[]>(n);
            p_ = heap_.get();
        } else {
            std::fill_n(inline_, n, T{});
        }
    }
    SmallArray(const SmallArray&) = delete;
    SmallArray& operator=(const SmallArray&) = delete;
    T& operator[](size_t i) { return p_[i]; }
    T* data() { return p_; }
    size_t size() const { return n_; }

private:
    size_t n_;
    T inline_[N];
    std::unique_ptr<T[]> heap_;
    T* p_ = inline_;
};

// VARIANTs that are cleared when the array goes.
struct VariantArray {
    explicit VariantArray(size_t n) : v(n) {
        for (size_t i = 0; i < n; ++i) VariantInit(&v[i]);
    }
    ~VariantArray() {
        for (size_t i = 0; i < v.size(); ++i) VariantClear(&v[i]);
    }
    SmallArray<VARIANT, 6> v;
};

struct ExcepGuard {
    EXCEPINFO e{};
    ~ExcepGuard() {
        SysFreeString(e.bstrSource);
        SysFreeString(e.bstrDescription);
        SysFreeString(e.bstrHelpFile);
    }
};

bool IsDunder(std::string_view name) { return name.size() > 1 && name[0] == '_' && name[1] == '_'; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view Utf8(PyObject* s) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (!data) throw py::error_already_set();
    return std::string_view(data, static_cast<size_t>(size));
}

const std::string& TypeName(const DispObject& d) {
    static const std::string unknown = "Object";
    return d.Type() ? d.Type()->name : unknown;
}

// Converts one argument, naming it in the error.
void ConvertArg(PyObject* value, VARIANT* out, const std::string& member, const std::string& param) {
    try {
        ToVariant(value, out);
    } catch (py::type_error& e) {
        throw py::type_error(member + "(): argument '" + param + "': " + e.what());
    } catch (py::value_error& e) {
        throw py::value_error(member + "(): argument '" + param + "': " + e.what());
    } catch (std::overflow_error& e) {
        throw std::overflow_error(member + "(): argument '" + param + "': " + e.what());
    }
}

// IDispatch::Invoke without the GIL: the member may wait in a nested message loop (a
// blocking request), and other Python threads go on meanwhile; event sinks take the GIL
// back. The arguments hold their own references, so nothing Python owns is touched.
HRESULT Invoke(IDispatch* disp, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr) {
    ComPtr<IDispatch> keep(disp);
    SetErrorInfo(0, nullptr);  // no stale record may describe this call's failure
    py::gil_scoped_release nogil;
    return disp->Invoke(id, IID_NULL, 0, flags, params, result, excep, argErr);
}

[[noreturn]] void NoAttribute(const DispObject& d, std::string_view name) {
    throw py::attribute_error("'" + TypeName(d) + "' object has no attribute '" + std::string(name) + "'");
}

DISPID IdOfName(const DispObject& d, std::string_view name) {
    DISPID id = DISPID_UNKNOWN;
    std::u16string wide(name.begin(), name.end());
    LPOLESTR names[1] = {wide.data()};
    if (FAILED(d.Get()->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) NoAttribute(d, name);
    return id;
}

CallArgs OneArg(PyObject* const& key) {
    if (PyTuple_Check(key)) return CallArgs{&PyTuple_GET_ITEM(key, 0), static_cast<size_t>(PyTuple_GET_SIZE(key))};
    return CallArgs{&key, 1};
}

CallArgs FromTuple(py::handle args, py::handle kwargs) {
    CallArgs a;
    if (args && PyTuple_GET_SIZE(args.ptr()) > 0) {
        a.args = &PyTuple_GET_ITEM(args.ptr(), 0);
        a.nargs = static_cast<size_t>(PyTuple_GET_SIZE(args.ptr()));
    }
    if (kwargs && PyDict_Size(kwargs.ptr()) > 0) a.kwdict = kwargs.ptr();
    return a;
}

// Identity of the object: its IUnknown (as automation defines it).
uintptr_t Identity(const DispObject& d) {
    ComPtr<IUnknown> unk;
    if (!d.Get() || FAILED(d.Get()->QueryInterface(IID_IUnknown, unk.PutVoid()))) return 0;
    return reinterpret_cast<uintptr_t>(unk.Get());
}

const MemberDesc* DefaultMember(const DispObject& d) {
    return d.Type() ? d.Type()->FindId(DISPID_VALUE) : nullptr;
}

py::object CallDefault(PyObject* self, const CallArgs& a, bool subscript) {
    DispObject& d = Self(self);
    d.Checked();
    if (!d.Type()) return CallUntyped(d, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, a, nullptr, "default member");
    const MemberDesc* m = DefaultMember(d);
    if (!m || (!m->method.present && !m->get.present))
        throw py::type_error("'" + TypeName(d) + "' object is not " + (subscript ? "subscriptable" : "callable"));
    if (m->method.present) return CallSignature(d, *m, m->method, DISPATCH_METHOD | DISPATCH_PROPERTYGET, a);
    return CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, a);
}

void SetDefault(PyObject* self, PyObject* key, PyObject* value) {
    DispObject& d = Self(self);
    d.Checked();
    if (!value) throw py::type_error("'" + TypeName(d) + "' object does not support item deletion");
    CallArgs a = OneArg(key);
    if (!d.Type()) {
        CallUntyped(d, DISPID_VALUE, DISPATCH_PROPERTYPUT, a, value, "default member");
        return;
    }
    const MemberDesc* m = DefaultMember(d);
    if (!m || !(m->put.present || m->putref.present))
        throw py::type_error("'" + TypeName(d) + "' object does not support item assignment");
    PutProperty(d, *m, a, value);
}

Py_ssize_t Length(PyObject* self) {
    DispObject& d = Self(self);
    d.Checked();
    const MemberDesc* m = d.Type() ? d.Type()->Find("Count") : nullptr;
    if (!m || !m->IsPlainProperty()) throw py::type_error("object of type '" + TypeName(d) + "' has no len()");
    py::object n = CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, CallArgs{});
    return n.cast<Py_ssize_t>();
}

py::object Iterate(PyObject* self) {
    DispObject& d = Self(self);
    IDispatch* disp = d.Checked();
    if (d.Type() && !d.Type()->FindId(DISPID_NEWENUM))
        throw py::type_error("'" + TypeName(d) + "' object is not iterable");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VariantArray result(1);
    ExcepGuard excep;
    HRESULT hr = Invoke(disp, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, &result.v[0],
                        &excep.e, nullptr);
    RaisePendingHandlerException();
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME)
        throw py::type_error("'" + TypeName(d) + "' object is not iterable");
    if (FAILED(hr)) RaiseInvokeFailure(hr, excep.e, "_NewEnum", "");
    const VARIANT& r = result.v[0];
    IUnknown* unk = (r.vt == VT_UNKNOWN || r.vt == VT_DISPATCH) ? r.punkVal : nullptr;
    ComPtr<IEnumVARIANT> e;
    if (!unk || FAILED(unk->QueryInterface(IID_IEnumVARIANT, e.PutVoid())) || !e)
        throw py::type_error("'" + TypeName(d) + "' object returned no enumerator");
    return WrapEnumerator(std::move(e));
}

py::object GetAttr(PyObject* self, PyObject* nameObj) {
    std::string_view name = Utf8(nameObj);
    DispObject& d = Self(self);
    // Python's own protocol names are never members (copy, pickle and help probe them).
    if (IsDunder(name)) NoAttribute(d, name);
    d.Checked();
    const TypeDesc* type = d.Type().get();
    if (!type) return MakeMember(self, nullptr, IdOfName(d, name), name);
    const MemberDesc* m = type->Find(nameObj, name);
    if (!m) NoAttribute(d, name);
    if (m->IsPlainProperty()) return CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, CallArgs{});
    if (!m->method.present && !m->get.present) {
        const Signature& s = m->put.present ? m->put : m->putref;
        if (s.params.size() <= 1)
            throw py::attribute_error("'" + TypeName(d) + "' object attribute '" + m->name + "' is write-only");
    }
    return MakeMember(self, m, m->id, m->name);
}

void SetAttr(PyObject* self, PyObject* nameObj, PyObject* value) {
    std::string_view name = Utf8(nameObj);
    DispObject& d = Self(self);
    const bool dunder = IsDunder(name);
    const MemberDesc* m = (!dunder && d.Type()) ? d.Type()->Find(nameObj, name) : nullptr;
    if (!m) {
        if (!dunder && !d.Type() && !d.Released()) {
            CallUntyped(d, IdOfName(d, name), DISPATCH_PROPERTYPUT, CallArgs{}, value, std::string(name));
            return;
        }
        // Attributes of handler classes (DispatchWithEvents) live in the instance dict.
        if (Py_TYPE(self)->tp_dictoffset != 0 || dunder) {
            if (PyObject_GenericSetAttr(self, nameObj, value) != 0) throw py::error_already_set();
            return;
        }
        NoAttribute(d, name);
    }
    d.Checked();
    const Signature& s = m->put.present ? m->put : m->putref;
    if ((m->put.present || m->putref.present) && s.params.size() > 1)
        throw py::type_error(m->name + " takes arguments: set it with obj." + m->name + "[...] = value");
    PutProperty(d, *m, CallArgs{}, value);
}

py::list Dir(py::handle self) {
    DispObject& d = Self(self);
    py::list names;
    if (d.Type()) {
        for (const MemberDesc& m : d.Type()->members)
            if (!m.hidden) names.append(py::str(m.name));
    }
    if (Py_TYPE(self.ptr())->tp_dictoffset != 0) {
        // Handler classes: their own names too.
        py::object base = py::module_::import("builtins").attr("object").attr("__dir__")(self);
        for (py::handle n : base)
            if (!IsDunder(Utf8(n.ptr()))) names.append(n);
    }
    return names;
}

// Attribute reads: Python's own attributes (the type's, then the instance dict's) first,
// else the object's members. Reading members directly, without first failing a generic
// lookup, saves raising and discarding an AttributeError on every member access.
PyObject* FastGetAttro(PyObject* self, PyObject* name) {
    try {
        PyTypeObject* type = Py_TYPE(self);
        bool python = !PyUnicode_Check(name) || _PyType_Lookup(type, name) != nullptr;
        if (!python && type->tp_dictoffset != 0) {
            PyObject** dict = _PyObject_GetDictPtr(self);
            if (dict && *dict) {
                PyObject* found = PyDict_GetItemWithError(*dict, name);
                if (!found && PyErr_Occurred()) return nullptr;
                python = found != nullptr;
            }
        }
        if (python) return PyObject_GenericGetAttr(self, name);
        return GetAttr(self, name).release().ptr();
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

int FastSetAttro(PyObject* self, PyObject* name, PyObject* value) {
    if (!value || !PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);
    try {
        SetAttr(self, name, value);
        return 0;
    } catch (...) {
        SetPythonError();
        return -1;
    }
}

PyObject* FastSubscript(PyObject* self, PyObject* key) {
    try {
        return CallDefault(self, OneArg(key), true).release().ptr();
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

int FastAssignSubscript(PyObject* self, PyObject* key, PyObject* value) {
    try {
        SetDefault(self, key, value);
        return 0;
    } catch (...) {
        SetPythonError();
        return -1;
    }
}

Py_ssize_t FastLength(PyObject* self) {
    try {
        return Length(self);
    } catch (...) {
        SetPythonError();
        return -1;
    }
}

class Enumerator {
public:
    explicit Enumerator(ComPtr<IEnumVARIANT> e) : e_(std::move(e)) {}
    py::object Next() {
        if (!e_) throw py::stop_iteration();
        VariantArray item(1);
        ULONG fetched = 0;
        HRESULT hr = e_->Next(1, &item.v[0], &fetched);
        if (FAILED(hr)) RaiseError(hr, nullptr, "enumeration failed");
        if (fetched == 0) {
            e_.Reset();  // exhausted: release the snapshot at once
            throw py::stop_iteration();
        }
        return FromVariant(item.v[0]);
    }

private:
    ComPtr<IEnumVARIANT> e_;
};

}  // namespace

// ---------------------------------------------------------------------------------------

DispObject& Self(py::handle h) {
    // pybind11 keeps one C++ base in its simple layout: read it without a type lookup.
    auto* inst = reinterpret_cast<py::detail::instance*>(h.ptr());
    void* value = inst->simple_layout ? inst->simple_value_holder[0]
                                      : py::detail::values_and_holders(inst).begin()->value_ptr();
    if (!value) throw py::value_error("the velksnmp object was never initialised (call velksnmp.Object.__init__)");
    return *static_cast<DispObject*>(value);
}

void SetPythonError() {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (std::overflow_error& e) {
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
}

void InstallFastSlots(py::handle type, bool attributes, bool items) {
    auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
    if (attributes) {
        t->tp_getattro = &FastGetAttro;
        t->tp_setattro = &FastSetAttro;
    }
    if (items && t->tp_as_mapping && t->tp_as_sequence) {
        t->tp_as_mapping->mp_subscript = &FastSubscript;
        t->tp_as_mapping->mp_ass_subscript = &FastAssignSubscript;
        t->tp_as_mapping->mp_length = &FastLength;
        t->tp_as_sequence->sq_length = &FastLength;
    }
    PyType_Modified(t);
}

DispObject::DispObject(ComPtr<IDispatch> d, const CLSID* clsid)
    : disp_(std::move(d)), type_(DescribeObject(disp_.Get())) {
    if (clsid) {
        clsid_ = *clsid;
        hasClsid_ = true;
    }
}

DispObject::~DispObject() {
    const bool pending = HandlerExceptionPending();
    Release();
    // A handler exception raised while the object went has no caller to reach.
    if (!pending) ReportPendingHandlerException();
}

IDispatch* DispObject::Checked() const {
    if (!disp_) throw py::value_error("the object was released");
    return disp_.Get();
}

void DispObject::Release() {
    events_.reset();  // disconnect first: no handler runs for a wrapper that is going
    disp_.Reset();
}

void DispObject::SetEvents(std::unique_ptr<EventLink> link) { events_ = std::move(link); }

py::object WrapDispatch(IDispatch* d) {
    if (!d) return py::none();
    return Wrap(std::make_unique<DispObject>(ComPtr<IDispatch>(d)));
}

py::object WrapEnumerator(ComPtr<IEnumVARIANT> e) {
    return py::cast(new Enumerator(std::move(e)), py::return_value_policy::take_ownership);
}

DispObject* AsDispObject(py::handle h) {
    if (!g_objectType || !PyObject_TypeCheck(h.ptr(), g_objectType)) return nullptr;
    return &Self(h);
}

DispObject* CreateObject(py::handle target) {
    if (DispObject* other = AsDispObject(target))
        return new DispObject(ComPtr<IDispatch>(other->Checked()), other->Clsid());
    if (!PyUnicode_Check(target.ptr()))
        throw py::type_error("Dispatch() takes a ProgID (str) or a velksnmp object");
    VARIANT text;
    VariantInit(&text);
    ToVariant(target, &text);
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(text.bstrVal ? text.bstrVal : u"", &clsid);
    VariantClear(&text);
    if (FAILED(hr)) RaiseError(hr, nullptr, "no class is registered as '" + std::string(Utf8(target.ptr())) + "'");
    ComPtr<IDispatch> d;
    SetErrorInfo(0, nullptr);
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid());
    if (FAILED(hr) || !d)
        RaiseError(FAILED(hr) ? hr : E_NOINTERFACE, nullptr, "cannot create '" + std::string(Utf8(target.ptr())) + "'");
    return new DispObject(std::move(d), &clsid);
}

py::object Wrap(std::unique_ptr<DispObject> object) {
    py::object wrapper = py::cast(object.get(), py::return_value_policy::take_ownership);
    object.release();  // owned by the wrapper now
    return wrapper;
}

void PutProperty(DispObject& d, const MemberDesc& m, const CallArgs& args, PyObject* value) {
    // Objects go by reference (putref) when the member has it, as an object assignment does.
    const bool object = AsDispObject(value) != nullptr;
    if (m.putref.present && (object || !m.put.present))
        CallSignature(d, m, m.putref, DISPATCH_PROPERTYPUTREF, args, value);
    else if (m.put.present)
        CallSignature(d, m, m.put, DISPATCH_PROPERTYPUT, args, value);
    else
        throw py::attribute_error("'" + TypeName(d) + "' object attribute '" + m.name + "' is read-only");
}

py::object CallSignature(DispObject& self, const MemberDesc& member, const Signature& sig,
                         WORD flags, const CallArgs& a, PyObject* putValue) {
    IDispatch* disp = self.Checked();
    const bool isPut = putValue != nullptr;
    const size_t total = sig.params.size();
    const size_t n = isPut ? (total ? total - 1 : 0) : total;  // parameters before a put value

    // Arguments fill the parameters in order, by position or by name. A by-reference
    // parameter that is left out is an output: its value is returned after the result.
    SmallArray<PyObject*, 8> given(n);
    if (a.nargs > n)
        throw py::type_error(member.name + "() takes " + (n ? "at most " : "") + std::to_string(n) +
                             " argument" + (n == 1 ? "" : "s") + " (" + std::to_string(a.nargs) + " given)");
    for (size_t k = 0; k < a.nargs; ++k) given[k] = a.args[k];
    auto keyword = [&](PyObject* key, PyObject* value) {
        std::string_view k = Utf8(key);
        size_t j = 0;
        while (j < n && !EqualsIgnoringCase(sig.params[j].name, k)) ++j;
        if (j == n) throw py::type_error(member.name + "() got an unexpected keyword argument '" + std::string(k) + "'");
        if (given[j]) throw py::type_error(member.name + "() got multiple values for argument '" + sig.params[j].name + "'");
        given[j] = value;
    };
    if (a.kwnames) {
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(a.kwnames); ++k)
            keyword(PyTuple_GET_ITEM(a.kwnames, k), a.args[a.nargs + static_cast<size_t>(k)]);
    }
    if (a.kwdict) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(a.kwdict, &pos, &key, &value)) keyword(key, value);
    }
    size_t count = 0;
    for (size_t j = 0; j < n; ++j) {
        const ParamDesc& p = sig.params[j];
        if (!given[j] && !p.out && !p.optional)
            throw py::type_error(member.name + "() missing required argument '" + p.name + "'");
        if (given[j] || p.out) count = j + 1;
    }

    const size_t cArgs = count + (isPut ? 1 : 0);
    VariantArray rg(cArgs);
    VariantArray outs(count);
    for (size_t j = 0; j < count; ++j) {
        VARIANT& slot = rg.v[cArgs - 1 - j];  // positional arguments go in reverse order
        const ParamDesc& p = sig.params[j];
        if (given[j]) {
            ConvertArg(given[j], &slot, member.name, p.name);
        } else if (p.out) {
            slot.vt = VT_BYREF | VT_VARIANT;
            slot.pvarVal = &outs.v[j];
        } else {
            slot.vt = VT_ERROR;
            slot.scode = DISP_E_PARAMNOTFOUND;
        }
    }
    DISPID namedPut = DISPID_PROPERTYPUT;
    if (isPut) ConvertArg(putValue, &rg.v[0], member.name, "value");
    DISPPARAMS params{cArgs ? rg.v.data() : nullptr, isPut ? &namedPut : nullptr,
                      static_cast<UINT>(cArgs), isPut ? 1u : 0u};

    VariantArray result(1);
    ExcepGuard excep;
    UINT argErr = UINT_MAX;
    HRESULT hr = Invoke(disp, member.id, flags, &params, isPut ? nullptr : &result.v[0], &excep.e, &argErr);
    RaisePendingHandlerException();
    if (FAILED(hr)) {
        std::string argument;
        if (argErr < cArgs) argument = (isPut && argErr == 0) ? "value" : sig.params[cArgs - 1 - argErr].name;
        RaiseInvokeFailure(hr, excep.e, member.name, argument);
    }

    // The retval first, then the outputs; one result alone is returned as it is.
    size_t outputs = 0;
    for (size_t j = 0; j < count; ++j)
        if (sig.params[j].out && !given[j]) ++outputs;
    if (outputs == 0) return sig.retval ? FromVariant(result.v[0]) : py::none();
    if (outputs == 1 && !sig.retval) {
        for (size_t j = 0; j < count; ++j)
            if (sig.params[j].out && !given[j]) return FromVariant(outs.v[j]);
    }
    py::tuple t(outputs + (sig.retval ? 1 : 0));
    size_t k = 0;
    if (sig.retval) t[k++] = FromVariant(result.v[0]);
    for (size_t j = 0; j < count; ++j)
        if (sig.params[j].out && !given[j]) t[k++] = FromVariant(outs.v[j]);
    return t;
}

py::object CallUntyped(DispObject& self, DISPID id, WORD flags, const CallArgs& a, PyObject* putValue,
                       const std::string& what) {
    IDispatch* disp = self.Checked();
    if (a.kwnames || a.kwdict) throw py::type_error(what + "(): keyword arguments need type information");
    const bool isPut = putValue != nullptr;
    const size_t cArgs = a.nargs + (isPut ? 1 : 0);
    VariantArray rg(cArgs);
    for (size_t j = 0; j < a.nargs; ++j) ConvertArg(a.args[j], &rg.v[cArgs - 1 - j], what, "arg" + std::to_string(j + 1));
    DISPID namedPut = DISPID_PROPERTYPUT;
    if (isPut) ConvertArg(putValue, &rg.v[0], what, "value");
    DISPPARAMS params{cArgs ? rg.v.data() : nullptr, isPut ? &namedPut : nullptr,
                      static_cast<UINT>(cArgs), isPut ? 1u : 0u};
    VariantArray result(1);
    ExcepGuard excep;
    UINT argErr = UINT_MAX;
    HRESULT hr = Invoke(disp, id, flags, &params, isPut ? nullptr : &result.v[0], &excep.e, &argErr);
    RaisePendingHandlerException();
    if (FAILED(hr)) RaiseInvokeFailure(hr, excep.e, what, "");
    return FromVariant(result.v[0]);
}

void RegisterObjectTypes(py::module_& m) {
    RegisterMemberType(m);

    py::class_<Enumerator>(m, "Enumerator", "An iterator over a snapshot of a collection's items.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Enumerator::Next);

    py::class_<DispObject> object(m, "Object",
                                  "A library object, driven by name through IDispatch. "
                                  "Create one with velksnmp.Dispatch(progid).");
    object
        .def(py::init(&CreateObject), py::arg("progid"))
        // Python-level forms of the slots below, used by subclasses made in Python.
        .def("__getattr__", [](py::handle self, py::str name) { return GetAttr(self.ptr(), name.ptr()); })
        .def("__setattr__", [](py::handle self, py::str name, py::handle value) { SetAttr(self.ptr(), name.ptr(), value.ptr()); })
        .def("__getitem__", [](py::handle self, py::handle key) { return CallDefault(self.ptr(), OneArg(key.ptr()), true); })
        .def("__setitem__", [](py::handle self, py::handle key, py::handle value) { SetDefault(self.ptr(), key.ptr(), value.ptr()); })
        .def("__len__", [](py::handle self) { return Length(self.ptr()); })
        .def("__call__", [](py::handle self, py::args args, py::kwargs kwargs) {
            return CallDefault(self.ptr(), FromTuple(args, kwargs), false);
        })
        .def("__iter__", [](py::handle self) { return Iterate(self.ptr()); })
        .def("__dir__", &Dir)
        .def_property_readonly("__doc__", [](py::handle self) -> py::object {
            DispObject& d = Self(self);
            if (!d.Type()) return py::str("A library object without type information.");
            return py::str(d.Type()->Doc());
        })
        .def("__bool__", [](py::handle) { return true; })
        .def("__eq__", [](py::handle self, py::handle other) -> py::object {
            DispObject* o = AsDispObject(other);
            if (!o) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            DispObject& d = Self(self);
            if (d.Released() || o->Released()) return py::bool_(self.ptr() == other.ptr());
            return py::bool_(Identity(d) == Identity(*o));
        })
        .def("__hash__", [](py::handle self) -> Py_ssize_t {
            DispObject& d = Self(self);
            uintptr_t id = d.Released() ? reinterpret_cast<uintptr_t>(self.ptr()) : Identity(d);
            return static_cast<Py_ssize_t>(id >> 4);
        })
        .def("__repr__", [](py::handle self) {
            DispObject& d = Self(self);
            char address[32];
            std::snprintf(address, sizeof address, "%p", static_cast<void*>(self.ptr()));
            if (d.Released()) return "<velksnmp.Object (released) at " + std::string(address) + ">";
            return "<velksnmp.Object " + TypeName(d) + " at " + std::string(address) + ">";
        })
        .def("__enter__", [](py::handle self) { return py::reinterpret_borrow<py::object>(self); })
        .def("__exit__", [](py::handle self, py::args) {
            Self(self).Release();
            return false;
        });
    g_objectType = reinterpret_cast<PyTypeObject*>(object.ptr());
    InstallFastSlots(object, true, true);
}

}  // namespace velkpy
