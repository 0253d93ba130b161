// Connection points: Advise / Unadvise with cookies, firing over a snapshot of the sinks.
#include "runtime/connection_point.h"

#include <algorithm>

namespace velk::rt {

class ConnectionPoint : public Object<ConnectionPoint, IConnectionPoint> {
public:
    ConnectionPoint(const IID& iid, IConnectionPointContainer* container)
        : iid_(iid), container_(container) {}

    STDMETHOD(GetConnectionInterface)(IID* out) override {
        if (!out) return E_POINTER;
        *out = iid_;
        return S_OK;
    }
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** out) override {
        if (!out) return E_POINTER;
        *out = container_;
        if (!container_) return E_UNEXPECTED;  // the container is gone
        container_->AddRef();
        return S_OK;
    }
    STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override {
        if (!sink || !cookie) return E_POINTER;
        *cookie = 0;
        IDispatch* disp = nullptr;
        if (FAILED(sink->QueryInterface(iid_, reinterpret_cast<void**>(&disp))) &&
            FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp))))
            return CONNECT_E_CANNOTCONNECT;
        sinks_.push_back({ComPtr<IDispatch>::Adopt(disp), ++lastCookie_});
        *cookie = lastCookie_;
        return S_OK;
    }
    STDMETHOD(Unadvise)(DWORD cookie) override {
        auto it = std::find_if(sinks_.begin(), sinks_.end(),
                               [&](const Sink& s) { return s.cookie == cookie; });
        if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
        ComPtr<IDispatch> keep = std::move(it->sink);  // released after the list is consistent
        sinks_.erase(it);
        return S_OK;
    }
    STDMETHOD(EnumConnections)(IEnumConnections** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return E_NOTIMPL;
    }

    void Fire(DISPID id, const VARIANT* args, size_t count) {
        if (sinks_.empty()) return;
        // Sinks may disconnect themselves or others while the event runs.
        std::vector<ComPtr<IDispatch>> snapshot;
        snapshot.reserve(sinks_.size());
        for (const Sink& s : sinks_) snapshot.push_back(s.sink);
        std::vector<VARIANT> reversed(count);
        for (size_t i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
        for (const auto& sink : snapshot) {
            DISPPARAMS params{count ? reversed.data() : nullptr, nullptr,
                              static_cast<UINT>(count), 0};
            VARIANT result;
            VariantInit(&result);
            sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
            VariantClear(&result);
        }
    }
    size_t SinkCount() const { return sinks_.size(); }
    const IID& Iid() const { return iid_; }
    void DetachContainer() { container_ = nullptr; }

private:
    struct Sink {
        ComPtr<IDispatch> sink;
        DWORD cookie;
    };
    IID iid_;
    IConnectionPointContainer* container_;  // not owned: the container owns the point
    std::vector<Sink> sinks_;
    DWORD lastCookie_ = 0;
};

ConnectionPoints::~ConnectionPoints() {
    for (ConnectionPoint* p : points_) {
        p->DetachContainer();
        p->Release();
    }
}

void ConnectionPoints::AddPoint(REFIID iid) {
    auto point = MakeObject<ConnectionPoint>(iid, this);
    if (point) points_.push_back(point.Detach());
}

ConnectionPoint* ConnectionPoints::Find(REFIID iid) const {
    for (ConnectionPoint* p : points_)
        if (p->Iid() == iid) return p;
    return nullptr;
}

HRESULT ConnectionPoints::Fire(REFIID iid, DISPID id, std::initializer_list<VARIANT> args) {
    return Fire(iid, id, args.begin(), args.size());
}

HRESULT ConnectionPoints::Fire(REFIID iid, DISPID id, const VARIANT* args, size_t count) {
    ComPtr<ConnectionPoint> point(Find(iid));  // a sink may release the object meanwhile
    if (point) point->Fire(id, args, count);
    return S_OK;
}

HRESULT ConnectionPoints::FireError(REFIID iid, DISPID id, LONG number, BSTR description) {
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = number;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = description;
    return Fire(iid, id, args, 2);
}

size_t ConnectionPoints::SinkCount(REFIID iid) const {
    ConnectionPoint* p = Find(iid);
    return p ? p->SinkCount() : 0;
}

HRESULT ConnectionPoints::EnumConnectionPoints(IEnumConnectionPoints** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}

HRESULT ConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ConnectionPoint* p = Find(iid);
    if (!p) return CONNECT_E_NOCONNECTION;
    p->AddRef();
    *out = p;
    return S_OK;
}

}  // namespace velk::rt
