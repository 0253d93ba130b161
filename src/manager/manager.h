// Manager: the control with which a host acts as an SNMP manager. The host fills Message
// and calls Send; every datagram that arrives on the control's socket is decoded into the
// same Message, its variables are completed from Mib, and the host is told by the Response,
// Trap or Error event. With Timeout non-zero, Send waits for the response to its request.
//
// Re-entry: events run host code, on this thread, inside Send and inside the socket's
// events. Every such call holds a reference to the control and to the objects it works on,
// so a handler may release the control, disconnect itself or replace Message or Mib. The
// receiving flag keeps an announced datagram from being taken while one is processed; an
// announcement that came meanwhile is repeated once the processing ends, so none is
// stranded. Blocked guards the blocking Send against a nested one.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "codec/message.h"
#include "mib/mib.h"
#include "transport/socket_control.h"
#include "velk/snmp.h"
#include "velk/sock.h"

namespace velk::manager {

class Manager final
    : public transport::SocketControl<Manager, IManager, codec::SnmpMessage, mib::SnmpMib> {
    friend ObjectBase;

public:
    Manager();

    // Object-map entry: a new control answering `iid`, with its socket (BlockingTimeout
    // 30000), a new SnmpMessage and a new SnmpMib. Fails with the creation failure set for
    // CLSID_Manager, or with the result of the socket, message or MIB that cannot be made.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Persisted properties: AgentName, AgentPort, TimeOut.
    static std::span<const automation::PersistedProperty> PersistedProperties();
    static const CLSID& PersistClassId() { return CLSID_Manager; }

    // Texts are copied in and out (null stays null). AgentName and AgentPort are also
    // overwritten by the sender of every datagram taken.
    STDMETHOD(get_AgentName)(BSTR* pVal) override;
    STDMETHOD(put_AgentName)(BSTR newVal) override;
    // 0 sends to port 161.
    STDMETHOD(get_AgentPort)(LONG* pVal) override;
    STDMETHOD(put_AgentPort)(LONG newVal) override;
    // Message, Mib, LocalAddress, LocalPort, SendDatagramCount and Trace: SocketControl.
    // Milliseconds, read as an unsigned number: 0 selects non-blocking use, anything else
    // (negative values included) the blocking Send with that one deadline. Put also sets
    // the socket's BlockingTimeout.
    STDMETHOD(get_Timeout)(LONG* pVal) override;
    STDMETHOD(put_Timeout)(LONG newVal) override;
    // Reads or writes one variable of the agent with a blocking version 1 Get or Set of
    // that variable alone (Message.Variables is cleared first; Community and Id are kept).
    // With Timeout 0 the call waits up to 30000 ms and Timeout reads 0 again afterwards.
    // An error status in the answer fails with 12019 and the text "Get exception (Name) in
    // variable index i." (or "Set exception ..."). Get returns the answer's first variable;
    // put changes the Oid of the caller's variable and sends that very object (null:
    // E_POINTER).
    STDMETHOD(get_AgentVariable)(BSTR Oid, ISnmpVariable** pVal) override;
    STDMETHOD(put_AgentVariable)(BSTR Oid, ISnmpVariable* newVal) override;
    // True while a blocking Send runs.
    STDMETHOD(get_Blocked)(VARIANT_BOOL* pVal) override;
    // CloseSocket; its result.
    STDMETHOD(Close)() override;
    // OpenSocket with the arguments unchanged. A failure is returned only while Timeout is
    // non-zero; with Timeout 0 the result is S_OK.
    STDMETHOD(Open)(LONG LocalPort, BSTR LocalAddress) override;
    // Encodes Message and sends it to AgentName:AgentPort. A failing Encode is returned and
    // nothing is sent. Non-blocking (Timeout 0): returns the send's result. Blocking: fails
    // with 12011 while another blocking Send runs; otherwise takes datagrams (firing their
    // events) until one that is not a trap carries the request's Id (S_OK), until Timeout
    // has passed since the request went out (10060), or until the socket fails (Abort:
    // 11103) or a datagram does not decode (its Decode result, after the Error event).
    STDMETHOD(Send)() override;
    // Shows the About box through the host's dialog hook; S_OK.
    STDMETHOD(About)() override;
    // AbortSocket: ends a waiting blocking Send with 11103; S_OK.
    STDMETHOD(Abort)() override;

private:
    ~Manager() override;
    HRESULT Init();

    // transport::SocketEvents
    void OnSocketError(LONG number, BSTR description) override;
    void OnDatagramArrived() override;
    void OnSendNotification() override;

    // Encodes Message and sends it; the send's (or the failing Encode's) result.
    HRESULT SendMessage();
    // The waiting of the blocking Send for the response that carries `requestId`.
    // `limit` is Timeout read as unsigned milliseconds (kInfinite: no limit).
    HRESULT AwaitResponse(LONG requestId, DWORD limit);
    // Takes one datagram and processes it: decode into Message, sender into AgentName and
    // AgentPort, completion from Mib, then Trap, Response or Error. `*taken` tells whether
    // a datagram was there. Returns the receive's failure, the Decode failure, or S_OK.
    HRESULT TakeDatagram(bool* taken);
    // Copies the descriptive fields of the MIB's variables into the message's variables.
    void CompleteFromMib(ISnmpMessage* message);
    // Posts one repeated DatagramArrived when an announcement was passed over.
    void RepeatMissedAnnouncement();
    // The blocking Get or Set of AgentVariable: sends `variable` alone with `type`; fails
    // with the Send's result, or with 12019 when the answer carries an error status.
    HRESULT RequestOneVariable(BSTR oid, ISnmpVariable* variable, TypeConstants type);
    void FireError(LONG number, BSTR description);

    Bstr agentName_;
    LONG agentPort_ = 0;
    LONG timeout_ = 30000;
    bool blocked_ = false;
    bool receiving_ = false;
    bool missed_ = false;      // a DatagramArrived came while receiving_ was set
    bool repeating_ = false;   // a repeated announcement is posted
    // Variables being completed (reused between datagrams; swapped out while in use).
    std::vector<ComPtr<ISnmpVariable>> completing_;
    // Lets posted tasks find out whether the control still exists (cleared by the
    // destructor); tasks hold no reference.
    std::shared_ptr<Manager*> self_;
};

}  // namespace velk::manager
