// velksnmp.Error, the mapping of failed calls to Python exceptions, and the exceptions that
// event handlers raise.
#include <cstdio>
#include <stdexcept>

#include "binding.h"

namespace velkpy {
namespace {

const char* const kErrorSource = R"py(
class Error(Exception):
    """A call into the library failed.

    hresult      the failure code (unsigned; 0x800A0000 plus the number for the
                 library's own errors)
    number       its low 16 bits (an ErrorConstants value for the library's errors)
    description  the error text; str(error) reads like it
    source       the ProgID of the reporting class
    helpfile     the help file named by the error information
    helpcontext  its help context
    """

    def __init__(self, hresult=0, description="", source="", helpfile="", helpcontext=0):
        super().__init__(hresult, description, source, helpfile, helpcontext)
        self.hresult = hresult & 0xFFFFFFFF
        self.description = description
        self.source = source
        self.helpfile = helpfile
        self.helpcontext = helpcontext

    @property
    def number(self):
        return self.hresult & 0xFFFF

    def __str__(self):
        return self.description or "call failed (HRESULT 0x%08X)" % self.hresult

    def __repr__(self):
        return "velksnmp.Error(0x%08X, %r)" % (self.hresult, self.description)
)py";

PyObject* g_errorType = nullptr;  // owned by the module; kept for the process

// The first handler exception not yet raised, per thread (a new reference).
thread_local PyObject* t_pending = nullptr;

py::str Text(BSTR b) { return FromBstr(b); }

[[noreturn]] void Throw(py::handle type, const py::object& value) {
    PyErr_SetObject(type.ptr(), value.ptr());
    throw py::error_already_set();
}

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace

void InitErrors(py::module_& m) {
    py::dict scope;
    scope["__name__"] = "velksnmp";
    scope["__builtins__"] = py::module_::import("builtins");
    py::exec(kErrorSource, scope);
    py::object type = scope["Error"];
    m.attr("Error") = type;
    g_errorType = type.inc_ref().ptr();
}

py::object ErrorType() { return py::reinterpret_borrow<py::object>(g_errorType); }

void RaiseError(HRESULT hr, IErrorInfo* given, std::string fallback) {
    ComPtr<IErrorInfo> info(given);
    if (!info) {
        IErrorInfo* thread = nullptr;
        if (GetErrorInfo(0, &thread) == S_OK) info = ComPtr<IErrorInfo>::Adopt(thread);
    }
    py::object description = py::str(fallback), source = py::str(""), helpfile = py::str("");
    DWORD context = 0;
    if (info) {
        velk::Bstr d, s, f;
        info->GetDescription(d.Put());
        info->GetSource(s.Put());
        info->GetHelpFile(f.Put());
        info->GetHelpContext(&context);
        if (!d.Empty()) description = Text(d.Get());
        source = Text(s.Get());
        helpfile = Text(f.Get());
    }
    py::object error = ErrorType()(static_cast<uint32_t>(hr), description, source, helpfile,
                                   static_cast<unsigned long>(context));
    Throw(ErrorType(), error);
}

void RaiseInvokeFailure(HRESULT hr, EXCEPINFO& excep, const std::string& member,
                        const std::string& argument) {
    velk::Bstr source = velk::Bstr::Adopt(excep.bstrSource);
    velk::Bstr description = velk::Bstr::Adopt(excep.bstrDescription);
    velk::Bstr helpFile = velk::Bstr::Adopt(excep.bstrHelpFile);
    excep.bstrSource = excep.bstrDescription = excep.bstrHelpFile = nullptr;
    const std::string where = argument.empty() ? member : member + ", argument '" + argument + "'";
    switch (hr) {
        case DISP_E_EXCEPTION: {
            HRESULT code = excep.scode ? excep.scode : E_FAIL;
            py::object text = description.Empty() ? py::str(member + " failed (" + Hex(code) + ")")
                                                  : py::object(Text(description.Get()));
            py::object error = ErrorType()(static_cast<uint32_t>(code), text,
                                           Text(source.Get()), Text(helpFile.Get()),
                                           static_cast<unsigned long>(excep.dwHelpContext));
            Throw(ErrorType(), error);
        }
        case DISP_E_TYPEMISMATCH:
        case DISP_E_BADVARTYPE:
            throw py::type_error(where + ": wrong argument type (" + Hex(hr) + ")");
        case DISP_E_OVERFLOW:
            throw std::overflow_error(where + ": value out of range (" + Hex(hr) + ")");
        case DISP_E_BADPARAMCOUNT:
        case DISP_E_PARAMNOTOPTIONAL:
        case DISP_E_PARAMNOTFOUND:
        case DISP_E_NONAMEDARGS:
            throw py::type_error(where + ": wrong number of arguments (" + Hex(hr) + ")");
        case DISP_E_MEMBERNOTFOUND:
        case DISP_E_UNKNOWNNAME:
            throw py::attribute_error(member + ": no such member for this use (" + Hex(hr) + ")");
        default:
            RaiseError(hr, nullptr, member + " failed (" + Hex(hr) + ")");
    }
}

void RecordHandlerException(py::handle handler) {
    // Called with the handler's exception set.
    if (t_pending) {
        PyErr_WriteUnraisable(handler.ptr());
        return;
    }
    PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    if (value && trace) PyException_SetTraceback(value, trace);
    Py_XDECREF(type);
    Py_XDECREF(trace);
    t_pending = value;
}

bool HandlerExceptionPending() { return t_pending != nullptr; }

void RaisePendingHandlerException() {
    PyObject* value = t_pending;
    if (!value) return;
    t_pending = nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    Py_INCREF(type);
    PyErr_Restore(type, value, PyException_GetTraceback(value));
    throw py::error_already_set();
}

void ReportPendingHandlerException() {
    PyObject* value = t_pending;
    if (!value) return;
    t_pending = nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    Py_INCREF(type);
    PyErr_Restore(type, value, PyException_GetTraceback(value));
    PyErr_WriteUnraisable(nullptr);
}

}  // namespace velkpy
