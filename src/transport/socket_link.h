// The controls' view of the companion socket component: creates the socket, subscribes to
// its events and hands them to the control as plain C++ calls.
//
// The subscription holds no reference to the control (the control owns the link, the link
// owns the socket, and the socket's connection point owns the link's sink), so there is no
// reference cycle: destroying the control disconnects the sink and releases the socket.
#pragma once

#include "runtime/object.h"
#include "velk/sock.h"

namespace velk::transport {

// What a control receives from its socket. Called on the control's thread from the
// message loop; each call may run host code (the control fires its own events).
class SocketEvents {
public:
    virtual void OnSocketError(LONG number, BSTR description) = 0;
    virtual void OnDatagramArrived() = 0;
    virtual void OnSendNotification() = 0;

protected:
    ~SocketEvents() = default;
};

class SocketLink {
public:
    SocketLink() = default;
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;
    ~SocketLink();

    // Creates the socket and subscribes `events` (which must outlive the link). Fails with
    // the companion's result when no socket can be had.
    HRESULT Create(SocketEvents* events);

    IUdpSocket* Socket() const { return socket_.Get(); }

private:
    class Sink;
    ComPtr<IUdpSocket> socket_;
    ComPtr<IConnectionPoint> point_;
    Sink* sink_ = nullptr;  // one reference, released in the destructor
    DWORD cookie_ = 0;
};

// The low 16 bits of a companion result: its ErrorConstants number (0 for success).
inline LONG ErrorNumber(HRESULT hr) { return static_cast<LONG>(static_cast<uint32_t>(hr) & 0xFFFF); }

}  // namespace velk::transport
