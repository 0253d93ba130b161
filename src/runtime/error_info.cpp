// Error information: the record object (ICreateErrorInfo to fill it, IErrorInfo to read
// it) and the calling thread's current record.
#include "runtime/object.h"
#include "velk/oleauto.h"

namespace {

using velk::ComPtr;

// Replaces *field by a copy of `text` (null stores null).
HRESULT StoreText(BSTR* field, LPOLESTR text) {
    BSTR copy = nullptr;
    if (text) {
        copy = SysAllocString(text);
        if (!copy) return E_OUTOFMEMORY;
    }
    SysFreeString(*field);
    *field = copy;
    return S_OK;
}

// A fresh copy of `text` for an out parameter (null gives null).
HRESULT CopyText(BSTR text, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!text) return S_OK;
    *out = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
    return *out ? S_OK : E_OUTOFMEMORY;
}

class ErrorInfo final : public velk::rt::Object<ErrorInfo, IErrorInfo, ICreateErrorInfo> {
public:
    ~ErrorInfo() override {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(helpFile_);
    }

    STDMETHOD(GetGUID)(GUID* guid) override {
        if (!guid) return E_POINTER;
        *guid = guid_;
        return S_OK;
    }
    STDMETHOD(GetSource)(BSTR* out) override { return CopyText(source_, out); }
    STDMETHOD(GetDescription)(BSTR* out) override { return CopyText(description_, out); }
    STDMETHOD(GetHelpFile)(BSTR* out) override { return CopyText(helpFile_, out); }
    STDMETHOD(GetHelpContext)(DWORD* out) override {
        if (!out) return E_POINTER;
        *out = helpContext_;
        return S_OK;
    }

    STDMETHOD(SetGUID)(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    STDMETHOD(SetSource)(LPOLESTR text) override { return StoreText(&source_, text); }
    STDMETHOD(SetDescription)(LPOLESTR text) override { return StoreText(&description_, text); }
    STDMETHOD(SetHelpFile)(LPOLESTR text) override { return StoreText(&helpFile_, text); }
    STDMETHOD(SetHelpContext)(DWORD context) override {
        helpContext_ = context;
        return S_OK;
    }

private:
    GUID guid_ = GUID_NULL;
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR helpFile_ = nullptr;
    DWORD helpContext_ = 0;
};

// The thread's record; released when the thread ends.
struct ThreadErrorInfo {
    IErrorInfo* record = nullptr;
    ~ThreadErrorInfo() {
        if (IErrorInfo* r = record) {
            record = nullptr;
            r->Release();
        }
    }
};
thread_local ThreadErrorInfo t_errorInfo;

}  // namespace

// A new, empty record with one reference; QueryInterface gives its IErrorInfo.
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = nullptr;
    ComPtr<ErrorInfo> record = velk::rt::MakeObject<ErrorInfo>();
    if (!record) return E_OUTOFMEMORY;
    *pperrinfo = static_cast<ICreateErrorInfo*>(record.Detach());
    return S_OK;
}

// Makes `perrinfo` (a new reference to it) the thread's record; null clears it.
HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo) {
    if (perrinfo) perrinfo->AddRef();
    IErrorInfo* old = t_errorInfo.record;
    t_errorInfo.record = perrinfo;
    // Released last: its destruction may set error information again.
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo) {
    if (!pperrinfo) return E_INVALIDARG;
    *pperrinfo = t_errorInfo.record;
    t_errorInfo.record = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}
