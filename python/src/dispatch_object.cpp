// velksnmp.Object: a late-bound wrapper over one IDispatch reference. Attribute reads call
// property gets, attribute writes property puts, other members come back as bound members
// (velksnmp.Member) that are called; the default member answers obj[...] and obj(...),
// _NewEnum answers iteration and Count answers len(). Names and parameters come from the
// type information; an object without it is driven by GetIDsOfNames alone.
#include <climits>
#include <cstdio>
#include <stdexcept>

#include "binding.h"

namespace velkpy {
namespace {

// A fixed-size array that needs no allocation for the usual few elements.
template <class T, size_t N>
class SmallArray {
public:
    explicit SmallArray(size_t n) : n_(n) {
        if (n > N) {
            heap_ = std::make_unique<T[]>(n);
            p_ = heap_.get();
        }
    }
    SmallArray(const SmallArray&) = delete;
    SmallArray& operator=(const SmallArray&) = delete;
    T& operator[](size_t i) { return p_[i]; }
    T* data() { return p_; }
    size_t size() const { return n_; }

private:
    size_t n_;
    T inline_[N]{};
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

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string_view Utf8(py::handle s) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s.ptr(), &size);
    if (!data) throw py::error_already_set();
    return std::string_view(data, static_cast<size_t>(size));
}

const std::string& TypeName(const DispObject& d) {
    static const std::string unknown = "Object";
    return d.Type() ? d.Type()->name : unknown;
}

// Converts one argument, naming it in the error.
void ConvertArg(py::handle value, VARIANT* out, const std::string& member, const std::string& param) {
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

// IDispatch::Invoke without the GIL: the member may wait in a nested message loop, where
// event sinks take the GIL back. The caller's arguments hold their own references.
HRESULT Invoke(IDispatch* disp, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr) {
    ComPtr<IDispatch> keep(disp);
    SetErrorInfo(0, nullptr);  // no stale record may describe this call's failure
    py::gil_scoped_release nogil;
    return disp->Invoke(id, IID_NULL, 0, flags, params, result, excep, argErr);
}

PyTypeObject* g_objectType = nullptr;  // velksnmp.Object

// The C++ object of a wrapper (an instance of velksnmp.Object or a subclass). pybind11
// keeps a single C++ base in its simple layout, read here without a type lookup.
DispObject& Self(py::handle h) {
    auto* inst = reinterpret_cast<py::detail::instance*>(h.ptr());
    void* value = inst->simple_layout ? inst->simple_value_holder[0] : nullptr;
    if (!value) return h.cast<DispObject&>();
    return *static_cast<DispObject*>(value);
}

bool HasInstanceDict(py::handle self) { return Py_TYPE(self.ptr())->tp_dictoffset != 0; }

[[noreturn]] void NoAttribute(const DispObject& d, std::string_view name) {
    throw py::attribute_error("'" + TypeName(d) + "' object has no attribute '" + std::string(name) + "'");
}

// A member bound to its object: called for methods and parameterized properties, indexed
// for parameterized property puts (obj.Name[key] = value).
class BoundMember {
public:
    BoundMember(py::object owner, std::shared_ptr<const TypeDesc> type, const MemberDesc* member,
                DISPID id, std::string name)
        : owner_(std::move(owner)), type_(std::move(type)), member_(member), id_(id), name_(std::move(name)) {}

    py::object Call(py::args args, py::kwargs kwargs) {
        DispObject& d = Self(owner_);
        if (!member_) return CallUntyped(d, id_, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
        if (member_->method.present)
            return CallSignature(d, *member_, member_->method, DISPATCH_METHOD, args, kwargs);
        if (member_->get.present)
            return CallSignature(d, *member_, member_->get, DISPATCH_PROPERTYGET, args, kwargs);
        throw py::type_error(name_ + " is a write-only property: set it with " + name_ + "[...] = value");
    }
    py::object GetItem(py::handle key) {
        DispObject& d = Self(owner_);
        py::tuple args = AsArgs(key);
        if (!member_) return CallUntyped(d, id_, DISPATCH_PROPERTYGET, args);
        if (!member_->get.present) throw py::type_error(name_ + " cannot be read");
        return CallSignature(d, *member_, member_->get, DISPATCH_PROPERTYGET, args, py::handle());
    }
    void SetItem(py::handle key, py::handle value) {
        DispObject& d = Self(owner_);
        py::tuple args = AsArgs(key);
        if (!member_) {
            CallUntyped(d, id_, DISPATCH_PROPERTYPUT, args, value);
            return;
        }
        Put(d, *member_, args, value);
    }
    std::string Doc() const {
        if (member_) return member_->Doc();
        return name_ + "(...)\n    (no type information)";
    }
    std::string Repr() const {
        const DispObject& d = Self(owner_);
        return "<velksnmp.Member " + TypeName(d) + "." + name_ + ">";
    }

    // Chooses putref for objects when the member has one, else put.
    static void Put(DispObject& d, const MemberDesc& m, py::handle args, py::handle value) {
        const bool object = AsDispObject(value) != nullptr;
        if (m.putref.present && (object || !m.put.present))
            CallSignature(d, m, m.putref, DISPATCH_PROPERTYPUTREF, args, py::handle(), value);
        else if (m.put.present)
            CallSignature(d, m, m.put, DISPATCH_PROPERTYPUT, args, py::handle(), value);
        else
            throw py::attribute_error("'" + TypeName(d) + "' object attribute '" + m.name + "' is read-only");
    }

private:
    static py::tuple AsArgs(py::handle key) {
        if (PyTuple_Check(key.ptr())) return py::reinterpret_borrow<py::tuple>(key);
        return py::make_tuple(key);
    }

    py::object owner_;
    std::shared_ptr<const TypeDesc> type_;  // keeps member_ alive
    const MemberDesc* member_;
    DISPID id_;
    std::string name_;
};

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

py::object Identity(const DispObject& d) {
    ComPtr<IUnknown> unk;
    if (!d.Get() || FAILED(d.Get()->QueryInterface(IID_IUnknown, unk.PutVoid()))) return py::none();
    return py::int_(reinterpret_cast<uintptr_t>(unk.Get()));
}

const MemberDesc* DefaultMember(const DispObject& d) {
    return d.Type() ? d.Type()->FindId(DISPID_VALUE) : nullptr;
}

py::object CallDefault(py::handle self, py::handle args, py::handle kwargs, bool subscript) {
    DispObject& d = Self(self);
    d.Checked();
    if (!d.Type()) return CallUntyped(d, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
    const MemberDesc* m = DefaultMember(d);
    if (!m || (!m->method.present && !m->get.present))
        throw py::type_error("'" + TypeName(d) + "' object is not " + (subscript ? "subscriptable" : "callable"));
    if (m->method.present)
        return CallSignature(d, *m, m->method, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, kwargs);
    return CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, args, kwargs);
}

py::object GetAttr(py::handle self, py::str nameObj) {
    std::string_view name = Utf8(nameObj);
    DispObject& d = Self(self);
    // Python's own protocol names are never members (copy, pickle and help probe them).
    if (name.size() > 1 && name[0] == '_' && name[1] == '_') NoAttribute(d, name);
    d.Checked();
    const auto& type = d.Type();
    if (!type) {
        DISPID id = DISPID_UNKNOWN;
        std::u16string wide(name.begin(), name.end());
        LPOLESTR names[1] = {wide.data()};
        if (FAILED(d.Get()->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) NoAttribute(d, name);
        return py::cast(BoundMember(py::reinterpret_borrow<py::object>(self), nullptr, nullptr, id, std::string(name)));
    }
    const MemberDesc* m = type->Find(name);
    if (!m) NoAttribute(d, name);
    if (m->IsPlainProperty()) return CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, py::handle(), py::handle());
    if (!m->method.present && !m->get.present && (m->put.present || m->putref.present)) {
        const Signature& s = m->put.present ? m->put : m->putref;
        if (s.params.size() <= 1)
            throw py::attribute_error("'" + TypeName(d) + "' object attribute '" + m->name + "' is write-only");
    }
    return py::cast(BoundMember(py::reinterpret_borrow<py::object>(self), type, m, m->id, m->name));
}

void SetAttr(py::handle self, py::str nameObj, py::handle value) {
    std::string_view name = Utf8(nameObj);
    DispObject& d = Self(self);
    const bool dunder = name.size() > 1 && name[0] == '_' && name[1] == '_';
    const MemberDesc* m = (!dunder && d.Type()) ? d.Type()->Find(name) : nullptr;
    if (!m) {
        if (!dunder && !d.Type() && !d.Released()) {
            CallUntyped(d, [&] {
                DISPID id = DISPID_UNKNOWN;
                std::u16string wide(name.begin(), name.end());
                LPOLESTR names[1] = {wide.data()};
                if (FAILED(d.Get()->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) NoAttribute(d, name);
                return id;
            }(), DISPATCH_PROPERTYPUT, py::tuple(), value);
            return;
        }
        // Attributes of handler classes (DispatchWithEvents) live in the instance dict.
        if (HasInstanceDict(self) || dunder) {
            if (PyObject_GenericSetAttr(self.ptr(), nameObj.ptr(), value.ptr()) != 0)
                throw py::error_already_set();
            return;
        }
        NoAttribute(d, name);
    }
    d.Checked();
    const Signature& s = m->put.present ? m->put : m->putref;
    if ((m->put.present || m->putref.present) && s.params.size() > 1)
        throw py::type_error(m->name + " takes arguments: set it with obj." + m->name + "[...] = value");
    BoundMember::Put(d, *m, py::tuple(), value);
}

py::list Dir(py::handle self) {
    DispObject& d = Self(self);
    py::list names;
    if (d.Type()) {
        for (const MemberDesc& m : d.Type()->members)
            if (!m.hidden) names.append(py::str(m.name));
    }
    if (HasInstanceDict(self)) {
        // Handler classes: their own names too.
        py::object base = py::module_::import("builtins").attr("object").attr("__dir__")(self);
        for (py::handle n : base) {
            std::string_view s = Utf8(n);
            if (!(s.size() > 1 && s[0] == '_' && s[1] == '_')) names.append(n);
        }
    }
    return names;
}

// Sets the Python error for the exception being handled.
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
        return GetAttr(self, py::reinterpret_borrow<py::str>(name)).release().ptr();
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

int FastSetAttro(PyObject* self, PyObject* name, PyObject* value) {
    if (!value || !PyUnicode_Check(name)) return PyObject_GenericSetAttr(self, name, value);
    try {
        SetAttr(self, py::reinterpret_borrow<py::str>(name), value);
        return 0;
    } catch (...) {
        SetPythonError();
        return -1;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------

void InstallFastAttributes(py::handle type) {
    auto* t = reinterpret_cast<PyTypeObject*>(type.ptr());
    t->tp_getattro = &FastGetAttro;
    t->tp_setattro = &FastSetAttro;
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
    Release();
    // Handler exceptions raised while the object went have no caller to reach.
    ReportPendingHandlerException();
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
    return py::cast(new DispObject(ComPtr<IDispatch>(d)), py::return_value_policy::take_ownership);
}

py::object WrapEnumerator(ComPtr<IEnumVARIANT> e) {
    return py::cast(new Enumerator(std::move(e)), py::return_value_policy::take_ownership);
}

DispObject* AsDispObject(py::handle h) {
    if (!g_objectType || !PyObject_TypeCheck(h.ptr(), g_objectType)) return nullptr;
    return &Self(h);
}

py::object CallSignature(DispObject& self, const MemberDesc& member, const Signature& sig,
                         WORD flags, py::handle args, py::handle kwargs, py::handle putValue) {
    IDispatch* disp = self.Checked();
    const bool isPut = static_cast<bool>(putValue);
    const size_t total = sig.params.size();
    const size_t n = isPut ? (total ? total - 1 : 0) : total;  // parameters before a put value

    // Arguments fill the parameters in order, by position or by name. A by-reference
    // parameter that is left out is an output: its value is returned after the result.
    SmallArray<PyObject*, 8> given(n);
    const Py_ssize_t nargs = args ? PyTuple_GET_SIZE(args.ptr()) : 0;
    if (static_cast<size_t>(nargs) > n)
        throw py::type_error(member.name + "() takes " + (n ? "at most " : "") + std::to_string(n) +
                             " argument" + (n == 1 ? "" : "s") + " (" + std::to_string(nargs) + " given)");
    for (Py_ssize_t a = 0; a < nargs; ++a) given[static_cast<size_t>(a)] = PyTuple_GET_ITEM(args.ptr(), a);
    if (kwargs && PyDict_Size(kwargs.ptr()) > 0) {
        PyObject *key, *value;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs.ptr(), &pos, &key, &value)) {
            const std::string k = Lower(Utf8(key));
            size_t j = 0;
            while (j < n && Lower(sig.params[j].name) != k) ++j;
            if (j == n)
                throw py::type_error(member.name + "() got an unexpected keyword argument '" + std::string(Utf8(key)) + "'");
            if (given[j])
                throw py::type_error(member.name + "() got multiple values for argument '" + sig.params[j].name + "'");
            given[j] = value;
        }
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
        if (argErr < cArgs) {
            if (isPut && argErr == 0)
                argument = "value";
            else
                argument = sig.params[cArgs - 1 - argErr].name;
        }
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

py::object CallUntyped(DispObject& self, DISPID id, WORD flags, py::handle args,
                       py::handle putValue, const char* what) {
    IDispatch* disp = self.Checked();
    const bool isPut = static_cast<bool>(putValue);
    const size_t nargs = args ? static_cast<size_t>(PyTuple_GET_SIZE(args.ptr())) : 0;
    const size_t cArgs = nargs + (isPut ? 1 : 0);
    VariantArray rg(cArgs);
    for (size_t j = 0; j < nargs; ++j)
        ConvertArg(PyTuple_GET_ITEM(args.ptr(), j), &rg.v[cArgs - 1 - j], what, "arg" + std::to_string(j + 1));
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
    py::class_<BoundMember>(m, "Member", "A member bound to its object: call it, or index it to "
                                         "read and set a parameterized property.")
        .def("__call__", &BoundMember::Call)
        .def("__getitem__", &BoundMember::GetItem)
        .def("__setitem__", &BoundMember::SetItem)
        .def_property_readonly("__doc__", &BoundMember::Doc)
        .def("__repr__", &BoundMember::Repr);

    py::class_<Enumerator>(m, "Enumerator", "An iterator over a snapshot of a collection's items.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Enumerator::Next);

    py::class_<DispObject> object(m, "Object",
                                  "A library object, driven by name through IDispatch. "
                                  "Create one with velksnmp.Dispatch(progid).");
    object
        .def(py::init([](py::handle spec) -> DispObject* {
                 if (DispObject* other = AsDispObject(spec))
                     return new DispObject(ComPtr<IDispatch>(other->Checked()), other->Clsid());
                 if (!PyUnicode_Check(spec.ptr()))
                     throw py::type_error("Dispatch() takes a ProgID (str) or a velksnmp object");
                 std::string_view progId = Utf8(spec);
                 std::u16string wide;
                 {
                     VARIANT text;
                     VariantInit(&text);
                     ToVariant(spec, &text);
                     wide.assign(text.bstrVal, SysStringLen(text.bstrVal));
                     VariantClear(&text);
                 }
                 CLSID clsid{};
                 HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
                 if (FAILED(hr))
                     RaiseError(hr, nullptr, "no class is registered as '" + std::string(progId) + "'");
                 ComPtr<IDispatch> d;
                 SetErrorInfo(0, nullptr);
                 hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid());
                 if (FAILED(hr) || !d)
                     RaiseError(FAILED(hr) ? hr : E_NOINTERFACE, nullptr,
                                "cannot create '" + std::string(progId) + "'");
                 return new DispObject(std::move(d), &clsid);
             }),
             py::arg("progid"))
        .def("__getattr__", &GetAttr)
        .def("__setattr__", &SetAttr)
        .def("__dir__", &Dir)
        .def_property_readonly("__doc__", [](py::handle self) -> py::object {
            DispObject& d = Self(self);
            if (!d.Type()) return py::str("A library object without type information.");
            return py::str(d.Type()->Doc());
        })
        .def("__call__", [](py::handle self, py::args args, py::kwargs kwargs) {
            return CallDefault(self, args, kwargs, false);
        })
        .def("__getitem__", [](py::handle self, py::handle key) {
            py::tuple args = PyTuple_Check(key.ptr()) ? py::reinterpret_borrow<py::tuple>(key) : py::make_tuple(key);
            return CallDefault(self, args, py::handle(), true);
        })
        .def("__setitem__", [](py::handle self, py::handle key, py::handle value) {
            DispObject& d = Self(self);
            d.Checked();
            py::tuple args = PyTuple_Check(key.ptr()) ? py::reinterpret_borrow<py::tuple>(key) : py::make_tuple(key);
            if (!d.Type()) {
                CallUntyped(d, DISPID_VALUE, DISPATCH_PROPERTYPUT, args, value);
                return;
            }
            const MemberDesc* m = DefaultMember(d);
            if (!m || !(m->put.present || m->putref.present))
                throw py::type_error("'" + TypeName(d) + "' object does not support item assignment");
            BoundMember::Put(d, *m, args, value);
        })
        .def("__iter__", [](py::handle self) {
            DispObject& d = Self(self);
            IDispatch* disp = d.Checked();
            if (d.Type() && !d.Type()->FindId(DISPID_NEWENUM))
                throw py::type_error("'" + TypeName(d) + "' object is not iterable");
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            VariantArray result(1);
            ExcepGuard excep;
            HRESULT hr = Invoke(disp, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                                &result.v[0], &excep.e, nullptr);
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
        })
        .def("__len__", [](py::handle self) {
            DispObject& d = Self(self);
            d.Checked();
            const MemberDesc* m = d.Type() ? d.Type()->Find("Count") : nullptr;
            if (!m || !m->IsPlainProperty())
                throw py::type_error("object of type '" + TypeName(d) + "' has no len()");
            py::object n = CallSignature(d, *m, m->get, DISPATCH_PROPERTYGET, py::handle(), py::handle());
            return n.cast<Py_ssize_t>();
        })
        .def("__bool__", [](py::handle) { return true; })
        .def("__eq__", [](py::handle self, py::handle other) -> py::object {
            DispObject* o = AsDispObject(other);
            if (!o) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            DispObject& d = Self(self);
            if (d.Released() || o->Released()) return py::bool_(self.ptr() == other.ptr());
            return py::bool_(Identity(d).equal(Identity(*o)));
        })
        .def("__hash__", [](py::handle self) -> Py_ssize_t {
            DispObject& d = Self(self);
            if (d.Released()) return static_cast<Py_ssize_t>(reinterpret_cast<uintptr_t>(self.ptr()) >> 4);
            return static_cast<Py_ssize_t>(Identity(d).cast<uintptr_t>() >> 4);
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
    // __getattr__ and __setattr__ above serve subclasses made in Python; the type itself
    // and the event classes use the direct slots.
    g_objectType = reinterpret_cast<PyTypeObject*>(object.ptr());
    InstallFastAttributes(object);
}

}  // namespace velkpy
