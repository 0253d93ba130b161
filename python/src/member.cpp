// velksnmp.Member: a member bound to its object, for methods and parameterized properties.
// Called (vectorcall) for methods and property gets with arguments, indexed to read or set
// a parameterized property (obj.Name[key] = value). A plain CPython type: one is made for
// every method access, so it is kept as light as a bound method.
#include "binding.h"

#include <structmember.h>

namespace velkpy {
namespace {

struct MemberObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject* owner;           // the wrapper; its description outlives `member`
    const MemberDesc* member;  // null without type information
    DISPID id;
    PyObject* name;            // str
};

PyTypeObject* g_memberType = nullptr;

MemberObject* AsMember(PyObject* o) { return reinterpret_cast<MemberObject*>(o); }

std::string NameOf(MemberObject* m) { return py::str(m->name); }

// Arguments of an index: a tuple is several arguments, anything else one.
CallArgs IndexArgs(PyObject* const& key) {
    CallArgs a;
    if (PyTuple_Check(key)) {
        a.args = &PyTuple_GET_ITEM(key, 0);
        a.nargs = static_cast<size_t>(PyTuple_GET_SIZE(key));
    } else {
        a.args = &key;
        a.nargs = 1;
    }
    return a;
}

PyObject* Call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    MemberObject* m = AsMember(self);
    try {
        CallArgs a{args, static_cast<size_t>(PyVectorcall_NARGS(nargsf)), kwnames, nullptr};
        DispObject& d = Self(m->owner);
        const MemberDesc* desc = m->member;
        if (!desc)
            return CallUntyped(d, m->id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, a, nullptr, NameOf(m)).release().ptr();
        if (desc->method.present)
            return CallSignature(d, *desc, desc->method, DISPATCH_METHOD, a).release().ptr();
        if (desc->get.present)
            return CallSignature(d, *desc, desc->get, DISPATCH_PROPERTYGET, a).release().ptr();
        throw py::type_error(desc->name + " is a write-only property: set it with " + desc->name + "[...] = value");
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

PyObject* GetItem(PyObject* self, PyObject* key) {
    MemberObject* m = AsMember(self);
    try {
        DispObject& d = Self(m->owner);
        CallArgs a = IndexArgs(key);
        if (!m->member) return CallUntyped(d, m->id, DISPATCH_PROPERTYGET, a, nullptr, NameOf(m)).release().ptr();
        if (!m->member->get.present) throw py::type_error(m->member->name + " cannot be read");
        return CallSignature(d, *m->member, m->member->get, DISPATCH_PROPERTYGET, a).release().ptr();
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

int SetItem(PyObject* self, PyObject* key, PyObject* value) {
    MemberObject* m = AsMember(self);
    try {
        if (!value) throw py::type_error(NameOf(m) + " does not support deletion");
        DispObject& d = Self(m->owner);
        CallArgs a = IndexArgs(key);
        if (!m->member)
            CallUntyped(d, m->id, DISPATCH_PROPERTYPUT, a, value, NameOf(m));
        else
            PutProperty(d, *m->member, a, value);
        return 0;
    } catch (...) {
        SetPythonError();
        return -1;
    }
}

PyObject* Repr(PyObject* self) {
    MemberObject* m = AsMember(self);
    try {
        const DispObject& d = Self(m->owner);
        std::string type = d.Type() ? d.Type()->name : "Object";
        return PyUnicode_FromFormat("<velksnmp.Member %s.%U>", type.c_str(), m->name);
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

PyObject* Doc(PyObject* self, void*) {
    MemberObject* m = AsMember(self);
    if (m->member) return PyUnicode_FromString(m->member->Doc().c_str());
    return PyUnicode_FromFormat("%U(...)\n    (no type information)", m->name);
}

int Traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(AsMember(self)->owner);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int Clear(PyObject* self) {
    Py_CLEAR(AsMember(self)->owner);
    return 0;
}

void Dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    MemberObject* m = AsMember(self);
    Py_CLEAR(m->owner);
    Py_CLEAR(m->name);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

PyMemberDef kMembers[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(MemberObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"__doc__", &Doc, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&Dealloc)},
    {Py_tp_call, reinterpret_cast<void*>(&PyVectorcall_Call)},
    {Py_tp_repr, reinterpret_cast<void*>(&Repr)},
    {Py_tp_traverse, reinterpret_cast<void*>(&Traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&Clear)},
    {Py_mp_subscript, reinterpret_cast<void*>(&GetItem)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(&SetItem)},
    {Py_tp_members, kMembers},
    {Py_tp_getset, kGetSet},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "velksnmp.Member",
    sizeof(MemberObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
    kSlots,
};

}  // namespace

py::object MakeMember(py::handle owner, const MemberDesc* member, DISPID id, std::string_view name) {
    MemberObject* m = PyObject_GC_New(MemberObject, g_memberType);
    if (!m) throw py::error_already_set();
    m->vectorcall = &Call;
    m->owner = owner.inc_ref().ptr();
    m->member = member;
    m->id = id;
    m->name = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    PyObject_GC_Track(m);
    py::object result = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(m));
    if (!m->name) throw py::error_already_set();
    return result;
}

void RegisterMemberType(py::module_& module) {
    PyObject* type = PyType_FromSpec(&kSpec);
    if (!type) throw py::error_already_set();
    g_memberType = reinterpret_cast<PyTypeObject*>(type);
    module.attr("Member") = py::reinterpret_steal<py::object>(type);
    Py_INCREF(type);  // kept for the process, as the module's types are
}

}  // namespace velkpy
