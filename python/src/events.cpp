// Events: a sink of the class's source interface that calls On<Event>(args...) on the
// Python object. The sink points at that object without owning it (the object owns the
// connection, so the control, the sink and the object form no cycle); the wrapper cuts
// the link before its object goes.
#include "binding.h"

namespace velkpy {
namespace {

class EventSink final : public IDispatch {
public:
    EventSink(const IID& iid, std::shared_ptr<const TypeDesc> events, PyObject* target)
        : iid_(iid), events_(std::move(events)), target_(target) {}

    void Detach() { target_ = nullptr; }

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == iid_) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        if (!target_) return S_OK;
        py::gil_scoped_acquire gil;
        if (!target_) return S_OK;  // detached while waiting for the GIL
        const MemberDesc* event = events_->FindId(id);
        if (!event) return DISP_E_MEMBERNOTFOUND;
        ComPtr<IDispatch> self(this);  // a handler may drop the object and so this sink
        py::object target = py::reinterpret_borrow<py::object>(target_);
        py::object handler;
        try {
            const std::string name = "On" + event->name;
            if (!py::hasattr(target, name.c_str())) return S_OK;
            handler = target.attr(name.c_str());
            const UINT count = params ? params->cArgs - params->cNamedArgs : 0;
            py::tuple args(count);
            for (UINT i = 0; i < count; ++i) args[i] = FromVariant(params->rgvarg[params->cArgs - 1 - i]);
            handler(*args);
        } catch (py::error_already_set& e) {
            e.restore();
            RecordHandlerException(handler ? handler : target);
            return DISP_E_EXCEPTION;
        } catch (py::builtin_exception& e) {
            e.set_error();
            RecordHandlerException(handler ? handler : target);
            return DISP_E_EXCEPTION;
        } catch (std::exception& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
            RecordHandlerException(handler ? handler : target);
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }

private:
    ULONG refs_ = 1;
    IID iid_;
    std::shared_ptr<const TypeDesc> events_;
    PyObject* target_;  // not owned
};

// The source interface of the object's class: the class is found by CLSID in the type
// library of the object's interface, or as the class whose default interface that is.
ComPtr<ITypeInfo> SourceInterface(IDispatch* object, const CLSID* clsid) {
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> lib;
    UINT index = 0;
    if (FAILED(object->GetTypeInfo(0, 0, info.Put())) || !info ||
        FAILED(info->GetContainingTypeLib(lib.Put(), &index)) || !lib)
        return nullptr;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return nullptr;
    const IID iid = attr->guid;
    info->ReleaseTypeAttr(attr);

    auto sourceOf = [](ITypeInfo* cls, const IID* expectDefault) -> ComPtr<ITypeInfo> {
        TYPEATTR* a = nullptr;
        if (FAILED(cls->GetTypeAttr(&a))) return nullptr;
        const WORD impls = a->cImplTypes;
        const bool coclass = a->typekind == TKIND_COCLASS;
        cls->ReleaseTypeAttr(a);
        if (!coclass) return nullptr;
        ComPtr<ITypeInfo> source;
        bool defaultMatches = expectDefault == nullptr;
        for (UINT k = 0; k < impls; ++k) {
            INT flags = 0;
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> impl;
            if (FAILED(cls->GetImplTypeFlags(k, &flags)) || FAILED(cls->GetRefTypeOfImplType(k, &ref)) ||
                FAILED(cls->GetRefTypeInfo(ref, impl.Put())))
                continue;
            if (flags & IMPLTYPEFLAG_FSOURCE) {
                if (flags & IMPLTYPEFLAG_FDEFAULT || !source) source = impl;
            } else if (expectDefault && (flags & IMPLTYPEFLAG_FDEFAULT)) {
                TYPEATTR* ia = nullptr;
                if (SUCCEEDED(impl->GetTypeAttr(&ia))) {
                    defaultMatches = ia->guid == *expectDefault;
                    impl->ReleaseTypeAttr(ia);
                }
            }
        }
        return defaultMatches ? source : nullptr;
    };

    if (clsid) {
        ComPtr<ITypeInfo> cls;
        if (SUCCEEDED(lib->GetTypeInfoOfGuid(*clsid, cls.Put())) && cls) return sourceOf(cls.Get(), nullptr);
    }
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        ComPtr<ITypeInfo> cls;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
            FAILED(lib->GetTypeInfo(i, cls.Put())))
            continue;
        if (ComPtr<ITypeInfo> source = sourceOf(cls.Get(), &iid)) return source;
    }
    return nullptr;
}

}  // namespace

EventLink::EventLink(ComPtr<IConnectionPoint> point, DWORD cookie, IDispatch* sink)
    : point_(std::move(point)), cookie_(cookie), sink_(sink) {}

EventLink::~EventLink() {
    static_cast<EventSink*>(sink_)->Detach();
    point_->Unadvise(cookie_);
    point_.Reset();
    sink_->Release();
}

void ConnectEvents(DispObject& object, py::handle target, const CLSID* clsid) {
    IDispatch* disp = object.Checked();
    ComPtr<ITypeInfo> source = SourceInterface(disp, clsid);
    std::shared_ptr<const TypeDesc> events = source ? DescribeTypeInfo(source.Get()) : nullptr;
    const std::string name = object.Type() ? object.Type()->name : "object";
    if (!events) throw py::type_error("'" + name + "' objects have no events");
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = disp->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(events->iid, point.Put());
    if (FAILED(hr) || !point) RaiseError(FAILED(hr) ? hr : E_NOINTERFACE, nullptr, "'" + name + "' offers no connection for " + events->name);
    auto* sink = new EventSink(events->iid, events, target.ptr());
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (FAILED(hr)) {
        sink->Detach();
        sink->Release();
        RaiseError(hr, nullptr, "cannot connect to the events of '" + name + "'");
    }
    object.SetEvents(std::make_unique<EventLink>(std::move(point), cookie, sink));
}

}  // namespace velkpy
