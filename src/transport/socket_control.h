// What the Agent and Manager controls share: the object plumbing (dual interface, event
// connection points, persistence to streams and storages, error info), the socket link
// with its events, the Message and Mib properties, and the members that pass straight
// through to the socket.
//
// Message and Mib accept only objects of this library's own classes; `OwnMessage::From`
// and `OwnMib::From` recognise them (null for anything else). They are template
// parameters, so this layer needs nothing of the layers that define those classes.
#pragma once

#include "automation/persistence.h"
#include "runtime/connection_point.h"
#include "runtime/object.h"
#include "transport/socket_link.h"
#include "velk/snmp.h"
#include "velk/sock.h"

namespace velk::transport {

template <class Derived, class I>
using ControlObject =
    rt::Object<Derived, rt::Dual<I>, rt::ConnectionPoints, automation::PersistStreamInit<Derived>,
               automation::PersistStorage<Derived>, rt::SupportErrorInfo<I>>;

template <class Derived, class I, class OwnMessage, class OwnMib>
class SocketControl : public ControlObject<Derived, I>, protected SocketEvents {
public:
    // The Object<> base: the final class befriends it so that Release can destroy it.
    using ObjectBase = ControlObject<Derived, I>;

    // Message, Mib: shared objects; getters hand out a new reference. Setters (put and
    // putref alike) fail with E_POINTER for null and E_INVALIDARG for an object that is not
    // of this library's own class; the previous object then stays.
    STDMETHOD(get_Message)(ISnmpMessage** pVal) override { return message_.CopyTo(pVal); }
    STDMETHOD(put_Message)(ISnmpMessage* newVal) override {
        return Replace(message_, newVal, OwnMessage::From(newVal) != nullptr);
    }
    STDMETHOD(putref_Message)(ISnmpMessage* newVal) override { return put_Message(newVal); }
    STDMETHOD(get_Mib)(ISnmpMib** pVal) override { return mib_.CopyTo(pVal); }
    STDMETHOD(put_Mib)(ISnmpMib* newVal) override {
        return Replace(mib_, newVal, OwnMib::From(newVal) != nullptr);
    }
    STDMETHOD(putref_Mib)(ISnmpMib* newVal) override { return put_Mib(newVal); }

    // The socket's local address, local port and queued datagram count; S_OK for a
    // non-null pointer.
    STDMETHOD(get_LocalAddress)(BSTR* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = nullptr;
        Socket()->get_SocketLocalAddress(pVal);
        return S_OK;
    }
    STDMETHOD(get_LocalPort)(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = 0;
        Socket()->get_SocketLocalPort(pVal);
        return S_OK;
    }
    STDMETHOD(get_SendDatagramCount)(LONG* pVal) override {
        if (!pVal) return E_POINTER;
        *pVal = 0;
        Socket()->get_QueuedDatagramCount(pVal);
        return S_OK;
    }
    // TraceSocket with the arguments unchanged; its result.
    STDMETHOD(Trace)(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive, BSTR SendPrompt,
                     BSTR ReceivePrompt) override {
        return Socket()->TraceSocket(Result, Send, Receive, SendPrompt, ReceivePrompt);
    }

    // The control's socket (borrowed), for the library's own tests and tools.
    IUdpSocket* Socket() const { return link_.Socket(); }

private:
    SocketLink link_;  // first: outlives the Message and the Mib

protected:
    explicit SocketControl(REFIID events) { this->AddPoint(events); }

    // Creates the socket and subscribes the control to its events.
    HRESULT CreateSocket() { return link_.Create(this); }

    ComPtr<ISnmpMessage> message_;
    ComPtr<ISnmpMib> mib_;

private:
    template <class T>
    static HRESULT Replace(ComPtr<T>& slot, T* value, bool own) {
        if (!value) return E_POINTER;
        if (!own) return E_INVALIDARG;
        slot = value;
        return S_OK;
    }
};

}  // namespace velk::transport
