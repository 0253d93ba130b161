// The companion VelkSock library as C++: the UDP socket component, the host-information
// object and the string collection class (whose interface IVelkStrings is declared in
// velk/snmp.h), with their fixed GUIDs.
//
// Every socket operation returns an HRESULT whose low 16 bits hold an ErrorConstants number
// (0x800A0000 plus the number on failure); callers test the low word.
#pragma once

#include "velk/com.h"
#include "velk/snmp.h"

// ---------------------------------------------------------------------------------------
// Library, class and interface identifiers. Fixed for all time: never change a value.

// {9DAA47EE-4B43-420A-9221-8C09D7058031}
inline constexpr GUID LIBID_VelkSock = {0x9daa47ee, 0x4b43, 0x420a, {0x92, 0x21, 0x8c, 0x09, 0xd7, 0x05, 0x80, 0x31}};

// {D49C7F62-FDC7-4B80-ADFE-FF37A04A6212}
inline constexpr IID IID_IUdpSocket = {0xd49c7f62, 0xfdc7, 0x4b80, {0xad, 0xfe, 0xff, 0x37, 0xa0, 0x4a, 0x62, 0x12}};
// {83B3BC94-C509-4D15-9CDA-1EC7B212494D}
inline constexpr IID DIID__IUdpEvents = {0x83b3bc94, 0xc509, 0x4d15, {0x9c, 0xda, 0x1e, 0xc7, 0xb2, 0x12, 0x49, 0x4d}};
// {BFFABFD2-D03C-40B6-A9D7-84C31A99ED1B}
inline constexpr IID IID_IVelkHostInfo = {0xbffabfd2, 0xd03c, 0x40b6, {0xa9, 0xd7, 0x84, 0xc3, 0x1a, 0x99, 0xed, 0x1b}};

// "Velk.UdpSocket"
// {095651B3-9F90-43A7-B75C-80FF6A2AC20F}
inline constexpr CLSID CLSID_UdpSocketComponent = {0x095651b3, 0x9f90, 0x43a7, {0xb7, 0x5c, 0x80, 0xff, 0x6a, 0x2a, 0xc2, 0x0f}};
// "Velk.HostInfo"
// {15F5AB6D-7AA8-40CE-8C87-DDE69233916F}
inline constexpr CLSID CLSID_VelkHostInfo = {0x15f5ab6d, 0x7aa8, 0x40ce, {0x8c, 0x87, 0xdd, 0xe6, 0x92, 0x33, 0x91, 0x6f}};
// "Velk.Strings"
// {3BFE3C53-481F-4878-A908-C8A9928F768C}
inline constexpr CLSID CLSID_VelkStrings = {0x3bfe3c53, 0x481f, 0x4878, {0xa9, 0x08, 0xc8, 0xa9, 0x92, 0x8f, 0x76, 0x8c}};

// ---------------------------------------------------------------------------------------
// Interfaces

// A UDP datagram socket. Events: _IUdpEvents (DIID__IUdpEvents), delivered through the
// thread's message loop.
struct IUdpSocket : IDispatch {
    // Milliseconds that OpenSocket, CloseSocket and ReceiveDatagram may wait; 0 returns at once.
    STDMETHOD(get_BlockingTimeout)(LONG* pVal) = 0;
    STDMETHOD(put_BlockingTimeout)(LONG newVal) = 0;
    // Binds to LocalPort (0: any free port) on LocalAddress (empty: every local address).
    STDMETHOD(OpenSocket)(LONG LocalPort, BSTR LocalAddress) = 0;
    STDMETHOD(CloseSocket)() = 0;
    // Ends a waiting ReceiveDatagram with ulAbort.
    STDMETHOD(AbortSocket)() = 0;
    // Sends the bytes of Data (a byte array or text) as one datagram to Host:Port. Length
    // limits the bytes sent (0: all); Flags is reserved (0). The result is the bytes sent.
    STDMETHOD(SendDatagram)(VARIANT* Data, BSTR Host, LONG Port, LONG Length, LONG Flags,
                            LONG* pVal) = 0;
    // Takes one datagram: its bytes into Data, the sender's address text into Address and
    // its port into Port. The result is the byte count; 0 when nothing was taken.
    STDMETHOD(ReceiveDatagram)(VARIANT* Data, VARIANT* Address, VARIANT* Port, LONG* pVal) = 0;
    STDMETHOD(get_SocketLocalAddress)(BSTR* pVal) = 0;
    STDMETHOD(get_SocketLocalPort)(LONG* pVal) = 0;
    STDMETHOD(get_QueuedDatagramCount)(LONG* pVal) = 0;
    STDMETHOD(TraceSocket)(VARIANT* Result, VARIANT_BOOL Send, VARIANT_BOOL Receive,
                           BSTR SendPrompt, BSTR ReceivePrompt) = 0;

protected:
    ~IUdpSocket() = default;
};
VELK_INTERFACE_TRAITS(IUdpSocket, IDispatch, IID_IUdpSocket)

// Local host information. Callers rely on the order of the first two members.
struct IVelkHostInfo : IDispatch {
    STDMETHOD(get_HostName)(BSTR* pVal) = 0;
    // The local IPv4 addresses in dotted decimal; item 1 is the primary one.
    STDMETHOD(get_Addresses)(IVelkStrings** pVal) = 0;

protected:
    ~IVelkHostInfo() = default;
};
VELK_INTERFACE_TRAITS(IVelkHostInfo, IDispatch, IID_IVelkHostInfo)

// Event dispatch identifiers of _IUdpEvents.
constexpr DISPID DISPID_UdpEvents_SocketError = 1;      // (LONG Number, BSTR Description)
constexpr DISPID DISPID_UdpEvents_DatagramArrived = 2;  // ()
constexpr DISPID DISPID_UdpEvents_SendNotification = 3; // ()
