// Socket creation and event subscription for the controls.
#include "transport/socket_link.h"

#include "sock/udp_socket.h"

namespace velk::transport {

// The sink the socket's connection point calls: an IDispatch that forwards by DISPID.
class SocketLink::Sink final : public rt::Object<Sink, IDispatch> {
public:
    explicit Sink(SocketEvents* events) : events_(events) {}
    void Detach() { events_ = nullptr; }

    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
        if (!events_) return S_OK;
        ComPtr<Sink> keep(this);  // the handler may destroy the control and so the link
        switch (id) {
            case DISPID_UdpEvents_SocketError: {
                LONG number = 0;
                BSTR description = nullptr;
                // Arguments arrive in reverse order: Description, then Number.
                if (params && params->cArgs >= 2) {
                    Variant n;
                    if (SUCCEEDED(VariantChangeType(&n, &params->rgvarg[1], 0, VT_I4)))
                        number = n.lVal;
                    if (params->rgvarg[0].vt == VT_BSTR) description = params->rgvarg[0].bstrVal;
                }
                events_->OnSocketError(number, description);
                break;
            }
            case DISPID_UdpEvents_DatagramArrived: events_->OnDatagramArrived(); break;
            case DISPID_UdpEvents_SendNotification: events_->OnSendNotification(); break;
            default: break;
        }
        return S_OK;
    }

private:
    SocketEvents* events_;
};

SocketLink::~SocketLink() {
    if (sink_) {
        sink_->Detach();
        if (point_) point_->Unadvise(cookie_);
        sink_->Release();
    }
}

HRESULT SocketLink::Create(SocketEvents* events) {
    if (HRESULT hr = sock::CreateUdpSocket(socket_.Put()); FAILED(hr)) return hr;
    ComPtr<IConnectionPointContainer> container;
    if (HRESULT hr = socket_.As(&container); FAILED(hr)) return hr;
    if (HRESULT hr = container->FindConnectionPoint(DIID__IUdpEvents, point_.Put()); FAILED(hr))
        return hr;
    auto sink = rt::MakeObject<Sink>(events);
    if (!sink) return E_OUTOFMEMORY;
    if (HRESULT hr = point_->Advise(sink->Unknown(), &cookie_); FAILED(hr)) return hr;
    sink_ = sink.Detach();
    return S_OK;
}

}  // namespace velk::transport
