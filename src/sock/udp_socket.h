// UdpSocketComponent: a UDP datagram socket (IPv4 and IPv6) driven by the thread's message
// loop, with the events of _IUdpEvents.
//
// Failures are 0x800A0000 plus an ErrorConstants number with the thread's error record
// (source: the class's versioned ProgID once registered); null out-pointers give E_POINTER. Errno values map to:
// EACCES/EPERM 10013, EADDRINUSE 10048, EADDRNOTAVAIL/EAFNOSUPPORT 10049, ENETDOWN 10050,
// ENETUNREACH 10051, ENETRESET 10052, ECONNABORTED 10053, ECONNRESET 10054,
// ENOBUFS/ENOMEM/EMFILE/ENFILE 10055, ENOTCONN 10057, ETIMEDOUT 10060, ECONNREFUSED 10061,
// EHOSTUNREACH/EHOSTDOWN 10065, a datagram too large to send (EMSGSIZE) 12001, anything
// else 11100. Name resolution: unknown name 11001, temporary failure 11002, permanent
// failure 11003, name without an address 11004; a host of the other address family than
// the socket can reach 10049.
//
// Sockets. An empty local address opens one dual-stack socket (IPv6 with IPv4-mapped
// traffic, or plain IPv4 where the system has no IPv6) that reaches both families; for
// names it prefers IPv4 addresses. An explicit address (literal or name) opens a socket of
// exactly that family. Senders arrive as dotted IPv4 (IPv4-mapped senders included) or
// IPv6 text.
//
// Events, all from the thread's loop, never inside a call of the host:
// - DatagramArrived: at least one datagram can be taken. After it fires it is not fired
//   again until ReceiveDatagram has been called (whatever that call returns), so a host
//   that leaves the datagram where it is causes no busy loop. Not fired while a blocking
//   ReceiveDatagram of this socket waits: the waiting call takes the datagram.
// - SendNotification: posted once per datagram sent, fired by a later pump.
// - SocketError(Number, Description): an ICMP error (port unreachable 10061, ...) for an
//   earlier datagram that no call saw. A ReceiveDatagram that meets such an error fails
//   with it instead (the datagrams stay queued); a SendDatagram that meets one still sends
//   its own datagram and the error is posted as SocketError.
//
// Queue. Datagrams stay in the system's buffer until taken. QueuedDatagramCount moves up to
// 1024 of them (at most 4 MiB) into a queue of the object, so it can count them exactly;
// ReceiveDatagram serves that queue first, so the order is kept.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "runtime/connection_point.h"
#include "runtime/object.h"
#include "velk/sock.h"

namespace velk::sock {

class UdpSocket final
    : public rt::Object<UdpSocket, rt::Dual<IUdpSocket>, rt::ConnectionPoints,
                        rt::SupportErrorInfo<IUdpSocket>> {
public:
    UdpSocket();
    ~UdpSocket() override;

    // Object-map entry.
    static HRESULT CreateInstance(REFIID iid, void** out);

    // Milliseconds that ReceiveDatagram waits, read as an unsigned number (-1: no limit);
    // 0 returns at once. OpenSocket and CloseSocket never wait.
    STDMETHOD(get_BlockingTimeout)(LONG* pVal) override;
    STDMETHOD(put_BlockingTimeout)(LONG newVal) override;
    // Binds to LocalPort (0..65535, else 12001; 0 lets the system choose) on LocalAddress.
    // Fails with 12014 while the socket is open (it stays open).
    STDMETHOD(OpenSocket)(LONG LocalPort, BSTR LocalAddress) override;
    // Closes the socket; drops the datagrams not taken and ends waits of this socket with
    // 10057. S_OK when it is not open.
    STDMETHOD(CloseSocket)() override;
    // Ends every ReceiveDatagram of this socket that is waiting, with 11103. S_OK; no
    // effect when none waits (it does not cancel a later wait).
    STDMETHOD(AbortSocket)() override;
    // Data: a byte array (VT_UI1 or VT_I1, one dimension), one byte (VT_UI1), or text (sent
    // through the ANSI code page), also by reference; anything else 12001. Port 1..65535,
    // else 12003; Length < 0 gives 12004, 0 sends everything, more than the data sends
    // everything. Flags is ignored. pVal (may be null) receives the byte count sent.
    // Not open: 10057. An empty host: 10049.
    STDMETHOD(SendDatagram)(VARIANT* Data, BSTR Host, LONG Port, LONG Length, LONG Flags,
                            LONG* pVal) override;
    // Takes one datagram whole: Data becomes a zero-based VT_ARRAY|VT_UI1, Address the
    // sender's text, Port its port (VT_I4); *pVal the byte count (0 for an empty datagram,
    // whose outputs are set too). With BlockingTimeout 0 and nothing there, *pVal is 0 and
    // the outputs keep their values. Otherwise it waits up to BlockingTimeout, letting the
    // loop run other work; a time-out fails with 10060, AbortSocket with 11103, CloseSocket
    // with 10057, an ICMP error report (see SocketError) with its number. Every call makes
    // DatagramArrived due again. Outputs holding VT_BYREF|VT_VARIANT, VT_BYREF|VT_BSTR,
    // VT_BYREF|VT_I4 or VT_BYREF|VT_ARRAY|VT_UI1 are written through. Address and Port may
    // be null; Data or pVal null: E_POINTER. Not open: 10057.
    STDMETHOD(ReceiveDatagram)(VARIANT* Data, VARIANT* Address, VARIANT* Port,
                               LONG* pVal) override;
    // The bound address ("0.0.0.0" for the dual-stack wildcard) and port; empty and 0 when
    // the socket is not open. Always S_OK for a non-null pointer.
    STDMETHOD(get_SocketLocalAddress)(BSTR* pVal) override;
    STDMETHOD(get_SocketLocalPort)(LONG* pVal) override;
    // Datagrams received and not yet taken (counted up to the queue limit above); 0 when
    // not open.
    STDMETHOD(get_QueuedDatagramCount)(LONG* pVal) override;
    // Sets which directions are traced and their prompts. Each datagram of a traced
    // direction adds one line: prompt, peer ("a.b.c.d:port" or "[v6]:port"), " (n bytes)",
    // then the bytes as upper-case hex pairs, each preceded by a space, and "\n". Result,
    // when given (not null and not VT_ERROR/DISP_E_PARAMNOTFOUND), receives the lines
    // recorded since the last read as a BSTR and the record is emptied. The record keeps at
    // most 1 Mi characters, dropping the oldest lines.
    STDMETHOD(TraceSocket)(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive,
                           BSTR SendPrompt, BSTR ReceivePrompt) override;

private:
    struct Held {
        SAFEARRAY* data;  // owned
        sockaddr_storage from;
    };
    // A wait's view of what may end it.
    struct WaitMarks {
        uint64_t open, abort, ready;
    };

    void CloseInternal();
    void ClearHeld();
    size_t HeldCount() const { return held_.size() - heldHead_; }
    Held PopHeld();
    // The loop's side: the descriptor became readable (or reported an error), or a posted
    // announcement runs.
    void OnReadable();
    // Makes the host owed one DatagramArrived: posts it when datagrams are held, else
    // re-arms the descriptor watch.
    void Arm();
    void PostAnnouncement();
    // One datagram from the system into `held_`. 0 on success, -1 when none was there, or
    // an errno.
    int Fetch();
    // Takes the queued error reports; returns the errno of the first ICMP-caused one, or 0.
    // Local reports (of a send that already failed) are dropped.
    int TakeErrorReports(int* seen, int seenMax, int* seenCount);
    void FireSocketError(LONG number);
    void PostSocketError(LONG number);
    void PostSendNotification();
    void Trace(bool send, const sockaddr_storage& peer, const uint8_t* bytes, size_t count);
    WaitMarks Marks() const { return {openGen_, abortGen_, readyGen_}; }

    int fd_ = -1;
    int watch_ = -1;
    int family_ = 0;          // AF_INET or AF_INET6 while open
    bool dualStack_ = false;  // AF_INET6 socket that also serves IPv4
    LONG blockingTimeout_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;  // one receive buffer, allocated while open
    // Datagrams taken from the system, oldest at heldHead_ (a vector reused without
    // allocating once it has grown).
    std::vector<Held> held_;
    size_t heldHead_ = 0;
    size_t heldBytes_ = 0;
    bool owed_ = false;       // the host is owed a DatagramArrived
    bool announcing_ = false; // an announcement task is posted
    int waiters_ = 0;         // blocking receives of this socket in progress
    int waitError_ = 0;       // errno for the waiting receives, from the loop side
    uint64_t openGen_ = 0;    // changes at every close
    uint64_t abortGen_ = 0;   // changes at every AbortSocket that ends a wait
    uint64_t readyGen_ = 0;   // changes when the loop side has something for a waiter
    LONG pendingSends_ = 0;   // SendNotifications posted, not yet fired
    bool traceSend_ = false;
    bool traceReceive_ = false;
    std::u16string sendPrompt_, receivePrompt_;
    std::deque<std::u16string> trace_;
    size_t traceChars_ = 0;
    // Lets posted tasks find out whether the object still exists (it holds `this`, cleared
    // by the destructor); tasks hold no reference, so nothing is kept alive by the queue.
    std::shared_ptr<UdpSocket*> self_;
};

// Creates a socket object (fails as the class's creation failure seam says).
HRESULT CreateUdpSocket(IUdpSocket** out);

}  // namespace velk::sock
