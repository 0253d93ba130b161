// The Python binding: late-bound wrappers over IDispatch, driven by the type information.
// Every call into the library happens with the GIL held, except IDispatch::Invoke itself,
// which may wait in a nested message loop (blocking requests); event sinks take the GIL
// back before they touch Python.
#pragma once

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <velk/com.h>

namespace py = pybind11;

namespace velkpy {

using velk::ComPtr;

// ---------------------------------------------------------------------------------------
// Type descriptions, built once per interface from its ITypeInfo (type_desc.cpp).

struct ParamDesc {
    std::string name;
    std::string type;   // for documentation: "str", "int", "ISnmpVariable", ...
    bool out = false;   // by reference: an output, returned as a result
    bool optional = false;
};

// One invoke kind of a member (property get, put, putref, or method).
struct Signature {
    bool present = false;
    bool retval = false;
    std::string retType;
    std::vector<ParamDesc> params;  // dispatch parameters, the retval excluded

    // Non-output parameters that must be given.
    size_t RequiredInputs() const;
};

struct MemberDesc {
    std::string name;
    DISPID id = DISPID_UNKNOWN;
    std::string help;
    bool hidden = false;
    Signature get, put, putref, method;

    // A property read by plain attribute access: a get that needs no arguments.
    bool IsPlainProperty() const { return get.present && get.RequiredInputs() == 0 && !method.present; }
    std::string Doc(bool includeHelp = true) const;
};

struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using NameIndex = std::unordered_map<std::string, size_t, StringHash, std::equal_to<>>;

struct TypeDesc {
    std::string name;
    std::string help;
    IID iid{};
    std::vector<MemberDesc> members;

    TypeDesc() = default;
    TypeDesc(const TypeDesc&) = delete;
    TypeDesc& operator=(const TypeDesc&) = delete;
    ~TypeDesc();  // with the GIL held

    // Case-insensitive, as GetIDsOfNames; the exact spelling is tried first.
    const MemberDesc* Find(std::string_view name) const;
    // The same for a Python str `name` whose text is `text`. Interned names (the attribute
    // names written in code) are remembered by identity, with a reference that keeps the
    // address from being reused, so that a repeated access does not hash the text again.
    const MemberDesc* Find(PyObject* name, std::string_view text) const;
    const MemberDesc* FindId(DISPID id) const;
    std::string Doc() const;

    NameIndex byName;
    NameIndex byLowerName;
    mutable std::unordered_map<PyObject*, const MemberDesc*> byInterned;  // used with the GIL held
};

// The description of an interface's type information (cached per interface).
std::shared_ptr<const TypeDesc> DescribeTypeInfo(ITypeInfo* info);
// The description of an object's interface, or null when it gives no type information.
std::shared_ptr<const TypeDesc> DescribeObject(IDispatch* object);

std::string Narrow(BSTR text);  // UTF-16 to UTF-8 (for names and help strings)

// ---------------------------------------------------------------------------------------
// The wrapper (dispatch_object.cpp).

class EventLink;

class DispObject {
public:
    explicit DispObject(ComPtr<IDispatch> d, const CLSID* clsid = nullptr);
    ~DispObject();
    DispObject(const DispObject&) = delete;
    DispObject& operator=(const DispObject&) = delete;

    // The interface, or a ValueError when the wrapper was released.
    IDispatch* Checked() const;
    bool Released() const { return !disp_; }
    // Disconnects events and releases the interface now.
    void Release();

    IDispatch* Get() const { return disp_.Get(); }
    const std::shared_ptr<const TypeDesc>& Type() const { return type_; }
    void SetEvents(std::unique_ptr<EventLink> link);
    // The class the object was created as, when it was created by ProgID.
    const CLSID* Clsid() const { return hasClsid_ ? &clsid_ : nullptr; }

private:
    ComPtr<IDispatch> disp_;
    CLSID clsid_{};
    bool hasClsid_ = false;
    std::shared_ptr<const TypeDesc> type_;
    std::unique_ptr<EventLink> events_;
};

// A new Python wrapper holding its own reference to `d`; None for null.
py::object WrapDispatch(IDispatch* d);
// An object created by ProgID (str), or a new wrapper's object for a wrapper: what
// velksnmp.Dispatch and velksnmp.Object(...) make. TypeError, velksnmp.Error on failure.
DispObject* CreateObject(py::handle target);
// The Python wrapper that takes ownership of `object`.
py::object Wrap(std::unique_ptr<DispObject> object);
// A Python iterator over an enumerator's items.
py::object WrapEnumerator(ComPtr<IEnumVARIANT> e);
// The wrapper's object when `h` is a wrapper (released or not), else null.
DispObject* AsDispObject(py::handle h);

// Python arguments of a call: positional ones, then keywords given either as vectorcall
// names (their values follow the positional ones) or as a dict.
struct CallArgs {
    PyObject* const* args = nullptr;
    size_t nargs = 0;
    PyObject* kwnames = nullptr;
    PyObject* kwdict = nullptr;
};

// The C++ object of a wrapper (an instance of velksnmp.Object or a subclass).
DispObject& Self(py::handle wrapper);

// Invokes one invoke kind of a member; `putValue` is the value of a property put (null
// otherwise). Returns the retval and the outputs: by-reference parameters left out.
py::object CallSignature(DispObject& self, const MemberDesc& member, const Signature& sig,
                         WORD flags, const CallArgs& args, PyObject* putValue = nullptr);
// Invokes by DISPID without type information: positional arguments only.
py::object CallUntyped(DispObject& self, DISPID id, WORD flags, const CallArgs& args,
                       PyObject* putValue, const std::string& what);
// A property put (putref for objects when the member has one) with index arguments.
void PutProperty(DispObject& self, const MemberDesc& member, const CallArgs& args, PyObject* value);

// A velksnmp.Member bound to `owner` (member.cpp).
py::object MakeMember(py::handle owner, const MemberDesc* member, DISPID id, std::string_view name);
void RegisterMemberType(py::module_& m);

void RegisterObjectTypes(py::module_& m);
// Gives a type made by the module (velksnmp.Object, the event classes) direct slots for
// attribute access and for the default member and len().
void InstallFastSlots(py::handle type, bool attributes, bool items);

// Sets the Python error for the C++ exception being handled (inside a catch block).
void SetPythonError();

// ---------------------------------------------------------------------------------------
// Conversions (convert.cpp).

// Fills `out` (initialised by the caller) from a Python value; `out` then owns what it holds.
// TypeError for values without an automation form, ValueError for released wrappers,
// OverflowError for integers beyond 64 bits.
void ToVariant(py::handle value, VARIANT* out);
// A Python value for a VARIANT (borrowed; the VARIANT keeps its contents).
py::object FromVariant(const VARIANT& v);
py::str FromBstr(BSTR b);

// ---------------------------------------------------------------------------------------
// Errors (errors.cpp).

void InitErrors(py::module_& m);
py::object ErrorType();
// Raises velksnmp.Error for a failed HRESULT, with the fields of `info` when given, else of
// the thread's error information.
[[noreturn]] void RaiseError(HRESULT hr, IErrorInfo* info = nullptr, std::string fallback = "");
// Raises for a failed IDispatch::Invoke: velksnmp.Error for failures of the member itself,
// TypeError, OverflowError or AttributeError for failures of the dispatch.
[[noreturn]] void RaiseInvokeFailure(HRESULT hr, EXCEPINFO& excep, const std::string& member,
                                     const std::string& argument);

// Exceptions raised by event handlers. They are kept per thread and raised from the next
// return to Python (the call, pump or wait during which the event fired); a second one
// before that is reported through sys.unraisablehook.
void RecordHandlerException(py::handle handler);
bool HandlerExceptionPending();
void RaisePendingHandlerException();  // no-op when none is pending
void ReportPendingHandlerException();  // through sys.unraisablehook, for paths without a caller

// ---------------------------------------------------------------------------------------
// Events (events.cpp).

class EventLink {
public:
    EventLink(ComPtr<IConnectionPoint> point, DWORD cookie, IDispatch* sink);
    ~EventLink();
    EventLink(const EventLink&) = delete;
    EventLink& operator=(const EventLink&) = delete;

private:
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_;
    IDispatch* sink_;  // one reference
};

// Connects a sink that calls the On<Event> methods of `target` (a wrapper whose Python
// object outlives the connection: the link is dropped when the wrapper goes).
void ConnectEvents(DispObject& object, py::handle target, const CLSID* clsid);

}  // namespace velkpy
