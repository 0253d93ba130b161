// Event handlers as lambdas: connects a sink to one event interface of an object (a
// control's _IAgentEvents or _IManagerEvents, a socket's _IUdpEvents) and calls the handlers
// registered for each event. Header-only, over the public automation API.
//
//     auto events = velk::ConnectEvents(agent.Get(), DIID__IAgentEvents);
//     events.On(DISPID_AgentEvents_Request, [&](velk::EventArgs&) { ... });
//     events.On(DISPID_AgentEvents_Error, [&](velk::EventArgs& e) {
//         LONG number = e.Long(0);
//         std::u16string text = e.Text(1);
//     });
//
// The connection lasts until Disconnect() or the EventConnection's end. It holds no
// reference to the source object, so a handler may release the control; it may also
// disconnect its own connection or add handlers. Events arrive on the thread that fires
// them (the control's thread). Exceptions thrown by a handler are caught at the sink and
// reported to the firing object as DISP_E_EXCEPTION, which controls ignore.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velk/com.h"

namespace velk {

// The arguments of one event, in declaration order: argument 0 is the first one (the
// dispatch convention passes them in reverse; this view turns them round).
class EventArgs {
public:
    EventArgs(DISPID id, const DISPPARAMS* params) : id_(id), params_(params) {}

    DISPID Id() const { return id_; }
    UINT Count() const { return params_ ? params_->cArgs : 0; }
    // The argument as passed, or null when there is no argument `i`.
    const VARIANT* Raw(UINT i) const {
        if (i >= Count() || !params_->rgvarg) return nullptr;
        return &params_->rgvarg[params_->cArgs - 1 - i];
    }
    // The argument converted to a 32-bit integer, or `fallback` when it is missing or does
    // not convert.
    LONG Long(UINT i, LONG fallback = 0) const {
        const VARIANT* v = Raw(i);
        if (!v) return fallback;
        Variant converted;
        if (FAILED(VariantChangeType(&converted, v, 0, VT_I4))) return fallback;
        return converted.lVal;
    }
    // The argument converted to text; empty when it is missing or does not convert.
    std::u16string Text(UINT i) const {
        const VARIANT* v = Raw(i);
        if (!v) return {};
        Variant converted;
        if (FAILED(VariantChangeType(&converted, v, 0, VT_BSTR)) || !converted.bstrVal) return {};
        return std::u16string(converted.bstrVal, SysStringLen(converted.bstrVal));
    }

private:
    DISPID id_;
    const DISPPARAMS* params_;
};

using EventHandler = std::function<void(EventArgs&)>;

namespace detail {

// The sink object the source's connection point calls. Reference counted like any
// automation object; the EventConnection owns one reference.
class EventSink final : public IDispatch {
public:
    explicit EventSink(const IID& events) : events_(events) {}

    void Add(DISPID id, EventHandler handler) {
        handlers_.push_back({id, std::make_shared<EventHandler>(std::move(handler))});
    }
    void Clear() { handlers_.clear(); }

    STDMETHOD(QueryInterface)(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != events_) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG r = --refs_;
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
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
        AddRef();  // a handler may end the connection that owns this sink
        HRESULT hr = S_OK;
        EventArgs args(id, params);
        // By index: handlers may be added (or all cleared) while one runs.
        for (size_t i = 0; i < handlers_.size(); ++i) {
            if (handlers_[i].id != id) continue;
            std::shared_ptr<EventHandler> handler = handlers_[i].handler;
            try {
                (*handler)(args);
            } catch (...) {
                hr = DISP_E_EXCEPTION;
            }
        }
        Release();
        return hr;
    }

private:
    ~EventSink() = default;

    struct Entry {
        DISPID id;
        std::shared_ptr<EventHandler> handler;
    };
    IID events_;
    ULONG refs_ = 1;
    std::vector<Entry> handlers_;
};

}  // namespace detail

// One connection of handlers to an object's event interface. Move-only.
class EventConnection {
public:
    EventConnection() = default;
    EventConnection(IUnknown* source, const IID& events) {
        IConnectionPointContainer* container = nullptr;
        if (!source) {
            result_ = E_POINTER;
            return;
        }
        result_ = source->QueryInterface(IID_IConnectionPointContainer,
                                         reinterpret_cast<void**>(&container));
        if (FAILED(result_)) return;
        result_ = container->FindConnectionPoint(events, point_.Put());
        container->Release();
        if (FAILED(result_)) return;
        sink_ = new detail::EventSink(events);
        result_ = point_->Advise(sink_, &cookie_);
        if (FAILED(result_)) {
            sink_->Release();
            sink_ = nullptr;
            point_.Reset();
        }
    }
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;
    EventConnection(EventConnection&& other) noexcept { Swap(other); }
    EventConnection& operator=(EventConnection&& other) noexcept {
        EventConnection(std::move(other)).Swap(*this);
        return *this;
    }
    ~EventConnection() { Disconnect(); }

    // Adds a handler for the event with dispatch id `id`; the handlers of one event run in
    // the order they were added. Ignored when not connected.
    EventConnection& On(DISPID id, EventHandler handler) {
        if (sink_) sink_->Add(id, std::move(handler));
        return *this;
    }

    // Ends the connection: no handler runs afterwards, also not for an event that is being
    // delivered to other sinks right now.
    void Disconnect() {
        detail::EventSink* sink = std::exchange(sink_, nullptr);
        if (!sink) return;
        sink->Clear();
        if (point_) point_->Unadvise(cookie_);
        point_.Reset();
        sink->Release();
    }

    bool Connected() const { return sink_ != nullptr; }
    explicit operator bool() const { return Connected(); }
    // The result of connecting: S_OK, or why the connection could not be made.
    HRESULT Result() const { return result_; }

    void Swap(EventConnection& other) noexcept {
        point_.Swap(other.point_);
        std::swap(sink_, other.sink_);
        std::swap(cookie_, other.cookie_);
        std::swap(result_, other.result_);
    }

private:
    ComPtr<IConnectionPoint> point_;
    detail::EventSink* sink_ = nullptr;
    DWORD cookie_ = 0;
    HRESULT result_ = E_FAIL;
};

// Connects to the event interface `events` of `source`; check Connected() or Result().
inline EventConnection ConnectEvents(IUnknown* source, const IID& events) {
    return EventConnection(source, events);
}

template <class T>
EventConnection ConnectEvents(const ComPtr<T>& source, const IID& events) {
    return EventConnection(source.Get(), events);
}

}  // namespace velk
