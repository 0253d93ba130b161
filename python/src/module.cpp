// The module velksnmp: object creation, events, the thread's message loop, the
// enumerations of the type libraries as constants, and the asyncio integration.
#include <algorithm>
#include <chrono>
#include <velk/snmp.h>
#include <velk/sock.h>

#include "binding.h"
#include "runtime/object.h"

namespace velkpy {
namespace {

const char* const kModuleDoc = R"doc(Velk SNMP for Python: every class of the library by name.

    mgr = velksnmp.Dispatch("Velk.Manager")
    mgr.AgentName = "127.0.0.1"
    print(mgr.AgentVariable("1.3.6.1.2.1.1.1.0").Value)

Objects are late bound through IDispatch and described by the type information:
attribute reads and writes are property gets and puts, methods and parameterized
properties are called (obj.Name(args)), parameterized properties are set with
obj.Name[args] = value, the default member answers obj[i] and obj(i), iteration and
len() use _NewEnum and Count. help(obj) and dir(obj) list the members with their help
strings. A failing call raises velksnmp.Error.

Events: DispatchWithEvents(progid, HandlerClass) calls the handler's On<Event> methods.
Events, socket traffic and timers run on the calling thread's message loop: drive it with
pump_messages() or wait_message(timeout_ms), or attach it to asyncio with
asyncio_attach(loop).
)doc";

const char* const kPythonSource = R"py(
class _AsyncioAttachment:
    """The message loop watched by an asyncio loop; detach() (or leaving a with block) ends it."""

    def __init__(self, loop, fd):
        self.loop = loop
        self.fd = fd

    def detach(self):
        if self.loop is not None:
            self.loop.remove_reader(self.fd)
            self.loop = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.detach()
        return False


def asyncio_attach(loop=None):
    """Runs this thread's message loop inside an asyncio event loop.

    The loop's descriptor (message_loop_fd()) is watched with loop.add_reader; whenever it
    is readable, pump_messages() runs the pending events, timers and socket traffic, so
    agents and managers work inside an asyncio program without a thread. An exception
    raised by an event handler goes to the asyncio loop's exception handler. Use a
    Manager with Timeout 0 there: a blocking Send would hold up the asyncio loop.
    Call it on the thread that runs `loop` (default: the running loop).
    """
    import asyncio
    if loop is None:
        loop = asyncio.get_running_loop()
    fd = message_loop_fd()
    loop.add_reader(fd, pump_messages)
    return _AsyncioAttachment(loop, fd)
)py";

// velksnmp.Dispatch as a plain CPython function: objects are made often (a message's
// variables), and the general call machinery costs as much as the creation itself.
PyObject* Dispatch(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"progid", nullptr};
    PyObject* target = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Dispatch", const_cast<char**>(keywords), &target))
        return nullptr;
    try {
        return Wrap(std::unique_ptr<DispObject>(CreateObject(target))).release().ptr();
    } catch (...) {
        SetPythonError();
        return nullptr;
    }
}

// The handler class combined with velksnmp.Object, so that handlers reach the object's
// members through self. One combined class per handler class.
py::object EventClass(py::handle handlerClass) {
    static py::dict* classes = new py::dict();
    if (classes->contains(handlerClass)) return (*classes)[handlerClass];
    py::object base = py::type::of<DispObject>();
    py::dict ns;
    ns["__doc__"] = base.attr("__dict__")["__doc__"];  // the type information's member list
    ns["__module__"] = handlerClass.attr("__module__");
    std::string name = py::str(handlerClass.attr("__name__"));
    py::object cls = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
        name, py::make_tuple(handlerClass, base), ns);
    // Direct slots, unless the handler class customises that access itself.
    py::object object = py::module_::import("builtins").attr("object");
    auto own = [&](const char* name) {
        return py::hasattr(handlerClass, name) &&
               !(py::hasattr(object, name) && handlerClass.attr(name).is(object.attr(name)));
    };
    InstallFastSlots(cls, !own("__getattr__") && !own("__getattribute__") && !own("__setattr__"),
                     !own("__getitem__") && !own("__setitem__") && !own("__len__"));
    (*classes)[handlerClass] = cls;
    return cls;
}

py::object DispatchWithEvents(py::handle target, py::handle handlerClass) {
    if (!PyType_Check(handlerClass.ptr())) throw py::type_error("DispatchWithEvents() takes a handler class");
    py::object cls = EventClass(handlerClass);
    py::object base = py::type::of<DispObject>();
    py::object self = cls.attr("__new__")(cls);
    base.attr("__init__")(self, target);
    DispObject& d = self.cast<DispObject&>();
    ConnectEvents(d, self, d.Clsid());
    // The handler's own initialiser runs once the object is usable.
    py::object init = handlerClass.attr("__init__");
    py::object objectInit = py::module_::import("builtins").attr("object").attr("__init__");
    if (!init.is(objectInit)) init(self);
    return self;
}

py::object WaitMessage(py::object timeout) {
    // Waits in slices so that Ctrl-C (a pending signal) ends the wait.
    using Clock = std::chrono::steady_clock;
    const bool infinite = timeout.is_none();
    double ms = infinite ? 0 : timeout.cast<double>();
    if (!infinite && !(ms >= 0)) throw py::value_error("timeout_ms must be a number of milliseconds, at least 0");
    ms = std::min(ms, 1e12);
    const auto end = Clock::now() + std::chrono::microseconds(static_cast<int64_t>(ms * 1000));
    constexpr DWORD kSlice = 100;
    for (;;) {
        DWORD slice = kSlice;
        if (!infinite) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left < 0) left = 0;
            slice = static_cast<DWORD>(std::min<int64_t>(left, kSlice));
        }
        HRESULT hr;
        {
            py::gil_scoped_release nogil;
            hr = VelkWaitMessage(slice);
        }
        RaisePendingHandlerException();
        if (hr == S_OK) return py::bool_(true);
        if (FAILED(hr)) RaiseError(hr, nullptr, "the thread has no message loop");
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (!infinite && Clock::now() >= end) return py::bool_(false);
    }
}

py::list Classes() {
    py::object info = py::module_::import("collections").attr("namedtuple")(
        "ClassInfo", "name progid registered events help");
    py::list result;
    for (const GUID* libid : {&LIBID_VelkSnmp, &LIBID_VelkSock}) {
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadRegTypeLib(*libid, 1, 0, 0, lib.Put())) || !lib) continue;
        const UINT count = lib->GetTypeInfoCount();
        for (UINT i = 0; i < count; ++i) {
            TYPEKIND kind;
            ComPtr<ITypeInfo> cls;
            if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
                FAILED(lib->GetTypeInfo(i, cls.Put())))
                continue;
            TYPEATTR* attr = nullptr;
            if (FAILED(cls->GetTypeAttr(&attr))) continue;
            const CLSID clsid = attr->guid;
            const bool events = attr->cImplTypes > 1;
            cls->ReleaseTypeAttr(attr);
            BSTR name = nullptr, help = nullptr;
            cls->GetDocumentation(-1, &name, &help, nullptr, nullptr);
            py::object progId = py::none();
            LPOLESTR versioned = nullptr;
            const bool registered = SUCCEEDED(ProgIDFromCLSID(clsid, &versioned)) && versioned;
            if (registered) {
                std::u16string text(versioned);
                CoTaskMemFree(versioned);
                // The class's ProgID without its version suffix (".1").
                size_t dot = text.rfind(u'.');
                if (dot != std::u16string::npos && dot + 1 < text.size() &&
                    text.find_first_not_of(u"0123456789", dot + 1) == std::u16string::npos)
                    text.resize(dot);
                velk::Bstr b(text);
                progId = FromBstr(b.Get());
            }
            result.append(info(FromBstr(velk::Bstr::Adopt(name).Get()), progId, registered, events,
                               FromBstr(velk::Bstr::Adopt(help).Get())));
        }
    }
    return result;
}

// Every enumeration of the type libraries: its constants as module attributes, and the
// enumeration itself as an IntEnum class.
void AddEnumerations(py::module_& m) {
    py::object intEnum = py::module_::import("enum").attr("IntEnum");
    for (const GUID* libid : {&LIBID_VelkSnmp, &LIBID_VelkSock}) {
        ComPtr<ITypeLib> lib;
        if (FAILED(LoadRegTypeLib(*libid, 1, 0, 0, lib.Put())) || !lib) continue;
        const UINT count = lib->GetTypeInfoCount();
        for (UINT i = 0; i < count; ++i) {
            TYPEKIND kind;
            ComPtr<ITypeInfo> e;
            if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_ENUM ||
                FAILED(lib->GetTypeInfo(i, e.Put())))
                continue;
            TYPEATTR* attr = nullptr;
            if (FAILED(e->GetTypeAttr(&attr))) continue;
            const WORD vars = attr->cVars;
            e->ReleaseTypeAttr(attr);
            BSTR enumName = nullptr, enumHelp = nullptr;
            e->GetDocumentation(-1, &enumName, &enumHelp, nullptr, nullptr);
            py::str name = FromBstr(velk::Bstr::Adopt(enumName).Get());
            std::string doc = Narrow(velk::Bstr::Adopt(enumHelp).Get());
            py::list members;
            for (UINT k = 0; k < vars; ++k) {
                VARDESC* v = nullptr;
                if (FAILED(e->GetVarDesc(k, &v)) || !v) continue;
                BSTR constName = nullptr, constHelp = nullptr;
                e->GetDocumentation(v->memid, &constName, &constHelp, nullptr, nullptr);
                velk::Bstr cn = velk::Bstr::Adopt(constName), ch = velk::Bstr::Adopt(constHelp);
                const long value = v->lpvarValue ? static_cast<long>(v->lpvarValue->lVal) : 0;
                e->ReleaseVarDesc(v);
                py::str constant = FromBstr(cn.Get());
                members.append(py::make_tuple(constant, value));
                if (!py::hasattr(m, constant)) m.attr(constant) = py::int_(value);
                doc += "\n  " + Narrow(cn.Get()) + " = " + std::to_string(value);
                if (!ch.Empty()) doc += ": " + Narrow(ch.Get());
            }
            py::object cls = intEnum(name, members, py::arg("module") = "velksnmp");
            cls.attr("__doc__") = doc;
            m.attr(name) = cls;
        }
    }
}

}  // namespace
}  // namespace velkpy

PYBIND11_MODULE(velksnmp, m) {
    using namespace velkpy;
    m.doc() = kModuleDoc;
    InitErrors(m);
    RegisterObjectTypes(m);

    static PyMethodDef dispatchDef = {
        "Dispatch", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Dispatch)),
        METH_VARARGS | METH_KEYWORDS,
        "Dispatch(progid)\n--\n\nCreates an object of the class registered as `progid` "
        "(\"Velk.SnmpMessage\"), or returns a new wrapper of a velksnmp object."};
    py::object moduleName = m.attr("__name__");
    py::object dispatch = py::reinterpret_steal<py::object>(PyCFunction_NewEx(&dispatchDef, nullptr, moduleName.ptr()));
    if (!dispatch) throw py::error_already_set();
    m.attr("Dispatch") = dispatch;
    m.def("DispatchWithEvents", &DispatchWithEvents, py::arg("progid"), py::arg("handler_class"),
          "Creates an object and connects its events to an instance of a class combining "
          "`handler_class` with velksnmp.Object: each event calls the handler's On<Event> "
          "method (OnResponse, OnRequest, OnTrap, OnSend, OnError(number, description)) when "
          "it has one. An exception raised by a handler is raised again from the call, pump or "
          "wait during which the event fired.");
    m.def("release", [](py::handle obj) {
              DispObject* d = AsDispObject(obj);
              if (!d) throw py::type_error("release() takes a velksnmp object");
              d->Release();
          }, py::arg("obj"),
          "Releases the object's interface now (and disconnects its events); the wrapper "
          "cannot be used afterwards.");
    m.def("pump_messages", [] {
              UINT ran = VelkPumpPendingMessages();
              RaisePendingHandlerException();
              return ran;
          },
          "Runs the pending work of this thread's message loop (events, timers, socket "
          "traffic) without waiting; returns how many callbacks ran.");
    m.def("wait_message", &WaitMessage, py::arg("timeout_ms") = py::none(),
          "Waits up to timeout_ms milliseconds (None: no limit) for work on this thread's "
          "message loop and runs it; True when something ran, False on time-out.");
    m.def("message_loop_fd", [] {
              int fd = VelkMessageLoopFd();
              if (fd < 0) RaiseError(E_UNEXPECTED, nullptr, "the thread has no message loop");
              return fd;
          },
          "The descriptor of this thread's message loop: readable while work is pending. "
          "Watch it in another event loop and call pump_messages() when it is readable.");
    m.def("classes", &Classes,
          "The classes of the type libraries: (name, progid, registered, events, help); "
          "progid is None for a class that is not registered.");
    m.def("_live_objects", [] { return velk::rt::LiveObjectCount(); },
          "Number of live objects of the library in this process (a leak check).");

    AddEnumerations(m);

    py::dict scope = m.attr("__dict__");
    py::exec(kPythonSource, scope);
}
