// Agent: the control with which a host acts as an SNMP agent. It receives requests on its
// UDP socket, decodes each into its Message, remembers the sender as ManagerName and
// ManagerPort and fires Request; with Auto on it answers Get and Set requests from its Mib.
// Send delivers responses to the requesting manager and traps to every TrapManagers entry.
//
// Re-entrancy: host code runs inside the control's own processing (event handlers, and
// host-implemented variables). While the control processes a datagram or sends, a datagram
// announced by the socket is not taken at once: it is taken after the current work ends, so
// events keep their order and a handler that pumps the message loop never sees the Message
// reused underneath it. Every call holds a reference to the control, so handlers may
// release it.
#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <vector>

#include "codec/message.h"
#include "mib/mib.h"
#include "transport/socket_control.h"
#include "typelib/typelib.h"
#include "velk/snmp.h"

namespace velk::agent {

class Agent final
    : public transport::SocketControl<Agent, IAgent, codec::SnmpMessage, mib::SnmpMib> {
    friend ObjectBase;

public:
    Agent();

    // Object-map entry: a new agent answering `iid`. Fails with the creation failure set for
    // CLSID_Agent, with the companion's result when no socket can be had, or with the
    // creation error of its TrapManagers, Message or Mib.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Persistence: Auto (VT_BOOL) and Community (VT_BSTR), in that order.
    static std::span<const automation::PersistedProperty> PersistedProperties();
    static const CLSID& PersistClassId() { return CLSID_Agent; }

    // Auto: stored unchanged; any non-zero value counts as true. Initially VARIANT_TRUE.
    STDMETHOD(get_Auto)(VARIANT_BOOL* pVal) override;
    STDMETHOD(put_Auto)(VARIANT_BOOL newVal) override;
    // Community: copied in and out; initially "cobalt". A null text reads as empty.
    STDMETHOD(get_Community)(BSTR* pVal) override;
    STDMETHOD(put_Community)(BSTR newVal) override;
    // Message, Mib, LocalAddress, LocalPort, SendDatagramCount and Trace: SocketControl.
    // Where responses go; set from every decoded request. Port 0 sends to 162.
    STDMETHOD(get_ManagerName)(BSTR* pVal) override;
    STDMETHOD(put_ManagerName)(BSTR newVal) override;
    STDMETHOD(get_ManagerPort)(LONG* pVal) override;
    STDMETHOD(put_ManagerPort)(LONG newVal) override;
    // Trap destinations: "host", "host:port" or "[v6-address]:port"; no port or port 0
    // means 162.
    STDMETHOD(get_TrapManagers)(IVelkStrings** pVal) override;
    STDMETHOD(put_TrapManagers)(IVelkStrings* newVal) override;
    STDMETHOD(putref_TrapManagers)(IVelkStrings* newVal) override;
    // Closes the socket; returns the socket's result.
    STDMETHOD(Close)() override;
    // Binds the socket (arguments passed unchanged, no default port) and restarts the clock
    // of the authenticationFailure trap's time stamp. With Auto on, then sends a version 1
    // coldStart trap through Send (the Message is reset for it) and returns Send's result.
    STDMETHOD(Open)(LONG LocalPort, BSTR LocalAddress) override;
    // Fires Response, applies the community rule and the uptime of a version 1 trap,
    // encodes the Message and sends it: traps (types 36 and 71) to every TrapManagers entry
    // (stopping at the first failing send), anything else to ManagerName:ManagerPort.
    // Returns the result of the last send (S_OK with no trap destination), or the failure
    // of the encoding, in which case nothing is sent.
    STDMETHOD(Send)() override;
    // Shows the About box through the runtime's dialog hook; S_OK without a hook.
    STDMETHOD(About)() override;
    // Hundredths of a second since creation on the monotonic clock, modulo 2^32 (values of
    // 2^31 and above read negative).
    STDMETHOD(get_AgentUptime)(LONG* pVal) override;

private:
    // Marks a section in which host code may run on the control's state; arrivals announced
    // meanwhile are deferred until the outermost section ends.
    class BusyScope;

    ~Agent() override;
    HRESULT Init();

    // SocketEvents.
    void OnSocketError(LONG number, BSTR description) override;
    void OnDatagramArrived() override;
    void OnSendNotification() override {}

    // Takes one datagram and processes it (step by step: decode, Request, automatic
    // answer). False when nothing was taken.
    bool TakeDatagram();
    // Announces deferred arrivals again from a posted task.
    void Reannounce();
    // The automatic answer to the request now in Message (auto_answer.cpp).
    void AnswerAutomatically();
    // Sends the authenticationFailure trap for a request with community `received`.
    void SendAuthenticationFailure(BSTR received);
    // Sends the encoded bytes to one destination.
    HRESULT SendBytes(std::span<const uint8_t> bytes, BSTR host, LONG port);
    HRESULT SendToTrapManagers(std::span<const uint8_t> bytes);
    LONG Uptime() const;

    ComPtr<IVelkStrings> trapManagers_;
    VARIANT_BOOL auto_ = VARIANT_TRUE;
    Bstr community_;
    Bstr managerName_;
    LONG managerPort_ = 0;
    std::chrono::steady_clock::time_point start_;
    DWORD openTick_ = 0;

    int busy_ = 0;                  // depth of BusyScope sections
    bool pending_ = false;          // an arrival was announced while busy
    bool reannouncing_ = false;     // a re-announcement task is posted
    bool answering_ = false;        // the member scratch below is in use
    std::vector<ISnmpVariable*> members_;  // request variables being answered (one reference each)
    // Lets posted tasks find out whether the control still exists.
    std::shared_ptr<Agent*> self_;
};

}  // namespace velk::agent
