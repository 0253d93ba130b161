// AgentVariable: one variable of the agent read or written with a blocking request.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "automation/error_reporting.h"
#include "manager/manager.h"
#include "model/variable.h"

namespace velk::manager {

namespace {

constexpr LONG kAgentVariableTimeout = 30000;

// Error-status names as the messages show them (index = ExceptionConstants value).
constexpr const char* kExceptionNames[] = {
    "Ok",        "TooBig",      "NoSuchName",       "BadValue",          "ReadOnly",
    "GeneralError", "NoAccess", "WrongType",        "WrongLength",       "WrongEncoding",
    "WrongValue", "NoCreation", "IncosistentValue", "ResourceUnavailable", "CommitFailed",
    "UndoFailed", "AuthorizationError", "NotWritable", "InconsistentName",
};

// Message 110 (get) or 111 (set) filled with the status name and the error index, as
// 8-bit text through the ANSI code page.
Bstr RefusalText(bool set, LONG status, LONG index) {
    char number[16];
    const char* name = number;
    if (status >= 0 && status < static_cast<LONG>(std::size(kExceptionNames)))
        name = kExceptionNames[status];
    else
        std::snprintf(number, sizeof number, "%ld", static_cast<long>(status));
    char text[96];
    const int n = set ? std::snprintf(text, sizeof text, "Set exception (%s) in variable index %i.",
                                      name, static_cast<int>(index))
                      : std::snprintf(text, sizeof text, "Get exception (%s) in variable index %i.",
                                      name, static_cast<int>(index));
    const size_t length = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof text - 1);
    return Bstr::FromAnsi(std::string_view(text, length));
}

}  // namespace

HRESULT Manager::RequestOneVariable(BSTR oid, ISnmpVariable* variable, TypeConstants type) {
    variable->put_Oid(oid);
    {
        ComPtr<ISnmpMessage> message = message_;
        ComPtr<ISnmpVariables> variables;
        if (HRESULT hr = message->get_Variables(variables.Put()); FAILED(hr)) return hr;
        // Only this variable is requested, so the answer's first variable is its own.
        variables->Clear();
        if (HRESULT hr = variables->Add(variable); FAILED(hr)) return hr;
        message->put_Type(type);
    }
    const LONG kept = timeout_;
    if (kept == 0) {
        timeout_ = kAgentVariableTimeout;
        Socket()->put_BlockingTimeout(kAgentVariableTimeout);
    }
    HRESULT hr = Send();
    timeout_ = kept;
    Socket()->put_BlockingTimeout(kept);
    if (FAILED(hr)) return hr;

    ComPtr<ISnmpMessage> answer = message_;  // handlers may have replaced it
    ExceptionConstants status = snmpOk;
    answer->get_Exception(&status);
    if (status == snmpOk) return S_OK;
    LONG index = 0;
    answer->get_ExceptionIndex(&index);
    const Bstr text = RefusalText(type == snmpSet1, status, index);
    return automation::ReportError(CLSID_Manager, ulOperationRefused, text.View());
}

HRESULT Manager::get_AgentVariable(BSTR Oid, ISnmpVariable** pVal) {
    if (!pVal) return E_POINTER;
    *pVal = nullptr;
    ComPtr<Manager> keep(this);
    ComPtr<ISnmpVariable> request;
    if (HRESULT hr = model::CreateSnmpVariable(request.Put()); FAILED(hr)) return hr;
    HRESULT hr = RequestOneVariable(Oid, request.Get(), snmpGet1);
    request.Reset();
    if (FAILED(hr)) return hr;
    ComPtr<ISnmpMessage> answer = message_;
    ComPtr<ISnmpVariables> variables;
    if (hr = answer->get_Variables(variables.Put()); FAILED(hr)) return hr;
    VARIANT first;
    VariantInit(&first);
    first.vt = VT_I4;
    first.lVal = 1;
    return variables->Item(first, pVal);
}

HRESULT Manager::put_AgentVariable(BSTR Oid, ISnmpVariable* newVal) {
    if (!newVal) return E_POINTER;
    ComPtr<Manager> keep(this);
    ComPtr<ISnmpVariable> held(newVal);
    return RequestOneVariable(Oid, newVal, snmpSet1);
}

}  // namespace velk::manager
